"""Queued e-mail under Wine against real SMTP peers on loopback: aiosmtpd (delivery of one,
three and a large message, copy recipients, the line endings of the SMTP smuggling reports, a
file in the ANSI code page read back by Python's e-mail package)
and Postfix's smtp-sink (rejections, disconnects, delays and a small receive window).

Each test queues message files in the program's "Email" folder, runs "/email" with the UI
driver answering the message boxes, records every status-line text of the "Sending Email"
window, and checks the boxes, the last status, what the server received and which files
remain queued."""
import datetime
import email
import email.policy
import re
import time

import pytest

from mail_support import QUEUE, Mail, assert_box, assert_walk, message, transmitted

SENT = "Email Sent"


@pytest.fixture
def mail(tw):
    return Mail(tw)


def body_of(data):
    """The message as the server must hold it: line ends CR LF, followed by the empty line
    that the end-of-data mark adds after a file ending in a line end (or ends the last line)."""
    return transmitted(data) + b"\r\n"


# ------------------------------------------------------------------------------ aiosmtpd

@pytest.mark.both_builds
def test_one_message_with_description_and_copy_recipient(mail):
    server = mail.aiosmtpd()
    data = message(to="<bob@example.org>", sender="Acme Ltd <accounts@acme.test>",
                   cc="<carol@example.org>", description="Invoice 1042 for Acme Ltd",
                   body="Dear Bob,\r\n.\r\nA line that is only a dot, above.\r\n")
    mail.queue("I1042.txt", data)
    result = mail.run(server.port)
    assert result.rc == 0
    assert result.boxes == []
    assert len(result.windows) == 1
    assert_walk(result.windows[0], ["Connecting to: 127.0.0.1", "Connected to: 127.0.0.1",
                                    "Sending: Invoice 1042 for Acme Ltd", SENT])
    assert len(server.messages) == 1
    got = server.messages[0]
    assert got["from"] == "accounts@acme.test"
    assert got["to"] == ["bob@example.org", "carol@example.org"]
    assert got["helo"] == "accounts.acme.test"
    # The description line is not sent; the rest arrives whole, the dot line included.
    assert got["data"] == body_of(data[data.index(b"\r\n") + 2:])
    assert mail.queued() == []


@pytest.mark.both_builds
def test_three_messages_and_an_invalid_one(mail):
    server = mail.aiosmtpd()
    # A "Reply-To: " line before the "To: " line never supplies the recipient.
    mail.queue("I1.txt", b"Subject: One\r\nReply-To: <reply@acme.test>\r\nTo: <one@example.org>\r\n"
                         b"From: <accounts@acme.test>\r\n\r\nOne.\r\n")
    # A bare sender on the "From: " line is the sender, not the next bracketed address.
    mail.queue("I2.txt", message(to="<two@example.org>", sender="bare@acme.test",
                                 description="Invoice 2 for Two"))
    mail.queue("S3.txt", message(to="<three@example.org>", cc="<copy@example.org>"))
    mail.queue("I77.txt", b"Subject: x\r\nTo: <nobody@example.org>\r\n\r\nNo sender.\r\n")
    result = mail.run(server.port)
    assert result.rc == 0
    assert [w[-1] for w in result.windows] == [SENT] * 3
    assert sorted(m["to"][0] for m in server.messages) == [
        "one@example.org", "three@example.org", "two@example.org"]
    assert [m["to"] for m in server.messages if m["to"][0] == "three@example.org"] == [
        ["three@example.org", "copy@example.org"]]
    assert [m["from"] for m in server.messages if m["to"][0] == "two@example.org"] == [
        "bare@acme.test"]
    assert len(result.boxes) == 1
    assert_box(result.boxes[0],
               "Could not send Invoice number 77.  You will need to email it again.\n\n"
               "Reason:\n\nMissing a From Email Address in " + QUEUE + "\\I77.txt", False)
    assert mail.queued() == []


