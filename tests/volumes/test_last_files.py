"""The scan's check of the newest image files, on volumes of this database
laid out by the volume writer: which files it looks at (through the trace
lines of the damaged ones), and what the rebuild or replacement leaves."""

import os
import struct
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
import mptest  # noqa: E402
from mptest import sandbox  # noqa: E402
from recorder import Recorder, guid_text  # noqa: E402
import volwriter  # noqa: E402

TRACE_KEY = r"HKLM\Software\Corvane-VG\Kestrix\DbgLogger"
TRACE_DIR = r"C:\Windows\Kestrix\MediaprepLogs"
CAPACITY = 20 << 20  # what the settings' file size makes of a rebuilt record


def record_bytes(summary, capacity=CAPACITY):
    """The 688 stored bytes of a manifest's summary, or of the empty record."""
    record = volwriter.MasterRecord(capacity)
    if summary:
        record.earliest, record.latest, record.used = summary["earliest"], summary["latest"], summary["bytes_used"]
        record.present, record.mask, record.key = summary["present"], summary["mask"], summary["key"]
        record.sequence, record.first, record.last = summary["sequence"], summary["first"], summary["last"]
    return record.to_bytes()


def stored_record(manifest, number, first):
    with open(manifest["master_path"], "rb") as f:
        f.seek(volwriter.master_offset(number, first))
        return f.read(688)


def traced_files(session):
    path = session.cpath(TRACE_DIR + r"\MediaprepTrace.log")
    lines = path.read_text().splitlines() if path.exists() else []
    return [int(line.split("File ")[1].split()[0]) for line in lines if line.endswith(" corrupted, rebuilding.")]


class LastFilesCheck(unittest.TestCase):
    def test_walk_order_rebuild_and_replacement(self):
        db = guid_text()
        with sandbox.Session() as s:
            Recorder(s, db)
            s.reg_set(TRACE_KEY, "Mediaprep", 3)
            s.cpath(TRACE_DIR + r"\MediaprepTrace.log").unlink(missing_ok=True)
            small = dict(db_guid=db, size_mb=1, layout=volwriter.SMALL, seconds=20, active_volumes=5)
            # Every kind of damage to the image files, on the walk 4 to 0.
            e = volwriter.write_volume(s.map_drive("e"), files=5, position=0, start_file=-1, record_file=-1,
                                       damages={4: "torn-toc", 3: "stale-summary", 2: "truncated",
                                                0: "garbage-header"}, **small)
            # Only the header left: nothing to rebuild from.
            os.truncate(e["files"][1]["path"], 48)
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

            r = s.run(mptest.exe("volumes_wipe_tool.exe"), ["scan", TRACE_DIR], timeout=300)

            self.assertEqual(0, r.code, r.stderr)
            self.assertEqual(["E: 0", "F: 0", "G: 0", "H: 0", "I: 0"], r.stdout.splitlines())
            self.assertEqual([4, 3, 2, 1, 0] + [11, 10, 14, 13] + list(range(29, 9, -1)) + [4, 3],
                             traced_files(s))

            # Rebuilt: the summary of what the scan finds, at the file's own
            # place in MASTER.NDX, and tables that agree with it.
            for volume, first, numbers in ((e, 0, (4, 3, 2)), (f, 10, (11, 10, 14, 13)), (g, 0, (29, 10))):
                for n in numbers:
                    m = volume["files"][n - first]
                    self.assertEqual(record_bytes(m["rebuilt_master"]), stored_record(volume, n, first), n)
                    if m["damage"] == "truncated":
                        continue  # no room left for the tables; the summary is what counts
                    with open(m["path"], "rb") as image:
                        data = image.read()
                    toc = struct.unpack_from("<I", data, 4)[0]
                    video0 = m["rebuilt_master"]["sequence"][0][0] - 1  # entries of stream 0
                    self.assertEqual((16, video0), struct.unpack_from("<II", data, toc), n)
            self.assertEqual(f["files"][2]["master_bytes"], stored_record(f, 12, 10))
            for n in (10, 11, 13, 14):
                key = os.path.join(f["index_dir"], f"KEY{n:04d}.NDX")
                self.assertTrue(os.path.getsize(key) > 0 and os.path.getsize(key) % 39 == 0, n)
            self.assertFalse(os.path.exists(os.path.join(f["index_dir"], "KEY0012.NDX")))
            self.assertEqual(6 + 30 * 688, os.path.getsize(g["master_path"]))
            self.assertEqual(bytes(688), stored_record(g, 9, 0))

            # Nothing to rebuild from: a fresh file and an empty key index.
            with open(e["files"][1]["path"], "rb") as image:
                fresh, found = volwriter.fresh_image_bytes(CAPACITY), image.read(452)
                self.assertEqual(fresh[:24] + fresh[28:], found[:24] + found[28:])  # time zones differ
            self.assertEqual(CAPACITY, os.path.getsize(e["files"][1]["path"]))
            self.assertEqual(0, os.path.getsize(os.path.join(e["index_dir"], "KEY0001.NDX")))
            self.assertEqual(record_bytes(None), stored_record(e, 1, 0))


if __name__ == "__main__":
    mptest.main()
