"""End-to-end harness: runs the real Tillwick.exe under Wine and shows what a user would see.

One session: a temporary folder, an Xvfb display, a Wine prefix (copied from a booted
template cached under build/), a persistent wineserver, Tillwick.exe installed in
"C:\\Program Files\\Tillwick Orvenda" (a blank in the name) and the test tools. Per test the
fixture `tw` resets the host settings file and gives helpers to run the program with an exact
command line while the UI driver records and answers its message boxes.

Environment: TILLWICK_BUILD (win64 build directory, default <repo>/build/win64),
TILLWICK_BUILD32 (the i686 build that the tests marked both_builds run a second time, default
the TILLWICK_BUILD name with 64 turned into 32), TILLWICK_E2E_FRESH_PREFIX=1 (boot a new prefix
instead of copying the cached template), TILLWICK_E2E_KEEP=1 (keep the session folder for
inspection), TILLWICK_E2E_WINEDEBUG (WINEDEBUG for the programs, default -all).

Run with /usr/bin/python3 -m pytest tests/e2e. See tests/e2e/README.md for the API.
"""
import fcntl
import json
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path, PureWindowsPath

import pytest

REPO = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("TILLWICK_BUILD", str(REPO / "build" / "win64"))).resolve()
WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"
# wine64 hands a 32-bit program to this loader (Debian's wine32:i386, WoW64 in the 64-bit prefix).
WINE32_LOADER = "/usr/lib/wine/wine"


def _build32():
    explicit = os.environ.get("TILLWICK_BUILD32")
    if explicit:
        return Path(explicit).resolve()
    name = BUILD.name
    return BUILD.with_name(name[:-2] + "32") if name.endswith("64") else None


BUILD32 = _build32()

PROGRAM_DIR_WIN = r"C:\Program Files\Tillwick Orvenda"
TOOLS_DIR_WIN = r"C:\TillwickTest\tools"
HELP_FILE_WIN = PROGRAM_DIR_WIN + r"\Tillwick.hlp"
TOOL_NAMES = ("uidriver.exe", "uihook.dll", "recorder.exe", "launch.exe", "msgbox.exe",
              "regtool.exe", "certtool.exe", "credtool.exe", "httppost.exe",
              "walkprobe.exe")
# The i686 run of a test uses the 64-bit tools, except the UI driver: a hook DLL loads only
# into processes of its own bitness (the 64-bit uihook.dll sees no text of a 32-bit program),
# and the item records a 64-bit driver places in a 32-bit dialog's list view or tree have the
# wrong layout (it reads empty names). The i686 build's own driver watches and drives it;
# msgbox.exe for the harness's own test of that driver.
TOOLS32_DIR_WIN = r"C:\TillwickTest\tools32"
TOOL32_NAMES = ("uidriver.exe", "uihook.dll", "msgbox.exe")

# Every subprocess gets a time-out; these are the defaults.
WINE_CMD_TIMEOUT = 30
PREFIX_BOOT_TIMEOUT = 180


class HarnessError(Exception):
    pass


def _kill_group(proc):
    """Kills a process we started (and its process group) by pid."""
    if proc.poll() is not None:
        return
    try:
        os.killpg(proc.pid, signal.SIGKILL)
    except (ProcessLookupError, PermissionError):
        try:
            proc.kill()
        except ProcessLookupError:
            pass
    try:
        proc.wait(timeout=5)
    except subprocess.TimeoutExpired:
        pass


