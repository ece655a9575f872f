"""Secure submission under Wine: "/email" with SMTPSecurity "starttls" or "tls" and a login
(SMTPUser, the password from the Credential Manager) against aiosmtpd with a test CA in the
prefix's ROOT store; a scripted server for what aiosmtpd cannot be made to do (certificates the
program must refuse, with every raw byte after the handshake kept; EHLO or STARTTLS refused);
revocation lists over http (a revoked certificate, a list server that never answers);
8-bit text with and without 8BITMIME offered; the settings check "/emailcheck"; settings
refused before any connection; and two runs at once on one queue, named two ways.

The server is reached by the name "localhost" (Wine's crypt32 matches no IP address in a
certificate). The peers themselves are proven first against Python's own client."""
import base64
import email
import email.policy
import smtplib
import socket
import os
import ssl
import threading
import time

import pytest

from mail_support import (QUEUE_TEXT, Peer, assert_box, assert_walk, merge_boxes, message,
                          transmitted)
from tls_support import (SERVER_NAME, CrlServer, Credentials, SecureSmtpd, TlsLink, mail_alone,
                         secure_settings, tls_record_types)

SENT = "Email Sent"
USER = "accounts@acme.test"
GREETING = "accounts.acme.test"  # the greeting name of a message sent by USER
# Beyond Latin-1 and beyond the BMP (a UTF-16 surrogate pair): only a real UTF-16 to UTF-8
# conversion gets it to the server intact.
PASSWORD = "Grüße-€-🔑"

# The program's texts, byte for byte.
TEXT_UNKNOWN_SECURITY = (
    "SMTPSecurity \"%s\" is not understood.\n\nPlease set SMTPSecurity in Email Setup to "
    "none, starttls or tls.")
TEXT_LOGIN_WITHOUT_TLS = (
    "SMTPUser is set but SMTPSecurity is not starttls or tls.\n\nThe password is never sent "
    "over an unencrypted connection: please set SMTPSecurity in Email Setup.")
TEXT_NO_CREDENTIAL = (
    "No password was found for the SMTP login %s.\n\nPlease add it to the Windows Credential "
    "Manager as a generic credential named \"Tillwick Orvenda SMTP\".")
TEXT_EHLO_ERROR = "State=EHLO. Error: %s\n"
TEXT_STARTTLS_ERROR = "State=STARTTLS. Error: %s\n"
TEXT_AUTH_ERROR = "State=AUTH. Error: %s\n"
# The advice after the server's line for a wrong password and for any 4xx.
ADVICE_PASSWORD = (
    "\nThe server did not accept the user name or password: check SMTPUser and the password "
    "stored as \"Tillwick Orvenda SMTP\" in the Windows Credential Manager (an account with "
    "two-step verification needs an app password there).\n")
ADVICE_TEMPORARY = (
    "\nThe server cannot take the message just now: it stays queued; send again later.\n")
TEXT_CERT_UNTRUSTED = (
    "State=TLS. Error: the certificate of %s is not trusted.\n\nThe email has been queued in "
    "%s\n")
TEXT_CERT_NAME_MISMATCH = (
    "State=TLS. Error: the certificate is not for %s (name mismatch).\n\nThe email has been "
    "queued in %s\n")
TEXT_CERT_EXPIRED = (
    "State=TLS. Error: the certificate of %s has expired.\n\nThe email has been queued in %s\n")
# Windows' verdict on an issuer that is no CA (TRUST_E_BASIC_CONSTRAINTS).
TEXT_CERT_ISSUER_NOT_A_CA = (
    "State=TLS. Error: the certificate of %s could not be verified (0x80096019).\n\nThe email "
    "has been queued in %s\n")
TEXT_CERT_REVOKED = (
    "State=TLS. Error: the certificate of %s has been revoked.\n\nThe email has been queued in "
    "%s\n")


@pytest.fixture
def mail(tw):
    return mail_alone(tw)


@pytest.fixture
def creds(tw):
    return Credentials(tw)


