"""Queued e-mail under Wine against what real servers check: Postfix's own smtpd with strict
settings (HELO required and a valid host name, RFC 821 envelopes) takes a recipient written
with a display name, a sender with a plus sign, address lists, an empty group and a Bcc that
is never sent; and the mail log of a STARTTLS delivery
with AUTH PLAIN shows the exchange, the certificate and the outcome, and no password.

The Postfix instance is proven first with Python's own client."""
import base64
import datetime
import re
import smtplib

import pytest

from fault_peers import PrivatePostfix
from mail_support import Mail, message, transmitted
from tls_support import Certificates, Credentials, SecureSmtpd, secure_settings, trust_test_ca

SENT = "Email Sent"


@pytest.fixture
def mail(tw):
    return Mail(tw)


@pytest.fixture
def postfix(tw):
    server = PrivatePostfix()
    tw.on_cleanup(server.stop)
    return server


# ----------------------------------------------------------------- Postfix's own smtpd

def test_strict_postfix_with_python_client():
    server = PrivatePostfix()
    try:
        client = smtplib.SMTP("127.0.0.1", server.port, timeout=10)
        assert client.docmd("MAIL", "FROM:<a@example.org>")[0] == 503  # HELO first
        client.helo("sales+invoices.example.com")
        client.mail("sales+invoices@example.com")
        # The HELO name is judged at the first recipient.
        assert client.rcpt("joe@example.com") == (
            501, b"5.5.2 <sales+invoices.example.com>: Helo command rejected: Invalid name")
        client.rset()
        client.helo("sales-invoices.example.com")
        client.mail("sales+invoices@example.com")
        assert client.docmd("RCPT", "TO:<Joe Bloggs <joe@example.com>>") == (
            501, b"5.1.3 Bad recipient address syntax")
        assert client.rcpt("joe@example.com")[0] == 250
        assert client.data(b"Subject: x\r\nBcc: <c@example.com>\r\n\r\nHello.\r\n")[0] == 250
        client.quit()
        got = server.messages(1)
    finally:
        server.stop()
    assert [(m["from"], m["to"]) for m in got] == [("sales+invoices@example.com",
                                                    ["joe@example.com"])]
    assert got[0]["data"].startswith(b"Received: from sales-invoices.example.com ")
    # Every field arrives, a Bcc too.
    assert got[0]["data"].endswith(b"\r\nSubject: x\r\nBcc: <c@example.com>\r\n\r\nHello.\r\n")


def test_display_names_and_a_plus_sign_pass_strict_postfix(mail, postfix):
    data = message(to="Joe Bloggs <joe@example.com>", cc="Ann Other <ann@example.com>",
                   sender="Sales <sales+invoices@example.com>")
    mail.queue("S1.txt", data)
    result = mail.run(postfix.port, timeout=20)
    assert result.boxes == [], (result, postfix.maillog()[-3000:])
    assert result.last_status == SENT
    got = postfix.messages(1)
    assert [(m["from"], sorted(m["to"])) for m in got] == [
        ("sales+invoices@example.com", ["ann@example.com", "joe@example.com"])]
    # The greeting name: the sender with "@" as "." and "+" as "-".
    assert got[0]["data"].startswith(b"Received: from sales-invoices.example.com ")
    assert transmitted(data) in got[0]["data"]
    assert mail.queued() == []


def test_address_lists_and_bcc_pass_strict_postfix(mail, postfix):
    """Two recipients in one To field, a group with no one in it, and a Bcc: one RCPT TO each
    that Postfix's strict envelope check takes; the Bcc field never sent (this Postfix drops
    no field itself), and the list written with ";" sent with "," as RFC 5322 has it."""
    data = (b"Subject: Statement\r\n"
            b"To: Joe Bloggs <joe@example.com>; ann@example.com\r\n"
            b"Cc: undisclosed-recipients:;\r\n"
            b"Bcc: Hidden Copy <hidden@example.com>\r\n"
            b"From: Sales <sales@example.com>\r\n"
            b"Date: Tue, 08 Dec 2026 14:05:09 +0100\r\nMessage-ID: <m2@example.com>\r\n"
            b"\r\nYour statement.\r\n")
    mail.queue("S1.txt", data)
    result = mail.run(postfix.port, timeout=20)
    assert result.boxes == [], (result, postfix.maillog()[-3000:])
    [got] = postfix.messages(1)
    assert (got["from"], sorted(got["to"])) == (
        "sales@example.com", ["ann@example.com", "hidden@example.com", "joe@example.com"])
    assert b"hidden" not in got["data"].lower() and b"\nbcc:" not in got["data"].lower()
    sent = transmitted(data).replace(b"Bcc: Hidden Copy <hidden@example.com>\r\n", b"")
    assert sent.replace(b"<joe@example.com>; ann", b"<joe@example.com>, ann") in got["data"]
    assert mail.queued() == []


# ---------------------------------------------------------------------------- mail log

