"""Mediaprep.exe as the technician meets it, in the sandbox on a private X
display: started without the switch, driven with keys and clicks, its dialogs
read back through dlgprobe.exe, and compared with a silent run on the same
recorder. Screenshots go to build/mingw/test-artifacts/gui/
(MEDIAPREP_UPDATE_DOCS=1 also refreshes the README's pictures in docs/)."""

import contextlib
import json
import os
import re
import shutil
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
import mptest  # noqa: E402
from mptest import sandbox  # noqa: E402
from recorder import Recorder, description, write  # noqa: E402

KESTRIX_KEY = r"HKLM\Software\Corvane-VG\Kestrix"
IDOK, IDCANCEL, PANEL, VERSION_LINE, SS_ICON = 1, 2, 1004, 1007, 0x3
WARNING = "Media Preparation clears the Kestrix image database."
DB_GUID = "{5EC0B2D1-7A44-4E0B-9C3F-1D2E3F405162}"
# E: is blank, so it is initialised. F: holds a volume of another database
# whose wipe leaves a "System Volume Information" directory in a
# sub-directory behind, so its initialisation fails. G: is too small to be a
# volume; its pre-alarm directory is emptied, and the parent of the restore
# directory is missing, which is reported.
SETTINGS = {"ImagePath": "\\Image\\", "IndexPath": "\\Index\\", "AlarmPath": "\\Alarm\\",
            "PreAlarmPath": "G:\\PreAlarm\\", "RestorePath": "G:\\missing\\Restore\\"}
FAILURE = "Failure to initialize drive F:.  Mediaprep not completely successful.\n"
FOUND = "Data drives found: E:"
CREATE_FAILURE = "Failed attempting to create: G:\\missing\\Restore\\"


def texts(dialog):
    return {c["id"]: c["text"] for c in dialog["children"]}


