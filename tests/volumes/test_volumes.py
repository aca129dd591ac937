"""The wipe and the last-files check on drives laid out from Linux. Wine acts
on a host symbolic link's target and cannot remove the link itself, so the wipe
must leave such links in place (and fail) rather than harm what they point to."""

import os
import shutil
import stat
import struct
import sys
import unittest
from pathlib import Path

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
import mptest  # noqa: E402
from mptest import sandbox  # noqa: E402
from recorder import DEEP_CLIP, Recorder, awkward_names, guid_text, write  # noqa: E402
import volwriter  # noqa: E402

TOOL = "volumes_wipe_tool.exe"
TRACE_KEY = r"HKLM\Software\Corvane-VG\Kestrix\DbgLogger"
TRACE_DIR = r"C:\Windows\Kestrix\MediaprepLogs"
CAPACITY = 20 << 20  # what the settings' file size makes of a rebuilt record


def snapshot(directory):  # every entry below with its mode and contents (files)
    return {p: (stat.S_IMODE(os.lstat(os.path.join(directory, p)).st_mode),
                None if p.endswith("/") else Path(directory, p).read_bytes())
            for p in mptest.tree(directory)}


class Wipe(unittest.TestCase):
    def setUp(self):
        self.session = sandbox.Session().__enter__()
        self.addCleanup(self.session.__exit__, None, None, None)
        self.e = self.session.map_drive("e")
        self.f = self.session.map_drive("f")
        # Read-only canaries (clearing attributes through a link would show) on
        # F:, C: and beside E:; on F: also a file by E's longest path.
        self.c = self.session.prefix.path / "drive_c" / "canary"
        shutil.rmtree(self.c, ignore_errors=True)
        self.addCleanup(shutil.rmtree, self.c, True)
        self.outside = self.session.dir / "outside"
        for path in [d / name for d in (self.f, self.c, self.outside) for name in ("Target/inside.dat", "keep.dat")]:
            write(path, str(path).encode())
            os.chmod(path, 0o444)
        write(self.f / DEEP_CLIP, b"F clip")
        os.chmod(self.f / DEEP_CLIP, 0o444)
        self.before = {d: snapshot(d) for d in (self.f, self.c, self.outside)}

    def fill_drive(self):
        shutil.rmtree(self.e, ignore_errors=True)
        for name in ("Images/IMG00000.dat", "Images/Day 1/IMG00001.dat", "VolumeInfo.xml"):
            write(self.e / name, b"x" * 100)
        os.chmod(self.e / "Images" / "IMG00000.dat", 0o444)
        awkward = awkward_names(self.e)
        os.chmod(self.e / awkward[0], 0o444)
        return 3 + len(awkward)

    def run_tool(self, *args):
        return self.session.run(mptest.exe(TOOL), list(args), timeout=60)

    def assert_canaries_untouched(self, what):
        for directory, before in self.before.items():
            self.assertEqual(before, snapshot(directory), f"{what}: {directory} changed")

    def test_links_out_of_the_drive_are_never_followed_and_the_rest_is_wiped(self):
        day = "Images/Day 1/"
        links = {
            "dir to F": (day + "ToF", self.f / "Target"),
            "dir outside": (day + "Out", self.outside / "Target"),
            "file to C": (day + "c.dat", self.c / "keep.dat"),
            "file to F, same long path": (DEEP_CLIP, self.f / DEEP_CLIP),
        }
        for what, (name, target) in links.items():
            with self.subTest(what):
                self.fill_drive()
                (self.e / name).unlink(missing_ok=True)
                os.symlink(target, self.e / name)
                self.assertEqual(1, self.run_tool("wipe", "E:").code, what)
                self.assert_canaries_untouched(what)
                self.assertTrue(os.path.islink(self.e / name), what)

        # Without links, whatever the names: everything goes, nothing else.
        files = self.fill_drive()
        result = self.run_tool("wipe", "E:")
        self.assertEqual((0, f"deleted {files}"), (result.code, result.stdout.strip()), result.stderr)
        self.assertEqual([], mptest.tree(self.e))
        self.assert_canaries_untouched("plain wipe")

        # A read-only drive keeps everything.
        self.fill_drive()
        before = snapshot(self.e)
        self.session.make_readonly("e")
        self.assertEqual(1, self.run_tool("wipe", "E:").code)
        self.assertEqual(before, snapshot(self.e))


def record_bytes(summary):  # the 688 stored bytes of a manifest's summary, or of the empty record
    record = volwriter.MasterRecord(CAPACITY)
    if summary:
        for name in ("earliest", "latest", "present", "mask", "key", "sequence", "first", "last"):
            setattr(record, name, summary[name])
        record.used = summary["bytes_used"]
    return record.to_bytes()


def stored_record(manifest, number, first):
    with open(manifest["master_path"], "rb") as f:
        f.seek(volwriter.master_offset(number, first))
        return f.read(688)


