"""The volume writer lays its bytes where the recorder's formats put them:
facts taken from the formats themselves, not from the writer."""

import os
import struct
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
import mptest  # noqa: E402  (puts tools/ on the path)
import volwriter  # noqa: E402
from volwriter import MIB  # noqa: E402


class Layouts(unittest.TestCase):
    def test_fresh_image_file(self):
        data = volwriter.fresh_image_bytes(20 * MIB, tz_index=110)
        self.assertEqual((0x3010, 48, 0, 48, 20 * MIB, 452, 110), struct.unpack_from("<6Ii", data, 0))
        self.assertEqual((bytes(20), 452), (data[28:48], len(data)))
        for at in (48, 116, 184, 252):  # three frame tables and the key table, all streams empty
            self.assertEqual((16,) + (0,) * 16, struct.unpack_from("<17I", data, at))
        self.assertEqual((16, *range(388, 452, 4)) + (0,) * 16, struct.unpack_from("<33I", data, 320))

    def test_video_header_sizes_and_key_flags(self):
        # format: non-key size, key size, key flag byte and bit
        for fmt, short, full, flag_at, bit in ((1, 20, 20, 18, 0), (2, 14, 22, 7, 7), (3, 25, 33, 14, 7),
                                              (4, 31, 39, 16, 0), (5, 31, 39, 16, 0), (6, 21, 29, 16, 0)):
            with self.subTest(format=fmt):
                key = volwriter.video_header(fmt, volwriter.VideoFrame(0, 0, 2, 3, True, key_value=9))
                delta = volwriter.video_header(fmt, volwriter.VideoFrame(0, 0, 2, 3, False))
                self.assertEqual((short, full), (len(delta), len(key)))
                self.assertEqual((1, 0), (key[flag_at] >> bit & 1, delta[flag_at] >> bit & 1))
        # Stream -1 in format 2 keeps the key flag apart; a blank format 1 key record.
        self.assertEqual([0x7F, 0xFF], [volwriter.video_header(2, volwriter.VideoFrame(0, 0, 0, -1, key))[7]
                                        for key in (False, True)])
        frame = volwriter.VideoFrame(0, 0, 0, 0, False, b=0x3C07C280)
        self.assertEqual(bytes(19) + b"\x3c", volwriter.key_index_record(0x1000, frame, 0))

    def test_volume_master_records_and_first_records(self):
        with tempfile.TemporaryDirectory() as root:
            volwriter.write_volume(root, files=3, file_num_offset=10, seconds=2, layout=volwriter.SMALL)
            master = (Path(root) / "Index" / "MASTER.NDX").read_bytes()
            self.assertEqual((48, 10, 6 + 3 * 688), (*struct.unpack_from("<Hi", master, 0), len(master)))
            image = (Path(root) / "Images" / "IMG0012.AVI").read_bytes()
            first_time = struct.unpack_from("<I", image, 52)[0]
            # local number 12 = offset + 2: its record lies at 6 + 2 x 688
            earliest, latest, _, capacity = struct.unpack_from("<iiII", master, 1382)
            self.assertEqual((20 * MIB, first_time, first_time + 1, 20 * MIB),
                             (len(image), earliest, latest, capacity))
            # The first record is video with sequence number 2.
            self.assertEqual((b"KSTX", 0, 2), (image[57:61], image[62], struct.unpack_from("<I", image, 63)[0]))


if __name__ == "__main__":
    mptest.main()