def _run(cmd, env, timeout, check=False, **kw):
    """subprocess.run with a hard time-out: on expiry the process group is killed by pid.
    Output goes through files, not pipes: Wine's background processes (services, explorer)
    inherit the descriptors and would keep a pipe open long after the command ended."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        proc = subprocess.Popen(cmd, env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                start_new_session=True, **kw)
        try:
            proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            _kill_group(proc)
            raise HarnessError("timed out after %ss: %r" % (timeout, cmd))
        out.seek(0)
        err.seek(0)
        result = subprocess.CompletedProcess(cmd, proc.returncode, out.read(), err.read())
    if check and proc.returncode != 0:
        raise HarnessError("%r failed (%d): %s" % (cmd, proc.returncode,
                                                   result.stderr.decode("utf-8", "replace")))
    return result


def _wine_env(prefix, display):
    env = dict(os.environ)
    for name in list(env):
        if name.startswith("WINE") or name.startswith("TW_"):
            del env[name]
    env.update({
        "WINEPREFIX": str(prefix),
        "DISPLAY": display,
        "WINEDEBUG": os.environ.get("TILLWICK_E2E_WINEDEBUG", "-all"),
        "WINELOADER": WINE,
        "WINEDLLOVERRIDES": "mscoree,mshtml,winemenubuilder.exe=d",
        "WINEARCH": "win64",
    })
    return env


def _start_xvfb(workdir):
    """Starts Xvfb on a display it picks itself (-displayfd); returns (proc, ':N')."""
    read_fd, write_fd = os.pipe()
    log = open(workdir / "xvfb.log", "wb")
    proc = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
        pass_fds=(write_fd,), stdout=log, stderr=subprocess.STDOUT, start_new_session=True)
    os.close(write_fd)
    log.close()
    number = b""
    deadline = time.monotonic() + 15
    while not number.endswith(b"\n"):
        remaining = deadline - time.monotonic()
        ready, _, _ = select.select([read_fd], [], [], max(remaining, 0))
        if not ready:
            os.close(read_fd)
            _kill_group(proc)
            raise HarnessError("Xvfb did not report a display")
        chunk = os.read(read_fd, 16)
        if not chunk:
            os.close(read_fd)
            _kill_group(proc)
            raise HarnessError("Xvfb ended: see xvfb.log")
        number += chunk
    os.close(read_fd)
    return proc, ":" + number.decode().strip()


def _wine_version():
    result = _run([WINE, "--version"], dict(os.environ), 30)
    return result.stdout.decode().strip() or "unknown"


def _boot_prefix(prefix, display):
    """Creates a prefix, sets Managed=N, and shuts its wineserver down so all is on disk."""
    env = _wine_env(prefix, display)
    _run([WINE, "wineboot", "-i"], env, PREFIX_BOOT_TIMEOUT, check=True)
    # Unmanaged windows: otherwise every closing dialog stalls about two seconds.
    _run([WINE, "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/t",
          "REG_SZ", "/d", "N", "/f"], env, WINE_CMD_TIMEOUT, check=True)
    _run([WINESERVER, "-k"], env, WINE_CMD_TIMEOUT)
    _run([WINESERVER, "-w"], env, WINE_CMD_TIMEOUT)


def _prepare_prefix(prefix, display, timings):
    """Copies the cached booted template (making it first if needed), or boots afresh."""
    start = time.monotonic()
    if os.environ.get("TILLWICK_E2E_FRESH_PREFIX") == "1":
        _boot_prefix(prefix, display)
        timings["prefix_boot_s"] = time.monotonic() - start
        return
    cache_root = REPO / "build" / "e2e-prefix-cache"
    cache_root.mkdir(parents=True, exist_ok=True)
    tag = re.sub(r"[^A-Za-z0-9.-]", "_", _wine_version()) + "-uid%d" % os.getuid()
    if os.path.exists(WINE32_LOADER):
        tag += "-wow64"  # booted with 32-bit Wine there: the prefix has its syswow64 folder
    template = cache_root / tag
    with open(cache_root / (tag + ".lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)  # another session may be making it right now
        if not (template / ".complete").exists():
            partial = cache_root / (tag + ".partial")
            shutil.rmtree(partial, ignore_errors=True)
            shutil.rmtree(template, ignore_errors=True)
            _boot_prefix(partial, display)
            (partial / ".complete").write_text("booted\n")
            partial.rename(template)
            timings["prefix_boot_s"] = time.monotonic() - start
        copy_start = time.monotonic()
        _run(["cp", "-a", str(template), str(prefix)], dict(os.environ), 120, check=True)
        timings["prefix_copy_s"] = time.monotonic() - copy_start


def _win_to_unix(drive_c, path):
    """Maps a Windows path of the prefix to the unix side, resolving names without regard
    to case as Windows would (an existing entry whose name differs only in case wins)."""
    p = PureWindowsPath(path)
    drive = p.drive.upper()
    if drive == "C:":
        base = Path(drive_c)
    elif drive == "Z:":
        base = Path("/")
    else:
        raise ValueError("no unix mapping for %r" % path)
    current = base
    for part in p.parts[1:]:
        candidate = current / part
        if not candidate.exists() and current.is_dir():
            lowered = part.lower()
            for entry in os.listdir(current):
                if entry.lower() == lowered:
                    candidate = current / entry
                    break
        current = candidate
    return current


def _unix_to_win(drive_c, path):
    path = Path(os.path.abspath(str(path)))
    drive_c = Path(drive_c)
    try:
        rel = path.relative_to(drive_c)
        return "C:\\" + "\\".join(rel.parts)
    except ValueError:
        return "Z:" + str(path).replace("/", "\\")


_WATCHDOG = r"""
import os, shutil, signal, subprocess, sys, time
parent, xvfb, server, wineserver, workdir, keep = sys.argv[1:7]
while True:
    try:
        os.kill(int(parent), 0)
    except ProcessLookupError:
        break
    time.sleep(1)
try:
    subprocess.run([wineserver, "-k"], timeout=30)
except Exception:
    pass
for pid in (server, xvfb):
    if int(pid) <= 0:
        continue  # a display this session did not start
    try:
        os.killpg(int(pid), signal.SIGKILL)
    except OSError:
        pass
if keep != "keep":
    shutil.rmtree(workdir, ignore_errors=True)
