"""Helpers of the e-mail end-to-end tests: the SMTP peers on loopback (aiosmtpd, Postfix's
smtp-sink, a scripted fault server), queued message files, and a run of "/email" that also
records every text the "Sending Email" window's status line showed."""
import os
import shutil
import socket
import subprocess
import tempfile
import threading
import time
from pathlib import Path

import pytest

from conftest import _kill_group

QUEUE = r"C:\Program Files\Tillwick Orvenda\Email"
QUEUE_TEXT = QUEUE + "\\"  # as the boxes name the queue folder
SMTP_SINK = "/usr/sbin/smtp-sink"

TAIL = ("\n\n   1). Please make sure that you are connected to the internet.\n   2). Check "
        "that the SMTP server is correct (See Email Setup under the Invoicing menu).\n   3). "
        "Your ISP might be having problems, try sending again later.\n\nThe email has been "
        "queued in " + QUEUE_TEXT + "\n")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


DATE = "Tue, 08 Dec 2026 14:05:09 +0100"


def message(to="<bob@example.org>", sender="Acme Ltd <accounts@acme.test>", cc=None,
            description=None, subject="Invoice 1042", body="Please find your invoice below.\r\n",
            dated=True):
    """A queued message file's bytes: an optional description line, the headers, the body.
    With dated, it has its own Date and Message-ID, so that it goes out exactly as written."""
    headers = "To: %s\r\nFrom: %s\r\n" % (to, sender)
    if dated:
        headers += "Date: %s\r\nMessage-ID: <m1@acme.test>\r\n" % DATE
    if cc:
        headers += "Cc: %s\r\n" % cc
    if description:
        text = description + "\r\n" + headers + "Subject: %s\r\n\r\n" % subject + body
    else:
        text = "Subject: %s\r\n" % subject + headers + "\r\n" + body
    return text.encode("cp1252")


def transmitted(data):
    """What the server must receive as the message for a file's bytes without description
    line: every line end CR LF (and a dot-stuffed line unstuffed again by the server)."""
    text = data.replace(b"\r\n", b"\n").replace(b"\r", b"\n").replace(b"\n", b"\r\n")
    return text


# ------------------------------------------------------------------------------- peers

class Aiosmtpd:
    """aiosmtpd on loopback, keeping every message it accepted."""

    def __init__(self):
        from aiosmtpd.controller import Controller

        self.messages = []
        server = self

        class Handler:
            async def handle_DATA(self, srv, session, envelope):
                server.messages.append({"from": envelope.mail_from, "to": list(envelope.rcpt_tos),
                                        "data": envelope.original_content,
                                        "helo": session.host_name})
                return "250 2.0.0 Ok: queued"

        self.port = free_port()
        self.controller = Controller(Handler(), hostname="127.0.0.1", port=self.port,
                                     data_size_limit=0, ready_timeout=10)
        self.controller.start()

    def stop(self):
        self.controller.stop()


class SmtpSink:
    """Postfix's smtp-sink on loopback with the given options; dumps each message into a
    folder so that what it received can be read back."""

    def __init__(self, workdir, *options):
        self.port = free_port()
        # smtp-sink refuses to run as root without -u; it then writes as that user, so the
        # dumps go to a folder of their own that the user may write.
        self.dumps = Path(tempfile.mkdtemp(prefix="tillwick-sink-"))
        os.chmod(self.dumps, 0o777)
        user = ["-u", "nobody"] if os.getuid() == 0 else []
        self.log = open(Path(workdir) / ("sink-%d.log" % self.port), "wb")
        self.proc = subprocess.Popen(
            [SMTP_SINK, *user, "-d", str(self.dumps) + "/%M.", *options,
             "127.0.0.1:%d" % self.port, "10"],
            stdout=self.log, stderr=subprocess.STDOUT, start_new_session=True)
        deadline = time.monotonic() + 10
        while True:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                break
            except OSError:
                if time.monotonic() > deadline or self.proc.poll() is not None:
                    self.stop()
                    raise RuntimeError("smtp-sink did not start")
                time.sleep(0.05)

    def messages(self):
        """The dump files' contents, oldest first."""
        files = sorted(self.dumps.iterdir(), key=lambda p: p.stat().st_mtime)
        return [p.read_bytes() for p in files]

    def stop(self):
        _kill_group(self.proc)
        self.log.close()
        shutil.rmtree(self.dumps, ignore_errors=True)


