"""A private X display (Xvfb) for the Windows programs of the GUI tests, with
what a test needs to act as the user: keys, clicks, screenshots, and a wait
until a window has painted. Used through the sandbox module (sandbox.Display);
it starts no Windows program itself."""

import os
import subprocess
import time
from pathlib import Path


class DisplayError(Exception):
    """The X server could not be started, or an X tool failed."""


class Display:
    """A private Xvfb server for programs that open windows."""

    def __init__(self, width=1024, height=768):
        self.size = f"{width}x{height}x24"
        self.proc = None
        self.name = None

    def __enter__(self):
        for n in range(90, 200):
            if not os.path.exists(f"/tmp/.X11-unix/X{n}") and not os.path.exists(f"/tmp/.X{n}-lock"):
                self.proc = subprocess.Popen(["Xvfb", f":{n}", "-screen", "0", self.size,
                                              "-nolisten", "tcp"],
                                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                deadline = time.time() + 10
                while time.time() < deadline and self.proc.poll() is None:
                    if os.path.exists(f"/tmp/.X11-unix/X{n}"):
                        self.name = f":{n}"
                        return self
                    time.sleep(0.05)
                self.proc.kill()
                self.proc.wait()
        raise DisplayError("could not start Xvfb")

    def __exit__(self, *exc):
        if self.proc:
            # Let the Wine processes of this display (the program's windows,
            # Wine's desktop process) close their connections first: an X
            # server that vanishes under them leaves them to die of an X error.
            deadline = time.time() + 15
            while self.clients() and time.time() < deadline:
                time.sleep(0.05)
            self.proc.terminate()
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        return False

    def clients(self):
        """How many X clients are connected to this display (the server's
        accepted connections on its socket)."""
        if not self.name:
            return 0
        n = self.name.lstrip(":")
        paths = {f"/tmp/.X11-unix/X{n}", f"@/tmp/.X11-unix/X{n}"}
        count = 0
        with open("/proc/net/unix", encoding="utf-8") as f:
            next(f)
            for line in f:
                parts = line.split()
                # Flags 0x10000 (accepting) marks the listening sockets.
                if len(parts) >= 8 and parts[7] in paths and not int(parts[3], 16) & 0x10000:
                    count += 1
        return count

    def env(self):
        env = dict(os.environ)
        env["DISPLAY"] = self.name
        return env

    def xdotool(self, *args):
        return subprocess.run(["xdotool", *map(str, args)], env=self.env(), timeout=30,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)

    def key(self, *keys):
        """Type keys as a user would (xdotool names: Return, Escape, alt+space, a)."""
        for k in keys:
            r = self.xdotool("key", "--clearmodifiers", k)
            if r.returncode != 0:
                raise DisplayError(f"xdotool key {k} failed: {r.stderr.strip()}")

    def click(self, x, y):
        """A left click at screen coordinates."""
        r = self.xdotool("mousemove", "--sync", int(x), int(y), "click", "1")
        if r.returncode != 0:
            raise DisplayError(f"xdotool click at {x},{y} failed: {r.stderr.strip()}")

    def screenshot(self, path, region=None):
        """The whole screen (or region = (left, top, right, bottom)) as an image file."""
        Path(path).parent.mkdir(parents=True, exist_ok=True)
        args = ["import", "-window", "root"]
        if region:
            args += ["-crop", _geometry(region), "+repage"]
        subprocess.run([*args, str(path)], env=self.env(), check=True, timeout=60,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return Path(path)

    def pixels(self, region):
        """The RGB bytes of a region of the screen, row by row."""
        r = subprocess.run(["import", "-window", "root", "-crop", _geometry(region), "+repage",
                            "-depth", "8", "rgb:-"], env=self.env(), timeout=60,
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=True)
        return r.stdout

    def wait_painted(self, region, timeout=30):
        """Wait until a region of the screen shows more than one colour (a
        window is mapped black or in its background colour before it paints)
        and looks the same in two grabs in a row (painting has settled).
        Returns False on timeout."""
        deadline = time.time() + timeout
        previous = None
        while True:
            data = self.pixels(region)
            if data == previous and len(set(data[i:i + 3] for i in range(0, len(data), 3))) > 1:
                return True
            previous = data
            if time.time() >= deadline:
                return False
            time.sleep(0.05)

    def windows(self, class_regex=None, name_regex=None):
        """Visible X windows matching a class or name (xdotool search)."""
        args = ["xdotool", "search", "--onlyvisible"]
        args += ["--class", class_regex] if class_regex else ["--name", name_regex]
        r = subprocess.run(args, env=dict(os.environ, DISPLAY=self.name),
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        return [w for w in r.stdout.split() if w]


def _geometry(region):
    left, top, right, bottom = (int(v) for v in region)
    return f"{max(right - left, 1)}x{max(bottom - top, 1)}+{left}+{top}"