"""


class WineSession:
    """The session's display, prefix and wineserver, shared by all tests."""

    def __init__(self):
        self.workdir = Path(tempfile.mkdtemp(prefix="tillwick-e2e-"))
        self.timings = {}
        self.xvfb = None
        self.display = None
        self.prefix = self.workdir / "prefix"
        self.env = None
        self._server = None
        self.installed_arch = None
        self._i686_problem = None  # None: not looked at yet; "": the i686 build runs here
        self.runs_by_arch = {}
        self.i686_skipped = 0
        # Put before every wine and wineserver command (a network namespace's "ip netns exec").
        self.launcher = []

    def start(self):
        exe = BUILD / "Tillwick.exe"
        missing = [str(p) for p in [exe] + [BUILD / "tools" / t for t in TOOL_NAMES]
                   if not p.exists()]
        if missing:
            raise HarnessError("build first (TILLWICK_BUILD=%s): missing %s" % (BUILD, missing))
        start = time.monotonic()
        if self.display is None:  # else a display given by the caller (another session's)
            self.xvfb, self.display = _start_xvfb(self.workdir)
        _prepare_prefix(self.prefix, self.display, self.timings)
        self.env = _wine_env(self.prefix, self.display)
        # A persistent server: every later wine call finds it up.
        self._start_server()
        self._start_watchdog()
        self.drive_c = self.prefix / "drive_c"
        self.install_program()
        tools = self.unix_path(TOOLS_DIR_WIN)
        tools.mkdir(parents=True, exist_ok=True)
        for name in TOOL_NAMES:
            shutil.copy2(BUILD / "tools" / name, tools / name)
        if BUILD32 is not None and all((BUILD32 / "tools" / n).exists() for n in TOOL32_NAMES):
            tools32 = self.unix_path(TOOLS32_DIR_WIN)
            tools32.mkdir(parents=True, exist_ok=True)
            for name in TOOL32_NAMES:
                shutil.copy2(BUILD32 / "tools" / name, tools32 / name)
        # The first process starts the prefix's services; do it once here, timed apart.
        boot = time.monotonic()
        self.wine(["cmd", "/c", "exit"], timeout=60)
        self.timings["first_process_s"] = time.monotonic() - boot
        self.timings["session_setup_s"] = time.monotonic() - start

    def install_program(self, arch="x86_64"):
        """Installs the x86_64 or the i686 build's Tillwick.exe (one at a time, same path)."""
        if arch == self.installed_arch:
            return
        progdir = self.unix_path(PROGRAM_DIR_WIN)
        progdir.mkdir(parents=True, exist_ok=True)
        shutil.copy2((BUILD32 if arch == "i686" else BUILD) / "Tillwick.exe",
                     progdir / "Tillwick.exe")
        self.installed_arch = arch

    def i686_problem(self):
        """Why the i686 build cannot run in this session, or "" when it can. Looked at once:
        the build and its UI driver must be there, and 32-bit Wine must start that driver."""
        if self._i686_problem is None:
            self._i686_problem = self._find_i686_problem()
        return self._i686_problem

    def _find_i686_problem(self):
        if BUILD32 is None:
            return "no i686 build named (TILLWICK_BUILD32 unset, TILLWICK_BUILD not *64)"
        files = [BUILD32 / "Tillwick.exe"] + [BUILD32 / "tools" / n for n in TOOL32_NAMES]
        missing = [str(p) for p in files if not p.exists()]
        if missing:
            return "no i686 build (missing %s): cmake --preset win32 && cmake --build " \
                   "--preset win32" % missing
        if not os.path.exists(WINE32_LOADER):
            return "no 32-bit Wine (%s missing): scripts/setup installs wine32:i386" % \
                WINE32_LOADER
        probe = self.wine([TOOLS32_DIR_WIN + r"\uidriver.exe", "procs"])
        if probe.returncode != 0:
            return "32-bit Wine cannot start a 32-bit program here (uidriver.exe procs: %d %s)" \
                % (probe.returncode, probe.stderr.decode("utf-8", "replace").strip()[:200])
        return ""

    def _start_watchdog(self):
        """A small process that tears the session down if pytest dies without doing it
        (killed by a time-out, say): else Xvfb and the persistent wineserver would stay."""
        keep = os.environ.get("TILLWICK_E2E_KEEP") == "1"
        self._watchdog = subprocess.Popen(
            [sys.executable, "-c", _WATCHDOG, str(os.getpid()),
             str(self.xvfb.pid if self.xvfb is not None else 0),
             str(self._server.pid), WINESERVER, str(self.workdir), "keep" if keep else "remove"],
            env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL, start_new_session=True)

    def stop(self):
        if getattr(self, "_watchdog", None) is not None:
            _kill_group(self._watchdog)
        if self.env is not None:
            try:
                _run([WINESERVER, "-k"], self.env, 30)
            except HarnessError:
                pass
        if self._server is not None:
            _kill_group(self._server)
        if self.xvfb is not None:
            _kill_group(self.xvfb)
        if os.environ.get("TILLWICK_E2E_KEEP") != "1":
            shutil.rmtree(self.workdir, ignore_errors=True)

    def restart_server(self):
        """Last resort after a hang: kill every process of the prefix, start a new server."""
        _run([WINESERVER, "-k"], self.env, 30)
        if self._server is not None:
            _kill_group(self._server)
        self._start_server()

    def _start_server(self):
        self._server = subprocess.Popen(self.launcher + [WINESERVER, "-p", "-f"], env=self.env,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                        start_new_session=True)

    def command(self, args):
        """The command line that runs a Windows program (name or path, then arguments)."""
        return self.launcher + [WINE] + [str(a) for a in args]

    def unix_path(self, win):
        return _win_to_unix(self.drive_c, win)

    def win_path(self, unix):
        return _unix_to_win(self.drive_c, unix)

    def wine(self, args, timeout=WINE_CMD_TIMEOUT, env=None, check=False):
        """Runs a Windows program (name or path, then its arguments) in the prefix. Wine
        quotes arguments that contain blanks, tabs or quotes, the usual way."""
        cmd = self.command(args)
        attempts = 3 if check else 2
        try:
            for attempt in range(1, attempts + 1):
                start = time.monotonic()
                result = _run(cmd, env or self.env, timeout)
                # Now and then wine64 ends at once with 1 and no output, before any Windows
                # program ran (no program of the prefix gets through in under 30 ms): once
                # more then. A caller that checks for success expects it, so any silent
                # failure of its command is tried again too.
                silent = not result.stdout and not result.stderr
                instant = time.monotonic() - start <= 0.03
                if result.returncode == 0 or not silent or not (instant or check) \
                        or attempt == attempts:
                    break
                self.timings["wine_restarts"] = self.timings.get("wine_restarts", 0) + 1
                time.sleep(0.2)
        except HarnessError:
            self.restart_server()
            raise
        if check and result.returncode != 0:
            raise HarnessError("%r failed (%d): %s" % (cmd, result.returncode,
                                                       result.stderr.decode("utf-8", "replace")))
        return result


