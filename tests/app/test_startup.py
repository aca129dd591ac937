"""Start-up end to end: the real Mediaprep.exe in the sandbox."""

import os
import shutil
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
import mptest  # noqa: E402
from mptest import sandbox  # noqa: E402
from guiuser import Desktop  # noqa: E402


def run_watching_windows(session, display, args):
    """Run Mediaprep.exe and collect every visible window it maps meanwhile."""
    result = {}
    seen = set()

    def target():
        result["run"] = session.run(mptest.exe("Mediaprep.exe"), args, timeout=60, display=display.name)

    worker = threading.Thread(target=target)
    worker.start()
    while worker.is_alive():
        seen.update(display.windows(class_regex=r"^mediaprep\.exe$"))
        time.sleep(0.05)
    worker.join()
    return result["run"], seen


class SilentStart(unittest.TestCase):
    def setUp(self):
        self.session = sandbox.Session().__enter__()
        self.addCleanup(self.session.__exit__, None, None, None)
        self.display = sandbox.Display().__enter__()
        self.addCleanup(self.display.__exit__, None, None, None)
        self.log = self.session.cpath(mptest.RUN_LOG)

    def test_clean_writes_the_run_log_creating_its_directory_and_no_window(self):
        shutil.rmtree(self.session.cpath(r"C:\Windows\Kestrix"), ignore_errors=True)
        result, windows = run_watching_windows(self.session, self.display, ["/clean"])
        self.assertEqual(0, result.code, result.stderr)
        self.assertTrue(self.log.read_bytes().startswith(b"Configuring Kestrix Drives\r\n"))
        self.assertEqual(set(), windows)

    def test_each_silent_run_rewrites_the_log_from_its_first_line(self):
        self.log.parent.mkdir(parents=True, exist_ok=True)
        self.log.write_bytes(b"an older run\r\n" * 100)
        for args in (["-CLEAN"], ["report.txt", "/Clean", "-x"]):
            result, windows = run_watching_windows(self.session, self.display, args)
            self.assertEqual(0, result.code, args)
            text = self.log.read_bytes()
            self.assertTrue(text.startswith(b"Configuring Kestrix Drives\r\n"), args)
            self.assertNotIn(b"older run", text)
            self.assertEqual(set(), windows, args)
            self.log.write_bytes(b"stale\r\n")



class InteractiveStart(unittest.TestCase):
    def test_without_the_switch_the_confirmation_dialog_comes_and_no_log_is_written(self):
        with Desktop("interactive-start") as desk:
            log = desk.session.cpath(mptest.RUN_LOG)
            for args in ([], ["clean"], ["/cleanup"], ["\\clean"]):
                if log.exists():
                    log.unlink()
                program = desk.start(*args)
                desk.wait_dialog(child=1004)
                desk.key("Escape")
                result = program.wait(timeout=30)
                self.assertEqual(0, result.code, args)
                self.assertFalse(log.exists(), args)


if __name__ == "__main__":
    mptest.main()