class Technician(unittest.TestCase):
    def setUp(self):
        self.display = self.enterContext(sandbox.Display())

    @contextlib.contextmanager
    def recorder(self):
        with sandbox.Session() as self.s:
            rec = Recorder(self.s, DB_GUID, SETTINGS)
            rec.drive("e", size_kb=307200)
            f = rec.drive("f", size_kb=307200)
            write(f / "VolumeInfo.xml", description(NumFiles=14, Position=0, StartFile=0, RecordFile=3,
                                                    VolumeGUID="{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}",
                                                    DBGUID="{11111111-2222-3333-4444-555566667777}",
                                                    ActiveVolumes=1, AllocatedSpaceKB=307200))
            write(f / "Image" / "IMG00000003.IMG", b"image" * 2000)
            write(f / "Recordings" / "System Volume Information" / "keep.dat", b"system")
            g = rec.drive("g", size_kb=16384)
            write(g / "PreAlarm" / "older" / "alarm-0000.jpg", b"jpeg" * 100)
            write(g / "PreAlarm" / "alarm-0001.jpg", b"jpeg" * 100)
            try:
                yield rec
                self.assertEqual([], rec.dead_canaries())
            finally:
                rec.forget_settings()

    def state(self):
        """Every drive's files (new volume GUIDs blanked out) and the
        recorder's registry key."""
        files = {}
        for letter in sorted(self.s.drives):
            root = self.s.drive(letter)
            for rel in mptest.tree(root):
                files[f"{letter.upper()}:/{rel}"] = None if rel.endswith("/") else re.sub(
                    rb"<VolumeGUID>[^<]*<", b"<VolumeGUID>*<", (root / rel).read_bytes())
        return {"files": files, "registry": self.s.run("reg", ["query", KESTRIX_KEY, "/s"]).stdout}

    def wait(self, match, gone=False, timeout=120):
        """The first dialog with this caption= or child=, once painted; with
        gone, None once there is none."""
        r = self.s.run(mptest.exe("dlgprobe.exe"), ["wait", timeout, match] + ["gone"] * gone,
                       timeout=timeout + 60, display=self.display.name)
        self.assertEqual(0, r.code, f"{match} {'stayed' if gone else 'never came'}: {r.stdout} {r.stderr}")
        dialog = json.loads(r.stdout)
        if dialog:
            self.assertTrue(self.display.wait_painted(dialog["rect"], timeout=30), f"{match} never painted")
        return dialog

    def start(self, *args):
        return self.s.start(mptest.exe("Mediaprep.exe"), args, display=self.display.name)

    def assert_ended(self, program):
        result = program.wait(timeout=60)
        self.assertFalse(result.timed_out, "the program did not end")
        self.assertEqual(0, result.code, result.stderr)

    def screenshot(self, name, dialog, margin=12):
        left, top, right, bottom = dialog["rect"]
        shot = self.display.screenshot(mptest.BUILD / "test-artifacts" / "gui" / f"{name}.png",
                                       region=(max(left - margin, 0), max(top - margin, 0),
                                               right + margin, bottom + margin))
        if os.environ.get("MEDIAPREP_UPDATE_DOCS") == "1":
            shutil.copyfile(shot, mptest.REPO / "docs" / f"{name}.png")

    def test_cancel_and_escape_touch_nothing_and_the_about_box_shows_the_version(self):
        with self.recorder() as rec:
            before = self.state()
            self.assertIn("G:\\PreAlarm", before["registry"])
            # Arguments other than the switch leave the program interactive.
            program = self.start("clean", "/cleanup", "\\clean")
            dialog = self.wait(f"child={PANEL}")
            self.assertEqual("Mediaprep", dialog["caption"])  # the taskbar's name for it
            self.assertEqual((WARNING, "OK", "Cancel"), tuple(texts(dialog)[i] for i in (PANEL, IDOK, IDCANCEL)))
            self.screenshot("dialog", dialog)
            left, top, right, bottom = next(c["rect"] for c in dialog["children"] if c["id"] == IDCANCEL)
            self.display.click((left + right) // 2, (top + bottom) // 2)
            self.assert_ended(program)
            self.assertEqual(before, self.state())

            program = self.start()
            dialog = self.wait(f"child={PANEL}")
            # The About entry is the system menu's last item: Up from the
            # first item goes round to it.
            self.display.key("alt+space", "Up", "Return")
            about = self.wait("caption=About Mediaprep")
            version = re.search(r'MEDIAPREP_VERSION_TEXT "([^"]*)"',
                                (mptest.BUILD / "app" / "generated" / "MediaprepVersion.h").read_text())[1]
            self.assertEqual("Media Preparation Version " + version, texts(about)[VERSION_LINE])
            for axis in (0, 1):  # centred over the dialog
                self.assertAlmostEqual(sum(dialog["rect"][axis::2]), sum(about["rect"][axis::2]), delta=2)
            self.screenshot("about", about)
            self.display.key("Return")
            self.wait("caption=About Mediaprep", gone=True)
            self.assertEqual(dialog["hwnd"], self.wait(f"child={PANEL}", timeout=0)["hwnd"])  # still asking
            self.display.key("Escape")
            self.assert_ended(program)
            self.assertEqual(before, self.state())
            self.assertIsNone(rec.log())

    def test_the_switch_among_other_arguments_runs_without_a_window_even_without_settings(self):
        with sandbox.Session() as self.s:
            self.addCleanup(mptest.forget_settings, self.s)
            mptest.forget_settings(self.s)
            shutil.rmtree(self.s.cpath(r"C:\Windows\Kestrix"), ignore_errors=True)  # the log's directory too
            runs, windows = [], set()
            worker = threading.Thread(target=lambda: runs.append(self.s.run(
                mptest.exe("Mediaprep.exe"), ["report.txt", "-CLEAN", "-x"], timeout=300, display=self.display.name)))
            worker.start()
            while worker.is_alive():
                windows.update(self.display.windows(class_regex=r"^mediaprep\.exe$"))
                time.sleep(0.05)
            self.assertEqual((0, set()), (runs[0].code, windows), runs[0].stderr)
            # Without settings both directories are the system drive's root,
            # which is never cleared.
            self.assertEqual(b"Configuring Kestrix Drives\r\n" + b"Error:Attempting to delete C:\\\r\n" * 2,
                             self.s.cpath(mptest.RUN_LOG).read_bytes())

    def test_ok_shows_every_report_over_the_dialog_and_ends_as_a_silent_run(self):
        with self.recorder() as rec:
            self.assertEqual(0, rec.run().code)
            self.assertEqual("Configuring Kestrix Drives\r\nError:" + FAILURE.replace("\n", "\r\n")
                             + f"\r\nMessage: {FOUND}\r\nError:{CREATE_FAILURE}\r\n", rec.log())
            silent = self.state()
            # What the run did, so that the comparison below means something.
            self.assertIn(f"<DBGUID>{DB_GUID}</DBGUID>".encode(), silent["files"]["E:/VolumeInfo.xml"])
            self.assertIn("F:/Recordings/System Volume Information/keep.dat", silent["files"])
            self.assertEqual(["G:/PreAlarm/"], [p for p in silent["files"] if p.startswith("G:")])
            self.assertIn("MultipleDir", silent["registry"])

        with self.recorder() as rec:
            program = self.start()
            dialog = self.wait(f"child={PANEL}")
            self.display.key("Return")  # OK is the default button
            for caption, text in (("Error", FAILURE), ("", FOUND), ("Error", CREATE_FAILURE)):
                box = self.wait(f"caption={caption}")
                self.assertIn(text, texts(box).values())
                self.assertEqual(dialog["hwnd"], box["owner"])
                if caption:
                    self.assertTrue(any(c["style"] & 0x1F == SS_ICON for c in box["children"]), "no icon")
                under = self.wait(f"child={PANEL}", timeout=0)
                self.assertEqual((dialog["hwnd"], False), (under["hwnd"], under["enabled"]))  # still there
                if text == CREATE_FAILURE:
                    self.screenshot("error", box)
                self.display.key("Return")
                self.wait(f"caption={caption}", gone=True)
            self.assert_ended(program)
            self.assertEqual(silent, self.state())
            self.assertIsNone(rec.log())


if __name__ == "__main__":
    mptest.main()