class Peer:
    """One connection of the scripted server, seen from the server's side."""

    def __init__(self, conn):
        self.conn = conn
        self.buffer = b""
        self.received = []  # every line the client sent, CR LF removed

    def send(self, text):
        self.conn.sendall(text.encode("latin-1") if isinstance(text, str) else text)

    def line(self, timeout=15):
        """The client's next line (without CR LF), or None when it closed or fell silent."""
        self.conn.settimeout(timeout)
        while b"\n" not in self.buffer:
            try:
                chunk = self.conn.recv(65536)
            except (socket.timeout, OSError):
                return None
            if not chunk:
                return None
            self.buffer += chunk
        raw, self.buffer = self.buffer.split(b"\n", 1)
        text = raw.rstrip(b"\r").decode("latin-1")
        self.received.append(text)
        return text

    def data(self, timeout=30):
        """The message after DATA, up to and without the end-of-data line."""
        self.conn.settimeout(timeout)
        while b"\r\n.\r\n" not in b"\r\n" + self.buffer:
            chunk = self.conn.recv(65536)
            if not chunk:
                return None
            self.buffer += chunk
        joined = b"\r\n" + self.buffer
        at = joined.index(b"\r\n.\r\n")
        body = joined[2:at + 2] if at > 0 else b""
        self.buffer = joined[at + 5:]
        self.received.append("<message %d bytes>" % len(body))
        return body

    def pending(self, wait=0.0):
        """True when the client has sent something not yet read."""
        if self.buffer:
            return True
        self.conn.settimeout(wait if wait > 0 else 0.001)
        try:
            chunk = self.conn.recv(65536)
        except (socket.timeout, BlockingIOError, OSError):
            return False
        self.buffer += chunk
        return bool(chunk)

    def close(self):
        try:
            self.conn.close()
        except OSError:
            pass


class ScriptedServer:
    """A loopback server that runs script(peer) for every connection, in its own thread."""

    def __init__(self, script, sock=None):
        """sock: a listening socket made by the caller (options set before its listen, or
        made in another network namespace); by default one on 127.0.0.1 with a free port."""
        self.script = script
        if sock is None:
            sock = socket.socket()
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            sock.bind(("127.0.0.1", 0))
            sock.listen(8)
        self.sock = sock
        self.port = self.sock.getsockname()[1]
        self.peers = []
        self.errors = []
        self.reached = threading.Event()  # a script may set it at a point of interest
        self.release = threading.Event()  # and wait for the test to let it go on
        self.thread = threading.Thread(target=self._accept, daemon=True)
        self.thread.start()

    def _accept(self):
        while True:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            peer = Peer(conn)
            self.peers.append(peer)
            threading.Thread(target=self._serve, args=(peer,), daemon=True).start()

    def _serve(self, peer):
        try:
            self.script(self, peer)
        except Exception as exc:  # reported by the test
            self.errors.append(repr(exc))
        finally:
            if not getattr(peer, "keep_open", False):
                peer.close()

    def stop(self):
        self.release.set()
        try:
            self.sock.close()
        except OSError:
            pass
        for peer in self.peers:
            peer.close()