@pytest.mark.both_builds
def test_large_message_goes_out_whole(mail):
    server = mail.aiosmtpd()
    line = b"0123456789 abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ 0123456789\r\n"
    body = b"".join((b"." if i % 97 == 0 else b"") + line for i in range(21 * 1024 * 1024 // len(line)))
    data = message(to="<big@example.org>") + body
    assert len(data) >= 20 * 1024 * 1024
    mail.queue("S1.txt", data)
    result = mail.run(server.port, timeout=90)
    assert result.boxes == []
    assert result.last_status == SENT
    assert len(server.messages) == 1
    assert server.messages[0]["data"] == body_of(data)
    assert mail.queued() == []


def test_windows_1252_file_reads_back_as_written(mail):
    """A file in the ANSI code page with no Date, Message-ID or MIME fields of its own, sent
    with HELO: labelled windows-1252, 8bit; Python's e-mail package gets the very text back,
    and a Date of the machine's local time with its offset, and a Message-ID."""
    server = mail.aiosmtpd()
    subject, name = "Rechnung für Café Weiß", "Jürgen"
    body = "Grüße aus der Straße, Ihr Café.\r\n"
    data = message(sender="%s <accounts@acme.test>" % name, subject=subject, body=body,
                   dated=False)
    mail.queue("S1.txt", data)
    result = mail.run(server.port)
    assert result.boxes == [] and result.last_status == SENT, result
    [got] = server.messages
    head, _, rest = got["data"].partition(b"\r\n\r\n")
    assert all(b < 0x80 for b in head), head  # the header fields as encoded-words
    # The body's bytes as written, and the empty line the end-of-data mark adds (body_of).
    assert rest == body.encode("cp1252") + b"\r\n"
    parsed = email.message_from_bytes(got["data"], policy=email.policy.default)
    assert parsed["Subject"] == subject
    assert [a.display_name for a in parsed["From"].addresses] == [name]
    assert parsed.get_content_charset() == "windows-1252"
    assert parsed["Content-Transfer-Encoding"] == "8bit"
    assert parsed.get_content() == body + "\r\n"
    sent = parsed["Date"].datetime
    assert sent.utcoffset() is not None
    assert abs(sent - datetime.datetime.now(datetime.timezone.utc)) < datetime.timedelta(
        minutes=5)
    assert re.fullmatch(r"<[0-9A-Fa-f]{32}@acme\.test>", parsed["Message-ID"])
    assert mail.queued() == []


SMUGGLING_ENDS = [b"\n", b"\r", b"\r\n"]


def test_smuggling_line_endings_never_split_a_message(mail):
    """A lone LF or CR before and after a "." line, in every combination, followed by what
    would be a second message if the server took the dot for the end of data: the server
    sees exactly one message per file, with the body intact."""
    server = mail.aiosmtpd()
    files = {}
    for i, before in enumerate(SMUGGLING_ENDS):
        for j, after in enumerate(SMUGGLING_ENDS):
            body = (b"Line before" + before + b"." + after +
                    b"MAIL FROM:<evil@attacker.test>\r\nRCPT TO:<victim@example.org>\r\n"
                    b"DATA\r\nSmuggled\r\n.\r\nThe end\r\n")
            data = message(to="<r%d%d@example.org>" % (i, j)) + body
            files["S%d%d.txt" % (i, j)] = data
            mail.queue("S%d%d.txt" % (i, j), data)
    result = mail.run(server.port, timeout=60)
    assert result.boxes == []
    assert [w[-1] for w in result.windows] == [SENT] * len(files)
    assert len(server.messages) == len(files)
    assert all(m["from"] == "accounts@acme.test" for m in server.messages)
    for m in server.messages:
        name = "S%s.txt" % m["to"][0][1:3]
        assert m["to"] == ["r%s@example.org" % name[1:3]]
        assert m["data"] == body_of(files[name])
        assert b"Line before\r\n.\r\nMAIL FROM:<evil@attacker.test>" in m["data"]
    assert mail.queued() == []


def test_one_file_named_on_the_command_line(mail, tw):
    server = mail.aiosmtpd()
    outside = tw.make_file(r"C:\Outbox\S9.txt", message(to="<single@example.org>"))
    mail.queue("S1.txt", message(to="<queued@example.org>"))
    result = mail.run(server.port, args=r"/email C:\Outbox\S9.txt")
    assert result.rc == 0
    assert [m["to"] for m in server.messages] == [["single@example.org"]]
    assert not outside.exists()
    assert mail.queued() == ["S1.txt"]


@pytest.mark.parametrize("server_value,port_value,text", [
    (None, "25", "Please setup your SMTP Server in Tillwick Orvenda."),
    ("127.0.0.1", None, "Please setup your SMTP Port in Tillwick Orvenda."),
])
def test_missing_settings_exit_with_one(mail, tw, server_value, port_value, text):
    if server_value is not None:
        tw.ini_set("Email Setup", "SMTPServer", server_value)
    if port_value is not None:
        tw.ini_set("Email Setup", "SMTPPort", port_value)
    mail.queue("S1.txt", message())
    result = mail.run()
    assert result.rc == 1
    assert len(result.boxes) == 1
    assert_box(result.boxes[0], text, False)
    assert result.windows == []
    assert mail.queued() == ["S1.txt"]


# ----------------------------------------------------------------------------- smtp-sink

def test_small_receive_window_forces_partial_sends(mail):
    # A 16 KB receive window and a server that waits 2 s before it reads the message: the
    # socket takes the 4 MB message piece by piece over many write events.
    sink = mail.smtp_sink("-T", "16384", "-H", "2")
    line = b"The quick brown fox jumps over the lazy dog.\r\n"
    data = message(to="<window@example.org>") + line * (4 * 1024 * 1024 // len(line))
    mail.queue("S1.txt", data)
    result = mail.run(sink.port, timeout=60)
    assert result.boxes == []
    assert result.last_status == SENT
    dumps = sink.messages()
    assert len(dumps) == 1
    # The dump has LF line ends.
    assert transmitted(data).replace(b"\r\n", b"\n") in dumps[0]
    assert mail.queued() == []


TEMPORARY = "The server cannot take the message just now: it stays queued; send again later."


@pytest.mark.parametrize("options,box", [
    (("-f", "RCPT"), "State=DATA. Error: 500 5.3.0 Error: command failed\r\n"
                     "\nThe server refused the recipient a@example.org.\n"),
    (("-r", "MAIL"), "State=RCPT TO. Error: 450 4.3.0 Error: command failed\r\n"
                     "\n" + TEMPORARY + "\n"),
    (("-r", "DATA"), "State=SEND MSG. Error: 450 4.3.0 Error: command failed\r\n"
                     "\n" + TEMPORARY + "\n"),
    (("-f", "."), "State=QUIT. Error: 500 5.3.0 Error: command failed\r\n"),
])
def test_rejection_is_reported_and_waits_for_cancel(mail, options, box):
    sink = mail.smtp_sink(*options)
    mail.queue("S1.txt", message(to="<a@example.org>"))
    mail.queue("S2.txt", message(to="<b@example.org>"))
    running = mail.start(sink.port)
    assert running.wait_status("Disconnecting")
    mail.cancel()
    result = running.wait()
    assert result.rc == 0
    assert len(result.boxes) == 1
    assert_box(result.boxes[0], box, True)
    assert len(result.windows) == 1  # the batch stopped
    assert result.last_status == "Disconnecting"
    assert mail.queued() == ["S1.txt", "S2.txt"]


def test_421_to_quit_after_acceptance_counts_as_delivered(mail):
    # The server accepts each message, answers QUIT with 421 and hangs up: the message was
    # accepted, so it is delivered and its file deleted, with no box, and the batch goes on.
    sink = mail.smtp_sink("-Q", "QUIT")
    mail.queue("S1.txt", message(to="<a@example.org>"))
    mail.queue("S2.txt", message(to="<b@example.org>"))
    result = mail.run(sink.port)
    assert result.rc == 0
    assert result.boxes == [], result
    assert [w[-1] for w in result.windows] == [SENT, SENT]
    assert len(sink.messages()) == 2
    assert mail.queued() == []


def test_slow_server_is_waited_for(mail):
    sink = mail.smtp_sink("-w", "3", "-W", "MAIL:1")
    mail.queue("S77.txt", message(to="<a@example.org>", description="Statement 77 for Bob"))
    started = time.monotonic()
    result = mail.run(sink.port)
    assert time.monotonic() - started >= 4
    assert result.boxes == []
    # The description stays on the status line while the server takes its time.
    assert result.windows[0][-2:] == ["Sending: Statement 77 for Bob", SENT]
    assert len(sink.messages()) == 1
    assert mail.queued() == []