@pytest.fixture(scope="session")
def wine_session(request):
    session = WineSession()
    request.config._tillwick_session = session
    try:
        session.start()
    except Exception:
        session.stop()
        raise
    yield session
    session.stop()


# ---------------------------------------------------------------- host settings file

def ini_parse(text):
    """Parses INI text the way the private-profile functions read it: section and key
    names without regard to case (first occurrence wins), the value after the first '='
    with blanks around it removed and one pair of enclosing quotes removed.
    Returns {section_lower: {key_lower: value}}."""
    result = {}
    section = None
    for raw in text.splitlines():
        line = raw.strip()
        if not line or line.startswith(";"):
            continue
        if line.startswith("["):
            end = line.find("]")
            name = line[1:end if end >= 0 else len(line)].strip().lower()
            section = result.setdefault(name, {})
            continue
        if section is None or "=" not in line:
            continue
        key, value = line.split("=", 1)
        key = key.strip().lower()
        value = value.strip()
        if len(value) >= 2 and value[0] == value[-1] and value[0] in "\"'":
            value = value[1:-1]
        section.setdefault(key, value)
    return result


class RunResult:
    """rc: the exit code; boxes: the message boxes the UI driver saw and answered, in
    order; dialogs: the other dialogs (once each, as they first showed); events: everything
    the driver logged (also "change" and "closed"); texts: every text the program gave a
    control of one of its dialogs, in order, as {"top", "hwnd", "id", "text", "tick"} (from
    inside the program, so texts replaced at once are there too); elapsed: seconds."""

    def __init__(self, rc, events, elapsed, cmdline, texts=(), stderr=""):
        self.stderr = stderr  # what wine and launch.exe said, if anything
        self.rc = rc
        self.events = events
        self.boxes = [e for e in events if e.get("event") == "msgbox"]
        self.dialogs = [e for e in events if e.get("event") == "dialog"]
        self.texts = list(texts)
        self.elapsed = elapsed
        self.cmdline = cmdline

    def __repr__(self):
        return "RunResult(rc=%r, boxes=%r, dialogs=%r, elapsed=%.2f%s)" % (
            self.rc, self.boxes, self.dialogs, self.elapsed,
            ", stderr=%r" % self.stderr if self.stderr else "")


