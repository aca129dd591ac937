"""The Wine sandbox in which every Mediaprep program and test runs.

Mediaprep wipes every fixed and network drive from D: to Z:. A default Wine
prefix maps Z: to the Linux root, so one careless run would wipe this machine.
This module owns one Wine prefix per build directory and guarantees that,
whenever a Windows program starts, every drive letter from D: to Z: resolves
inside the sandbox tree of that build directory. It refuses to run otherwise.

Used as a module by the Python tests (Prefix, Session, Started, and Display
from xdisplay.py) and as a command through tools/sandbox (see
`tools/sandbox --help`), also as CMake's CROSSCOMPILING_EMULATOR for the test
executables.

Layout under the build directory:
    wineprefix/           the prefix (C: is wineprefix/drive_c, B: the build directory)
    sandbox/              the only place drive letters may point into
    sandbox/.locks/       prefix.lock (shared while a program runs, exclusive to
                          rebuild or restart the prefix), drives.lock (held by the
                          one session that maps drives or changes the registry)
    sandbox/.state.json   the drive types the running wineserver was started with
    wineprefix-NAME/, sandbox-NAME/
                          the same for a test that asks for a prefix of its own
                          (Session(prefix="gui")): the GUI test, whose windows go
                          through the desktop process of the first program that
                          needs one, which must not be another test's program
                          without a display
"""

import contextlib
import fcntl
import functools
import json
import os
import re
import shutil
import signal
import struct
import subprocess
import tempfile
import time
from dataclasses import dataclass
from pathlib import Path

from xdisplay import Display, DisplayError  # noqa: F401  (part of this module's interface)

REPO = Path(__file__).resolve().parent.parent
DATA_LETTERS = "defghijklmnopqrstuvwxyz"
# Wine's names for drive types in HKLM\Software\Wine\Drives.
DRIVE_TYPES = {"fixed": "hd", "network": "network", "removable": "floppy", "cdrom": "cdrom"}
WINE_DRIVES_KEY = r"HKLM\Software\Wine\Drives"
WINE_DRIVES_VIEWS = (64, 32)
# Where Debian's 32-bit Wine puts its Windows-side libraries.
WINE32_DIRS = ("/usr/lib/i386-linux-gnu/wine/i386-windows", "/usr/lib/wine/i386-windows")
# Debian's loaders: /usr/bin/wine starts the 32-bit one whenever it is
# installed, even for 64-bit programs; the 64-bit one runs them by itself.
WINE32_LOADER = "/usr/lib/wine/wine"
WINE64_LOADER = "/usr/lib/wine/wine64"
# Set to 1, it answers "this machine cannot run 32-bit programs" whatever the
# machine could do, so that the fallback is tried everywhere.
NO_32BIT_SWITCH = "SANDBOX_NO_32BIT"


class SandboxError(Exception):
    """The sandbox refused to do something unsafe, or could not set itself up."""


@dataclass
class RunResult:
    code: int | None
    stdout: str
    stderr: str
    timed_out: bool = False


def _default_build_dir():
    return Path(os.environ.get("SANDBOX_BUILD", REPO / "build" / "mingw"))


def _inside(path, root):
    path, root = os.path.realpath(path), os.path.realpath(root)
    return path != root and os.path.commonpath([path, root]) == root


def _mount_points_under(root):
    """Mount points at or below root, deepest first."""
    root = os.path.realpath(root)
    found = []
    with open("/proc/self/mountinfo", encoding="utf-8") as f:
        for line in f:
            point = line.split()[4].encode().decode("unicode_escape")
            if point == root or point.startswith(root + "/"):
                found.append(point)
    return sorted(set(found), key=len, reverse=True)


