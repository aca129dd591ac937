"""The wipe never reaches beyond the drive it clears.

Wine shows a host symbolic link to a directory as a directory with the
reparse-point attribute, and a host symbolic link to a file as a plain file;
whatever a Windows program does to either (delete, remove, rename, change
attributes) Wine does to the link's target, and no call removes the link
itself. So on this platform the wipe must leave such links in place (and
report failure) rather than harm what they point to: files on another mapped
drive, on C: and in a Linux directory outside every drive.
"""

import os
import shutil
import stat
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
import mptest  # noqa: E402
from mptest import sandbox  # noqa: E402
from recorder import DEEP_CLIP, awkward_names  # noqa: E402

TOOL = "volumes_wipe_tool.exe"


def snapshot(directory):
    """Every entry below a directory with its contents (files) and mode."""
    found = {}
    for path in mptest.tree(directory):
        full = os.path.join(directory, path)
        mode = stat.S_IMODE(os.lstat(full).st_mode)
        found[path] = (mode, None if path.endswith("/") else open(full, "rb").read())
    return found


class WipeStaysOnItsDrive(unittest.TestCase):
    def setUp(self):
        self.session = sandbox.Session().__enter__()
        self.addCleanup(self.session.__exit__, None, None, None)
        self.e = self.session.map_drive("e")
        self.f = self.session.map_drive("f")

        # Canaries: another drive, C:, and a Linux directory beside E's.
        (self.f / "Target").mkdir()
        (self.f / "Target" / "inside.dat").write_bytes(b"on F")
        (self.f / "keep.dat").write_bytes(b"F file")
        # Where E: has its longest path: a link there to this file names it
        # by the very path below its own root.
        (self.f / DEEP_CLIP).parent.mkdir(parents=True)
        (self.f / DEEP_CLIP).write_bytes(b"F clip")
        os.chmod(self.f / DEEP_CLIP, 0o444)
        self.c = self.session.prefix.path / "drive_c" / "canary"
        shutil.rmtree(self.c, ignore_errors=True)
        self.addCleanup(shutil.rmtree, self.c, True)
        (self.c / "Target").mkdir(parents=True)
        (self.c / "Target" / "inside.dat").write_bytes(b"on C")
        (self.c / "keep.dat").write_bytes(b"C file")
        self.outside = self.session.dir / "outside"
        (self.outside / "Target").mkdir(parents=True)
        (self.outside / "Target" / "inside.dat").write_bytes(b"outside")
        (self.outside / "keep.dat").write_bytes(b"outside file")
        for directory in (self.f, self.c, self.outside):
            # Read-only, so that clearing attributes through a link would show.
            os.chmod(directory / "keep.dat", 0o444)
            os.chmod(directory / "Target" / "inside.dat", 0o444)
        self.before = {d: snapshot(d) for d in (self.f, self.c, self.outside)}

    def fill_drive(self):
        (self.e / "Images" / "Day 1").mkdir(parents=True)
        for name in ("Images/IMG00000.dat", "Images/Day 1/IMG00001.dat", "VolumeInfo.xml"):
            (self.e / name).write_bytes(b"x" * 100)
        os.chmod(self.e / "Images" / "IMG00000.dat", 0o444)
        awkward = awkward_names(self.e)
        os.chmod(self.e / awkward[0], 0o444)
        return 3 + len(awkward)

    def run_tool(self, *args):
        return self.session.run(mptest.exe(TOOL), list(args), timeout=60)

    def assert_canaries_untouched(self, what):
        for directory, before in self.before.items():
            self.assertEqual(before, snapshot(directory), f"{what}: {directory} changed")

    def test_a_drive_without_links_is_wiped_whatever_its_names_and_nothing_else_is_touched(self):
        files = self.fill_drive()
        self.assertEqual(str(files), self.run_tool("count", "E:").stdout.strip())
        result = self.run_tool("wipe", "E:")
        self.assertEqual(0, result.code, result.stdout + result.stderr)
        self.assertEqual(f"deleted {files}", result.stdout.strip())
        self.assertEqual([], mptest.tree(self.e))
        self.assert_canaries_untouched("plain wipe")

    def test_links_out_of_the_drive_are_never_followed(self):
        # Deep down, so that the wipe meets it on its way.
        day = "Images/Day 1/"
        links = {
            "dir to F": (day + "ToF", self.f / "Target"),
            "dir to C": (day + "ToC", self.c / "Target"),
            "dir outside": (day + "Out", self.outside / "Target"),
            "file to F": (day + "f.dat", self.f / "keep.dat"),
            "file to C": (day + "c.dat", self.c / "keep.dat"),
            "file outside": (day + "o.dat", self.outside / "keep.dat"),
            "file to F, same long path": (DEEP_CLIP, self.f / DEEP_CLIP),
        }
        for what, (name, target) in links.items():
            with self.subTest(what):
                shutil.rmtree(self.e, ignore_errors=True)
                self.e.mkdir(exist_ok=True)
                self.fill_drive()
                link = self.e / name
                if link.exists():
                    link.unlink()
                os.symlink(target, link)

                self.run_tool("count", "E:")
                self.assert_canaries_untouched(what + ", count")
                result = self.run_tool("wipe", "E:")
                self.assertEqual(1, result.code, f"{what}: {result.stdout}{result.stderr}")
                self.assert_canaries_untouched(what + ", wipe")
                self.assertTrue(os.path.islink(link), what)

    def test_a_read_only_drive_reports_unwritable_and_keeps_everything(self):
        self.fill_drive()
        before = snapshot(self.e)
        self.session.make_readonly("e")
        self.assertEqual("writable 0 other 0", self.run_tool("probe", "E:").stdout.strip())
        result = self.run_tool("wipe", "E:")
        self.assertEqual(1, result.code)
        self.assertEqual(before, snapshot(self.e))


if __name__ == "__main__":
    mptest.main()