class Running:
    """A started Tillwick.exe (see Tillwick.start); wait() ends the watch and returns."""

    def __init__(self, tw, cmdline, env, ui_proc, ui_log, timeout):
        self.tw = tw
        self.cmdline = cmdline
        self.env = env
        self.ui_proc = ui_proc
        self.ui_log = ui_log
        self.text_log = Path(str(ui_log) + ".text")
        self.timeout = timeout
        self._spawn()

    def _spawn(self):
        base = str(self.ui_log)[:-len(".log")]
        self.errors = Path(base + ".launch-err")
        self.pidfile = Path(base + ".pid")
        if self.pidfile.exists():
            self.pidfile.unlink()
        self.started = time.monotonic()
        with open(self.errors, "wb") as err:
            self.proc = subprocess.Popen(
                self.tw.session.command([TOOLS_DIR_WIN + r"\launch.exe", "--timeout",
                                         str(self.timeout), "--pidfile",
                                         self.tw.win_path(self.pidfile),
                                         "--hex", self.cmdline.encode("cp1252").hex()]),
                env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=err,
                start_new_session=True)

    def _wait_launcher(self):
        # A wait with a time-out polls, with pauses of up to 50 ms: a thread that waits
        # without one sees the end at once, and the elapsed time is exact.
        ended = threading.Event()
        threading.Thread(target=lambda: (self.proc.wait(), ended.set()), daemon=True).start()
        if not ended.wait(self.timeout + 15):
            _kill_group(self.proc)
            self._stop_watch()
            self.tw.session.restart_server()
            pytest.fail("launcher did not return: %r" % self.cmdline)
        self.ended = time.monotonic()

    def wait(self):
        self._wait_launcher()
        if self.proc.returncode not in (124, 125) and not self.pidfile.exists():
            # wine64 ended without launch.exe ever starting the program (seen now and then,
            # within milliseconds, exit code 1, nothing on stderr). Not the program's doing:
            # start it once more.
            first = (self.proc.returncode, self.errors.read_bytes())
            counts = self.tw.session.timings
            counts["launcher_restarts"] = counts.get("launcher_restarts", 0) + 1
            time.sleep(0.2)
            self._spawn()
            self._wait_launcher()
            if not self.pidfile.exists():
                self._stop_watch()
                pytest.fail("wine64 did not run launch.exe twice (rc %r then %r, stderr %r)" % (
                    first[0], self.proc.returncode, first[1]))
        elapsed = self.ended - self.started
        rc = self.proc.returncode
        stderr = self.errors.read_bytes().decode("utf-8", "replace")
        events = self._stop_watch()
        if rc == 124:
            pytest.fail("Tillwick.exe did not end within %ss (killed): %r; seen: %r" % (
                self.timeout, self.cmdline, events))
        if rc == 125:
            pytest.fail("Tillwick.exe could not be started: %s" % stderr)
        return RunResult(rc, events, elapsed, self.cmdline, self.texts(), stderr)

    def events(self):
        """What the UI driver has recorded so far."""
        return self.tw.ui_events(self.ui_log)

    def texts(self):
        """The control texts the program's dialogs were given so far (see RunResult)."""
        return self.tw.ui_events(self.text_log)

    def wait_window(self, caption_part, timeout=10):
        """Waits until the UI driver has recorded a message box or dialog whose caption
        contains caption_part; returns its event (fails the test after timeout seconds).
        Wait for this before acting on a window the driver leaves open ("none")."""
        deadline = time.monotonic() + timeout
        while True:
            for e in self.events():
                if e.get("event") in ("msgbox", "dialog") and caption_part in e.get("caption", ""):
                    return e
            if time.monotonic() > deadline or self.proc.poll() is not None:
                pytest.fail("no window %r appeared; seen: %r" % (caption_part, self.events()))
            time.sleep(0.02)

    def _stop_watch(self):
        stop = Path(str(self.ui_log) + ".stop")
        stop.write_text("stop\n")
        try:
            self.ui_proc.wait(timeout=15)
        except subprocess.TimeoutExpired:
            _kill_group(self.ui_proc)
        return self.tw.ui_events(self.ui_log)


