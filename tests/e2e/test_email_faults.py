"""Queued e-mail under Wine against a scripted fault server of our own, for what a real
server cannot be made to do on demand: greetings and replies of several lines sent slowly and
in pieces, a negative reply at every step (after the message was accepted, a refused QUIT
counts as delivered), a connect refused, a server that never greets, one
that stalls mid-conversation or in the TLS handshake (the 60-second time-out), and Cancel
pressed by the UI driver after QUIT. Each checks the boxes, the last status line and which
files remain."""
import time

import pytest

from fault_peers import never_greeting
from mail_support import (QUEUE_TEXT, TAIL, Mail, assert_box, assert_walk, conversation,
                          free_port, merge_boxes, message, transmitted)
from tls_support import tls_record_types

SENT = "Email Sent"


@pytest.fixture
def mail(tw):
    return Mail(tw)


def queue_two(mail):
    mail.queue("S1.txt", message(to="<first@example.org>"))
    mail.queue("S2.txt", message(to="<second@example.org>"))


def test_multi_line_replies_in_pieces_get_one_command_each(mail):
    """Postfix answers a client that talks before a reply is complete with "554 5.5.0 Error:
    SMTP protocol synchronization"; this server does the same, and sends its greeting one byte
    at a time."""
    violations = []

    def script(server, peer):
        for byte in b"220-fault.test ESMTP\r\n220-Please wait\r\n":
            peer.send(bytes([byte]))
            time.sleep(0.002)
        if peer.pending(wait=0.5):
            violations.append("talked during the greeting")
            peer.send("554 5.5.0 Error: SMTP protocol synchronization\r\n")
            return
        peer.send("220 fault.test ready\r\n")
        assert peer.line().startswith("HELO ")
        peer.send("250-fault.test\r\n")
        if peer.pending(wait=0.5):
            violations.append("talked during the reply to HELO")
            peer.send("554 5.5.0 Error: SMTP protocol synchronization\r\n")
            return
        peer.send("250-PIPELINING\r\n250 8BITMIME\r\n")
        conversation(server, peer, greeting="")

    server = mail.scripted(script)
    data = message(to="<multi@example.org>")
    mail.queue("S1.txt", data)
    result = mail.run(server.port)
    assert server.errors == []
    assert violations == []
    assert result.boxes == []
    assert_walk(result.windows[0], ["Connecting to: 127.0.0.1", "Connected to: 127.0.0.1",
                                    "Sending Email", SENT])
    assert "Sending Email" in result.windows[0]  # shown while the reply to HELO came slowly
    assert server.bodies == [transmitted(data) + b"\r\n"]
    assert server.peers[0].received[:4] == [
        "HELO accounts.acme.test", "RSET", "MAIL FROM:<accounts@acme.test>",
        "RCPT TO:<multi@example.org>"]
    assert mail.queued() == []


TEMPORARY = ("\nThe server cannot take the message just now: it stays queued; send again "
             "later.\n")
# The step, the server's reply, the state the box names, and what the box adds after the
# server's line: the refused recipient, the advice for a well-known reply.
STEPS = [
    ("greeting", "554 5.7.1 No service for you\r\n", "State=CONNECTING", ""),
    ("HELO", "501 5.5.2 Syntax: HELO hostname\r\n", "State=HELO", ""),
    ("RSET", "421 4.3.2 Service shutting down\r\n", "State=MAIL FROM", TEMPORARY),
    ("MAIL", "451 4.3.0 Temporary lookup failure\r\n", "State=RCPT TO", TEMPORARY),
    ("RCPT", "550 5.1.1 User unknown\r\n", "State=DATA",
     "\nThe server refused the recipient first@example.org.\n"),
    ("DATA", "452 4.3.1 Insufficient system storage\r\n", "State=SEND MSG", TEMPORARY),
    ("message", "552 5.3.4 Message too big\r\n", "State=QUIT",
     "\nThe message is too large for this server: send it with smaller attachments.\n"),
]


@pytest.mark.parametrize("step,reply,state,advice", STEPS, ids=[s[0] for s in STEPS])
def test_negative_reply_at_every_step(mail, step, reply, state, advice):
    server = mail.scripted(lambda server, peer: conversation(server, peer, step, reply))
    queue_two(mail)
    running = mail.start(server.port)
    assert running.wait_status("Disconnecting")
    mail.cancel()
    result = running.wait()
    assert result.rc == 0
    assert len(result.boxes) == 1
    # The line as received, its CR included, then the text's own line feed.
    assert_box(result.boxes[0], "%s. Error: %s\n%s" % (state, reply[:-1], advice), True)
    assert result.last_status == "Disconnecting"
    assert len(result.windows) == 1  # the Cancel stopped the batch
    assert mail.queued() == ["S1.txt", "S2.txt"]


def test_a_banner_in_a_later_segment_keeps_the_refused_message(mail):
    """A proxy's banner, then, in a segment of its own after HELO, the server's greeting; the
    server then answers every command one reply behind and refuses the message. Read one step
    late, the 354 that answered DATA would count as the message's acceptance and the file
    would go: each step expects its own reply, so the greeting that came for HELO ends the
    message, and both files stay queued."""
    replies = {"HELO": "250 fault.test\r\n", "RSET": "250 2.0.0 Ok\r\n",
               "MAIL": "250 2.1.0 Ok\r\n", "RCPT": "250 2.1.5 Ok\r\n",
               "DATA": "354 End data with <CR><LF>.<CR><LF>\r\n", "QUIT": "221 2.0.0 Bye\r\n"}

    def script(server, peer):
        peer.send("220 proxy.test ESMTP\r\n")
        behind = "220 fault.test ESMTP\r\n"
        while True:
            line = peer.line(timeout=20)
            if line is None:
                return
            peer.send(behind)
            verb = line.split(" ", 1)[0].split(":", 1)[0].upper()
            behind = replies.get(verb, "554 5.7.1 Message refused\r\n")

    server = mail.scripted(script)
    queue_two(mail)
    result = mail.run(server.port)
    assert server.errors == []
    assert result.rc == 0
    assert len(result.boxes) == 1, result
    assert_box(result.boxes[0], "State=HELO. Error: 220 fault.test ESMTP\r\n\nThis is not the "
               "reply this step waits for (250): the server answered another command, or "
               "something in between (a proxy) speaks for it.\n\nThe email has been queued in "
               + QUEUE_TEXT + "\n", True)
    assert server.peers[0].received == ["HELO accounts.acme.test"]
    assert len(result.windows) == 1
    assert mail.queued() == ["S1.txt", "S2.txt"]