def conversation(server, peer, fault=None, reply=None, greeting="220 fault.test ESMTP\r\n"):
    """A complete, willing conversation, except that the step named fault ("greeting",
    "HELO", "RSET", "MAIL", "RCPT", "DATA", "message", "QUIT") is answered with reply
    instead; after the fault nothing more is answered until the client quits or closes."""
    if fault == "greeting":
        peer.send(reply)
        while peer.line(timeout=20) is not None:
            pass
        return
    peer.send(greeting)
    while True:
        line = peer.line(timeout=20)
        if line is None:
            return
        verb = line.split(" ", 1)[0].split(":", 1)[0].upper()
        if verb == fault:
            peer.send(reply)
            fault = "done"
            continue
        if fault == "done":
            continue
        if verb == "DATA":
            peer.send("354 End data with <CR><LF>.<CR><LF>\r\n")
            body = peer.data()
            if body is None:
                return
            server.bodies = getattr(server, "bodies", []) + [body]
            if fault == "message":
                peer.send(reply)
                fault = "done"
            else:
                peer.send("250 2.0.0 Ok: queued\r\n")
        elif verb == "QUIT":
            peer.send("221 2.0.0 Bye\r\n")
            return
        else:
            peer.send("250 2.0.0 Ok\r\n")


# ------------------------------------------------------------------------------- runs

class MailResult:
    def __init__(self, run, status_events):
        self.rc = run.rc
        self.boxes = run.boxes
        self.elapsed = run.elapsed
        self.windows = []  # one list of status texts per "Sending Email" window, in order
        self.window_info = []  # the same windows: {"hwnd", "pid", "statuses"}
        by_hwnd = {}
        for event in status_events:
            if event.get("event") == "window":
                by_hwnd[event["hwnd"]] = []
                self.windows.append(by_hwnd[event["hwnd"]])
                self.window_info.append({"hwnd": event["hwnd"], "pid": event.get("pid"),
                                         "statuses": by_hwnd[event["hwnd"]]})
            elif event.get("event") == "status" and event["hwnd"] in by_hwnd:
                texts = by_hwnd[event["hwnd"]]
                if event["text"] and (not texts or texts[-1] != event["text"]):
                    texts.append(event["text"])
        self.status_events = status_events

    @property
    def last_status(self):
        """The last status line of the last window ("" when no window showed)."""
        return self.windows[-1][-1] if self.windows and self.windows[-1] else ""

    def __repr__(self):
        return "MailResult(rc=%r, boxes=%r, windows=%r, elapsed=%.2f)" % (
            self.rc, [(b["caption"], b["text"], b["owner_title"]) for b in self.boxes],
            self.windows, self.elapsed)


class MailRunning:
    def __init__(self, mail, running, status_proc, status_log):
        self.mail = mail
        self.running = running
        self.status_proc = status_proc
        self.status_log = status_log

    def statuses(self):
        return [e for e in self.mail.tw.ui_events(self.status_log) if e.get("event") == "status"]

    def wait_status(self, text, timeout=20):
        """Waits until the status line has shown text (a part of it)."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if any(text in e["text"] for e in self.statuses()):
                return True
            time.sleep(0.02)
        return False

    def wait_window(self, known=(), timeout=20):
        """Waits until a "Sending Email" window other than those in known has opened (by
        then the run has read its settings). Returns its handle, or None."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            for e in self.mail.tw.ui_events(self.status_log):
                if e.get("event") == "window" and e["hwnd"] not in known:
                    return e["hwnd"]
            time.sleep(0.02)
        return None

    def wait(self):
        run = self.running.wait()
        Path(str(self.status_log) + ".stop").write_text("stop\n")
        try:
            self.status_proc.wait(timeout=15)
        except subprocess.TimeoutExpired:
            _kill_group(self.status_proc)
        return MailResult(run, self.mail.tw.ui_events(self.status_log))


