"""SMTP peers that behave the way real servers do when things go wrong, for the tests of
time-outs, closed connections and strict address checks: scripted servers that never greet,
hang up at a chosen point or send a 421 and hang up; a slow reader that takes the message at
a fixed rate through a small receive buffer and keeps the time of every piece; and a private
Postfix instance (its own smtpd, strict settings) that relays what it accepts to a sink."""
import os
import shutil
import socket
import subprocess
import tempfile
import time
from pathlib import Path

from mail_support import Aiosmtpd, ScriptedServer, free_port
from netns_support import tcp_queues


def listener(rcvbuf=None, netns=None):
    """A listening socket on 127.0.0.1 (of netns, when given) with a free port; rcvbuf is set
    before listen, so that every connection it accepts starts with that receive buffer."""
    sock = netns.socket() if netns is not None else socket.socket()
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    if rcvbuf is not None:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)
    sock.bind(("127.0.0.1", 0))
    sock.listen(8)
    return sock


# --------------------------------------------------------------------- scripted faults

def verb_of(line):
    return line.split(" ", 1)[0].split(":", 1)[0].upper()


def hanging_up(at, reply=None):
    """A script for ScriptedServer that converses willingly and hangs up: at "greeting"
    right after its greeting; at a verb ("MAIL", ...) when that command comes, sending reply
    first if given, instead of its answer; at "accepted" right after its 250 to the message.
    server.closed_at gets the time of the close, server.bodies every message received."""
    def script(server, peer):
        server.bodies = getattr(server, "bodies", [])
        peer.send("220 fault.test ESMTP\r\n")
        while at != "greeting":
            line = peer.line(timeout=30)
            if line is None:
                return
            verb = verb_of(line)
            if verb == at:
                if reply:
                    peer.send(reply)
                break
            if verb == "DATA":
                peer.send("354 End data with <CR><LF>.<CR><LF>\r\n")
                server.bodies.append(peer.data())
                peer.send("250 2.0.0 Ok: queued\r\n")
                if at == "accepted":
                    break
            elif verb == "QUIT":
                peer.send("221 2.0.0 Bye\r\n")
                return
            else:
                peer.send("250 2.0.0 Ok\r\n")
        peer.close()
        server.closed_at = time.monotonic()
    return script


def never_greeting(server, peer):
    """Accepts and says nothing; notes when (server.accepted_at) and what the client sent
    (server.heard: a TLS client's first flight, say), and keeps the connection until the
    client closes it or the test ends."""
    server.accepted_at = time.monotonic()
    server.heard = b""
    peer.conn.settimeout(1)
    while not server.release.is_set():
        try:
            chunk = peer.conn.recv(4096)
        except socket.timeout:
            continue
        except OSError:
            return
        if not chunk:
            return
        server.heard += chunk


# ------------------------------------------------------------------------ slow reader

class SlowReader:
    """An SMTP server that takes the message at `rate` bytes a second through a receive
    buffer of `rcvbuf` bytes (the kernel doubles what is asked), answering everything else at
    once. It listens on 127.0.0.1, in netns when given. Records: bodies (each message, without
    the end-of-data line), connections, and for the transfer: data_at (the time of its 354),
    reads [(seconds after data_at, bytes)], queues [(seconds after data_at, bytes the server
    had read, bytes the kernel held for the client, bytes it held for the server)] sampled
    while reading, replied_at (the time of its 250 to the message)."""

    def __init__(self, rate=48 * 1024, rcvbuf=16384, netns=None):
        self.rate = rate
        self.netns = netns
        self.bodies = []
        self.connections = 0
        self.reads = []
        self.queues = []
        self.data_at = self.replied_at = None
        self.server = ScriptedServer(self._script, listener(rcvbuf, netns))
        self.port = self.server.port
        self.errors = self.server.errors

    def _script(self, server, peer):
        self.connections += 1
        peer.send("220 slow.test ESMTP\r\n")
        while True:
            line = peer.line(timeout=60)
            if line is None:
                return
            verb = verb_of(line)
            if verb == "DATA":
                peer.send("354 End data with <CR><LF>.<CR><LF>\r\n")
                body = self._read_message(peer)
                if body is None:
                    return
                self.bodies.append(body)
                peer.send("250 2.0.0 Ok: queued\r\n")
                self.replied_at = time.monotonic()
            elif verb == "QUIT":
                peer.send("221 2.0.0 Bye\r\n")
                return
            else:
                peer.send("250 2.0.0 Ok\r\n")

    def _read_message(self, peer):
        self.data_at = start = time.monotonic()
        data = bytearray(peer.buffer)
        peer.buffer = b""
        next_sample = 0.0
        peer.conn.settimeout(60)
        while not (b"\r\n" + data[-5:]).endswith(b"\r\n.\r\n"):
            # Never ahead of the rate: each piece waits until the bytes before it are due.
            now = time.monotonic() - start
            due = len(data) / self.rate
            if due > now:
                time.sleep(due - now)
                now = due
            if now >= next_sample:
                held = tcp_queues(self.port, self.netns)
                if held is not None:
                    self.queues.append((now, len(data)) + held)
                next_sample = now + 0.25
            chunk = peer.conn.recv(4096)
            if not chunk:
                return None
            data += chunk
            self.reads.append((time.monotonic() - start, len(chunk)))
        held = tcp_queues(self.port, self.netns)
        self.queues.append((time.monotonic() - start, len(data)) + (held or (0, 0)))
        at = (b"\r\n" + bytes(data)).rindex(b"\r\n.\r\n")
        return bytes(data[:at])

    def handed_over_at(self, size):
        """Seconds after the 354 at which the client's kernel had taken all size bytes of the
        message (read by the server, or held by either side's kernel): the first sample that
        shows it (at the latest the one taken at the end of the message); None when none."""
        for at, read, client, server in self.queues:
            if read + client + server >= size:
                return at
        return None

    def stop(self):
        self.server.stop()


