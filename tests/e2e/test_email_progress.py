"""Queued e-mail under Wine against servers that are slow or hang up: a 4 MB message to a
server that reads it at 48 KB/s through a small receive buffer (about 85 s), sent from three
Wine sessions at once: on the host; in a network namespace whose sockets take the whole
message at once (all the waiting is for the reply to the end-of-data mark); and in one with a
send cap (the program's sends go on for the whole transfer). Then servers that close the
connection at several points, which must be noticed at once (after the server accepted the
message, a close counts as delivered).

The peers are proven first with Python's own client."""
import smtplib
import tempfile
import time
import warnings
from pathlib import Path

import pytest

import conftest
from fault_peers import SlowReader, hanging_up, never_greeting
from mail_support import Mail, ScriptedServer, assert_box, message, transmitted
from netns_support import (CAPPED_WMEM, ROOMY_WMEM, NamespacedWineSession, NetNamespace,
                           unavailable)

SENT = "Email Sent"
CLOSED = "Connection closed unexpectedly\n"
REPLY_421 = "421 4.3.2 Service shutting down\r\n"
# The reply to MAIL FROM, and the advice for any 4xx.
REFUSED_421 = ("State=RCPT TO. Error: %s\n\nThe server cannot take the message just now: it "
               "stays queued; send again later.\n" % REPLY_421[:-1])
MESSAGE_BYTES = 4 * 1024 * 1024
RATE = 48 * 1024
SEND_BUFFERS = {"roomy": ROOMY_WMEM, "capped": CAPPED_WMEM}


@pytest.fixture
def mail(tw):
    return Mail(tw)


@pytest.fixture(scope="session")
def namespaces():
    """{"roomy": namespace, "capped": namespace}, or {} (with a warning) where none can be
    made: then what needs them is skipped, saying why."""
    reason = unavailable()
    if reason is not None:
        warnings.warn("NO NETWORK NAMESPACES: %s; the send-buffer cases are skipped" % reason)
        yield {}
        return
    made = {}
    try:
        for name, wmem in SEND_BUFFERS.items():
            made[name] = NetNamespace(wmem)
        yield made
    finally:
        for namespace in made.values():
            namespace.delete()


@pytest.fixture(scope="session")
def namespaced_sessions(wine_session, namespaces):
    """A Wine session inside each namespace, on the first session's display."""
    sessions = {}
    try:
        for name, namespace in namespaces.items():
            sessions[name] = NamespacedWineSession(namespace, wine_session.display)
            sessions[name].start()
        yield sessions
    finally:
        for session in sessions.values():
            session.stop()


@pytest.fixture
def namespaced_mail(namespaced_sessions):
    """{name: the e-mail helper of that session} (as `mail`, with a `tw` of its own)."""
    helpers = {}
    for name, session in namespaced_sessions.items():
        tw = conftest.Tillwick(session, Path(tempfile.mkdtemp(prefix=name, dir=session.workdir)))
        tw.reset_ini()
        helpers[name] = Mail(tw)
    yield helpers
    for helper in helpers.values():
        helper.tw.end_leftover_runs()
        helper.tw.cleanup()


def queue_two(mail):
    mail.queue("S1.txt", message(to="<first@example.org>"))
    mail.queue("S2.txt", message(to="<second@example.org>"))


# ----------------------------------------------------------------- the peers themselves

def test_fault_scripts_with_python_client():
    servers = []

    def connect(script, timeout=5):
        servers.append(ScriptedServer(script))
        return smtplib.SMTP("127.0.0.1", servers[-1].port, timeout=timeout)

    try:
        with pytest.raises(smtplib.SMTPServerDisconnected):
            connect(hanging_up("greeting")).ehlo("client.test")
        client = connect(hanging_up("MAIL"))
        client.ehlo("client.test")
        with pytest.raises(smtplib.SMTPServerDisconnected):
            client.mail("a@example.org")
        client = connect(hanging_up("MAIL", REPLY_421))
        client.ehlo("client.test")
        assert client.mail("a@example.org") == (421, b"4.3.2 Service shutting down")
        client = connect(hanging_up("accepted"))
        client.sendmail("a@example.org", ["b@example.org"], b"Subject: x\r\n\r\nHello.\r\n")
        with pytest.raises(smtplib.SMTPServerDisconnected):
            client.quit()
        assert servers[-1].bodies == [b"Subject: x\r\n\r\nHello.\r\n"]
        with pytest.raises(smtplib.SMTPServerDisconnected, match="timed out"):
            connect(never_greeting, timeout=1)
    finally:
        for server in servers:
            server.stop()
    assert [s.errors for s in servers] == [[]] * len(servers)


