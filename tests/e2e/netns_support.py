"""Network namespaces of a test's own, for send buffers that the rest of the machine does not
feel: net.ipv4.tcp_wmem is per namespace (Linux 4.15 and later). With CAPPED_WMEM a program's
socket takes only a few kilobytes at a time, so its sends go on for the whole of a slow
transfer; with ROOMY_WMEM it takes a 4 MB message at once, so all the waiting is for the
reply. (On the host, with the default 4 MB limit, it takes about 3.5 MB at once and the rest
as the reader catches up.)

Under Wine the wineserver makes every socket of the Windows programs, so another Wine session
runs with its wineserver, and every program, inside the namespace (`NamespacedWineSession`);
the display stays the first session's (the X socket is a file). Test servers get their
listening sockets made inside it (`NetNamespace.socket`), and `tcp_queues` reads the kernel's
queue lengths of one connection, to show where the bytes of a transfer wait. Needs root and
iproute2.
"""
import ctypes
import os
import socket
import subprocess
import threading
import time
from pathlib import Path

import conftest

CLONE_NEWNET = 0x40000000
NETNS_DIR = Path("/run/netns")
PREFIX = "tillwick-"
# Minimum, start and maximum of a socket's send buffer: never past 16 KB; 8 MB from the start.
CAPPED_WMEM = "4096 16384 16384"
ROOMY_WMEM = "4096 8388608 8388608"

_count = [0]


def _ip(*args, timeout=15):
    return subprocess.run(["ip", *args], stdin=subprocess.DEVNULL, capture_output=True,
                          timeout=timeout)


def _enter(path):
    """Moves the calling thread (only it) into the network namespace at path."""
    libc = ctypes.CDLL(None, use_errno=True)
    fd = os.open(path, os.O_RDONLY)
    try:
        if libc.setns(fd, CLONE_NEWNET) != 0:
            raise OSError(ctypes.get_errno(), "setns %s" % path)
    finally:
        os.close(fd)


def _remove_stale():
    """Deletes namespaces that earlier runs made and did not delete (their pytest is gone)."""
    if not NETNS_DIR.is_dir():
        return
    for entry in NETNS_DIR.iterdir():
        parts = entry.name.split("-")
        if not entry.name.startswith(PREFIX) or len(parts) != 3 or not parts[1].isdigit():
            continue
        try:
            os.kill(int(parts[1]), 0)
        except ProcessLookupError:
            _ip("netns", "del", entry.name)
        except PermissionError:
            pass


class NetNamespace:
    """A network namespace with its loopback up and, when wmem is given, that tcp_wmem.
    Raises OSError with the reason when it cannot be made (see `unavailable`)."""

    def __init__(self, wmem=None):
        _remove_stale()
        _count[0] += 1
        self.name = "%s%d-%d" % (PREFIX, os.getpid(), _count[0])
        self.path = NETNS_DIR / self.name
        self._steps("netns", "add", self.name)
        try:
            self._steps("-n", self.name, "link", "set", "lo", "up")
            if wmem is not None:
                self.write_sysctl("net/ipv4/tcp_wmem", wmem)
                got = " ".join(self.read_sysctl("net/ipv4/tcp_wmem").split())
                if got != wmem:
                    raise OSError("tcp_wmem reads %r in the namespace, not %r" % (got, wmem))
        except Exception:
            self.delete()
            raise

    def _steps(self, *args):
        try:
            result = _ip(*args)
        except (OSError, subprocess.TimeoutExpired) as exc:
            raise OSError("ip %s: %s" % (" ".join(args), exc))
        if result.returncode != 0:
            raise OSError("ip %s: %s" % (" ".join(args), result.stderr.decode().strip()))

    def launcher(self):
        """What runs a command inside the namespace (ip execs it: the pid stays the same)."""
        return ["ip", "netns", "exec", self.name]

    def run_inside(self, fn):
        """Runs fn() on a thread of its own that entered the namespace; returns its result."""
        box = {}

        def run():
            try:
                _enter(str(self.path))
                box["result"] = fn()
            except BaseException as exc:  # handed to the caller
                box["error"] = exc
        thread = threading.Thread(target=run)
        thread.start()
        thread.join()
        if "error" in box:
            raise box["error"]
        return box["result"]

    def read_sysctl(self, name):
        return self.run_inside(lambda: Path("/proc/sys", name).read_text())

    def write_sysctl(self, name, value):
        self.run_inside(lambda: Path("/proc/sys", name).write_text(value + "\n"))

    def socket(self, family=socket.AF_INET):
        """A TCP socket that belongs to the namespace for good (made by a thread inside it)."""
        return self.run_inside(lambda: socket.socket(family))

    def inode(self):
        return os.stat(self.path).st_ino

    def holds(self, pid):
        """True when process pid is inside this namespace."""
        try:
            return os.stat("/proc/%d/ns/net" % pid).st_ino == self.inode()
        except FileNotFoundError:
            return False

    def delete(self):
        _ip("netns", "del", self.name)


def unavailable():
    """None when a namespace with a send cap can be made here, else why not."""
    if os.geteuid() != 0:
        return "network namespaces need root (CI runs as root)"
    try:
        namespace = NetNamespace(CAPPED_WMEM)
    except OSError as exc:
        return "no network namespace with a send cap: %s" % exc
    try:
        ran = subprocess.run(namespace.launcher() + ["true"], stdin=subprocess.DEVNULL,
                             capture_output=True, timeout=15)
    finally:
        namespace.delete()
    if ran.returncode != 0:
        return "ip netns exec fails: %s" % ran.stderr.decode(errors="replace").strip()
    return None


def tcp_queues(port, netns=None):
    """The kernel's queue lengths of the connections to port on loopback, in this process's
    namespace or in netns: (bytes the client's socket holds that the server has not taken,
    bytes the server's socket holds that its program has not read), summed; None when there
    is no such connection."""
    def read():
        client = server = 0
        found = False
        for line in Path("/proc/thread-self/net/tcp").read_text().splitlines()[1:]:
            fields = line.split()
            local, remote, state = fields[1], fields[2], fields[3]
            if state != "01":  # established
                continue
            tx, rx = (int(x, 16) for x in fields[4].split(":"))
            if int(remote.split(":")[1], 16) == port:
                client += tx
                found = True
            elif int(local.split(":")[1], 16) == port:
                server += rx
                found = True
        return (client, server) if found else None
    return netns.run_inside(read) if netns is not None else read()


class NamespacedWineSession(conftest.WineSession):
    """Another Wine session whose wineserver and programs run inside netns: its own copy of
    the prefix and its own persistent server, on the display of the given session."""

    def __init__(self, netns, display):
        super().__init__()
        self.netns = netns
        self.display = display
        self.launcher = netns.launcher()

    def _start_server(self):
        super()._start_server()
        # A wine program that found no server would start one of its own; wait until ours
        # listens (it works in its socket's folder), so that every program talks to it.
        deadline = time.monotonic() + 15
        while True:
            try:
                folder = os.readlink("/proc/%d/cwd" % self._server.pid)
                if os.path.basename(folder).startswith("server-") and \
                        os.path.exists(os.path.join(folder, "socket")):
                    return
            except OSError:
                pass
            if self._server.poll() is not None or time.monotonic() > deadline:
                raise conftest.HarnessError("the wineserver in %s did not start (%r)" % (
                    self.netns.name, self._server.returncode))
            time.sleep(0.02)

    def start(self):
        super().start()
        if self._server.poll() is not None or not self.netns.holds(self._server.pid):
            raise conftest.HarnessError("the wineserver is not inside %s" % self.netns.name)