USER = "accounts@acme.test"
# A long run of ASCII: any copy of the password in the log shows it, however the rest of it
# was escaped. Then letters beyond Latin-1 and beyond the BMP.
PASSWORD = "Quokka-Saffron-8817-Grüße-€-🔑"
BODY = "Private body text 7Q4Z: not for the log.\r\n"


@pytest.fixture(scope="module")
def trusted(wine_session, tmp_path_factory):
    certs = Certificates(tmp_path_factory.mktemp("tls"))
    trust_test_ca(wine_session, certs)
    return certs


def secret_forms(user, password, wire):
    """The password in the forms the log must never hold: base64 of the AUTH PLAIN payload
    and of the password alone (as AUTH LOGIN sends it), and whatever went on the wire after
    "AUTH"; the text itself is looked for by pattern (see leaks_password)."""
    raw = password.encode("utf-8")
    payload = b"\0" + user.encode() + b"\0" + raw
    return [base64.b64encode(payload), base64.b64encode(raw)] + [w.encode() for w in wire]


def leaks_password(raw):
    """True when the password's first letters are in the log, in UTF-8 or UTF-16, escaped or
    not: each followed by at most six bytes of anything before the next."""
    letters = PASSWORD[:14].encode()
    return re.search(b".{0,6}".join(re.escape(bytes([c])) for c in letters), raw) is not None


def expiry_forms(when):
    """The date in the forms a log may write it, a day either way for the time zone."""
    forms = []
    for shift in (-1, 0, 1):
        d = when + datetime.timedelta(days=shift)
        forms += [d.strftime(f) for f in ("%Y-%m-%d", "%d/%m/%Y", "%m/%d/%Y", "%Y%m%d",
                                          "%b %d %Y", "%d %b %Y")]
        forms += ["%d-%d-%d" % (d.year, d.month, d.day),
                  "%s %d %d" % (d.strftime("%b"), d.day, d.year)]
    return forms


def test_mail_log_of_a_starttls_delivery_with_auth_plain(mail, tw, trusted):
    from cryptography import x509

    server = SecureSmtpd(trusted, "starttls", users={USER: PASSWORD}, mechanisms=("PLAIN",))
    tw.on_cleanup(server.stop)
    Credentials(tw).write(USER, PASSWORD)
    secure_settings(tw, server.port, "starttls", USER)
    tw.ini_set("Email Setup", "MailLog", "mail.log")  # taken from the program's folder
    log_path = tw.progdir_unix / "mail.log"
    tw.on_cleanup(lambda: log_path.unlink(missing_ok=True))
    mail.queue("I1042.txt", message(description="Invoice 1042 for Acme Ltd", body=BODY))
    result = mail.run(timeout=20)
    assert result.boxes == [] and result.last_status == SENT, result
    assert len(server.messages) == 1 and mail.queued() == []

    raw = log_path.read_bytes()
    assert all(32 <= b < 127 or b in b"\r\n\t" for b in raw), raw  # all else escaped
    text = raw.decode("ascii")
    lines = text.splitlines()
    # Where, how and what; every line sent and received.
    for part in ("localhost", str(server.port), "I1042.txt", "EHLO accounts.acme.test",
                 "STARTTLS", "220 Ready to start TLS", "235 2.7.0 Authentication successful",
                 "MAIL FROM:<accounts@acme.test>", "RCPT TO:<bob@example.org>",
                 "354 End data with", "250 2.0.0 Ok: queued", "QUIT", "221 Bye"):
        assert part in text, part
    # TLS: the protocol and cipher, the certificate's subject, issuer and expiry, the verdict.
    assert re.search(r"TLS ?v?1[._]2", text)
    assert "AES" in text.upper()
    cert = x509.load_pem_x509_certificate(trusted.paths["localhost"][0].read_bytes())
    # The subject is CN=localhost, O=Tillwick Tests; the issuer CN=Tillwick Test CA.
    assert [l for l in lines if "localhost" in l and ("subject" in l.lower() or
                                                      "Tillwick Tests" in l)], text
    assert "Tillwick Test CA" in text
    assert any(form in text for form in expiry_forms(cert.not_valid_after)), text
    assert re.search(r"(?i)\b(trusted|verified|valid|accepted|passed)\b", text)
    # What the message got before it went out: a dated ASCII file, nothing.
    assert re.search(r"(?m) ms \* nothing added\r?$", text), text
    # How the message and the batch ended.
    assert re.search(r"(?i)delivered", text) and re.search(r"(?i)deleted", text)
    assert re.search(r"(?i)batch", text)
    # No secret, no message text.
    assert re.search(r"AUTH (PLAIN )?<hidden>", text)
    wire = [c["arg"].split(" ", 1)[-1] for c in server.commands if c["verb"] == "AUTH"]
    assert leaks_password(PASSWORD.encode("utf-16-le"))  # the pattern finds what it should
    assert wire and not leaks_password(raw)
    for form in secret_forms(USER, PASSWORD, wire):
        assert form not in raw, form
    assert "7Q4Z" not in text and "Subject: Invoice 1042" not in text
