"""The confirmation and About dialogs in a real window: Mediaprep.exe started
without /clean on a private X display in the sandbox, driven with the keyboard
and the mouse as a technician would, its windows read back through the probe.
Screenshots go to build/mingw/test-artifacts/gui/ (MEDIAPREP_UPDATE_DOCS=1
also refreshes the README's pictures in docs/)."""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
import mptest  # noqa: E402
from guiuser import (Desktop, control_of, drive_contents, product_version,  # noqa: E402
                     registry_export, registry_import, texts_of, tree_contents)
from mptest import sandbox  # noqa: E402

PROGRAM = r"B:\Mediaprep.exe"  # the build directory is B: in the sandbox
KESTRIX_KEY = r"HKLM\Software\Corvane-VG\Kestrix"
WARNING = "Media Preparation clears the Kestrix image database."
IDOK, IDCANCEL, PANEL, SMALL_CONTROL, VERSION_LINE = 1, 2, 1004, 1003, 1007

WS_POPUP, WS_CAPTION, WS_SYSMENU, WS_THICKFRAME = 0x80000000, 0x00C00000, 0x00080000, 0x00040000
WS_BORDER, DS_MODALFRAME, WS_VISIBLE = 0x00800000, 0x80, 0x10000000
SS_TYPEMASK, SS_ICON, BS_TYPEMASK, BS_DEFPUSHBUTTON = 0x1F, 0x3, 0xF, 0x1

# Settings that give a preparation run plenty to change: a blank drive to
# initialise, a foreign volume to wipe, a pre-alarm directory to empty, a
# restore directory to create, GUID and MultipleDir to write.
SETTINGS = {
    "ImagePath": "\\Image\\",
    "IndexPath": "\\Index\\",
    "AlarmPath": "\\Alarm\\",
    "PreAlarmPath": "G:\\PreAlarm\\",
    "RestorePath": "G:\\Restore\\",
}


def furnish(session):
    session.map_drive("e")
    f = session.map_drive("f")
    (f / "VolumeInfo.xml").write_bytes(b"<VolumeInformation>\r\n<NumFiles>3</NumFiles>\r\n</VolumeInformation>\r\n")
    (f / "IMG00001.AVI").write_bytes(b"recording" * 1000)
    (f / "Index").mkdir()
    (f / "Index" / "MASTER.NDX").write_bytes(b"\0" * 512)
    g = session.map_drive("g", size="16m")
    (g / "PreAlarm").mkdir()
    (g / "PreAlarm" / "alarm-0001.jpg").write_bytes(b"jpeg" * 100)
    mptest.forget_settings(session)
    registry_import(session, KESTRIX_KEY + r"\Database", SETTINGS)


class DialogTest(unittest.TestCase):
    FURNISH = True

    def setUp(self):
        self.desk = Desktop(self.id().split(".")[-1]).__enter__()
        self.addCleanup(self.desk.__exit__, None, None, None)
        self.session = self.desk.session
        if not self.FURNISH:
            return
        furnish(self.session)
        self.addCleanup(mptest.forget_settings, self.session)
        self.log = self.session.cpath(mptest.RUN_LOG)
        if self.log.exists():
            self.log.unlink()

    def state(self):
        return {"drives": drive_contents(self.session),
                "registry": registry_export(self.session, KESTRIX_KEY),
                "run log": self.log.exists()}

    def assert_ended_without_a_trace(self, program, before):
        self.assertIn("G:\\\\PreAlarm\\\\".encode("utf-16-le"), before["registry"])  # furnished
        result = program.wait(timeout=30)
        self.assertFalse(result.timed_out, "the program did not end")
        self.assertEqual(0, result.code, result.stderr)
        self.assertEqual([], self.desk.dialogs())
        after = self.state()
        self.assertEqual(before["drives"], after["drives"])
        self.assertEqual(before["registry"], after["registry"])
        self.assertFalse(after["run log"])


class Confirmation(DialogTest):
    def test_the_dialog_shows_the_warning_and_cancel_ends_the_program_touching_nothing(self):
        before = self.state()
        program = self.desk.start()
        dialog = self.desk.wait_dialog(child=PANEL)
        self.assertEqual(WARNING, control_of(dialog, PANEL)["text"])
        self.assertEqual("OK", control_of(dialog, IDOK)["text"])
        self.assertEqual("Cancel", control_of(dialog, IDCANCEL)["text"])
        self.assertTrue(all(c["visible"] for c in dialog["children"]))
        self.assertEqual("Mediaprep", dialog["caption"])  # the taskbar's name for it
        self.assertEqual(0, dialog["style"] & WS_CAPTION)
        self.desk.screenshot("dialog", dialog)

        self.desk.click_control(dialog, IDCANCEL)
        self.assert_ended_without_a_trace(program, before)

    def test_escape_ends_the_program_touching_nothing(self):
        before = self.state()
        program = self.desk.start()
        self.desk.wait_dialog(child=PANEL)
        self.desk.key("Escape")
        self.assert_ended_without_a_trace(program, before)