def test_refused_quit_after_acceptance_counts_as_delivered(mail):
    """A 503 to QUIT on a connection the server keeps open: the message was accepted, so the
    file goes, with no box; the window closes itself and the batch goes on."""
    server = mail.scripted(lambda server, peer: conversation(
        server, peer, "QUIT", "503 5.5.1 Bad sequence\r\n"))
    queue_two(mail)
    result = mail.run(server.port, timeout=30)
    assert server.errors == []
    assert result.rc == 0
    assert result.boxes == [], result
    assert [w[-1] for w in result.windows] == [SENT, SENT]
    assert len(server.bodies) == 2
    assert mail.queued() == []


@pytest.mark.both_builds
def test_refused_connect_is_reported(mail):
    queue_two(mail)
    result = mail.run(free_port())  # nothing listens there
    assert len(result.boxes) == 1
    assert_box(result.boxes[0], "Error connecting\n", True)
    # "Connected to" only once an address has answered.
    assert_walk(result.windows[0], ["Connecting to: 127.0.0.1"])
    assert len(result.windows) == 1
    assert mail.queued() == ["S1.txt", "S2.txt"]


def test_cancel_after_quit_deletes_the_file(mail):
    def script(server, peer):
        peer.send("220 fault.test ESMTP\r\n")
        while True:
            line = peer.line(timeout=30)
            if line is None:
                return
            if line == "QUIT":
                server.reached.set()
                server.release.wait(30)  # no reply to QUIT
                return
            if line == "DATA":
                peer.send("354 go ahead\r\n")
                server.bodies = [peer.data()]
            peer.send("250 2.0.0 Ok\r\n")

    server = mail.scripted(script)
    queue_two(mail)
    running = mail.start(server.port)
    assert server.reached.wait(20)
    mail.cancel()
    result = running.wait()
    assert result.boxes == []
    assert len(result.windows) == 1
    assert len(server.bodies) == 1
    assert len(mail.queued()) == 1  # the accepted one is gone, the other stays queued


def test_silence_times_out_with_the_state_it_stopped_in(mail, tw):
    """Three runs at once, each with a batch of two files in a folder of its own, so that one
    60-second wait covers them all: a server that stalls after its greeting (state 2), one
    that accepts the connection but never greets (state 1), and one on a port with TLS from
    the first byte that never answers the handshake (state 2). Each gets the time-out box
    about 60 s after the connect; the files stay and the batch stops. (Servers that close the
    connection are noticed at once: test_email_progress.py.)"""

    def stall(server, peer):
        peer.send("220 fault.test ESMTP\r\n")
        peer.line(timeout=90)
        server.release.wait(90)

    servers = {"stall": mail.scripted(stall), "silent": mail.scripted(never_greeting),
               "handshake": mail.scripted(never_greeting)}
    runs = {
        "stall": (servers["stall"].port, None, 2, "Sending Email"),
        "silent": (servers["silent"].port, None, 1, "Connected to: 127.0.0.1"),
        "handshake": (servers["handshake"].port, "tls", 2, "Connected to: localhost"),
    }
    running = {}
    windows = {}
    for name, (port, security, _, _) in runs.items():
        folder = "C:\\Mail%s" % name
        tw.make_file(folder + "\\S1.txt", message(to="<%s1@example.org>" % name))
        tw.make_file(folder + "\\S2.txt", message(to="<%s2@example.org>" % name))
        mail.settings(port, server="localhost" if security else "127.0.0.1")
        if security:
            tw.ini_set("Email Setup", "SMTPSecurity", security)
        running[name] = mail.start(args="/email %s\\*.txt" % folder, timeout=100)
        # The settings are read before the window opens; the next run may then change them.
        windows[name] = running[name].wait_window(known=set(windows.values()))
        assert windows[name] is not None, name

    results = {name: run.wait() for name, run in running.items()}
    assert servers["silent"].heard == b""
    assert tls_record_types(servers["handshake"].heard) == ["handshake"]  # the client hello
    boxes = merge_boxes(results.values())
    assert len(boxes) == 3
    for name, (_, _, state, status) in runs.items():
        mine = [b for b in boxes if b["owner"] == windows[name]]
        statuses = [w for w in results[name].window_info if w["hwnd"] == windows[name]][0]
        assert statuses["statuses"][-1] == status, name
        assert len(mine) == 1, name
        assert_box(mine[0], "Request timed out (%d) ." % state + TAIL, True)
        assert 58 <= mine[0]["t"] / 1000.0 <= 75, name
        folder = tw.unix_path("C:\\Mail%s" % name)
        assert sorted(p.name for p in folder.iterdir()) == ["S1.txt", "S2.txt"], name
        # One window per run: the failure stopped the batch.
        assert len([w for w in results[name].window_info
                    if w["pid"] == statuses["pid"]]) == 1, name