class LastFilesCheck(unittest.TestCase):
    def test_walk_order_rebuild_and_replacement(self):
        db = guid_text()
        with sandbox.Session() as s:
            Recorder(s, db)
            s.reg_set(TRACE_KEY, "Mediaprep", 3)
            shutil.rmtree(s.cpath(TRACE_DIR).parent, ignore_errors=True)  # the scan makes the folders again
            trace = s.cpath(TRACE_DIR + r"\MediaprepTrace.log")
            small = dict(db_guid=db, size_mb=1, layout=volwriter.SMALL, seconds=20, active_volumes=6)
            # Every kind of damage to the image files, on the walk 4 to 0.
            e = volwriter.write_volume(s.map_drive("e"), files=5, position=0, start_file=-1, record_file=-1,
                                       damages={4: "torn-toc", 3: "stale-summary", 2: "truncated",
                                                0: "garbage-header"}, **small)
            os.truncate(e["files"][1]["path"], 48)  # only the header left: nothing to rebuild from
            # Older files without key indexes; the walk wraps from 10 to 14 and ends at the start file.
            f = volwriter.write_volume(s.map_drive("f"), files=5, file_num_offset=10, position=1, version=0x3000,
                                       record_file=11, start_file=13,
                                       damages={n: "missing-key-index" for n in range(10, 15)}, **small)
            # Without MASTER.NDX every file differs from its (empty) summary.
            g = volwriter.write_volume(s.map_drive("g"), files=30, position=2, start_file=-1, record_file=-1,
                                       **small)
            h = volwriter.write_volume(s.map_drive("h"), files=5, position=3, **small)
            for volume in (g, h):
                os.unlink(volume["master_path"])
            os.unlink(os.path.join(h["image_dir"], "IMG0002.AVI"))
            volwriter.write_volume(s.map_drive("i"), files=0, num_files=0, position=4, **small)
            # J's MASTER.NDX read-only to us: files with records and the newest one's journal are kept.
            j = volwriter.write_volume(s.map_drive("j"), files=3, position=5, damages={2: "truncated", 1: "torn-toc"},
                                       **small)
            os.truncate(j["files"][0]["path"], 48)  # nothing to keep
            now = lambda: (Path(j["files"][1]["path"]).read_bytes()[48:], Path(j["files"][2]["journal"]["path"]).read_bytes())
            kept = now()
            self.assertTrue(s.start(mptest.exe("mptesthelper.exe"), ["read", r"J:\Index\MASTER.NDX", "120"])
                            .wait_for_output("held"))  # until the session ends
            r = s.run(mptest.exe(TOOL), ["scan", TRACE_DIR], timeout=300)
            self.assertEqual(0, r.code, r.stderr)
            self.assertEqual(["E: 0", "F: 0", "G: 0", "H: 0", "I: 0", "J: 0"], [l[:4] for l in r.stdout.splitlines()])
            traced = [int(line.split("File ")[1].split()[0]) for line in trace.read_text().splitlines()
                      if line.endswith(" corrupted, rebuilding.")]
            self.assertEqual([4, 3, 2, 1, 0] + [11, 10, 14, 13] + list(range(29, 9, -1)) + [4, 3] + [2, 1, 0], traced)
            self.assertEqual(2, trace.read_text().count("holds records but its summary could not be stored"))
            self.assertEqual((kept[0][:4096], kept[1]), (now()[0][:4096], now()[1]))  # the tables are rebuilt
            self.assertEqual(CAPACITY, os.path.getsize(j["files"][0]["path"]))  # replaced

            # Rebuilt: the summary at the file's own place, tables that agree.
            for volume, first, numbers in ((e, 0, (4, 3, 2)), (f, 10, (11, 10, 14, 13)), (g, 0, (29, 10))):
                for n in numbers:
                    m = volume["files"][n - first]
                    self.assertEqual(record_bytes(m["rebuilt_master"]), stored_record(volume, n, first), n)
                    if m["damage"] == "truncated":
                        continue  # no room left for the tables; the summary is what counts
                    data = Path(m["path"]).read_bytes()
                    toc = struct.unpack_from("<I", data, 4)[0]
                    video0 = m["rebuilt_master"]["sequence"][0][0] - 1  # entries of stream 0
                    self.assertEqual((16, video0), struct.unpack_from("<II", data, toc), n)
            self.assertEqual(f["files"][2]["master_bytes"], stored_record(f, 12, 10))
            for n in (10, 11, 13, 14):
                key = os.path.getsize(os.path.join(f["index_dir"], f"KEY{n:04d}.NDX"))
                self.assertTrue(key > 0 and key % 39 == 0, n)
            self.assertFalse(os.path.exists(os.path.join(f["index_dir"], "KEY0012.NDX")))
            self.assertEqual(6 + 30 * 688, os.path.getsize(g["master_path"]))
            self.assertEqual(bytes(688), stored_record(g, 9, 0))

            # Nothing to rebuild from: a fresh file and an empty key index.
            fresh, found = volwriter.fresh_image_bytes(CAPACITY), Path(e["files"][1]["path"]).read_bytes()[:452]
            self.assertEqual(fresh[:24] + fresh[28:], found[:24] + found[28:])  # time zones differ
            self.assertEqual(CAPACITY, os.path.getsize(e["files"][1]["path"]))
            self.assertEqual(0, os.path.getsize(os.path.join(e["index_dir"], "KEY0001.NDX")))
            self.assertEqual(record_bytes(None), stored_record(e, 1, 0))


if __name__ == "__main__":
    mptest.main()