class About(DialogTest):
    def test_the_system_menu_opens_the_about_box_with_the_version(self):
        before = self.state()
        program = self.desk.start()
        dialog = self.desk.wait_dialog(child=PANEL)
        # The About entry is the last item of the system menu: from the first
        # item, Up goes round to it.
        self.desk.key("alt+space", "Up", "Return")
        about = self.desk.wait_dialog(caption="About Mediaprep")
        self.assertEqual("Media Preparation Version " + product_version(),
                         control_of(about, VERSION_LINE)["text"])
        self.assertIn(IDOK, [c["id"] for c in about["children"]])
        # Centred over the confirmation dialog.
        for axis in (0, 1):
            self.assertAlmostEqual(dialog["rect"][axis] + dialog["rect"][axis + 2],
                                   about["rect"][axis] + about["rect"][axis + 2], delta=2)
        self.desk.screenshot("about", about)

        self.desk.key("Return")
        self.desk.wait_gone(caption="About Mediaprep")
        self.desk.wait_dialog(child=PANEL)  # still asking
        self.desk.key("Escape")
        self.assert_ended_without_a_trace(program, before)


class Resources(DialogTest):
    FURNISH = False  # reads the program; changes nothing

    def test_dialog_102_in_the_executable_and_on_the_screen(self):
        template = self.desk.probe("template", PROGRAM, "102")
        style = template["style"]
        self.assertEqual(WS_POPUP | WS_SYSMENU, style & (WS_POPUP | WS_SYSMENU))
        self.assertEqual(0, style & (WS_CAPTION | WS_BORDER | WS_THICKFRAME | DS_MODALFRAME))
        self.assertEqual([0, 0, 207, 78], template["rect"])
        self.assertEqual(("MS Sans Serif", 8), (template["font"], template["points"]))

        controls = {c["id"]: c for c in template["controls"]}
        self.assertEqual({PANEL, IDOK, IDCANCEL, SMALL_CONTROL}, set(controls))
        expected = {
            PANEL: ("static", WARNING, [13, 15, 181, 31]),
            IDOK: ("button", "OK", [41, 53, 50, 14]),
            IDCANCEL: ("button", "Cancel", [116, 53, 50, 14]),
            SMALL_CONTROL: ("static", "", [7, 53, 21, 18]),
        }
        for cid, (cls, text, rect) in expected.items():
            c = controls[cid]
            self.assertEqual((cls, text, rect), (c["class"].lower(), c["text"], c["rect"]), cid)
        self.assertEqual(BS_DEFPUSHBUTTON, controls[IDOK]["style"] & BS_TYPEMASK)
        self.assertEqual(0, controls[IDCANCEL]["style"] & BS_TYPEMASK)

        # The running dialog puts every control where the template says,
        # in pixels as the template's font makes them.
        program = self.desk.start()
        dialog = self.desk.wait_dialog(child=PANEL)
        self.assertEqual({PANEL, IDOK, IDCANCEL, SMALL_CONTROL}, {c["id"] for c in dialog["children"]})
        for cid, c in controls.items():
            self.assertEqual(c["pixels"], control_of(dialog, cid)["rect"], cid)
        client = dialog["client"]
        self.assertEqual(template["pixels"][2:], [client[2] - client[0], client[3] - client[1]])
        self.desk.key("Escape")
        self.assertEqual(0, program.wait(timeout=30).code)

    def test_the_about_box_and_the_menu_text_in_the_executable(self):
        template = self.desk.probe("template", PROGRAM, "100")
        self.assertEqual("About Mediaprep", template["caption"])
        style = template["style"]
        self.assertEqual(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
                         style & (WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME))
        self.assertEqual([0, 0, 270, 52], template["rect"])
        self.assertEqual(("MS Sans Serif", 8), (template["font"], template["points"]))

        controls = template["controls"]
        icon = [c for c in controls if c["style"] & SS_TYPEMASK == SS_ICON and c["class"].lower() == "static"]
        self.assertEqual(1, len(icon))
        self.assertEqual(("#130", [14, 15, 20, 20]), (icon[0]["text"], icon[0]["rect"]))
        by_id = {c["id"]: c for c in controls}
        self.assertEqual([45, 13, 119, 8], by_id[VERSION_LINE]["rect"])
        self.assertEqual(("button", [231, 7, 32, 14]), (by_id[IDOK]["class"].lower(), by_id[IDOK]["rect"]))
        further = [c for c in controls if c is not icon[0] and c["id"] not in (VERSION_LINE, IDOK)]
        self.assertEqual(1, len(further))
        self.assertEqual([45, 28], further[0]["rect"][:2])
        self.assertTrue(further[0]["text"])

        self.assertEqual("&About Mediaprep...", self.desk.probe("string", PROGRAM, "101"))


