"""A person at the recorder, for the GUI tests: a private X display, a sandbox
session, Mediaprep.exe started on that display, the probe (dlgprobe.exe) that
finds its dialogs by caption or control identifier, keys and clicks through
xdotool, and screenshots kept under the build directory."""

import json
import os
import re
from pathlib import Path

import mptest
from mptest import sandbox

PROBE = "dlgprobe.exe"
SHOTS = "test-artifacts/gui"


def product_version():
    """The version the build put into the program (from project() in CMake)."""
    header = (mptest.BUILD / "app" / "generated" / "MediaprepVersion.h").read_text()
    return re.search(r'MEDIAPREP_VERSION_TEXT "([^"]*)"', header).group(1)


def center(rect):
    left, top, right, bottom = rect
    return (left + right) // 2, (top + bottom) // 2


class Desktop:
    """with Desktop() as desk:
           program = desk.start()
           dialog = desk.wait_dialog(child=1004)
           desk.key("Escape")
    """

    def __init__(self, test_name):
        self.test_name = test_name
        self.display = None
        self.session = None

    def __enter__(self):
        # The session ends first (killing whatever still runs), then the display.
        self.display = sandbox.Display().__enter__()
        try:
            self.session = sandbox.Session().__enter__()
        except BaseException:
            self.display.__exit__(None, None, None)
            raise
        return self

    def __exit__(self, *exc):
        try:
            self.session.__exit__(*exc)
        finally:
            self.display.__exit__(*exc)
        return False

    # -- programs ---------------------------------------------------------
    def start(self, *args):
        return self.session.start(mptest.exe("Mediaprep.exe"), args, display=self.display.name)

    def probe(self, *args, timeout=60):
        """The probe's JSON answer, or None when it reports nothing."""
        r = self.session.run(mptest.exe(PROBE), args, timeout=timeout, display=self.display.name)
        if r.timed_out:
            raise AssertionError(f"dlgprobe {' '.join(args)} hung")
        text = r.stdout.strip()
        if not text:
            raise AssertionError(f"dlgprobe {' '.join(args)} said nothing: {r.stderr}")
        return json.loads(text)

    def dialogs(self):
        return self.probe("windows")

    def wait_dialog(self, timeout=30, caption=None, child=None):
        """The first visible dialog with this caption and/or control, once it
        is on the screen and painted."""
        args = ["wait", str(timeout)]
        if caption is not None:
            args.append(f"caption={caption}")
        if child is not None:
            args.append(f"child={child}")
        dialog = self.probe(*args, timeout=timeout + 60)
        if dialog is None:
            raise AssertionError(f"no dialog with caption={caption!r} child={child!r} within {timeout} s; "
                                 f"on the screen: {self.dialogs()}")
        if not self.display.wait_painted(dialog["rect"], timeout=timeout):
            raise AssertionError(f"dialog {dialog['caption']!r} mapped but never painted")
        return dialog

    def wait_gone(self, timeout=30, caption=None, child=None):
        args = ["wait", str(timeout)]
        if caption is not None:
            args.append(f"caption={caption}")
        if child is not None:
            args.append(f"child={child}")
        self.probe(*args, "gone", timeout=timeout + 60)
        remaining = [d for d in self.dialogs()
                     if (caption is None or d["caption"] == caption)
                     and (child is None or any(c["id"] == child for c in d["children"]))]
        if remaining:
            raise AssertionError(f"still on the screen after {timeout} s: {remaining}")

    # -- the user -----------------------------------------------------------
    def wait_program_end(self, test, program, timeout=60):
        """The program ends by itself, with exit code 0 and no window left."""
        result = program.wait(timeout=timeout)
        test.assertFalse(result.timed_out, f"still on the screen: {self.dialogs()}")
        test.assertEqual(0, result.code)
        test.assertEqual([], self.dialogs())
        return result

    def key(self, *keys):
        self.display.key(*keys)

    def click_control(self, dialog, control_id):
        """A click in the middle of a control, as the probe placed it."""
        control = control_of(dialog, control_id)
        left, top = dialog["client"][:2]
        x, y = center(control["rect"])
        self.display.click(left + x, top + y)

    def screenshot(self, name, dialog=None, margin=12):
        """The whole screen as a test artefact; with a dialog, also a picture
        of just that dialog (with a margin). Returns the paths."""
        folder = mptest.BUILD / SHOTS
        whole = self.display.screenshot(folder / f"{self.test_name}-{name}.png")
        if dialog is None:
            return whole, None
        left, top, right, bottom = dialog["rect"]
        crop = self.display.screenshot(folder / f"{self.test_name}-{name}-window.png",
                                       region=(max(left - margin, 0), max(top - margin, 0),
                                               right + margin, bottom + margin))
        if os.environ.get("MEDIAPREP_UPDATE_DOCS") == "1":
            docs = mptest.REPO / "docs"
            docs.mkdir(exist_ok=True)
            (docs / f"{name}.png").write_bytes(crop.read_bytes())
        return whole, crop


def control_of(dialog, control_id):
    found = [c for c in dialog["children"] if c["id"] == control_id]
    if len(found) != 1:
        raise AssertionError(f"control {control_id}: {len(found)} in {dialog}")
    return found[0]


def texts_of(dialog):
    return [c["text"] for c in dialog["children"]]


# -- what a run may change ------------------------------------------------

def tree_contents(root, label):
    """Every file below root with its contents, and every directory; {} when
    root does not exist."""
    state = {}
    if not Path(root).exists():
        return state
    for rel in mptest.tree(root):
        path = Path(root) / rel
        state[f"{label}/{rel}"] = None if rel.endswith("/") else path.read_bytes()
    return state


def drive_contents(session):
    """Every mapped drive's files with their contents, directories too."""
    state = {}
    for letter in sorted(session.drives):
        state.update(tree_contents(session.drive(letter), f"{letter.upper()}:"))
    return state


def registry_import(session, key, values):
    """Replace a registry key (under HKLM) by one holding `values` (strings
    and 32-bit numbers), in one start of `reg import`."""
    full = key.replace("HKLM\\", "HKEY_LOCAL_MACHINE\\", 1)
    lines = ["Windows Registry Editor Version 5.00", "", f"[-{full}]", "", f"[{full}]"]
    for name, value in values.items():
        if isinstance(value, int):
            lines.append(f'"{name}"=dword:{value & 0xFFFFFFFF:08x}')
        else:
            escaped = value.replace("\\", "\\\\").replace('"', '\\"')
            lines.append(f'"{name}"="{escaped}"')
    target = r"C:\mptest-import.reg"
    linux = session.cpath(target)
    linux.write_bytes(("\r\n".join(lines) + "\r\n").encode("utf-16"))
    try:
        r = session.run("reg", ["import", target], timeout=60)
        if r.code != 0:
            raise AssertionError(f"reg import failed: {r.stdout} {r.stderr}")
    finally:
        linux.unlink()


def registry_export(session, key):
    """The whole registry key as `reg export` writes it, or None without it."""
    target = r"C:\mptest-export.reg"
    linux = session.cpath(target)
    if linux.exists():
        linux.unlink()
    r = session.run("reg", ["export", key, target, "/y"], timeout=60)
    if r.code != 0:
        return None
    data = linux.read_bytes()
    linux.unlink()
    return data