def _unmount_all_under(root):
    for point in _mount_points_under(root):
        subprocess.run(["umount", "-l", point], check=False,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def _rmtree(path):
    """Remove a tree that Windows programs may have left read-only."""
    def onerror(func, p, _exc):
        try:
            os.chmod(p, 0o700)
            os.chmod(os.path.dirname(p), 0o700)
            func(p)
        except OSError:
            pass
    if os.path.lexists(path):
        if os.path.islink(path):
            os.unlink(path)
        else:
            shutil.rmtree(path, onerror=onerror)


class _FileLock:
    def __init__(self, path):
        self.path = Path(path)
        self.path.parent.mkdir(parents=True, exist_ok=True)
        self.fd = None

    def acquire(self, exclusive, timeout=None):
        """Take the lock; with a timeout, give up after that many seconds and
        return False."""
        if self.fd is None:
            self.fd = os.open(self.path, os.O_RDWR | os.O_CREAT, 0o644)
        mode = fcntl.LOCK_EX if exclusive else fcntl.LOCK_SH
        if timeout is None:
            fcntl.flock(self.fd, mode)
            return True
        deadline = time.time() + timeout
        while True:
            try:
                fcntl.flock(self.fd, mode | fcntl.LOCK_NB)
                return True
            except BlockingIOError:
                if time.time() >= deadline:
                    return False
                time.sleep(0.05)

    def release(self):
        if self.fd is not None:
            fcntl.flock(self.fd, fcntl.LOCK_UN)
            os.close(self.fd)
            self.fd = None

    @contextlib.contextmanager
    def held(self, exclusive):
        self.acquire(exclusive)
        try:
            yield
        finally:
            self.release()


class Prefix:
    """The Wine prefix of one build directory (or one of its named others)."""

    def __init__(self, build_dir=None, name=None):
        if name is not None and not re.fullmatch(r"[a-z0-9]+", name):
            raise SandboxError(f"no prefix name {name!r}")
        suffix = f"-{name}" if name else ""
        self.build = Path(build_dir or _default_build_dir()).resolve()
        self.path = self.build / f"wineprefix{suffix}"
        self.root = self.build / f"sandbox{suffix}"
        self.dosdevices = self.path / "dosdevices"
        self.state_file = self.root / ".state.json"
        self.prefix_lock = _FileLock(self.root / ".locks" / "prefix.lock")
        self.drives_lock_path = self.root / ".locks" / "drives.lock"

    # -- environment -----------------------------------------------------
    def env(self, display=None, extra=None):
        env = dict(os.environ)
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "WINESERVER", "WINELOADER"):
            env.pop(name, None)
        if not wine32_runs():
            # What /usr/bin/wine does when only the 64-bit Wine is there: the
            # programs Wine starts itself (services, wineboot's helpers) take
            # the same loader.
            env["WINELOADER"] = WINE64_LOADER
        env["WINEPREFIX"] = str(self.path)
        env["WINEARCH"] = "win64"
        env["WINEDEBUG"] = os.environ.get("SANDBOX_WINEDEBUG", "-all")
        # No Mono or Gecko download prompts on a machine without network.
        env["WINEDLLOVERRIDES"] = "mscoree,mshtml="
        if display:
            env["DISPLAY"] = display
        if extra:
            env.update(extra)
        return env

    def wineserver(self, *args, timeout=60):
        return subprocess.run(["wineserver", *args], env=self.env(), timeout=timeout,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)

    def _end_server_if_alone(self, lock):
        """With no other program of ours running, end the server; `lock`
        stays shared."""
        if not lock.acquire(exclusive=True, timeout=0):
            return False
        try:
            self.kill_server()
        finally:
            lock.acquire(exclusive=False)
        return True

    def kill_server(self):
        """End every program of the prefix and its wineserver. Only once the
        server is gone may the next program start: one that starts while it
        goes down is taken down with it."""
        self.wineserver("-k")
        self.wineserver("-w")

    # -- creation --------------------------------------------------------
    def ensure(self):
        """Create the prefix once; afterwards only check that it is ready."""
        self.root.mkdir(parents=True, exist_ok=True)
        marker = self.path / ".mediaprep-sandbox"
        if marker.exists() and not self._made_without_wow64():
            return
        with self.prefix_lock.held(exclusive=True):
            if marker.exists() and not self._made_without_wow64():
                return
            if marker.exists():
                # Made while only the 64-bit Wine was installed: once the 32-bit
                # one is there, nothing starts in it any more.
                self.kill_server()
                marker.unlink()
            _rmtree(self.path)
            self.path.parent.mkdir(parents=True, exist_ok=True)
            subprocess.run([wine_loader(), "wineboot.exe", "-i"], env=self.env(), check=False, timeout=300,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self.wineserver("-w", timeout=300)
            if not (self.path / "system.reg").exists():
                raise SandboxError(f"wineboot did not create a prefix in {self.path}")
            # Before anything else can start: the new prefix's Z: is the Linux root.
            self.remove_data_letters()
            self._link("b:", self.build)
            self._wine_raw(["reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed",
                            "/t", "REG_SZ", "/d", "N", "/f", "/reg:64"])
            for view in WINE_DRIVES_VIEWS:
                self._wine_raw(["reg", "delete", WINE_DRIVES_KEY, "/f", *_view_args(view)])
            self.kill_server()
            self._write_state({"drive_types": {}})
            marker.write_text("ready\n")

    def _made_without_wow64(self):
        """True for a prefix made before the 32-bit Wine was installed."""
        return wine32_runs() and not _lookup_nocase(
            self.path / "drive_c", r"windows\syswow64\kernel32.dll").exists()

    def _link(self, name, target):
        link = self.dosdevices / name
        if os.path.lexists(link):
            os.unlink(link)
        os.symlink(str(target), link)

    def remove_data_letters(self):
        """Remove every drive letter D: to Z:, whoever made it."""
        if not self.dosdevices.is_dir():
            return
        for entry in os.listdir(self.dosdevices):
            if re.fullmatch(r"[d-z]:", entry, re.IGNORECASE):
                os.unlink(self.dosdevices / entry)

    # -- the safety check ------------------------------------------------
    def check(self):
        """Refuse to go on unless every drive letter stays inside the sandbox."""
        if not self.dosdevices.is_dir():
            raise SandboxError(f"refusing to run: {self.path} is not a sandbox prefix")
        problems = []
        for entry in sorted(os.listdir(self.dosdevices)):
            m = re.fullmatch(r"([a-z]):", entry, re.IGNORECASE)
            if not m:
                continue  # raw devices (d::), serial and printer ports
            letter = m.group(1).lower()
            link = self.dosdevices / entry
            target = os.path.realpath(link)
            if not os.path.lexists(link):
                continue  # unmapped by a session while we looked: no drive any more
            if letter == "c":
                ok = target == os.path.realpath(self.path / "drive_c")
            elif letter == "b":
                ok = target == os.path.realpath(self.build)
            else:
                ok = _inside(target, self.root)
            if not ok:
                problems.append(f"{letter.upper()}: resolves to {target}")
        if problems:
            raise SandboxError(
                "refusing to run: drive letters outside the sandbox directory "
                f"{self.root}: " + "; ".join(problems)
                + ". Run 'tools/sandbox reset' or remove the prefix " + str(self.path))

    # -- drive types (read by Wine's mount manager only when it starts) ---
    def _read_state(self):
        try:
            return json.loads(self.state_file.read_text())
        except (OSError, ValueError):
            return {"drive_types": {}}

    def _write_state(self, state):
        tmp = self.state_file.with_suffix(".tmp")
        tmp.write_text(json.dumps(state))
        os.replace(tmp, self.state_file)

    def apply_drive_types(self, wanted):
        """Make the registry hold exactly `wanted` ({'f': 'network'}) and restart
        the wineserver when that changes what its mount manager knows."""
        state = self._read_state()
        if state.get("drive_types", {}) == wanted:
            return
        with self.prefix_lock.held(exclusive=True):
            # Wine reads its drive types in the caller's view: a 32-bit program
            # would see every drive as fixed with the types in one view only.
            for view in WINE_DRIVES_VIEWS:
                self._wine_raw(["reg", "delete", WINE_DRIVES_KEY, "/f", *_view_args(view)])
                for letter, kind in sorted(wanted.items()):
                    self._wine_raw(["reg", "add", WINE_DRIVES_KEY, "/v", f"{letter}:", "/t",
                                    "REG_SZ", "/d", kind, "/f", *_view_args(view)])
            self.kill_server()
            state["drive_types"] = dict(wanted)
            self._write_state(state)

    # -- the desktop ----------------------------------------------------
    def desktop_processes(self):
        """Wine's desktop processes (explorer.exe /desktop) of this prefix, as
        (pid, DISPLAY or None)."""
        found = []
        for pid in os.listdir("/proc"):
            if not pid.isdigit():
                continue
            try:
                cmdline = Path(f"/proc/{pid}/cmdline").read_bytes().lower()
                if b"explorer.exe" not in cmdline or b"/desktop" not in cmdline:
                    continue
                environ = Path(f"/proc/{pid}/environ").read_bytes().split(b"\0")
            except OSError:
                continue
            values = dict(e.split(b"=", 1) for e in environ if b"=" in e)
            if values.get(b"WINEPREFIX", b"").decode(errors="replace") != str(self.path):
                continue
            found.append((int(pid), values.get(b"DISPLAY", b"").decode(errors="replace") or None))
        return found

    def _wait_for_desktop(self, display, lock, timeout=30):
        """Every window of a prefix goes through the display driver of its one
        desktop process, whichever program started that. A desktop process
        left by a program without a display (or on another display) ends about
        a second after its last program; a program started on `display`
        before then would open its windows nowhere. One that outlives every
        program of ours (`lock`, our shared hold of the prefix, is then the
        only one) is ended with the server."""
        deadline = time.time() + timeout
        while True:
            foreign = [p for p in self.desktop_processes() if p[1] != display]
            if not foreign:
                return
            if time.time() >= deadline and lock is not None and self._end_server_if_alone(lock):
                lock, deadline = None, time.time() + timeout
            elif time.time() >= deadline:
                owners = ", ".join(f"pid {pid} on {shown or 'no display'}" for pid, shown in foreign)
                raise SandboxError(
                    f"Wine's desktop process of {self.path} belongs to another display ({owners}) "
                    f"and did not end within {timeout} s: is a program without a display "
                    "holding a window open?")
            time.sleep(0.1)

    # -- running ---------------------------------------------------------
    def _wine_raw(self, args, timeout=120, display=None, env_extra=None, cwd=None):
        """Start a Windows program. Callers hold the prefix lock and have run check()."""
        self.check()
        refuse_32bit_here(Path(cwd or self.build) / args[0])
        self._keep_server_warm()
        if display:
            self._wait_for_desktop(display, self.prefix_lock)
        # Output goes to files, not pipes: processes that Wine starts beside the
        # program (the wineserver, its services) inherit the handles and would
        # hold a pipe open long after the program has ended.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            proc = subprocess.Popen([wine_loader(), *args], env=self.env(display, env_extra),
                                    stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                    cwd=cwd or str(self.build))
            try:
                proc.wait(timeout=timeout)
                timed_out = False
            except subprocess.TimeoutExpired:
                # The wine loader execs into the Windows process, so this pid is
                # the program itself; the wineserver then takes down anything
                # the program started.
                proc.kill()
                proc.wait()
                # Other programs may be running in this prefix: wait until they
                # are done (the caller's shared lock becomes an exclusive one).
                self.prefix_lock.acquire(exclusive=True)
                self.kill_server()
                timed_out = True
            out.seek(0)
            err.seek(0)
            return RunResult(None if timed_out else proc.returncode,
                             out.read().decode("utf-8", "replace"),
                             err.read().decode("utf-8", "replace"), timed_out)

    def _keep_server_warm(self):
        """A wineserver that outlives single runs saves a second per start; one
        that is running already makes this a no-op."""
        subprocess.Popen(["wineserver", "-p60"], env=self.env(), stdin=subprocess.DEVNULL,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).wait(timeout=30)

    def run(self, program, args=(), timeout=120, display=None, env=None, cwd=None):
        """Run a Windows program (Linux path or Windows path) with a timeout."""
        self.ensure()
        with self.prefix_lock.held(exclusive=False):
            return self._wine_raw([str(program), *map(str, args)], timeout=timeout,
                                  display=display, env_extra=env, cwd=cwd)

    def start(self, program, args=(), display=None, env=None, cwd=None):
        """Start a Windows program and return at once (see Started)."""
        self.ensure()
        return self._start_raw([str(program), *map(str, args)], display=display,
                               env_extra=env, cwd=cwd)

    def _start_raw(self, args, display=None, env_extra=None, cwd=None):
        # A descriptor of its own: the shared lock is held until the program
        # has ended, whatever the caller runs meanwhile.
        lock = _FileLock(self.prefix_lock.path)
        lock.acquire(exclusive=False)
        try:
            self.check()
            refuse_32bit_here(Path(cwd or self.build) / args[0])
            self._keep_server_warm()
            if display:
                self._wait_for_desktop(display, lock)
            out, err = tempfile.TemporaryFile(), tempfile.TemporaryFile()
            try:
                proc = subprocess.Popen([wine_loader(), *args], env=self.env(display, env_extra),
                                        stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                        cwd=cwd or str(self.build))
            except BaseException:
                out.close()
                err.close()
                raise
        except BaseException:
            lock.release()
            raise
        return Started(self, args[0], proc, out, err, lock)

    def reg_query(self, key, name, view=None):
        """The data of a registry value as `wine reg query` prints it, or None.
        view: 32 or 64 for that registry view, None for the 64-bit one."""
        r = self.run("reg", ["query", key, "/v", name, *_view_args(view)], timeout=60)
        if r.code != 0:
            return None
        for line in r.stdout.splitlines():
            parts = line.lstrip().split(None, 2)
            if len(parts) >= 2 and parts[0].lower() == name.lower() and parts[1].startswith("REG_"):
                data = parts[2] if len(parts) == 3 else ""
                if parts[1] == "REG_DWORD":
                    return int(data, 16)
                return data
        return None

    def cpath(self, windows_path):
        """The Linux path of a C: path, matching each component without case."""
        m = re.fullmatch(r"[cC]:\\?(.*)", windows_path)
        if not m:
            raise SandboxError(f"not a C: path: {windows_path}")
        return _lookup_nocase(self.path / "drive_c", m.group(1))


