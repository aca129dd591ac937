"""Mediaprep.exe as the technician meets it: its dialogs on a private X display,
read back through dlgprobe.exe and compared with a silent run (screenshots in
build/mingw/test-artifacts/gui/, MEDIAPREP_UPDATE_DOCS=1 also refreshes docs/)."""

import contextlib
import json
import os
import re
import shutil
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
import mptest  # noqa: E402
from mptest import sandbox  # noqa: E402
from recorder import ZERO_GUID, Recorder, description, write  # noqa: E402

KESTRIX_KEY = r"HKLM\Software\Corvane-VG\Kestrix"
IDOK, IDCANCEL, PANEL, VERSION_LINE, SS_ICON, BS_DEFPUSHBUTTON = 1, 2, 1004, 1007, 0x3, 0x1
STEP, FIGURES, BAR, STOP = 1005, 1006, 1008, 1009
BUSY_FILES = 60000  # on E:, enough for several seconds of wiping
WARNING = "Media Preparation clears the Kestrix image database."
DB_GUID = "{5EC0B2D1-7A44-4E0B-9C3F-1D2E3F405162}"
# E: another database's volume full of small files, prepared. F: another database's volume whose wipe leaves
# "System Volume Information" behind: it fails. G: too small, with the pre-alarm directory, no restore parent.
SETTINGS = {"ImagePath": "\\Image\\", "IndexPath": "\\Index\\", "AlarmPath": "\\Alarm\\",
            "PreAlarmPath": "G:\\PreAlarm\\", "RestorePath": "G:\\missing\\Restore\\"}
FAILURE = "Failure to initialize drive F:.  Mediaprep not completely successful.\n"
FOUND = "Data drives found: E:"
CREATE_FAILURE = "Failed attempting to create: G:\\missing\\Restore\\"
# What stopped each, below it in its box and on the next line of the log.
FAILURE_CAUSE = "F:\\Recordings cannot be removed: Directory is not empty. Nothing on F: was deleted."
CREATE_CAUSE = "G:\\missing\\Restore\\ cannot be created: Path not found."
LOG_HEAD = "Configuring Kestrix Drives\r\n"
WM_QUERYENDSESSION, WM_ENDSESSION = 0x11, 0x16


def texts(dialog):
    return {c["id"]: c["text"] for c in dialog["children"]}