# ---------------------------------------------------------------------------- Postfix

POSTFIX_MAIN = """\
compatibility_level = 3.6
queue_directory = {dir}/queue
data_directory = {dir}/data
maillog_file = {dir}/maillog
maillog_file_prefixes = {dir}
mail_owner = postfix
setgid_group = postdrop
inet_interfaces = 127.0.0.1
inet_protocols = ipv4
myhostname = strict.test
mydomain = strict.test
mydestination =
mynetworks = 127.0.0.0/8
relayhost = [127.0.0.1]:{relay}
alias_maps =
alias_database =
smtpd_helo_required = yes
smtpd_helo_restrictions = reject_invalid_helo_hostname
strict_rfc821_envelopes = yes
# No Message-Id or Date added, no Bcc or other field dropped: the message arrives as sent,
# behind a Received line.
local_header_rewrite_clients =
message_drop_headers =
"""

# Only the services that take a message and relay it (no chroot, no local delivery).
POSTFIX_MASTER = """\
127.0.0.1:{port} inet n - n - - smtpd
cleanup unix n - n - 0 cleanup
qmgr unix n - n 300 1 qmgr
rewrite unix - - n - - trivial-rewrite
bounce unix - - n - 0 bounce
defer unix - - n - 0 bounce
trace unix - - n - 0 bounce
verify unix - - n - 1 verify
proxymap unix - - n - - proxymap
smtp unix - - n - - smtp
relay unix - - n - - smtp
error unix - - n - - error
retry unix - - n - - error
discard unix - - n - - discard
anvil unix - - n - 1 anvil
scache unix - - n - 1 scache
postlog unix-dgram n - n - 1 postlogd
"""


class PrivatePostfix:
    """A Postfix instance of its own (as root, from a temporary configuration folder, stopped
    by stop()) whose smtpd listens on 127.0.0.1:port, requires HELO, refuses a HELO name that
    is no valid host name (at RCPT TO, Postfix's default) and envelope addresses that are not
    RFC 821, and relays everything it accepts to an aiosmtpd sink: `messages()` are what the
    sink received ({"from", "to", "data", ...}; data begins with Postfix's Received line,
    which names the HELO name it was given). `maillog()` is its log."""

    def __init__(self):
        self.sink = Aiosmtpd()
        self.dir = Path(tempfile.mkdtemp(prefix="tillwick-postfix-"))
        os.chmod(self.dir, 0o755)  # its daemons run as the postfix user
        (self.dir / "queue").mkdir(mode=0o755)
        (self.dir / "data").mkdir(mode=0o700)
        shutil.chown(self.dir / "data", "postfix", "postfix")
        self.port = free_port()
        (self.dir / "main.cf").write_text(POSTFIX_MAIN.format(dir=self.dir, relay=self.sink.port))
        (self.dir / "master.cf").write_text(POSTFIX_MASTER.format(port=self.port))
        self.started = False
        self._postfix("start")
        self.started = True
        deadline = time.monotonic() + 15
        while True:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                break
            except OSError:
                if time.monotonic() > deadline:
                    self.stop()
                    raise RuntimeError("Postfix does not listen: %s" % self.maillog()[-2000:])
                time.sleep(0.05)

    def _postfix(self, command):
        result = subprocess.run(["postfix", "-c", str(self.dir), command],
                                stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
        if result.returncode != 0:
            raise RuntimeError("postfix %s failed (%d): %s %s" % (
                command, result.returncode, result.stderr.decode(errors="replace"),
                self.maillog()[-2000:]))

    def maillog(self):
        path = self.dir / "maillog"
        return path.read_text(errors="replace") if path.exists() else ""

    def messages(self, count=1, timeout=15):
        """The sink's messages, once there are count of them (or timeout seconds passed)."""
        deadline = time.monotonic() + timeout
        while len(self.sink.messages) < count and time.monotonic() < deadline:
            time.sleep(0.05)
        return list(self.sink.messages)

    def stop(self):
        """Stops the instance (postfix stop waits for its master to end) and the sink."""
        try:
            if self.started:
                self.started = False
                self._postfix("stop")
        finally:
            self.sink.stop()
            shutil.rmtree(self.dir, ignore_errors=True)