def _wine32_installed():
    """Whether the 32-bit Wine is installed beside the 64-bit one."""
    return any(Path(d).is_dir() for d in WINE32_DIRS)


# The smallest Linux program of the i386 architecture: exit(42) by int 0x80.
_ELF32_BASE = 0x08048000
_ELF32_CODE = bytes.fromhex("bb2a000000" "b801000000" "cd80")
_ELF32 = (b"\x7fELF\x01\x01\x01" + bytes(9)
          + struct.pack("<HHIIIIIHHHHHH", 2, 3, 1, _ELF32_BASE + 84, 52, 0, 0, 52, 32, 1, 0, 0, 0)
          + struct.pack("<8I", 1, 0, _ELF32_BASE, _ELF32_BASE, 84 + len(_ELF32_CODE), 84 + len(_ELF32_CODE),
                        5, 0x1000)
          + _ELF32_CODE)


@functools.cache
def linux_runs_32bit():
    """None when this machine's kernel runs 32-bit (i386) programs, else why not.
    Asks the kernel itself: a kernel without 32-bit emulation refuses to start
    one ("Exec format error"), and one that filters its system calls kills it."""
    if os.environ.get(NO_32BIT_SWITCH) == "1":
        return f"{NO_32BIT_SWITCH}=1 says so"
    REPO.joinpath("build").mkdir(exist_ok=True)
    with tempfile.TemporaryDirectory(dir=REPO / "build") as scratch:
        program = Path(scratch) / "exit42"
        program.write_bytes(_ELF32)
        program.chmod(0o755)
        try:
            code = subprocess.run([str(program)], check=False, timeout=30).returncode
        except OSError as e:
            return f"its kernel does not run 32-bit programs ({e.strerror})"
    if code == 42:
        return None
    ending = f"was killed by {signal.Signals(-code).name}" if code < 0 else f"ended with {code}"
    return f"its kernel does not run 32-bit programs (a 32-bit test program {ending})"


