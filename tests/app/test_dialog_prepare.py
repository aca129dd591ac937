"""OK in the confirmation dialog on a recorder with one drive that fails and
one that is prepared: one "Error" box naming the failed drive, then the box
with "Data drives found:" and the good drive, then the program ends, leaving
the drives and the registry exactly as a silent run leaves them.

The drives, the same for both runs:
  E:  an empty 300 MB drive: blank, so it is initialised as a volume.
  F:  a 300 MB volume of another database: the run wipes it, but a
      "System Volume Information" directory inside a sub-directory survives
      the wipe, the sub-directory cannot be removed, and the initialisation
      fails.
  G:  a 16 MB drive, too small to be a volume, holding the pre-alarm
      directory (emptied) and the place of the restore directory (created).
"""

import os
import re
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
import mptest  # noqa: E402
from guiuser import (Desktop, drive_contents, registry_export, registry_import,  # noqa: E402
                     texts_of)
from mptest import sandbox  # noqa: E402

KESTRIX_KEY = r"HKLM\Software\Corvane-VG\Kestrix"
DATABASE_KEY = KESTRIX_KEY + r"\Database"
PANEL = 1004
DATABASE_GUID = "{5EC0B2D1-7A44-4E0B-9C3F-1D2E3F405162}"
OTHER_DATABASE_GUID = "{11111111-2222-3333-4444-555566667777}"

SETTINGS = {
    "ImagePath": "\\Image\\",
    "IndexPath": "\\Index\\",
    "AlarmPath": "\\Alarm\\",
    "PreAlarmPath": "G:\\PreAlarm\\",
    "RestorePath": "G:\\Restore\\",
    "GUID": DATABASE_GUID,
}

FAILURE = "Failure to initialize drive F:.  Mediaprep not completely successful.\n"
FOUND = "Data drives found: E:"

FOREIGN_DESCRIPTION = "".join(line + "\r\n" for line in [
    "<VolumeInformation>",
    "<Excluded>0</Excluded>",
    "<Label></Label>",
    "<NumFiles>14</NumFiles>",
    "<FileNumOffset>0</FileNumOffset>",
    "<Position>0</Position>",
    "<VolumeGUID>{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}</VolumeGUID>",
    "<StartFile>0</StartFile>",
    "<RecordFile>3</RecordFile>",
    f"<DBGUID>{OTHER_DATABASE_GUID}</DBGUID>",
    "<ActiveVolumes>1</ActiveVolumes>",
    "<AllocatedSpaceKB>307200</AllocatedSpaceKB>",
    "</VolumeInformation>",
]).encode()


def furnish(session):
    session.map_drive("e", size="300m")
    f = session.map_drive("f", size="300m")
    (f / "VolumeInfo.xml").write_bytes(FOREIGN_DESCRIPTION)
    (f / "Image").mkdir()
    (f / "Image" / "IMG00000003.IMG").write_bytes(b"image" * 2000)
    (f / "Index").mkdir()
    (f / "Index" / "MASTER.NDX").write_bytes(b"\0" * 4096)
    (f / "Recordings" / "System Volume Information").mkdir(parents=True)
    (f / "Recordings" / "System Volume Information" / "keep.dat").write_bytes(b"system")
    g = session.map_drive("g", size="16m")
    (g / "PreAlarm" / "older").mkdir(parents=True)
    (g / "PreAlarm" / "alarm-0001.jpg").write_bytes(b"jpeg" * 100)
    (g / "PreAlarm" / "older" / "alarm-0000.jpg").write_bytes(b"jpeg" * 100)
    mptest.forget_settings(session)
    registry_import(session, DATABASE_KEY, SETTINGS)


def state(session):
    """Drives and registry, with the one thing that differs between two
    equal runs, the new volume GUIDs, blanked out."""
    drives = {}
    for path, data in drive_contents(session).items():
        if data is not None:
            data = re.sub(rb"<VolumeGUID>[^<]*</VolumeGUID>", b"<VolumeGUID>*</VolumeGUID>", data)
        drives[path] = data
    return {"drives": drives, "registry": registry_export(session, KESTRIX_KEY)}


def forget_settings():
    with sandbox.Session() as s:
        mptest.forget_settings(s)


class OkOnARecorder(unittest.TestCase):
    def test_one_failed_drive_one_error_box_then_the_drives_found_then_the_end(self):
        self.addCleanup(forget_settings)
        with sandbox.Session() as s:
            furnish(s)
            r = s.run(mptest.exe("Mediaprep.exe"), ["/clean"], timeout=300)
            self.assertEqual(0, r.code, r.stderr)
            silent = state(s)
            log = s.cpath(mptest.RUN_LOG).read_bytes().decode()
            self.assertEqual("Configuring Kestrix Drives\r\n"
                             + "Error:" + FAILURE.replace("\n", "\r\n") + "\r\n"
                             + "Message: " + FOUND + "\r\n", log)

        # What the silent run did, so that the comparison below means something.
        e, f, g = ({p[3:]: d for p, d in silent["drives"].items() if p.startswith(letter)}
                   for letter in ("E:", "F:", "G:"))
        self.assertTrue({"Alarm/", "Index/", "Image/", "VolumeInfo.xml"} <= set(e), sorted(e))
        self.assertIn(f"<DBGUID>{DATABASE_GUID}</DBGUID>".encode(), e["VolumeInfo.xml"])
        self.assertIn(b"<Position>0</Position>", e["VolumeInfo.xml"])
        self.assertIn(b"<ActiveVolumes>1</ActiveVolumes>", e["VolumeInfo.xml"])
        self.assertIn("Recordings/System Volume Information/keep.dat", f)
        self.assertEqual(["PreAlarm/", "Restore/"], sorted(g))
        self.assertIn("MultipleDir".encode("utf-16-le"), silent["registry"])

        with Desktop(self.id().split(".")[-1]) as desk:
            furnish(desk.session)
            program = desk.start()
            dialog = desk.wait_dialog(child=PANEL)
            desk.screenshot("before", dialog)
            desk.key("Return")  # OK

            error = desk.wait_dialog(caption="Error", timeout=120)
            self.assertIn(FAILURE, texts_of(error))
            self.assertEqual(dialog["hwnd"], error["owner"])
            desk.screenshot("error", error)
            desk.key("Return")

            found = desk.wait_dialog(caption="", timeout=120)
            self.assertIn(FOUND, texts_of(found))
            self.assertEqual(dialog["hwnd"], found["owner"])
            self.assertEqual([], [d for d in desk.dialogs() if d["caption"] == "Error"])
            desk.screenshot("found", found)
            desk.key("Return")

            desk.wait_program_end(self, program)
            self.assertEqual(silent, state(desk.session))


if __name__ == "__main__":
    mptest.main()