@pytest.fixture
def smtpd(tw, trusted):
    """Starts a SecureSmtpd with the test certificates; stopped after the test."""
    def start(mode="starttls", **options):
        server = SecureSmtpd(trusted, mode, **options)
        tw.on_cleanup(server.stop)
        return server
    return start


def body_of(data):
    """The message as the server must hold it (see test_email.py)."""
    return transmitted(data) + b"\r\n"


def queue_two(mail):
    mail.queue("S1.txt", message(to="<first@example.org>"))
    mail.queue("S2.txt", message(to="<second@example.org>"))


# ----------------------------------------------------------------- the peers themselves

def python_login(client, mechanism, user, password):
    """AUTH by hand (smtplib would refuse a password that is not ASCII): the reply code."""
    user, password = user.encode("utf-8"), password.encode("utf-8")
    if mechanism == "PLAIN":
        return client.docmd("AUTH", "PLAIN " + base64.b64encode(
            b"\0" + user + b"\0" + password).decode())[0]
    assert client.docmd("AUTH", "LOGIN")[0] == 334
    assert client.docmd(base64.b64encode(user).decode())[0] == 334
    return client.docmd(base64.b64encode(password).decode())[0]


@pytest.mark.parametrize("mode,mechanism", [("starttls", "PLAIN"), ("tls", "LOGIN")])
def test_peer_takes_python_client(certs, mode, mechanism):
    server = SecureSmtpd(certs, mode, users={USER: PASSWORD}, mechanisms=(mechanism,))
    try:
        if mode == "starttls":
            client = smtplib.SMTP(SERVER_NAME, server.port, timeout=10)
            client.ehlo("client.test")
            assert "auth" not in client.esmtp_features  # no login offered in clear
            assert client.docmd("MAIL", "FROM:<a@example.org>")[0] == 530
            client.starttls(context=certs.client_context())
        else:
            client = smtplib.SMTP_SSL(SERVER_NAME, server.port, timeout=10,
                                      context=certs.client_context())
        client.ehlo("client.test")
        assert client.esmtp_features["auth"].split() == [mechanism]
        assert python_login(client, mechanism, USER, "wrong") == 535
        assert python_login(client, mechanism, USER, PASSWORD) == 235
        client.sendmail("a@example.org", ["b@example.org"], b"Subject: x\r\n\r\nHello.\r\n")
        client.quit()
    finally:
        server.stop()
    clear = ["EHLO", "MAIL", "STARTTLS"] if mode == "starttls" else []
    assert server.verbs(tls=False) == clear
    assert server.verbs(tls=True) == ["EHLO", "AUTH", "AUTH", "MAIL", "RCPT", "DATA", "QUIT"]
    assert [(x["mechanism"], x["password"], x["tls"], x["ok"]) for x in server.logins] == [
        (mechanism, b"wrong", True, False), (mechanism, PASSWORD.encode("utf-8"), True, True)]
    assert [(m["data"], m["login"], m["tls"]) for m in server.messages] == [
        (b"Subject: x\r\n\r\nHello.\r\n", USER.encode(), True)]


@pytest.mark.parametrize("after,types", [
    ("close", []),
    ("close_notify", ["alert"]),
    ("inside_tls", ["application_data"]),
    ("in_clear", ["garbage"]),
])
def test_tls_link_tells_what_came_after_the_handshake(certs, after, types):
    """The scripted server's check that nothing followed a handshake sees the difference
    between a client that only closes (or says close_notify) and one that sends anything."""
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    client_context = certs.client_context()
    client_context.maximum_version = ssl.TLSVersion.TLSv1_2
    raw = socket.create_connection(listener.getsockname(), timeout=10)
    conn, _ = listener.accept()
    listener.close()
    link = TlsLink(Peer(conn), certs.server_context(max_tls12=True))
    done = threading.Thread(target=lambda: (link.handshake(), link.drain(timeout=10)))
    done.start()
    client = client_context.wrap_socket(raw, server_hostname=SERVER_NAME)
    if after == "close_notify":
        client.settimeout(0.5)  # the server never answers it
        try:
            client.unwrap()
        except (TimeoutError, OSError):
            pass
    elif after == "inside_tls":
        client.sendall(b"EHLO x\r\n")
    elif after == "in_clear":
        os.write(client.fileno(), b"QUIT\r\n")  # past TLS, on the bare connection
    time.sleep(0.2)
    client.close()
    raw.close()
    done.join(15)
    conn.close()
    assert link.error is None
    assert tls_record_types(link.after) == types


