"""The sandbox keeps every drive letter inside its own tree, undoes what it
maps, and refuses to run when a letter points anywhere else."""

import os
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
import mptest  # noqa: E402
from mptest import sandbox  # noqa: E402


def helper():  # looked up when used: mptest.main() reads --build after this module loads
    return mptest.exe("mptesthelper.exe")


def drive_letters(prefix):
    return sorted(e for e in os.listdir(prefix.dosdevices) if len(e) == 2 and e[0] in sandbox.DATA_LETTERS)


class Refusal(unittest.TestCase):
    def setUp(self):
        self.outside = Path(tempfile.mkdtemp(prefix="mediaprep-outside-"))
        (self.outside / "canary.txt").write_text("must survive")
        self.addCleanup(sandbox._rmtree, self.outside)
        self.addCleanup(lambda: self.assertEqual("must survive", (self.outside / "canary.txt").read_text()))

    def test_a_prefix_whose_z_points_outside_refuses_every_run(self):
        # A prefix of its own, as a fresh Wine prefix leaves it: the refusal
        # comes before Wine starts, so the drive table is all it needs.
        build = Path(tempfile.mkdtemp(prefix="mediaprep-build-"))
        self.addCleanup(sandbox._rmtree, build)
        prefix = sandbox.Prefix(build)
        (prefix.path / "drive_c").mkdir(parents=True)
        prefix.dosdevices.mkdir()
        (prefix.path / ".mediaprep-sandbox").write_text("ready\n")
        os.symlink("../drive_c", prefix.dosdevices / "c:")
        os.symlink(self.outside, prefix.dosdevices / "z:")
        with self.assertRaisesRegex(sandbox.SandboxError, f"refusing to run.*Z: resolves to {self.outside}"):
            prefix.run(helper(), ["touch", r"Z:\canary.txt"])
        r = subprocess.run([str(mptest.REPO / "tools" / "sandbox"), "--build", str(build), "run", "--", str(helper()),
                            "drives"], capture_output=True, text=True)
        self.assertEqual((3, ""), (r.returncode, r.stdout))
        self.assertRegex(r.stderr, "refusing to run.*Z: resolves to")

    def test_the_real_prefix_refuses_z_anywhere_and_a_session_drops_letters_it_did_not_map(self):
        # Exclusive until the session has begun: the letters planted here
        # would make every other program of the prefix refuse.
        prefix = sandbox.Prefix(mptest.BUILD)
        lock = sandbox._FileLock(prefix.prefix_lock.path)
        lock.acquire(exclusive=True)
        self.addCleanup(lock.release)
        for link in (prefix.dosdevices / "z:", prefix.dosdevices / "y:"):
            self.addCleanup(lambda link=link: os.path.lexists(link) and os.unlink(link))
        for target in (self.outside, "/"):
            os.symlink(target, prefix.dosdevices / "z:")
            with self.assertRaisesRegex(sandbox.SandboxError, f"Z: resolves to {target}"):
                prefix.check()
            os.unlink(prefix.dosdevices / "z:")
        prefix.check()
        os.symlink(self.outside, prefix.dosdevices / "y:")
        with sandbox.Session() as s:
            self.assertEqual([], drive_letters(s.prefix))
            lock.release()
            r = s.run(helper(), ["drives"])
            self.assertEqual((0, ""), (r.code, r.stdout))
            for args in (("e", "fixed", "/tmp"), ("c",)):
                self.assertRaises(sandbox.SandboxError, s.map_drive, *args)  # outside, or C:
            self.assertEqual([], drive_letters(s.prefix))


class Sessions(unittest.TestCase):
    def test_drives_and_programs_as_windows_sees_them_all_ended_and_undone_afterwards(self):
        # What a session killed outright leaves behind, the next one cleans up.
        script = ("import sys, time; sys.path.insert(0, sys.argv[1]); import sandbox; "
                  "s = sandbox.Session(sys.argv[2]).__enter__(); s.map_drive('k', size='8m'); "
                  "print(s.dir, flush=True); time.sleep(600)")
        child = subprocess.Popen([sys.executable, "-c", script, str(mptest.REPO / "tools"), str(mptest.BUILD)],
                                 stdout=subprocess.PIPE, text=True)
        left_behind = Path(child.stdout.readline().strip())
        child.kill()
        child.wait()
        self.assertTrue(sandbox._mount_points_under(left_behind))
        with sandbox.Session() as s:
            self.assertEqual(([], False, []), (sandbox._mount_points_under(left_behind), left_behind.exists(),
                                               drive_letters(s.prefix)))
            for letter, kind in zip("efgh", ("fixed", "network", "removable", "cdrom")):
                s.map_drive(letter, kind)
            limited = s.map_drive("i", size="64m")
            readonly = s.map_drive("j", readonly=True)
            r = s.run(helper(), ["drives"])
            seen = {line.split()[0]: line.split()[1:] for line in r.stdout.splitlines()}
            # GetDriveType of E: to J:, and the size in KB of I:
            self.assertEqual(["3", "4", "2", "5", "3", "3", "65536"], [seen[d][0] for d in "EFGHIJ"] + [seen["I"][1]])
            self.assertEqual(0, s.run(helper(), ["touch", r"E:\new.txt"]).code)
            self.assertTrue((s.drive("e") / "new.txt").exists())
            self.assertNotEqual(0, s.run(helper(), ["touch", r"J:\new.txt"]).code)
            self.assertEqual([], os.listdir(readonly))
            self.assertTrue({str(limited), str(readonly)} <= set(sandbox._mount_points_under(s.dir)))
            # Programs end on their timeout, or with the session.
            started = time.monotonic()
            r = s.run(helper(), ["sleep", "120"], timeout=3)
            self.assertEqual((True, None), (r.timed_out, r.code))
            slow = s.start(helper(), ["sleep", "120"])
            self.assertEqual(0, s.run(helper(), ["touch", r"E:\beside.txt"]).code)  # runs meanwhile
            self.assertTrue(slow.running())
            r = slow.wait(timeout=1)
            self.assertEqual((True, None, False), (r.timed_out, r.code, slow.running()))
            self.assertLess(time.monotonic() - started, 60)
            held = s.start(helper(), ["hold", r"E:\held.dat", "120"])
            deadline = time.monotonic() + 60
            while not (s.drive("e") / "held.dat").exists() and time.monotonic() < deadline:
                time.sleep(0.05)
            self.assertTrue(held.running())
            session_dir = s.dir
        self.assertEqual(([], False, [], False, True), (sandbox._mount_points_under(session_dir.parent),
                         session_dir.exists(), drive_letters(s.prefix), held.running(), held.result.timed_out))


if __name__ == "__main__":
    mptest.main()