class Tillwick:
    """The per-test helper (fixture `tw`)."""

    def __init__(self, session, testdir, arch="x86_64"):
        self.session = session
        self.testdir = testdir
        self.arch = arch  # the build of Tillwick.exe installed for this test
        self.driver_win = (TOOLS32_DIR_WIN if arch == "i686" else TOOLS_DIR_WIN) + \
            r"\uidriver.exe"
        self.progdir_win = PROGRAM_DIR_WIN
        self.progdir_unix = session.unix_path(PROGRAM_DIR_WIN)
        self.exe_win = PROGRAM_DIR_WIN + r"\Tillwick.exe"
        self.tools_win = TOOLS_DIR_WIN
        self.record_log = testdir / "records.log"
        self.env = dict(session.env)
        self.env["TW_RECORD_LOG"] = session.win_path(self.record_log)
        self._cleanups = []
        self._runs = 0

    # -- paths
    def win_path(self, unix):
        return self.session.win_path(unix)

    def unix_path(self, win):
        return self.session.unix_path(win)

    @property
    def windows_dir(self):
        return self.session.drive_c / "windows"

    # -- cleanup
    def on_cleanup(self, fn):
        """Registers fn() to run when the test ends (last registered runs first)."""
        self._cleanups.append(fn)

    def cleanup(self):
        errors = []
        while self._cleanups:
            fn = self._cleanups.pop()
            try:
                fn()
            except Exception as exc:  # keep cleaning; report at the end
                errors.append(exc)
        if errors:
            raise errors[0]

    # -- host settings file
    def ini_path(self):
        """The host settings file on the unix side, whatever the case of its name, or None."""
        for entry in os.listdir(self.windows_dir):
            if entry.lower() == "tillwick.ini":
                return self.windows_dir / entry
        return None

    def ini_delete(self):
        while self.ini_path() is not None:
            self.ini_path().unlink()

    def ini_raw(self):
        """The file's text (cp1252), or None when there is no file."""
        path = self.ini_path()
        return path.read_bytes().decode("cp1252") if path else None

    def ini_write_raw(self, text, name="Tillwick.ini"):
        """Replaces the file with exactly this text (lines should end in CRLF)."""
        self.ini_delete()
        (self.windows_dir / name).write_bytes(text.encode("cp1252"))

    def ini_dict(self):
        raw = self.ini_raw()
        return ini_parse(raw) if raw is not None else {}

    def ini_get(self, section, key):
        return self.ini_dict().get(section.lower(), {}).get(key.lower())

    def ini_set(self, section, key, value):
        """Sets key=value (written as given) in the section, creating file and section as
        needed; names are matched without regard to case, like the platform does."""
        raw = self.ini_raw() or ""
        lines = raw.splitlines()
        out, in_section, done, seen_section = [], False, False, False
        for line in lines:
            stripped = line.strip()
            if stripped.startswith("["):
                if in_section and not done:
                    out.append("%s=%s" % (key, value))
                    done = True
                name = stripped[1:stripped.find("]") if "]" in stripped else None].strip()
                in_section = name.lower() == section.lower() and not seen_section
                seen_section = seen_section or in_section
                out.append(line)
                continue
            if in_section and not done and "=" in line and \
                    line.split("=", 1)[0].strip().lower() == key.lower():
                out.append("%s=%s" % (key, value))
                done = True
                continue
            out.append(line)
        if in_section and not done:
            out.append("%s=%s" % (key, value))
            done = True
        if not done:
            out += ["[%s]" % section, "%s=%s" % (key, value)]
        path = self.ini_path() or (self.windows_dir / "Tillwick.ini")
        path.write_bytes(("\r\n".join(out) + "\r\n").encode("cp1252"))

    def reset_ini(self):
        """The state every test starts from: only "HelpFile" naming the install folder."""
        self.ini_delete()
        self.ini_set("Run-Time Options", "HelpFile", HELP_FILE_WIN)

    # -- running the program
    def cmdline_for(self, args=""):
        """The command line the host would use: the quoted program path, one blank and the
        arguments exactly as given (a list is joined with single blanks, never quoted)."""
        if isinstance(args, (list, tuple)):
            args = " ".join(args)
        line = '"%s"' % self.exe_win
        return line + (" " + args if args else "")

    def start(self, args="", answers=None, text_answers=None, timeout=30, delay_ms=0):
        return self.start_raw(self.cmdline_for(args), answers, text_answers, timeout, delay_ms)

    def start_raw(self, cmdline, answers=None, text_answers=None, timeout=30, delay_ms=0):
        """Starts the UI driver, then the program with exactly this command line (through
        launch.exe, so no quoting is added). answers: {caption part: button} and
        text_answers: {text part: button}, button a number or ok/cancel/yes/no/none."""
        self._runs += 1
        ui_log = self.testdir / ("ui-%d.log" % self._runs)
        ui_args = [self.driver_win, "watch", self.win_path(ui_log),
                   "--timeout", str(timeout + 10)]
        for part, button in (answers or {}).items():
            ui_args += ["--answer", "%s=%s" % (part, button)]
        for part, button in (text_answers or {}).items():
            ui_args += ["--answer-text", "%s=%s" % (part, button)]
        if delay_ms:
            ui_args += ["--delay", str(delay_ms)]
        ui_args.append("--hook")
        ui_proc = subprocess.Popen(self.session.command(ui_args), env=self.env,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, start_new_session=True)
        deadline = time.monotonic() + 15
        while not any(e.get("event") == "ready" for e in self.ui_events(ui_log)):
            if ui_proc.poll() is not None or time.monotonic() > deadline:
                _kill_group(ui_proc)
                pytest.fail("UI driver did not start")
            time.sleep(0.01)
        env = dict(self.env)
        env["TW_UI_TEXT_LOG"] = self.win_path(str(ui_log) + ".text")
        return Running(self, cmdline, env, ui_proc, ui_log, timeout)

    def run(self, args="", answers=None, text_answers=None, timeout=30, delay_ms=0):
        """Runs Tillwick.exe with the arguments after its quoted path; waits for its end."""
        return self.start(args, answers, text_answers, timeout, delay_ms).wait()

    def run_raw(self, cmdline, answers=None, text_answers=None, timeout=30, delay_ms=0):
        """Runs a byte-exact command line (it names the program itself)."""
        return self.start_raw(cmdline, answers, text_answers, timeout, delay_ms).wait()

    @staticmethod
    def ui_events(path):
        events = []
        try:
            text = Path(path).read_bytes().decode("utf-8", "replace")
        except FileNotFoundError:
            return events
        for line in text.splitlines():
            if line.strip():
                try:
                    events.append(json.loads(line))
                except ValueError:
                    pass  # a line being written right now
        return events

    # -- other programs in the prefix
    def wine(self, args, timeout=WINE_CMD_TIMEOUT, check=False):
        return self.session.wine(args, timeout=timeout, env=self.env, check=check)

    def uidriver(self, *args, timeout=WINE_CMD_TIMEOUT):
        """Runs the UI driver of this test's build (see TOOL32_NAMES)."""
        return self.wine([self.driver_win] + list(args), timeout=timeout)

    def processes(self):
        """Every process of the prefix: [{pid, ppid, exe}]."""
        out = self.uidriver("procs").stdout.decode("utf-8", "replace")
        return [json.loads(line) for line in out.splitlines() if line.strip()]

    def end_leftover_runs(self):
        """Ends every Tillwick.exe and UI driver still running in the prefix, by process id.
        A test that failed before it waited for its runs leaves them behind: such a run may
        hold an e-mail batch that later runs on the same queue wait for, and its UI drivers
        would answer later tests' boxes. Returns the ids ended."""
        ended = []
        listed = self.processes()
        for name in ("uidriver.exe", "tillwick.exe"):  # the drivers first: they answer boxes
            for process in listed:
                if process["exe"].lower() == name:
                    self.wine(["taskkill", "/f", "/pid", str(process["pid"])])
                    ended.append(process["pid"])
        return ended

    def wait_no_process(self, names, timeout=10):
        """Waits until no process with one of these executable names (any case) runs in the
        prefix; returns True, or False when some still run after timeout seconds. The
        session's wineserver stays up, so "wineserver -w" would never return: use this to
        wait for programs the utility started."""
        wanted = {n.lower() for n in ([names] if isinstance(names, str) else names)}
        deadline = time.monotonic() + timeout
        while True:
            if not [p for p in self.processes() if p["exe"].lower() in wanted]:
                return True
            if time.monotonic() > deadline:
                return False
            time.sleep(0.1)

    # -- stand-ins
    def install_stand_in(self, win_path):
        """Copies recorder.exe to win_path (folders made as needed); removed after the test."""
        target = self.unix_path(win_path)
        created = []
        parent = target.parent
        while not parent.exists():
            created.append(parent)
            parent = parent.parent
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(BUILD / "tools" / "recorder.exe", target)

        def remove():
            if target.exists():
                target.unlink()
            for folder in created:
                shutil.rmtree(folder, ignore_errors=True)
        self.on_cleanup(remove)
        return target

    def records(self):
        """What the stand-ins recorded so far in this test, in order."""
        return self.ui_events(self.record_log)

    def wait_records(self, count=1, timeout=10):
        """Waits until at least count records are there; returns all of them."""
        deadline = time.monotonic() + timeout
        while True:
            records = self.records()
            if len(records) >= count or time.monotonic() > deadline:
                return records
            time.sleep(0.05)

    def make_file(self, win_path, data=b""):
        """Creates a file in the prefix (folders made as needed); removed after the test."""
        target = self.unix_path(win_path)
        created = []
        parent = target.parent
        while not parent.exists():
            created.append(parent)
            parent = parent.parent
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(data)

        def remove():
            if target.exists():
                target.unlink()
            for folder in created:
                shutil.rmtree(folder, ignore_errors=True)
        self.on_cleanup(remove)
        return target

    # -- registry
    def reg_query(self, key, name=None):
        """(type, data) of a value (name None: the default value), or None when absent.
        Data is the text reg.exe shows (a REG_DWORD as 0x...)."""
        args = ["reg", "query", key] + (["/ve"] if name is None else ["/v", name])
        result = self.wine(args)
        if result.returncode != 0:
            return None
        text = result.stdout.decode("utf-8", "replace")
        shown = "(Default)" if name is None else name
        for line in text.splitlines():
            m = re.match(r"^\s+(.*?)\s+(REG_[A-Z_]+)(?:\s+(.*))?$", line)
            if m and m.group(1).lower() == shown.lower():
                return m.group(2), (m.group(3) or "")
        return None

    def reg_key_exists(self, key):
        return self.wine(["reg", "query", key]).returncode == 0

    def reg_set(self, key, name, data, type="REG_SZ"):
        """Sets a value (name None: the default value); the old state is restored after
        the test, byte for byte (the value put back or deleted; the first key of the path
        that did not exist deleted with all below it). type: "REG_SZ", "REG_EXPAND_SZ",
        "REG_DWORD" (data a number or its text), "REG_BINARY" (bytes) or "REG_MULTI_SZ"
        (a list of texts). Strings are stored as RegSetValueExA stores them, terminated."""
        raw = _reg_bytes(type, data)
        result = self.wine([TOOLS_DIR_WIN + r"\regtool.exe", "set", key,
                            "-" if name is None else name, str(REG_TYPES[type]), raw.hex()],
                           check=True)
        before = json.loads(result.stdout.decode("utf-8").strip().splitlines()[0])

        def restore():
            tool = TOOLS_DIR_WIN + r"\regtool.exe"
            value = "-" if name is None else name
            if before["missing"]:
                self.wine([tool, "delkey", before["missing"]], check=True)
            elif before["old"] is None:
                self.wine([tool, "delvalue", key, value], check=True)
            else:
                self.wine([tool, "restore", key, value, str(before["old"]["type"]),
                           before["old"]["hex"]], check=True)
        self.on_cleanup(restore)

    def reg_get_raw(self, key, name=None):
        """(type number, bytes) of a value as stored, or None when absent."""
        result = self.wine([TOOLS_DIR_WIN + r"\regtool.exe", "get", key,
                            "-" if name is None else name], check=True)
        found = json.loads(result.stdout.decode("utf-8").strip())
        return None if found is None else (found["type"], bytes.fromhex(found["hex"]))