def test_slow_reader_and_send_buffers_with_python_client(namespaces):
    """The reader keeps to its rate, and the namespaces' send buffers decide where a sender's
    bytes wait: with room for 8 MB the kernel takes the 4 MB message at once, with the cap
    only a few kilobytes at a time, until the reader has nearly all of it."""
    rate = 2 * 1024 * 1024
    data = b"x" * 78 + b"\r\n"
    data *= MESSAGE_BYTES // len(data)
    for name, namespace in [("host", None)] + list(namespaces.items()):
        reader = SlowReader(rate=rate, netns=namespace)

        def send():
            client = smtplib.SMTP("127.0.0.1", reader.port, timeout=30)
            client.sendmail("a@example.org", ["b@example.org"], data)
            client.quit()
        try:
            if namespace is None:
                send()
            else:
                namespace.run_inside(send)  # the client's socket inside the namespace too
        finally:
            reader.stop()
        assert reader.errors == [] and reader.bodies == [data], name
        took = reader.replied_at - reader.data_at
        assert MESSAGE_BYTES / rate * 0.95 <= took <= MESSAGE_BYTES / rate * 1.5, (name, took)
        handed = reader.handed_over_at(len(data) + 3)
        if name == "roomy":
            assert handed <= 0.5, reader.queues[:4]
        elif name == "capped":
            assert handed >= took * 0.8, reader.queues[-4:]
            assert max(sample[2] for sample in reader.queues) <= 32 * 1024
    if not namespaces:
        pytest.skip("the send buffers were not proven: no network namespaces here")


# -------------------------------------------------------------------------- Tillwick.exe

@pytest.mark.slow
def test_four_megabytes_to_a_slow_reader_with_any_send_buffer(mail, namespaced_mail,
                                                             namespaces):
    """Three runs at once, one per Wine session. Whatever the sending side's kernel takes at
    once: delivered once, no time-out. With room for the whole message the program has handed
    it over within seconds and then waits well over a minute for the reply to the end-of-data
    mark; with the cap its sends go on well past a minute."""
    line = b"The quick brown fox jumps over the lazy dog, 0123456789.\r\n"
    data = message(to="<big@example.org>") + line * (MESSAGE_BYTES // len(line))
    expected = transmitted(data) + b"\r\n"
    setups = {"host": (mail, None)}
    for name, helper in namespaced_mail.items():
        setups[name] = (helper, namespaces[name])
    runs, readers = {}, {}
    for name, (helper, namespace) in setups.items():
        readers[name] = SlowReader(rate=RATE, netns=namespace)
        helper.tw.on_cleanup(readers[name].stop)
        helper.queue("S1.txt", data)
        runs[name] = helper.start(readers[name].port, timeout=200)
    results = {name: run.wait() for name, run in runs.items()}
    for name, result in results.items():
        reader = readers[name]
        took = reader.replied_at - reader.data_at if reader.replied_at else None
        handed = reader.handed_over_at(len(expected) + 3)
        print("%s: %d bytes in %s s; all handed to the kernel %s s after DATA; at most %d "
              "bytes held on the client's side" % (
                  name, len(expected), took, handed, max([s[2] for s in reader.queues] or [0])))
        assert result.boxes == [], (name, result)
        assert result.last_status == SENT, name
        assert reader.errors == [] and reader.connections == 1, name
        assert reader.bodies == [expected], name
        assert setups[name][0].queued() == [], name
        assert took >= MESSAGE_BYTES / RATE * 0.9, name
        if name == "roomy":
            # Only the wait for the reply to the end-of-data mark could have failed.
            assert handed <= 5 and took - handed >= 75, (handed, took)
        elif name == "capped":
            # The sends themselves went on past a minute.
            assert handed >= 75, (handed, took)
            assert max(s[2] for s in reader.queues) <= 32 * 1024
    if not namespaced_mail:
        pytest.skip("only the host's send buffer was tried: no network namespaces here")


@pytest.mark.parametrize("script,allowed,kept", [
    (hanging_up("greeting"), [[CLOSED]], ["S1.txt", "S2.txt"]),
    (hanging_up("MAIL"), [[CLOSED]], ["S1.txt", "S2.txt"]),
    # The close right after a negative reply may end the window without a second box.
    (hanging_up("MAIL", REPLY_421), [[REFUSED_421], [REFUSED_421, CLOSED]],
     ["S1.txt", "S2.txt"]),
], ids=["after_greeting", "at_mail_from", "421_then_close"])
def test_a_closed_connection_is_noticed_at_once(mail, script, allowed, kept):
    server = mail.scripted(script)
    queue_two(mail)
    running = mail.start(server.port, timeout=20)
    running.running.wait_window("Error", timeout=15)
    noticed = time.monotonic() - server.closed_at
    result = running.wait()
    assert server.errors == []
    assert noticed <= 2.0
    assert result.rc == 0
    assert [box["text"] for box in result.boxes] in allowed, result
    for box in result.boxes:
        assert_box(box, box["text"], True)
    assert len(result.windows) == 1 and len(server.peers) == 1  # the batch stopped
    assert mail.queued() == kept


def test_a_close_after_acceptance_counts_as_delivered_at_once(mail):
    """The server hangs up right after its 250 to each message, before the reply to QUIT:
    the message was accepted, so its file goes, with no box, and the batch goes on at once."""
    server = mail.scripted(hanging_up("accepted"))
    queue_two(mail)
    running = mail.start(server.port, timeout=20)
    deadline = time.monotonic() + 15
    while running.running.proc.poll() is None and time.monotonic() < deadline:
        time.sleep(0.02)
    ended = time.monotonic() - server.closed_at  # from the second close to the run's end
    result = running.wait()
    assert server.errors == []
    assert ended <= 2.0
    assert result.rc == 0
    assert result.boxes == [], result
    assert [w[-1] for w in result.windows] == [SENT, SENT]
    assert len(server.peers) == 2 and len(server.bodies) == 2
    assert mail.queued() == []