class Technician(unittest.TestCase):
    def setUp(self):
        self.display = self.enterContext(sandbox.Display())

    @contextlib.contextmanager
    def recorder(self, ours=False):
        """ours: E: and F: are this database's two volumes, and nothing fails."""
        # A prefix of its own: a program without a display that another test starts there must never be the
        # one that starts the desktop process through which every window of the prefix goes.
        with sandbox.Session(prefix="gui") as self.s:
            rec = Recorder(self.s, DB_GUID, {**SETTINGS, "RestorePath": "G:\\Restore\\"} if ours else SETTINGS)
            e = rec.drive("e", size_kb=307200)
            f = rec.drive("f", size_kb=307200)
            write(e / "VolumeInfo.xml", description(
                NumFiles=14, Position=0, ActiveVolumes=1 + ours, AllocatedSpaceKB=307200,
                VolumeGUID="{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1FE}",
                DBGUID=DB_GUID if ours else "{11111111-2222-3333-4444-55556666777E}"))
            write(f / "VolumeInfo.xml", description(
                NumFiles=14, Position=int(ours), StartFile=-1 if ours else 0, RecordFile=-1 if ours else 3,
                VolumeGUID="{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}", ActiveVolumes=1 + ours, AllocatedSpaceKB=307200,
                DBGUID=DB_GUID if ours else "{11111111-2222-3333-4444-555566667777}"))
            self.fill(e)
            write(f / "Image" / "IMG00000003.IMG", b"image" * 2000)
            if not ours:
                write(f / "Recordings" / "System Volume Information" / "keep.dat", b"system")
            g = rec.drive("g", size_kb=16384)
            write(g / "PreAlarm" / "older" / "alarm-0000.jpg", b"jpeg" * 100)
            write(g / "PreAlarm" / "alarm-0001.jpg", b"jpeg" * 100)
            try:
                yield rec
                self.assertEqual([], rec.dead_canaries())
            finally:
                rec.forget_settings()

    @staticmethod
    def fill(root):
        for n in range(BUSY_FILES):
            if n % 500 == 0:
                (folder := root / "Images" / f"{n // 500:03}").mkdir(parents=True)
            (folder / f"IMG{n:05}.IMG").write_bytes(b"%d" % n)

    def deleting(self, root):
        """Waits until the wipe of the drive at root has begun to delete."""
        deadline = time.time() + 120
        while sum(len(fs) for _, _, fs in os.walk(root / "Images")) == BUSY_FILES:
            self.assertLess(time.time(), deadline, f"the wipe of {root} never began")
            time.sleep(0.05)

    def send(self, message, wparam, match):
        """A message's answer (as dlgprobe prints it), or None when no window took it."""
        r = self.s.run(mptest.exe("dlgprobe.exe"), ["send", message, wparam, match], timeout=60,
                       display=self.display.name)
        return r.stdout.strip() if r.code == 0 else None

    def watch(self, seconds):
        """Samples of the dialog every 0.1 s: whether it answered within a second, and its controls."""
        r = self.s.run(mptest.exe("dlgprobe.exe"), ["watch", seconds, f"child={PANEL}"], timeout=seconds + 60,
                       display=self.display.name)
        samples = json.loads(r.stdout)
        for sample in samples:
            sample["controls"] = {c["id"]: c for c in (sample["dialog"] or {"children": []})["children"]}
            controls = sample["controls"]
            sample.update(bar=controls.get(BAR, {}).get("position"), step=controls.get(STEP, {}).get("text"))
        return samples

    def box_saying(self, text):
        """The message box that shows the text (boxes come one after another)."""
        deadline = time.time() + 120
        while time.time() < deadline:
            box = self.wait("caption=Error" if text.startswith(CREATE_FAILURE) else "caption=")
            if text in texts(box).values():
                return box
            time.sleep(0.1)
        self.fail(f"no box says {text!r}")

    def state(self):
        """Every drive's files (volume GUIDs blanked out) and the recorder's key."""
        files = {}
        for letter in sorted(self.s.drives):
            root = self.s.drive(letter)
            for rel in mptest.tree(root):
                files[f"{letter.upper()}:/{rel}"] = None if rel.endswith("/") else re.sub(
                    rb"<VolumeGUID>[^<]*<", b"<VolumeGUID>*<", (root / rel).read_bytes())
        return {"files": files, "registry": self.s.run("reg", ["query", KESTRIX_KEY, "/s", "/reg:64"]).stdout}

    def wait(self, match, gone=False, timeout=120):
        """The first dialog with this caption= or child=, once painted (gone: None once none)."""
        r = self.s.run(mptest.exe("dlgprobe.exe"), ["wait", timeout, match] + ["gone"] * gone,
                       timeout=timeout + 60, display=self.display.name)
        self.assertEqual(0, r.code, f"{match} {'stayed' if gone else 'never came'}: {r.stdout} {r.stderr}")
        dialog = json.loads(r.stdout)
        if dialog:
            self.assertTrue(self.display.wait_painted(dialog["rect"], timeout=30), f"{match} never painted")
        return dialog

    def assert_ended(self, program, code=0):
        result = program.wait(timeout=60)
        self.assertEqual((False, code), (result.timed_out, result.code), result.stderr)

    def screenshot(self, name, dialog):
        region = [max(edge + margin, 0) for edge, margin in zip(dialog["rect"], (-12, -12, 12, 12))]
        shot = self.display.screenshot(mptest.BUILD / "test-artifacts" / "gui" / f"{name}.png", region=region)
        if os.environ.get("MEDIAPREP_UPDATE_DOCS") == "1":
            shutil.copyfile(shot, mptest.REPO / "docs" / f"{name}.png")

    def test_the_switch_runs_silently_escape_changes_nothing_and_ok_reports_over_the_dialog(self):
        with self.recorder() as rec:
            # The switch among other arguments: no window, the log's directory made, progress on standard output.
            shutil.rmtree(self.s.cpath(r"C:\Windows\Kestrix"), ignore_errors=True)
            clean = self.s.start(mptest.exe("Mediaprep.exe"), ["report.txt", "-CLEAN", "-x"], display=self.display.name)
            self.assertTrue(clean.wait_for_output(f"Wiping drive E: 0 of {BUSY_FILES + 1:,} files deleted", 120))
            windows = set()
            while clean.running():
                windows.update(self.display.windows(class_regex=r"^mediaprep\.exe$"))
                time.sleep(0.05)
            result = clean.wait()
            self.assertEqual((1, set()), (result.code, windows), result.stderr)
            for line in ("Releasing the database's volumes", "Creating the directories of drive E:",
                         "Emptying G:\\missing\\Restore\\"):
                self.assertIn(line, result.stdout.splitlines())
            self.assertEqual("Configuring Kestrix Drives\r\nError:" + FAILURE.replace("\n", "\r\n")
                             + f"\r\nError:{FAILURE_CAUSE}\r\nMessage: {FOUND}\r\nError:{CREATE_FAILURE}\r\n"
                             + f"Error:{CREATE_CAUSE}\r\n", rec.log())
            silent = self.state()
            # What the run did, so that the comparison below means something.
            self.assertIn(f"<DBGUID>{DB_GUID}</DBGUID>".encode(), silent["files"]["E:/VolumeInfo.xml"])
            self.assertEqual(["G:/PreAlarm/"], [p for p in silent["files"] if p.startswith("G:")])

        with self.recorder() as rec:
            before = self.state()
            self.assertIn("G:\\PreAlarm", before["registry"])
            # Arguments other than the switch leave the program interactive.
            program = self.s.start(mptest.exe("Mediaprep.exe"), ["clean", "/cleanup", "\\clean"],
                                   display=self.display.name)
            dialog = self.wait(f"child={PANEL}")
            self.assertEqual("Mediaprep", dialog["caption"])  # the taskbar's name for it
            self.assertEqual((WARNING, "OK", "Cancel"), tuple(texts(dialog)[i] for i in (PANEL, IDOK, IDCANCEL)))
            self.screenshot("dialog", dialog)
            # The About entry is the system menu's last item: Up from the first goes round to it.
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
            self.assertEqual((before, None), (self.state(), rec.log()))

            program = self.s.start(mptest.exe("Mediaprep.exe"), [], display=self.display.name)
            dialog = self.wait(f"child={PANEL}")
            self.display.key("Return")  # OK is the default button
            # While E: is wiped the dialog answers, shows it, and stays.
            samples, deadline = [], time.time() + 120
            while not any(s["bar"] for s in samples[-3:]) and time.time() < deadline:  # the deletions have begun
                samples += self.watch(0.5)
            self.screenshot("running", samples[-1]["dialog"])
            self.display.key("Escape", "alt+F4")  # alt+F4: what the close box sends
            # Log-off and shut-down wait for the drive; the run goes on as if never asked.
            self.assertEqual("0", self.send(WM_QUERYENDSESSION, 0, f"child={PANEL}"))
            keys = len(samples)
            samples += self.watch(1)
            self.assertEqual([True] * len(samples), [s["answered"] for s in samples])
            bars = [s["bar"] for s in samples]
            self.assertEqual(sorted(bars), bars)
            # The figures are refreshed a few times a second, not at every sample.
            self.assertTrue(0 < bars[keys - 1] < bars[-1], bars)
            self.assertEqual("Wiping drive E:", samples[-1]["step"])  # the keys came during the wipe
            shown = [samples[-1]["controls"][i] for i in (IDOK, IDCANCEL, STOP)]
            self.assertEqual([(True, False), (False, True), (True, True)],
                             [(c["visible"], c["enabled"]) for c in shown])
            # The focus rests on the step, not on a button that Enter would press.
            self.assertEqual((STEP, 0), (samples[-1]["dialog"]["focus"], shown[2]["style"] & BS_DEFPUSHBUTTON))
            for caption, text in (("Error", FAILURE + "\n" + FAILURE_CAUSE), ("", FOUND),
                                  ("Error", CREATE_FAILURE + "\n\n" + CREATE_CAUSE)):
                box = self.wait(f"caption={caption}")
                self.assertIn(text, texts(box).values())
                self.assertEqual(dialog["hwnd"], box["owner"])
                if caption:
                    self.assertTrue(any(c["style"] & 0x1F == SS_ICON for c in box["children"]), "no icon")
                under = self.wait(f"child={PANEL}", timeout=0)
                self.assertEqual((dialog["hwnd"], False), (under["hwnd"], under["enabled"]))  # still there
                if text.startswith(CREATE_FAILURE):
                    self.screenshot("error", box)
                self.display.key("Return")
                self.wait(f"caption={caption}", gone=True)
            self.assert_ended(program, code=1)
            self.assertEqual(silent, self.state())
            self.assertIsNone(rec.log())

    def test_nothing_but_the_end_of_a_drive_ends_a_run(self):
        stop, found = "Message: Stopped on request after drive E:; not prepared: F:", "Message: Data drives found: E:"
        with self.recorder(ours=True) as rec:
            e, f = self.s.drive("e"), self.s.drive("f")
            # Ctrl+C twice on the console of /clean while E: is wiped: the run finishes E:, says so and leaves F:,
            # which it had released. The system's question meanwhile is answered no.
            clean = self.s.start(mptest.exe("mptesthelper.exe"), ["console", "Wiping drive E:", "B:\\Mediaprep.exe",
                                                                  "/clean"], display=self.display.name)
            self.deleting(e)
            self.assertEqual("0", self.send(WM_QUERYENDSESSION, 0, "class=MediaprepSession"))
            lines = clean.wait(timeout=300).stdout.splitlines()
            self.assertEqual("exit 2", lines[0])
            self.assertIn("Stopping after drive E:, which is finished first (Ctrl+C again shows how far it is).", lines)
            self.assertTrue(any(re.fullmatch(r"Wiping drive E: .*; stopping when drive E: is done\.", line)
                                for line in lines), lines)
            self.assertEqual(f"{LOG_HEAD}{stop}. No longer volumes of the database and not prepared either: F:; the "
                             "recorder can use them neither as they were nor as new volumes until a run prepares them"
                             f"\r\n{found}\r\n", rec.log())
            self.assertEqual((DB_GUID, ZERO_GUID), (rec.info("e")["DBGUID"], rec.info("f")["DBGUID"]))
            # A stop still empties the pre-alarm and restore directories and sets MultipleDir.
            self.assertEqual((["PreAlarm/", "Restore/"], 1), (mptest.tree(self.s.drive("g")), rec.registry("MultipleDir")))

            # Enter held from OK to the last box: no stop, both drives prepared.
            program = self.s.start(mptest.exe("Mediaprep.exe"), [], display=self.display.name)
            self.wait(f"child={PANEL}")
            deadline = time.time() + 120
            while program.running() and time.time() < deadline:
                self.display.key("Return")
                time.sleep(0.1)
            self.assert_ended(program)
            self.assertEqual([DB_GUID] * 2, [rec.info(d)["DBGUID"] for d in "ef"])

            # The session ended by force while E: is wiped: the log says where the run was. The next run
            # prepares E:, and its stop button stops it after E:.
            self.fill(e / "Yard")  # listed after the description, as on NTFS
            clean = self.s.start(mptest.exe("Mediaprep.exe"), ["/clean"], display=self.display.name)
            self.deleting(e / "Yard")
            self.assertEqual("0", self.send(WM_ENDSESSION, 1, "class=MediaprepSession"))
            clean.kill()
            self.assertRegex(rec.log().splitlines()[-1], r"^Error:Mediaprep was ended by the system while it prepared "
                             r"drive E: \(Wiping drive E: [\d,]+ of 60,\d{3} files deleted\); the next run prepares "
                             r"that drive again\.$")
            self.assertTrue((e / "VolumeInfo.xml").exists() and mptest.tree(e / "Yard"))
            untouched = {p: (f / p).read_bytes() for p in mptest.tree(f) if not p.endswith("/")}
            program = self.s.start(mptest.exe("Mediaprep.exe"), [], display=self.display.name)
            self.wait(f"child={PANEL}")
            self.display.key("Return")
            while "Wiping drive E:" not in [s["step"] for s in self.watch(0.3)]:
                self.assertTrue(program.running(), "the wipe of E: never showed")
            self.display.key("Tab", "space")
            for text in (stop[9:], found[9:]):
                self.box_saying(text)
                self.display.key("Return")
            self.assert_ended(program, code=2)
            self.assertEqual(["Alarm/", "Image/", "Index/", "VolumeInfo.xml"],
                             [p for p in mptest.tree(e) if p != "VolumeInfoOld.xml"])
            self.assertEqual(untouched, {p: (f / p).read_bytes() for p in mptest.tree(f) if not p.endswith("/")})


if __name__ == "__main__":
    mptest.main()