REG_TYPES = {"REG_SZ": 1, "REG_EXPAND_SZ": 2, "REG_BINARY": 3, "REG_DWORD": 4,
             "REG_MULTI_SZ": 7}


def _reg_bytes(type, data):
    if type in ("REG_SZ", "REG_EXPAND_SZ"):
        return str(data).encode("cp1252") + b"\0"
    if type == "REG_DWORD":
        return (int(data, 0) if isinstance(data, str) else int(data)).to_bytes(4, "little")
    if type == "REG_BINARY":
        return bytes(data)
    if type == "REG_MULTI_SZ":
        return b"".join(s.encode("cp1252") + b"\0" for s in data) + b"\0"
    raise ValueError("unknown registry type %r" % type)


ARCHES = ("x86_64", "i686")


def pytest_configure(config):
    config.addinivalue_line("markers", "slow: takes a minute or more (select with -m slow, "
                                       "leave out with -m 'not slow')")
    config.addinivalue_line(
        "markers", "both_builds: runs once with the x86_64 build and once with the i686 "
        "release build (skipped, and said so in the summary, where that cannot run)")


def pytest_generate_tests(metafunc):
    if "tillwick_build" in metafunc.fixturenames and \
            metafunc.definition.get_closest_marker("both_builds"):
        metafunc.parametrize("tillwick_build", ARCHES, indirect=True)