@functools.cache
def wine32_unavailable():
    """None when the 32-bit Wine runs here, else why not, in a few words."""
    reason = linux_runs_32bit()
    if reason:
        return reason
    if not _wine32_installed() or not os.access(WINE32_LOADER, os.X_OK):
        return "the 32-bit Wine (wine32:i386) is not installed"
    try:
        r = subprocess.run([WINE32_LOADER, "--version"], check=False, timeout=60, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    except (OSError, subprocess.TimeoutExpired) as e:
        return f"the 32-bit Wine loader {WINE32_LOADER} does not start ({e})"
    if r.returncode != 0:
        last = (r.stderr.decode(errors="replace").strip().splitlines() or [f"exit code {r.returncode}"])[-1]
        return f"the 32-bit Wine loader {WINE32_LOADER} does not start ({last})"
    return None


def wine32_runs():
    return wine32_unavailable() is None


def wine_loader():
    """The program that starts Windows programs here: Debian's wine, or the
    64-bit loader itself where the 32-bit one is there but cannot run."""
    return "wine" if wine32_runs() else WINE64_LOADER


def pe_machine(program):
    """The processor a Windows program's PE header names (0x14c i386, 0x8664
    x86-64), or None for no such file (a Windows path, a builtin such as reg)."""
    try:
        with open(program, "rb") as f:
            head = f.read(4096)
    except OSError:
        return None
    if head[:2] != b"MZ" or len(head) < 64:
        return None
    at = struct.unpack_from("<I", head, 0x3C)[0]
    if at + 6 > len(head) or head[at:at + 4] != b"PE\0\0":
        return None
    return struct.unpack_from("<H", head, at + 4)[0]


def refuse_32bit_here(program):
    """A clear refusal, instead of Wine's "could not be started", for a 32-bit
    program on a machine that cannot run one."""
    if pe_machine(program) == 0x14C and not wine32_runs():
        raise SandboxError(f"{program} is a 32-bit program and this machine cannot run one: "
                           f"{wine32_unavailable()}")


def _view_args(view):
    # With the 32-bit Wine installed, `wine reg` may start the 32-bit reg.exe,
    # whose own view is the 32-bit one: always name the view.
    if view is None:
        view = 64
    if view not in (32, 64):
        raise SandboxError(f"no registry view {view!r}")
    return [f"/reg:{view}"]


def _lookup_nocase(base, rest):
    path = Path(base)
    for part in [p for p in rest.split("\\") if p]:
        match = None
        if path.is_dir():
            for entry in os.listdir(path):
                if entry.lower() == part.lower():
                    match = entry
                    break
        path = path / (match or part)
    return path


class Started:
    """A Windows program that runs beside the caller (Prefix.start,
    Session.start), for tests that watch or drive it while it runs.

    started = s.start(exe, [], display=d.name)
    ...                                          # look at its windows
    r = started.wait(timeout=30)                 # RunResult; killed on timeout
    """

    def __init__(self, prefix, program, proc, out, err, lock):
        self.prefix = prefix
        self.program = program
        self.proc = proc
        self._out, self._err = out, err
        self._lock = lock
        self.result = None

    def running(self):
        return self.result is None and self.proc.poll() is None

    def wait_for_output(self, text, timeout=30):
        """Wait until the program has written `text` to its standard output
        (a helper telling that it holds a file, say); False if it never does."""
        deadline = time.time() + timeout
        while self.result is None and time.time() < deadline:
            size = os.fstat(self._out.fileno()).st_size
            if text in os.pread(self._out.fileno(), size, 0).decode("utf-8", "replace"):
                return True
            if self.proc.poll() is not None:
                break
            time.sleep(0.05)
        return self.result is not None and text in self.result.stdout

    def wait(self, timeout=120):
        """Wait for the end of the program; kill it after `timeout` seconds."""
        if self.result is not None:
            return self.result
        timed_out = False
        try:
            self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            timed_out = True
        self._lock.release()
        if timed_out:
            self._end_what_it_started()
        self._out.seek(0)
        self._err.seek(0)
        self.result = RunResult(None if timed_out else self.proc.returncode,
                                self._out.read().decode("utf-8", "replace"),
                                self._err.read().decode("utf-8", "replace"), timed_out)
        self._out.close()
        self._err.close()
        return self.result

    def kill(self):
        """End the program now (if it still runs) and give its RunResult."""
        return self.wait(timeout=0)

    def _end_what_it_started(self):
        # Like a run that overran: the wineserver takes down what the program
        # started, but only when no other program of the prefix is running.
        lock = _FileLock(self.prefix.prefix_lock.path)
        if lock.acquire(exclusive=True, timeout=60):
            try:
                self.prefix.kill_server()
            finally:
                lock.release()


class Session:
    """Exclusive use of the drive letters and the registry of one prefix.

    with Session(build) as s:
        e = s.map_drive("e")                         # fixed drive on a fresh directory
        s.map_drive("f", "network")
        s.map_drive("g", "fixed", size="150m")       # a size-limited tmpfs
        s.map_drive("h", readonly=True)
        s.reg_set(r"HKLM\\Software\\X", "V", 1)
        r = s.run(s.prefix.build / "Mediaprep.exe", ["/clean"])
    Everything mapped or mounted is undone on exit, also after an exception or
    an interrupt; a session killed outright is cleaned up by the next one.
    """

    def __init__(self, build_dir=None, keep=None, prefix=None):
        self.prefix = Prefix(build_dir, prefix)
        self.keep = os.environ.get("SANDBOX_KEEP") == "1" if keep is None else keep
        self.drives = {}       # letter -> (directory, type)
        self.dir = None
        self._lock = None
        self._old_handlers = {}
        self._started = []

    # -- lifecycle -------------------------------------------------------
    def __enter__(self):
        self.prefix.ensure()
        self._lock = _FileLock(self.prefix.drives_lock_path)
        self._lock.acquire(exclusive=True)
        try:
            self._install_signal_handlers()
            self.reset_stale()
            self.dir = Path(tempfile.mkdtemp(prefix=f"s{os.getpid()}-", dir=self.prefix.root))
        except BaseException:
            self._lock.release()
            raise
        return self

    def __exit__(self, *exc):
        try:
            # Nothing of this session may outlive its drives.
            for started in self._started:
                started.kill()
            for letter in list(self.drives):
                self.unmap(letter)
            if self.dir is not None:
                _unmount_all_under(self.dir)
                if not self.keep:
                    _rmtree(self.dir)
        finally:
            self._restore_signal_handlers()
            self._lock.release()
        return False

    def _install_signal_handlers(self):
        def interrupted(signum, _frame):
            raise KeyboardInterrupt(f"signal {signum}")
        for sig in (signal.SIGTERM, signal.SIGHUP):
            try:
                self._old_handlers[sig] = signal.signal(sig, interrupted)
            except ValueError:
                pass  # not the main thread: the caller handles its signals

    def _restore_signal_handlers(self):
        for sig, handler in self._old_handlers.items():
            signal.signal(sig, handler)
        self._old_handlers = {}

    def reset_stale(self):
        """Undo whatever an earlier session left: it can no longer be running,
        because we hold the drives lock."""
        self.prefix.remove_data_letters()
        _unmount_all_under(self.prefix.root)
        for entry in self.prefix.root.iterdir():
            if entry.name.startswith("s") and entry.is_dir() and re.match(r"s\d+-", entry.name):
                _rmtree(entry)

    # -- drives ----------------------------------------------------------
    def map_drive(self, letter, kind="fixed", directory=None, size=None, readonly=False):
        """Map a drive letter to a directory of this session (or a given one
        inside the sandbox). Returns the Linux directory."""
        letter = letter.lower().rstrip(":")
        if len(letter) != 1 or letter not in DATA_LETTERS:
            raise SandboxError(f"only D: to Z: can be mapped, not {letter.upper()}:")
        if kind not in DRIVE_TYPES:
            raise SandboxError(f"unknown drive type {kind!r}")
        if letter in self.drives:
            raise SandboxError(f"{letter.upper()}: is mapped already")
        if directory is None:
            directory = self.dir / letter.upper()
            directory.mkdir()
        directory = Path(directory).resolve()
        if not _inside(directory, self.prefix.root):
            raise SandboxError(f"refusing to map {letter.upper()}: to {directory}: "
                               f"outside the sandbox directory {self.prefix.root}")
        directory.mkdir(parents=True, exist_ok=True)
        if size:
            subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size},mode=0755",
                            "tmpfs", str(directory)], check=True)
        link = self.prefix.dosdevices / f"{letter}:"
        if os.path.lexists(link):
            os.unlink(link)
        os.symlink(str(directory), link)
        self.drives[letter] = (directory, kind)
        if readonly:
            self.make_readonly(letter)
        return directory

    def make_readonly(self, letter):
        """Turn a mapped drive read-only (after the test has filled it)."""
        directory, _ = self.drives[letter.lower().rstrip(":")]
        if str(directory) not in _mount_points_under(directory):
            subprocess.run(["mount", "--bind", str(directory), str(directory)], check=True)
            subprocess.run(["mount", "-o", "remount,bind,ro", str(directory)], check=True)
        else:
            subprocess.run(["mount", "-o", "remount,ro", str(directory)], check=True)

    def unmap(self, letter):
        letter = letter.lower().rstrip(":")
        directory, _ = self.drives.pop(letter)
        link = self.prefix.dosdevices / f"{letter}:"
        if os.path.lexists(link):
            os.unlink(link)
        _unmount_all_under(directory)

    def drive(self, letter):
        return self.drives[letter.lower().rstrip(":")][0]

    # -- registry --------------------------------------------------------
    # view: 32 or 64 for that registry view (reg's /reg:32, /reg:64), None
    # for reg's own, the 64-bit view.
    def reg_set(self, key, name, value, kind=None, view=None):
        if kind is None:
            kind = "REG_DWORD" if isinstance(value, int) else "REG_SZ"
        data = str(value & 0xFFFFFFFF) if kind == "REG_DWORD" else str(value)
        r = self._wine(["reg", "add", key, "/v", name, "/t", kind, "/d", data, "/f", *_view_args(view)])
        if r.code != 0:
            raise SandboxError(f"reg add {key} {name} failed: {r.stdout} {r.stderr}")

    def reg_get(self, key, name, view=None):
        self._apply_types()
        return self.prefix.reg_query(key, name, view)

    def reg_delete(self, key, name=None, view=None):
        args = ["reg", "delete", key, "/f"] if name is None else ["reg", "delete", key, "/v", name, "/f"]
        self._wine(args + _view_args(view))

    # -- running ---------------------------------------------------------
    def _apply_types(self):
        wanted = {l: DRIVE_TYPES[k] for l, (_, k) in self.drives.items() if k != "fixed"}
        self.prefix.apply_drive_types(wanted)

    def _wine(self, args, **kw):
        self._apply_types()
        with self.prefix.prefix_lock.held(exclusive=False):
            return self.prefix._wine_raw(args, **kw)

    def run(self, program, args=(), timeout=120, display=None, env=None, cwd=None):
        return self._wine([str(program), *map(str, args)], timeout=timeout,
                          display=display, env_extra=env, cwd=cwd)

    def start(self, program, args=(), display=None, env=None, cwd=None):
        """Start a program and return at once (see Started). Map every drive
        before: a changed drive type restarts the wineserver, which waits for
        running programs. Whatever still runs when the session ends is killed."""
        self._apply_types()
        started = self.prefix._start_raw([str(program), *map(str, args)], display=display,
                                         env_extra=env, cwd=cwd)
        self._started.append(started)
        return started

    def cpath(self, windows_path):
        m = re.fullmatch(r"([a-zA-Z]):\\?(.*)", windows_path)
        if m and m.group(1).lower() in self.drives:
            return _lookup_nocase(self.drive(m.group(1)), m.group(2))
        return self.prefix.cpath(windows_path)
