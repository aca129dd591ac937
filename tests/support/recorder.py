"""A simulated Kestrix recorder in a sandbox session: drives, settings,
canaries that must survive every run, and readers for what a run leaves."""

import contextlib
import os
import re
from pathlib import Path

import mptest
from mptest import sandbox
# The description file's layout lives with the volume writer (tools/).
from volwriter import FIELDS, ZERO_GUID, description, guid_text, subvolume_description  # noqa: F401

DB_KEY = mptest.DATABASE_KEY
# Settings as a recorder has them: separate directories for the database.
RECORDER_SETTINGS = {"ImagePath": "\\Images\\", "IndexPath": "\\Index\\", "AlarmPath": "\\Alarm\\",
                     "PreAlarmPath": "C:\\Kestrix\\PreAlarm\\", "RestorePath": "C:\\Kestrix\\Restore\\"}


def parse_description(data):
    """Fields of a single-volume description, as text; None when not one."""
    found = dict(re.findall(r"<(\w+)>([^<]*)</\1>", data.decode("latin-1")))
    if not all(k in found for k in FIELDS):
        return None
    return {k: (found[k] if k in ("Label", "VolumeGUID", "DBGUID") else int(found[k])) for k in FIELDS}


def write(path, data=b""):
    path = Path(path)
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(data if isinstance(data, bytes) else data.encode())


def recordings(root, count, images="Images", index="Index"):
    """Old image files, key indexes and a master index, as a recorder leaves them."""
    for n in range(count):
        write(Path(root) / images / f"IMG{n:04d}.AVI", os.urandom(4096))
        write(Path(root) / index / f"KEY{n:04d}.NDX", os.urandom(256))
    write(Path(root) / index / "MASTER.NDX", b"\x30\x00\x00\x00\x00\x00" + bytes(688 * count))


# An exported clip three folders deep, about 800 characters from a root.
DEEP_CLIP = "/".join(f"export {n} " + "x" * 240 for n in range(3)) + "/clip0001.avi"


def awkward_names(root):
    """Files whose names only the wide calls reach: characters outside the
    code page, folders ending in a space or a full stop, and DEEP_CLIP.
    Returns their relative paths."""
    files = ["録画0001.avi", "Записи/кадр.jpg", "\U0001F3A5 clip.mp4", DEEP_CLIP,
             "ends in a space /a.jpg", "ends in a full stop./b.jpg. "]
    for name in files:
        write(Path(root) / name, os.urandom(64))
    return files


class Recorder:
    """Drives, registry and canaries of one scenario; use inside a Session."""

    def __init__(self, session, db_guid=None, settings=RECORDER_SETTINGS):
        self.s = session
        self.canaries = {}
        self.forget_settings()
        self.set_settings(settings, db_guid)
        self.forget_log()
        # The recorder's own directory on C:, with old pre-alarm files and no
        # restore directory: the run empties the one and creates the other.
        kestrix = self.s.cpath("C:\\Kestrix")
        sandbox._rmtree(kestrix)
        write(kestrix / "PreAlarm" / "cam01" / "pre0001.jpg", os.urandom(256))
        write(kestrix / "PreAlarm" / "pre0002.jpg", os.urandom(256))
        # Canaries: the system drive and a Linux directory beside the drives.
        self.add_canary(self.s.cpath("C:\\mediaprep-canary.txt"))
        self.add_canary(self.s.dir / "beside-the-drives" / "canary.txt")

    def forget_settings(self):
        mptest.forget_settings(self.s)

    def set_settings(self, settings, db_guid=None, view=64):
        for name, value in {**(settings or {}), **({"GUID": db_guid} if db_guid else {})}.items():
            self.s.reg_set(DB_KEY, name, value, view=view)

    def forget_log(self):
        self.s.cpath(mptest.RUN_LOG).unlink(missing_ok=True)

    def add_canary(self, path, data=None):
        self.canaries[Path(path)] = data = data or os.urandom(64)
        write(path, data)

    def drive(self, letter, kind="fixed", size_kb=262144, readonly=False):
        """A drive on its own tmpfs of size_kb KB (so that sizes are exact)."""
        return self.s.map_drive(letter, kind, size=f"{size_kb}k" if size_kb else None, readonly=readonly)

    def run(self, args=("/clean",), program=None):
        result = self.s.run(program or mptest.exe("Mediaprep.exe"), list(args), timeout=300)
        assert not result.timed_out, "Mediaprep.exe did not finish"
        return result

    @contextlib.contextmanager
    def holding(self, *windows_paths, how="hold"):
        """Another process holds the files open meanwhile: without sharing,
        or with how="share" sharing reading and deletion."""
        holder = self.s.start(mptest.exe("mptesthelper.exe"), [how, *windows_paths, "120"])
        try:
            assert holder.wait_for_output("held"), f"mptesthelper could not hold {windows_paths}"
            yield
        finally:
            holder.kill()

    def log(self):
        path = self.s.cpath(mptest.RUN_LOG)
        return path.read_bytes().decode("latin-1") if path.exists() else None

    def info(self, letter, name="VolumeInfo.xml"):
        path = self.s.drive(letter) / name
        return parse_description(path.read_bytes()) if path.exists() else None

    def registry(self, name, view=64):
        return self.s.reg_get(DB_KEY, name, view=view)

    def dead_canaries(self):
        return [str(p) for p, data in self.canaries.items() if not p.exists() or p.read_bytes() != data]