class SharedDesktop(DialogTest):
    FURNISH = False

    def test_the_dialog_comes_right_after_a_program_that_had_no_display(self):
        # A program that opens a window without a display leaves Wine's
        # desktop process on no display for a second; the sandbox waits for
        # it to go before it starts a program on a display.
        r = self.session.run(mptest.exe("dlgprobe.exe"), ["template", PROGRAM, "102"], timeout=60)
        self.assertNotEqual(0, r.code)  # no display: the probe's own dialog cannot be made
        program = self.desk.start()
        self.desk.wait_dialog(child=PANEL, timeout=20)
        self.desk.key("Escape")
        self.assertEqual(0, program.wait(timeout=30).code)


# The OK run on directories of C: (no data drive mapped, so the drive part of
# the run finds nothing to report): the pre-alarm directory holds files to
# clear, the restore directory's parent is missing, which the run reports.
DIRECTORY_SETTINGS = {
    "PreAlarmPath": "C:\\mptest-prealarm\\",
    "RestorePath": "C:\\mptest-missing\\Restore\\",
    "GUID": "{5EC0B2D1-7A44-4E0B-9C3F-1D2E3F405162}",
}
CREATE_FAILURE = "Failed attempting to create: C:\\mptest-missing\\Restore\\"


def forget_settings():
    with sandbox.Session() as s:
        mptest.forget_settings(s)


class OkRun(unittest.TestCase):
    def furnish(self, session):
        prealarm = session.cpath(r"C:\mptest-prealarm")
        for name in ("mptest-prealarm", "mptest-missing"):
            sandbox._rmtree(session.cpath("C:\\" + name))
            self.addCleanup(sandbox._rmtree, session.cpath("C:\\" + name))
        (prealarm / "old").mkdir(parents=True)
        (prealarm / "alarm-0001.jpg").write_bytes(b"jpeg" * 100)
        (prealarm / "old" / "alarm-0000.jpg").write_bytes(b"jpeg" * 100)
        mptest.forget_settings(session)
        registry_import(session, KESTRIX_KEY + r"\Database", DIRECTORY_SETTINGS)

    def state(self, session):
        return {**tree_contents(session.cpath(r"C:\mptest-prealarm"), "prealarm"),
                **tree_contents(session.cpath(r"C:\mptest-missing"), "missing"),
                "registry": registry_export(session, KESTRIX_KEY)}

    def test_ok_shows_each_report_over_the_dialog_and_ends_as_a_silent_run_would(self):
        with sandbox.Session() as s:
            self.addCleanup(forget_settings)
            self.furnish(s)
            r = s.run(mptest.exe("Mediaprep.exe"), ["/clean"], timeout=120)
            self.assertEqual(0, r.code, r.stderr)
            silent = self.state(s)
            self.assertIn(("Error:" + CREATE_FAILURE).encode(), s.cpath(mptest.RUN_LOG).read_bytes())

        with Desktop(self.id().split(".")[-1]) as desk:
            self.furnish(desk.session)
            self.assertNotEqual(silent, self.state(desk.session))
            program = desk.start()
            dialog = desk.wait_dialog(child=PANEL)
            desk.key("Return")  # OK is the default button

            box = desk.wait_dialog(caption="Error")
            self.assertIn(CREATE_FAILURE, texts_of(box))
            self.assertEqual(dialog["hwnd"], box["owner"])
            self.assertTrue(any(c["class"].lower() == "static" and c["style"] & SS_TYPEMASK == SS_ICON
                                for c in box["children"]), "no icon in the Error box")
            under = [d for d in desk.dialogs() if d["hwnd"] == dialog["hwnd"]]
            self.assertEqual(1, len(under), "the dialog went before the run ended")
            self.assertFalse(under[0]["enabled"])
            desk.screenshot("error", box)
            desk.key("Return")

            desk.wait_program_end(self, program)
            self.assertEqual(silent, self.state(desk.session))


if __name__ == "__main__":
    mptest.main()