@pytest.fixture
def tillwick_build(wine_session, request):
    """The build this test runs: x86_64, or for tests marked both_builds each in turn."""
    arch = getattr(request, "param", "x86_64")
    if arch == "i686":
        problem = wine_session.i686_problem()
        if problem:
            wine_session.i686_skipped += 1
            pytest.skip("i686 build NOT TESTED: " + problem)
    wine_session.install_program(arch)
    counts = wine_session.runs_by_arch
    counts[arch] = counts.get(arch, 0) + 1
    return arch


@pytest.fixture
def tw(wine_session, tillwick_build, request):
    testdir = Path(tempfile.mkdtemp(prefix=re.sub(r"[^A-Za-z0-9_]", "_", request.node.name)[:60],
                                    dir=wine_session.workdir))
    helper = Tillwick(wine_session, testdir, tillwick_build)
    helper.reset_ini()
    yield helper
    report = getattr(request.node, "tillwick_call_report", None)
    if report is not None and report.failed:
        helper.end_leftover_runs()
    helper.cleanup()


# ------------------------------------------------------- certificates (tls_support)

@pytest.fixture(scope="session")
def certs(tmp_path_factory):
    """A test CA and server certificates (tls_support.Certificates), made once per session."""
    from tls_support import Certificates
    return Certificates(tmp_path_factory.mktemp("tls"))


@pytest.fixture(scope="session")
def trusted(wine_session, certs):
    """The certificates, with the test CA trusted by the session's prefix."""
    from tls_support import trust_test_ca
    trust_test_ca(wine_session, certs)
    return certs


# ------------------------------------------------ the sign-in's peers (oauth_support)

@pytest.fixture(scope="session")
def stand_in(wine_session):
    """The stand-in browser (oauth_support.StandInBrowser); a test names it the prefix's
    browser with use()."""
    from oauth_support import StandInBrowser
    return StandInBrowser(wine_session.workdir / "browser")


@pytest.fixture
def idp(tw, trusted):
    """The mock identity server (oauth_support.IdentityServer), stopped after the test."""
    from oauth_support import IdentityServer
    server = IdentityServer(trusted)
    tw.on_cleanup(server.stop)
    return server


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    """Keeps the outcome of the test's call on its item, for the fixtures' teardown."""
    outcome = yield
    report = outcome.get_result()
    if report.when == "call":
        item.tillwick_call_report = report


def pytest_report_header(config):
    return "tillwick e2e: TILLWICK_BUILD=%s TILLWICK_BUILD32=%s" % (BUILD, BUILD32)


def pytest_terminal_summary(terminalreporter):
    session = getattr(terminalreporter.config, "_tillwick_session", None)
    if session is not None:
        terminalreporter.write_line("tillwick e2e timings: %r" % session.timings)
        terminalreporter.write_line("tillwick e2e tests started by build: %r" %
                                    session.runs_by_arch)
        if session.i686_skipped:
            terminalreporter.write_line(
                "tillwick e2e: i686 build NOT TESTED (%d both_builds cases skipped): %s" % (
                    session.i686_skipped, session.i686_problem()), red=True, bold=True)