class Mail:
    """The per-test e-mail helper (fixture `mail`)."""

    def __init__(self, tw):
        self.tw = tw
        self._runs = 0
        self._peers = []
        tw.on_cleanup(self._stop_peers)
        # The queue folder exists, empty, for every test; removed afterwards.
        self.queue_dir = tw.unix_path(QUEUE)
        made = not self.queue_dir.exists()
        self.queue_dir.mkdir(parents=True, exist_ok=True)
        for leftover in self.queue_dir.iterdir():
            leftover.unlink()

        def remove():
            for f in self.queue_dir.iterdir():
                f.unlink()
            if made:
                self.queue_dir.rmdir()
        tw.on_cleanup(remove)

    def _stop_peers(self):
        for peer in self._peers:
            peer.stop()

    def aiosmtpd(self):
        peer = Aiosmtpd()
        self._peers.append(peer)
        return peer

    def smtp_sink(self, *options):
        peer = SmtpSink(self.tw.testdir, *options)
        self._peers.append(peer)
        return peer

    def scripted(self, script):
        peer = ScriptedServer(script)
        self._peers.append(peer)
        return peer

    def settings(self, port, server="127.0.0.1"):
        self.tw.ini_set("Email Setup", "SMTPServer", server)
        self.tw.ini_set("Email Setup", "SMTPPort", str(port))

    def queue(self, name, data):
        path = self.queue_dir / name
        path.write_bytes(data)
        return path

    def queued(self):
        return sorted(p.name for p in self.queue_dir.iterdir())

    def _start_recorder(self, log, caption, timeout):
        """The status recorder on the window whose caption holds caption, once it is ready.
        wine64 now and then ends at once with 1 before any program ran (see README): a
        recorder that ended before it was ready is started once more."""
        for attempt in (1, 2):
            started = time.monotonic()
            proc = subprocess.Popen(
                self.tw.session.command([self.tw.driver_win, "status", self.tw.win_path(log),
                                         "--caption", caption, "--timeout", str(timeout + 20)]),
                env=self.tw.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL, start_new_session=True)
            deadline = started + 15
            while not any(e.get("event") == "ready" for e in self.tw.ui_events(log)):
                if proc.poll() is not None or time.monotonic() > deadline:
                    _kill_group(proc)
                    break
                time.sleep(0.01)
            else:
                return proc
            if attempt == 1 and proc.returncode is not None:
                counts = self.tw.session.timings
                counts["recorder_restarts"] = counts.get("recorder_restarts", 0) + 1
                time.sleep(0.2)
                continue
            pytest.fail("status recorder did not start (rc %r after %.2f s)" % (
                proc.returncode, time.monotonic() - started))

    def start(self, port=None, args="/email", timeout=40, caption="Sending Email"):
        """Starts the run with a recorder of the status texts of its windows captioned
        caption ("Checking Email Setup" for "/emailcheck")."""
        if port is not None:
            self.settings(port)
        self._runs += 1
        log = self.tw.testdir / ("status-%d.log" % self._runs)
        proc = self._start_recorder(log, caption, timeout)
        running = self.tw.start(args, timeout=timeout)
        return MailRunning(self, running, proc, log)

    def run(self, port=None, args="/email", timeout=40, caption="Sending Email"):
        return self.start(port, args, timeout, caption).wait()

    def cancel(self):
        """Presses the sending window's Cancel button, as the user would."""
        result = self.tw.uidriver("click", "Sending Email", "1000", "--timeout", "15",
                                  timeout=30)
        assert result.returncode == 0, "no Sending Email window to cancel"


def merge_boxes(results):
    """The message boxes that several runs at once recorded, one record per box: every run's
    UI driver sees every box, and the one that answered it has read it whole."""
    boxes = {}
    for result in results:
        for box in result.boxes:
            if box["hwnd"] not in boxes or box["answered"]:
                boxes[box["hwnd"]] = box
    return list(boxes.values())


def assert_walk(texts, walk):
    """The status texts seen are the walk's texts in its order, ending with its last one.
    The recorder polls, so a text shown for a few milliseconds only may have been missed; the
    unit tests check the whole walk."""
    assert texts and texts[-1] == walk[-1], texts
    position = 0
    for text in texts:
        assert text in walk[position:], (texts, walk)
        position = walk.index(text, position) + 1


def assert_box(box, text, owned_by_window):
    assert box["caption"] == "Error"
    assert box["text"] == text, (box["text"], text)
    assert box["icon"] == "information"
    assert box["buttons"] == [1]
    if owned_by_window:
        assert box["owner_title"] == "Sending Email"
    else:
        assert box["owner"] == 0
