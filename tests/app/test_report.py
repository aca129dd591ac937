"""Mediaprep.exe /report on a recorder of every kind of drive: it changes
nothing anywhere, and the drives its last line lists are the ones a following
/clean prepares, in the same order."""

import os
import sys
import unittest
from pathlib import Path

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
import mptest  # noqa: E402
from mptest import sandbox  # noqa: E402
from recorder import RECORDER_SETTINGS, Recorder, description, guid_text, write  # noqa: E402

import volwriter  # noqa: E402  (tools/, put on the path by mptest)

REPORT = r"C:\Windows\Kestrix\MediaprepLogs\MediaprepReport.log"
DB_KEY = mptest.DATABASE_KEY
VALUES = ["GUID", "MultipleDir", *RECORDER_SETTINGS]


def state(session, roots):
    """Every file and directory below the roots: contents, attributes and the
    times a writer changes (a file created and removed again changes its
    directory's). Last-access times are left out: Wine's hosts record reads."""
    found = {}
    for root in roots:
        for dirpath, dirnames, filenames in os.walk(root):
            for name in dirnames + filenames:
                path = os.path.join(dirpath, name)
                st = os.lstat(path)
                data = None if name in dirnames else Path(path).read_bytes()
                found[path] = (data, st.st_mode, st.st_mtime_ns, st.st_ctime_ns)
        st = os.lstat(root)
        found[str(root)] = (None, st.st_mode, st.st_mtime_ns, st.st_ctime_ns)
    return found


def registry(rec):
    return {(name, view): rec.registry(name, view=view) for name in VALUES for view in (32, 64)}


class Preview(unittest.TestCase):
    def test_report_changes_nothing_and_names_the_drives_clean_prepares(self):
        with sandbox.Session() as session:
            db = guid_text()
            rec = Recorder(session, db)
            small = dict(db_guid=db, size_mb=1, layout=volwriter.SMALL, seconds=20, active_volumes=2)
            e = rec.drive("e")
            volwriter.write_volume(e, files=3, position=0, **small, damages={2: "stale-summary"})
            # Its summary says recorded, the file holds nothing: nothing to rebuild from.
            write(e / "Images" / "IMG0001.AVI", volwriter.fresh_image_bytes(volwriter.MIB))
            volwriter.write_volume(rec.drive("f"), files=2, file_num_offset=3, position=1, version=0x2015,
                                   start_file=-1, record_file=-1, **small)
            volwriter.write_volume(rec.drive("g", "network"), files=2, position=0, **dict(small, db_guid=guid_text()))
            rec.drive("h")                                             # blank
            write(rec.drive("j") / "old" / "clip.avi", os.urandom(512))  # data without a description
            write(rec.drive("k", size_kb=200 * 1024) / "VolumeInfo.xml.bak", description())  # too small
            write(rec.drive("y", "removable", size_kb=None) / "notes.txt", b"a technician's stick")
            roots = [session.drive(d) for d in "efghjky"] + [session.cpath("C:\\Kestrix")]
            before, values = state(session, roots), registry(rec)

            result = rec.run(["/Report", "-clean"])                    # report wins

            self.assertEqual(before, state(session, roots))
            self.assertEqual(values, registry(rec))
            self.assertIsNone(rec.log(), "no run log: nothing was prepared")
            report = session.cpath(REPORT).read_text().splitlines()
            self.assertEqual(report, result.stdout.splitlines())
            blocks = self.drive_blocks(report)
            for drive, expected in {
                "E:": ["Scan status: Active", "Damaged image file 2: a run would rebuild its summary",
                       "Damaged image file 1: a run would replace it", "A run would prepare it: delete 6 files"],
                "F:": ["Scan status: Active", "A run would prepare it"],
                "G:": ["Drive G: network", "volume of another database", "Scan status: Foreign"],
                "H:": ["Description: none", "Scan status: Blank", "delete 0 files (0 bytes)"],
                "J:": ["Scan status: BlankWithData", "leave it alone: it holds files but no description"],
                "K:": ["Candidate: no, too small"],
                "Y:": ["Drive Y: removable", "Candidate: no, removable drives are never examined"],
            }.items():
                for text in expected:
                    self.assertIn(text, blocks[drive], drive)
            text = "\n".join(report)
            self.assertIn("Pre-alarm directory C:\\Kestrix\\PreAlarm\\: a run would empty it: 2 files", text)
            self.assertIn("Restore directory C:\\Kestrix\\Restore\\: missing; a run would create it", text)
            last = report[-1].split(": ", 1)
            self.assertEqual("Drives a run would prepare", last[0])

            # Without a database GUID the preview makes one in memory only.
            session.reg_delete(DB_KEY, "GUID")
            again = rec.run(["-REPORT"])
            self.assertIsNone(rec.registry("GUID"))
            self.assertIn("none in the registry", again.stdout)
            rec.set_settings({}, db)
            self.assertEqual(before, state(session, roots))

            rec.run(["/clean"])
            found = rec.log().splitlines()[-1]
            self.assertEqual(f"Message: Data drives found: {last[1]}", found)
            self.assertEqual(4, len(last[1].split()))

    @staticmethod
    def drive_blocks(report):
        """The report's lines about each drive, joined, by drive."""
        blocks, current = {}, None
        for line in report:
            if line.startswith("Drive "):
                current = line.split()[1]
                blocks[current] = line
            elif line.startswith("  ") and current:
                blocks[current] += "\n" + line
            else:
                current = None
        return blocks


if __name__ == "__main__":
    mptest.main()
