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

HELPER = mptest.exe("mptesthelper.exe")
COMMAND = str(mptest.REPO / "tools" / "sandbox")


def mounts_under(path):
    return sandbox._mount_points_under(path)


def exclusive_prefix_lock():
    """Keeps every other program of the prefix from starting meanwhile (the
    letters these tests plant would make them refuse)."""
    lock = sandbox._FileLock(sandbox.Prefix(mptest.BUILD).prefix_lock.path)
    lock.acquire(exclusive=True)
    return lock


class Refusal(unittest.TestCase):
    def setUp(self):
        self.outside = Path(tempfile.mkdtemp(prefix="mediaprep-outside-"))
        self.canary = self.outside / "canary.txt"
        self.canary.write_text("must survive")

    def tearDown(self):
        self.assertEqual("must survive", self.canary.read_text())
        self.canary.unlink()
        self.outside.rmdir()

    def test_a_prefix_whose_z_points_outside_refuses_every_run(self):
        # A prefix of its own (the refusal comes before Wine is started, so the
        # drive table is all it needs), as a fresh Wine prefix would leave it.
        build = Path(tempfile.mkdtemp(prefix="mediaprep-build-"))
        try:
            prefix = sandbox.Prefix(build)
            (prefix.path / "drive_c").mkdir(parents=True)
            prefix.dosdevices.mkdir()
            (prefix.path / ".mediaprep-sandbox").write_text("ready\n")
            os.symlink("../drive_c", prefix.dosdevices / "c:")
            os.symlink(self.outside, prefix.dosdevices / "z:")

            with self.assertRaises(sandbox.SandboxError) as caught:
                prefix.run(HELPER, ["touch", r"Z:\canary.txt"])
            self.assertIn("refusing to run", str(caught.exception))
            self.assertIn(f"Z: resolves to {self.outside}", str(caught.exception))

            r = subprocess.run([COMMAND, "--build", str(build), "run", "--", str(HELPER), "drives"],
                               capture_output=True, text=True)
            self.assertEqual(3, r.returncode)
            self.assertIn("refusing to run", r.stderr)
            self.assertIn("Z: resolves to", r.stderr)
            self.assertEqual("", r.stdout)
        finally:
            sandbox._rmtree(build)

    def test_the_real_prefix_is_checked_the_same_way(self):
        lock = exclusive_prefix_lock()
        prefix = sandbox.Prefix(mptest.BUILD)
        link = prefix.dosdevices / "z:"
        try:
            os.symlink(self.outside, link)
            with self.assertRaises(sandbox.SandboxError):
                prefix.check()
            os.unlink(link)
            os.symlink("/", link)
            with self.assertRaises(sandbox.SandboxError) as caught:
                prefix.check()
            self.assertIn("Z: resolves to /", str(caught.exception))
        finally:
            if os.path.lexists(link):
                os.unlink(link)
            lock.release()
        prefix.check()

    def test_a_new_session_removes_letters_it_did_not_map(self):
        lock = exclusive_prefix_lock()
        prefix = sandbox.Prefix(mptest.BUILD)
        try:
            os.symlink(self.outside, prefix.dosdevices / "y:")
            with sandbox.Session() as s:
                self.assertFalse(os.path.lexists(s.prefix.dosdevices / "y:"))
                lock.release()
                r = s.run(HELPER, ["drives"])
                self.assertEqual(0, r.code)
                self.assertEqual("", r.stdout)
        finally:
            if os.path.lexists(prefix.dosdevices / "y:"):
                os.unlink(prefix.dosdevices / "y:")
            lock.release()


