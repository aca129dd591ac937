"""The sandbox keeps every drive letter inside its own tree, undoes what it
maps, and refuses to run when a letter points anywhere else."""

import os
import subprocess
import sys
import tempfile
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

    def test_a_prefix_whose_z_points_outside_or_at_the_root_refuses_every_run(self):
        # A prefix of its own: the refusal comes before Wine starts.
        build = Path(tempfile.mkdtemp(prefix="mediaprep-build-"))
        self.addCleanup(sandbox._rmtree, build)
        prefix = sandbox.Prefix(build)
        (prefix.path / "drive_c" / "windows" / "syswow64").mkdir(parents=True)
        (prefix.path / "drive_c" / "windows" / "syswow64" / "kernel32.dll").touch()
        prefix.dosdevices.mkdir()
        (prefix.path / ".mediaprep-sandbox").write_text("ready\n")
        os.symlink("../drive_c", prefix.dosdevices / "c:")
        for target in ("/", self.outside):
            (prefix.dosdevices / "z:").unlink(missing_ok=True)
            os.symlink(target, prefix.dosdevices / "z:")
            with self.assertRaisesRegex(sandbox.SandboxError, f"refusing to run.*Z: resolves to {target}"):
                prefix.run(helper(), ["hold", r"Z:\canary.txt", "0"])
        r = subprocess.run([str(mptest.REPO / "tools" / "sandbox"), "--build", str(build), "run", "--", str(helper()),
                            "sleep", "0"], capture_output=True, text=True)
        self.assertEqual((3, ""), (r.returncode, r.stdout))
        self.assertRegex(r.stderr, "refusing to run.*Z: resolves to")

    def test_a_session_drops_letters_it_did_not_map_and_maps_none_outside(self):
        # Exclusive until the session has begun: the planted letter makes every run refuse.
        prefix = sandbox.Prefix(mptest.BUILD)
        lock = sandbox._FileLock(prefix.prefix_lock.path)
        lock.acquire(exclusive=True)
        self.addCleanup(lock.release)
        planted = prefix.dosdevices / "y:"
        self.addCleanup(lambda: os.path.lexists(planted) and os.unlink(planted))
        os.symlink(self.outside, planted)
        with sandbox.Session() as s:
            lock.release()
            for args in (("e", "fixed", "/tmp"), ("c",)):
                self.assertRaises(sandbox.SandboxError, s.map_drive, *args)  # outside, or C:
            self.assertEqual([], drive_letters(s.prefix))


class Sessions(unittest.TestCase):
    def test_programs_end_on_their_timeout_or_with_the_session_and_drives_are_undone(self):
        with sandbox.Session() as s:
            s.map_drive("e", size="8m")
            slow = s.start(helper(), ["sleep", "120"])
            r = slow.wait(timeout=1)
            self.assertEqual((True, None, False), (r.timed_out, r.code, slow.running()))
            held = s.start(helper(), ["hold", r"E:\held.dat", "120"])
            self.assertTrue(held.wait_for_output("held"))
            session_dir = s.dir
        self.assertEqual(([], False, [], False, True), (sandbox._mount_points_under(session_dir.parent),
                         session_dir.exists(), drive_letters(s.prefix), held.running(), held.result.timed_out))


class WithoutThe32BitWine(unittest.TestCase):
    """A machine that cannot run 32-bit programs still runs the 64-bit ones,
    whether the switch says so or the kernel kills every 32-bit program."""

    def test_64_bit_programs_run_through_the_64_bit_loader_and_32_bit_ones_are_refused_plainly(self):
        # A PE header naming the i386 processor is all the refusal looks at.
        old = Path(tempfile.mkdtemp(prefix="mediaprep-pe-", dir=mptest.BUILD)) / "old.exe"
        self.addCleanup(sandbox._rmtree, old.parent)
        old.write_bytes(b"MZ" + bytes(58) + (64).to_bytes(4, "little") + b"PE\0\0" + (0x14C).to_bytes(2, "little"))
        tools = mptest.REPO / "tools"
        ways = [([], dict(os.environ, SANDBOX_NO_32BIT="1"), "SANDBOX_NO_32BIT=1")]
        wrapper = [str(tools / "without-32bit")]
        if subprocess.run([*wrapper, "true"]).returncode == 0:
            unswitched = {k: v for k, v in os.environ.items() if k != "SANDBOX_NO_32BIT"}
            ways.append((wrapper, unswitched, "its kernel does not run 32-bit"))
        else:
            sys.stderr.write("without-32bit cannot filter system calls here: only the switch is tried\n")
        for around, env, reason in ways:
            def sandboxed(*args):
                return subprocess.run([*around, str(tools / "sandbox"), "--build", str(mptest.BUILD), *args],
                                      capture_output=True, text=True, env=env, timeout=300)
            r = sandboxed("wine32")
            self.assertEqual(1, r.returncode)
            self.assertIn(reason, r.stdout)
            r = sandboxed("run", "--", "cmd", "/c", "echo %WINELOADER%")
            self.assertEqual((0, sandbox.WINE64_LOADER), (r.returncode, r.stdout.strip()), r.stderr)
            r = sandboxed("run", "--", str(old))
            self.assertEqual(3, r.returncode)
            self.assertIn("is a 32-bit program and this machine cannot run one: " + reason, r.stderr)


if __name__ == "__main__":
    mptest.main()