# ------------------------------------------------------------------------------ delivery

@pytest.mark.both_builds
def test_starttls_with_auth_plain_delivers(mail, tw, smtpd, creds):
    server = smtpd("starttls", users={USER: PASSWORD})
    creds.write(USER, PASSWORD)
    secure_settings(tw, server.port, "starttls", USER)
    data = message(cc="<carol@example.org>", description="Invoice 1042 for Acme Ltd")
    mail.queue("I1042.txt", data)
    result = mail.run()
    assert result.rc == 0
    assert result.boxes == [], result
    assert len(result.windows) == 1
    # The name alone, or with the address tried: the recorder polls and may see either first.
    assert result.windows[0][0].startswith("Connecting to: " + SERVER_NAME)
    assert result.last_status == SENT
    # EHLO and STARTTLS in clear, all else inside TLS beginning with EHLO again; the login
    # before the transaction; HELO never.
    assert server.verbs(tls=False) == ["EHLO", "STARTTLS"]
    inside = server.verbs(tls=True)
    assert inside[0] == "EHLO" and inside[-1] == "QUIT"
    assert inside.index("AUTH") < inside.index("MAIL")
    assert "HELO" not in server.verbs()
    assert [c["arg"] for c in server.commands if c["verb"] == "EHLO"] == [GREETING, GREETING]
    assert server.logins == [{"mechanism": "PLAIN", "login": USER.encode(),
                              "password": PASSWORD.encode("utf-8"), "tls": True, "ok": True}]
    assert len(server.messages) == 1
    got = server.messages[0]
    assert (got["from"], got["to"], got["tls"]) == (
        "accounts@acme.test", ["bob@example.org", "carol@example.org"], True)
    assert got["data"] == body_of(data[data.index(b"\r\n") + 2:])
    assert mail.queued() == []


@pytest.mark.both_builds
def test_implicit_tls_with_auth_login_only(mail, tw, smtpd, creds):
    server = smtpd("tls", users={USER: PASSWORD}, mechanisms=("LOGIN",))
    creds.write(USER, PASSWORD)
    secure_settings(tw, server.port, "tls", USER)
    data = message(to="<dave@example.org>")
    mail.queue("S1.txt", data)
    result = mail.run()
    assert result.rc == 0
    assert result.boxes == [], result
    assert result.last_status == SENT
    assert server.verbs(tls=False) == []  # TLS from the first byte
    inside = server.verbs()
    assert inside[0] == "EHLO" and "STARTTLS" not in inside and "HELO" not in inside
    assert [(x["mechanism"], x["login"], x["password"], x["ok"]) for x in server.logins] == [
        ("LOGIN", USER.encode(), PASSWORD.encode("utf-8"), True)]
    assert [(m["to"], m["data"]) for m in server.messages] == [
        (["dave@example.org"], body_of(data))]
    assert mail.queued() == []