class Drives(unittest.TestCase):
    def test_types_sizes_and_read_only_as_windows_sees_them(self):
        with sandbox.Session() as s:
            s.map_drive("e")
            s.map_drive("f", "network")
            s.map_drive("g", "removable")
            s.map_drive("h", "cdrom")
            limited = s.map_drive("i", size="64m")
            readonly = s.map_drive("j", readonly=True)
            r = s.run(HELPER, ["drives"])
            self.assertEqual(0, r.code, r.stderr)
            seen = {line.split()[0]: line.split()[1:] for line in r.stdout.splitlines()}
            self.assertEqual(["3", "4", "2", "5", "3", "3"], [seen[d][0] for d in "EFGHIJ"])
            self.assertEqual("65536", seen["I"][1])

            self.assertEqual(0, s.run(HELPER, ["touch", r"E:\new.txt"]).code)
            self.assertTrue((s.drive("e") / "new.txt").exists())
            self.assertNotEqual(0, s.run(HELPER, ["touch", r"J:\new.txt"]).code)
            self.assertEqual([], os.listdir(readonly))
            mounted = mounts_under(s.dir)
            self.assertIn(str(limited), mounted)
            self.assertIn(str(readonly), mounted)
            session_dir = s.dir
        # Everything undone.
        self.assertEqual([], mounts_under(session_dir.parent))
        self.assertFalse(session_dir.exists())
        letters = [e for e in os.listdir(s.prefix.dosdevices) if len(e) == 2 and e[0] in sandbox.DATA_LETTERS]
        self.assertEqual([], letters)

    def test_a_session_killed_outright_is_cleaned_up_by_the_next(self):
        child = subprocess.Popen([sys.executable, "-c", f"""
import sys, time
sys.path.insert(0, {str(mptest.REPO / 'tools')!r})
import sandbox
s = sandbox.Session({str(mptest.BUILD)!r}).__enter__()
s.map_drive("k", size="8m")
print(s.dir, flush=True)
time.sleep(600)
"""], stdout=subprocess.PIPE, text=True)
        left_behind = Path(child.stdout.readline().strip())
        child.kill()
        child.wait()
        self.assertTrue(mounts_under(left_behind))
        with sandbox.Session() as s:
            self.assertEqual([], mounts_under(left_behind))
            self.assertFalse(left_behind.exists())
            self.assertFalse(os.path.lexists(s.prefix.dosdevices / "k:"))

    def test_a_directory_outside_the_sandbox_cannot_be_mapped(self):
        with sandbox.Session() as s:
            with self.assertRaises(sandbox.SandboxError):
                s.map_drive("e", directory="/tmp")
            with self.assertRaises(sandbox.SandboxError):
                s.map_drive("c")
            self.assertFalse(os.path.lexists(s.prefix.dosdevices / "e:"))


class Running(unittest.TestCase):
    def test_exit_code_output_and_timeout(self):
        with sandbox.Session() as s:
            r = s.run(HELPER, [])
            self.assertEqual(2, r.code)
            self.assertIn("usage:", r.stderr)
            started = time.monotonic()
            r = s.run(HELPER, ["sleep", "120"], timeout=3)
            self.assertTrue(r.timed_out)
            self.assertIsNone(r.code)
            self.assertLess(time.monotonic() - started, 60)
            # The prefix is usable again afterwards.
            self.assertEqual(0, s.run(HELPER, ["drives"]).code)

    def test_a_started_program_runs_beside_the_caller_and_is_killed_on_timeout(self):
        with sandbox.Session() as s:
            s.map_drive("e")
            quick = s.start(HELPER, ["touch", r"E:\started.txt"])
            self.assertEqual(0, quick.wait(timeout=60).code)
            self.assertTrue((s.drive("e") / "started.txt").exists())

            slow = s.start(HELPER, ["sleep", "120"])
            # Other programs run meanwhile.
            self.assertEqual(0, s.run(HELPER, ["drives"]).code)
            self.assertTrue(slow.running())
            r = slow.wait(timeout=1)
            self.assertTrue(r.timed_out)
            self.assertIsNone(r.code)
            self.assertFalse(slow.running())
            self.assertIs(r, slow.wait())

    def test_whatever_still_runs_when_the_session_ends_is_killed(self):
        with sandbox.Session() as s:
            s.map_drive("e")
            held = s.start(HELPER, ["hold", r"E:\held.dat", "120"])
            deadline = time.monotonic() + 60
            while not (s.drive("e") / "held.dat").exists() and time.monotonic() < deadline:
                time.sleep(0.05)
            self.assertTrue(held.running())
        self.assertFalse(held.running())
        self.assertIsNotNone(held.proc.poll())
        self.assertTrue(held.result.timed_out)

    def test_registry_values_and_c_paths(self):
        key = r"HKLM\Software\Corvane-VG\Kestrix\SandboxTest"
        with sandbox.Session() as s:
            s.reg_delete(key)
            self.assertIsNone(s.reg_get(key, "Number"))
            s.reg_set(key, "Number", 0xFFFFFFFF)
            s.reg_set(key, "Text", r"C:\Some Path\ ")
            self.assertEqual(0xFFFFFFFF, s.reg_get(key, "Number"))
            self.assertEqual(r"C:\Some Path\ ", s.reg_get(key, "Text"))
            s.reg_delete(key, "Number")
            self.assertIsNone(s.reg_get(key, "Number"))
            s.reg_delete(key)
            self.assertIsNone(s.reg_get(key, "Text"))
            self.assertEqual(s.prefix.path / "drive_c" / "windows" / "system32",
                             s.cpath(r"C:\WINDOWS\System32"))


if __name__ == "__main__":
    mptest.main()