def test_twenty_megabytes_over_starttls_without_login(mail, tw, smtpd):
    server = smtpd("starttls")
    secure_settings(tw, server.port, "starttls")
    line = b"0123456789 abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ 0123456789\r\n"
    body = b"".join((b"." if i % 97 == 0 else b"") + line
                    for i in range(21 * 1024 * 1024 // len(line)))
    data = message(to="<big@example.org>") + body
    assert len(data) >= 20 * 1024 * 1024
    mail.queue("S1.txt", data)
    result = mail.run(timeout=120)
    assert result.boxes == [], result
    assert result.last_status == SENT
    assert server.verbs(tls=False) == ["EHLO", "STARTTLS"]
    assert "AUTH" not in server.verbs()  # no SMTPUser, no login
    assert len(server.messages) == 1
    assert server.messages[0]["tls"]
    assert server.messages[0]["data"] == body_of(data)
    assert mail.queued() == []


@pytest.mark.parametrize("eight_bit", [True, False], ids=["8bitmime", "no_8bitmime"])
def test_eight_bit_text_follows_what_the_server_offers(mail, tw, smtpd, eight_bit):
    """8-bit text after EHLO: as it stands with BODY=8BITMIME to a server that offers it,
    quoted-printable (not one byte above 0x7F) to one that does not; SIZE is what was sent,
    and either way the text reads back the same."""
    server = smtpd("starttls", size_limit=10 * 1024 * 1024, eight_bit=eight_bit)
    secure_settings(tw, server.port, "starttls")
    subject, body = "Grüße", "Straße: Müller, Café.\r\n" * 3
    mail.queue("S1.txt", message(subject=subject, body=body))
    result = mail.run()
    assert result.boxes == [] and result.last_status == SENT, result
    [got] = server.messages
    data = got["data"]
    assert got["mail_options"] == (["SIZE=%d" % len(data), "BODY=8BITMIME"] if eight_bit
                                   else ["SIZE=%d" % len(data)])
    parsed = email.message_from_bytes(data, policy=email.policy.default)
    if eight_bit:
        assert parsed["Content-Transfer-Encoding"] == "8bit"
        assert body.encode("cp1252") in data
    else:
        assert parsed["Content-Transfer-Encoding"] == "quoted-printable"
        assert max(data) < 0x80
    assert parsed.get_content_charset() == "windows-1252"
    assert parsed["Subject"] == subject
    assert parsed.get_content() == body + "\r\n"  # with the mark's empty line (body_of)
    assert mail.queued() == []


# ----------------------------------------------------------- refusals in the new steps

@pytest.mark.both_builds
def test_wrong_password_is_reported_and_waits_for_cancel(mail, tw, smtpd, creds):
    server = smtpd("starttls", users={USER: PASSWORD})
    creds.write(USER, "not the password")
    secure_settings(tw, server.port, "starttls", USER)
    queue_two(mail)
    running = mail.start()
    assert running.wait_status("Disconnecting")
    mail.cancel()
    result = running.wait()
    assert result.rc == 0
    assert len(result.boxes) == 1
    assert_box(result.boxes[0],
               TEXT_AUTH_ERROR % "535 5.7.8 Authentication credentials invalid\r" +
               ADVICE_PASSWORD, True)
    assert result.last_status == "Disconnecting"
    assert len(result.windows) == 1  # the second file was not attempted
    assert [(x["password"], x["tls"], x["ok"]) for x in server.logins] == [
        (b"not the password", True, False)]
    assert "MAIL" not in server.verbs() and server.messages == []
    assert mail.queued() == ["S1.txt", "S2.txt"]


def refusing(step, reply):
    """A server that refuses EHLO, or offers STARTTLS (and a login, in clear, which the client
    must not take) and then refuses it; it answers nothing more."""
    def script(server, peer):
        peer.send("220 tls.test ESMTP\r\n")
        peer.line()
        if step == "STARTTLS":
            peer.send("250-tls.test\r\n250-AUTH PLAIN LOGIN\r\n250 STARTTLS\r\n")
            peer.line()
        peer.send(reply)
        while peer.line(timeout=30) is not None:
            pass
    return script


@pytest.mark.parametrize("step,reply,text,lines", [
    ("EHLO", "502 5.5.2 Error: command not recognized\r\n", TEXT_EHLO_ERROR,
     ["EHLO " + GREETING]),
    ("STARTTLS", "454 4.7.0 TLS not available due to temporary reason\r\n",
     TEXT_STARTTLS_ERROR + ADVICE_TEMPORARY, ["EHLO " + GREETING, "STARTTLS"]),
], ids=["EHLO", "STARTTLS"])
def test_refused_step_is_reported_and_waits_for_cancel(mail, tw, creds, step, reply, text,
                                                       lines):
    server = mail.scripted(refusing(step, reply))
    creds.write(USER, PASSWORD)
    secure_settings(tw, server.port, "starttls", USER)
    queue_two(mail)
    running = mail.start()
    assert running.wait_status("Disconnecting")
    mail.cancel()
    result = running.wait()
    assert server.errors == []
    assert result.rc == 0
    assert len(result.boxes) == 1
    assert_box(result.boxes[0], text % reply[:-1], True)
    assert result.last_status == "Disconnecting"
    assert len(result.windows) == 1
    # Nothing after the refusal: no login, no transaction in clear, no QUIT.
    assert len(server.peers) == 1
    assert server.peers[0].received == lines
    assert mail.queued() == ["S1.txt", "S2.txt"]


def presenting(certs, kind, mode):
    """A server whose TLS presents a certificate the program must refuse; it keeps every raw
    byte that comes after its side of the handshake until the client closes."""
    def script(server, peer):
        if mode == "starttls":
            peer.send("220 tls.test ESMTP\r\n")
            peer.line()
            peer.send("250-tls.test\r\n250-AUTH PLAIN LOGIN\r\n250 STARTTLS\r\n")
            if peer.line() != "STARTTLS":
                return
            peer.send("220 2.0.0 Ready to start TLS\r\n")
        link = TlsLink(peer, certs.server_context(kind, max_tls12=True))
        server.handshake = link.handshake()
        server.after = link.drain(timeout=60)
        server.reached.set()
    return script


@pytest.mark.both_builds
@pytest.mark.parametrize("kind,mode,text", [
    ("unknown_ca", "starttls", TEXT_CERT_UNTRUSTED),
    ("other_name", "tls", TEXT_CERT_NAME_MISMATCH),
    ("expired", "starttls", TEXT_CERT_EXPIRED),
    ("not_a_ca", "tls", TEXT_CERT_ISSUER_NOT_A_CA),
], ids=["untrusted", "name_mismatch", "expired", "issuer_not_a_ca"])
def test_refused_certificate_keeps_the_file_and_sends_nothing(mail, tw, trusted, creds, kind,
                                                              mode, text):
    server = mail.scripted(presenting(trusted, kind, mode))
    creds.write(USER, PASSWORD)
    secure_settings(tw, server.port, mode, USER)
    queue_two(mail)
    result = mail.run()
    assert server.errors == []
    assert result.rc == 0
    assert len(result.boxes) == 1
    assert_box(result.boxes[0], text % (SERVER_NAME, QUEUE_TEXT), True)
    assert len(result.windows) == 1  # the window closed itself; the batch stopped
    assert mail.queued() == ["S1.txt", "S2.txt"]
    # After the handshake: no EHLO, no login, no QUIT, nothing in clear; at most an alert.
    assert server.reached.wait(30), "the client never closed the connection"
    assert set(tls_record_types(server.after)) <= {"alert"}, server.after[:64]
    assert server.peers[0].received == (["EHLO " + GREETING, "STARTTLS"]
                                        if mode == "starttls" else [])


@pytest.mark.parametrize("answer", ["revoked", "silent"])
def test_revocation_list_refuses_a_revoked_certificate_and_a_silent_one_delivers(
        mail, tw, trusted, smtpd, creds, answer):
    # The list comes over http from a server of the test's own; one that accepts and never
    # answers must not hold the message for longer than the program's bound (6 s: Wine 8.0
    # applies no time-out of its own to the fetch).
    crl = CrlServer(silent=answer == "silent")
    tw.on_cleanup(crl.stop)
    kind = "crl_" + answer
    crl.serve(trusted.with_crl_point(kind, crl.url(), revoked=answer == "revoked"))
    creds.write(USER, PASSWORD)
    mail.queue("S1.txt", message())
    if answer == "revoked":
        server = mail.scripted(presenting(trusted, kind, "starttls"))
        secure_settings(tw, server.port, "starttls", USER)
        result = mail.run()
        assert [path for path, _ in crl.requests] == [crl.path]
        assert len(result.boxes) == 1
        assert_box(result.boxes[0], TEXT_CERT_REVOKED % (SERVER_NAME, QUEUE_TEXT), True)
        assert mail.queued() == ["S1.txt"]
        assert server.reached.wait(30), "the client never closed the connection"
        assert set(tls_record_types(server.after)) <= {"alert"}, server.after[:64]
    else:
        server = smtpd("starttls", users={USER: PASSWORD}, cert=kind)
        secure_settings(tw, server.port, "starttls", USER)
        running = mail.start()
        # While the fetch hangs, the window's thread still takes its messages (a thread that
        # takes none for 5 s is one Windows marks "Not Responding").
        deadline = time.monotonic() + 30
        while not crl.requests and time.monotonic() < deadline:
            time.sleep(0.05)
        time.sleep(1)
        answers = tw.uidriver("answers", "Sending Email", "1000")
        result = running.wait()
        assert answers.returncode == 0, answers.stdout
        assert len(crl.requests) == 1
        assert result.boxes == [], result
        assert len(server.messages) == 1
        assert mail.queued() == []
        assert result.elapsed < 15, result
    assert result.rc == 0


# ------------------------------------------------------------------- the settings check

CHECK_FAILED = "The check of the mail settings failed.\n\n"


@pytest.mark.parametrize("case", ["passed", "wrong_password", "untrusted"])
def test_settings_check_logs_in_and_sends_nothing(mail, tw, trusted, smtpd, creds, case):
    """"/emailcheck" goes up to the login and QUIT in its own window, then says in one box
    what it found or what failed; never a MAIL FROM, and the queued file stays."""
    if case == "untrusted":
        server = mail.scripted(presenting(trusted, "unknown_ca", "starttls"))
    else:
        server = smtpd("starttls", users={USER: PASSWORD}, mechanisms=("PLAIN",),
                       size_limit=35 * 1024 * 1024)
    creds.write(USER, "not the password" if case == "wrong_password" else PASSWORD)
    secure_settings(tw, server.port, "starttls", USER)
    mail.queue("S1.txt", message())
    result = mail.run(args="/emailcheck", caption="Checking Email Setup")
    assert [b["caption"] for b in result.boxes] == ["Email Setup Check"], result
    box = result.boxes[0]
    assert box["owner"] == 0 and box["buttons"] == [1]
    assert len(result.windows) == 1
    statuses = result.windows[0]
    assert statuses[0].startswith("Connecting to: " + SERVER_NAME)
    if case == "passed":
        assert result.rc == 0
        assert box["icon"] == "information"
        assert box["text"] == (
            "Connected to localhost (127.0.0.1) port %d; TLS 1.2, certificate for localhost "
            "trusted; logged in as %s with PLAIN; the server takes messages up to 35 MB."
            % (server.port, USER))
        # The recorder polls: a step shown for a few milliseconds may go unseen, but what is
        # seen comes in the check's order and ends with its last step.
        steps = ["Starting TLS", "Logging in", "Checked: saying goodbye", "Settings checked"]
        assert_walk([s for s in statuses if s in steps], steps)
    else:
        assert result.rc == 1
        assert box["icon"] == "exclamation"
        if case == "wrong_password":
            assert box["text"] == (CHECK_FAILED + TEXT_AUTH_ERROR % (
                "535 5.7.8 Authentication credentials invalid\r") + ADVICE_PASSWORD)
        else:
            assert box["text"] == (CHECK_FAILED + "State=TLS. Error: the certificate of "
                                   "localhost is not trusted.\n")
            assert server.reached.wait(30), "the client never closed the connection"
            assert set(tls_record_types(server.after)) <= {"alert"}, server.after[:64]
    if case != "untrusted":
        assert server.verbs(tls=False) == ["EHLO", "STARTTLS"]
        # QUIT after a passed login; after a refusal nothing more, as in "/email".
        assert server.verbs(tls=True) == ["EHLO", "AUTH"] + (["QUIT"] if case == "passed"
                                                              else [])
        assert [(x["password"], x["tls"]) for x in server.logins] == [(
            b"not the password" if case == "wrong_password" else PASSWORD.encode(), True)]
        assert server.messages == []
    assert mail.queued() == ["S1.txt"]


# -------------------------------------------------------------- refused before connecting

@pytest.mark.parametrize("security,user,stored,text", [
    ("ssl", None, False, TEXT_UNKNOWN_SECURITY % "ssl"),
    (None, USER, True, TEXT_LOGIN_WITHOUT_TLS),
    ("starttls", USER, False, TEXT_NO_CREDENTIAL % USER),
], ids=["unknown_security", "login_without_tls", "no_credential"])
def test_settings_refused_before_any_connection(mail, tw, creds, security, user, stored, text):
    server = mail.scripted(lambda server, peer: peer.send("220 tls.test ESMTP\r\n"))
    if stored:
        creds.write(USER, PASSWORD)
    else:
        creds.delete()
    secure_settings(tw, server.port, security, user)
    queue_two(mail)
    result = mail.run()
    assert result.rc == 1
    assert len(result.boxes) == 1
    assert_box(result.boxes[0], text, False)
    assert result.windows == []
    assert server.peers == []
    assert mail.queued() == ["S1.txt", "S2.txt"]


# ------------------------------------------------------------------- one sender at a time

# Wine's short names are hashes ("Program Files" is PROG~FBU), so the other spelling is one of
# case and a "." step.
@pytest.mark.parametrize("second", [
    "/email", r"/email c:\program files\TILLWICK ORVENDA\.\email\*.txt"], ids=["same", "spelled"])
def test_two_runs_at_once_send_each_file_once(mail, tw, smtpd, creds, second):
    """A server slow to accept each message, so that the first run's batch is still going
    while the second starts, which names the queue folder its own way: one batch mutex for
    both, so one run sends every file while the other waits for it and then finds none."""
    server = smtpd("starttls", users={USER: PASSWORD}, data_delay=0.5)
    creds.write(USER, PASSWORD)
    secure_settings(tw, server.port, "starttls", USER)
    for i in (1, 2, 3, 4):
        mail.queue("S%d.txt" % i, message(to="<r%d@example.org>" % i))
    runs = [mail.start(timeout=60), mail.start(args=second, timeout=60)]
    deadline = time.monotonic() + 15
    together = False
    while not together and time.monotonic() < deadline:
        together = [p["exe"].lower() for p in tw.processes()].count("tillwick.exe") == 2
    assert together, "the two runs never ran at the same time"
    ended = [None, None]
    deadline = time.monotonic() + 60
    while None in ended and time.monotonic() < deadline:
        for i, run in enumerate(runs):
            if ended[i] is None and run.running.proc.poll() is not None:
                ended[i] = time.time()
        time.sleep(0.02)
    results = [run.wait() for run in runs]
    assert [r.rc for r in results] == [0, 0]
    assert merge_boxes(results) == []
    assert sorted(m["to"][0] for m in server.messages) == [
        "r1@example.org", "r2@example.org", "r3@example.org", "r4@example.org"]
    assert mail.queued() == []
    # Every window was one run's (each recorder sees them all); the other run ended after
    # the last message was in.
    windows = results[0].window_info
    assert len(windows) == 4 and len({w["pid"] for w in windows}) == 1, windows
    last_data = max(c["at"] for c in server.commands if c["verb"] == "DATA")
    assert min(ended) > last_data, (ended, last_data)
