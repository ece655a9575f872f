"""The Email Setup window ("/emailsetup") under Wine, driven by control ids: "Find settings"
for a consumer domain and Cancel writing nothing; another mail server filled in, refused
while its port is wrong, tested, saved with every other line of the file kept, and a message
then delivered with the saved password; Sign in with Microsoft against the mock identity
server, then Test and Save; and "Find settings" through the system's DNS, answering at once
or not at all (a DNS server of the test's own in a network namespace)."""
import json
import socket
import struct
import tempfile
import threading
import time
from pathlib import Path

import pytest

import conftest
import netns_support
from api_mock import ApiMock
from mail_support import message
from oauth_support import AppDataWatch
from tls_support import SERVER_NAME, Credentials, SecureSmtpd, mail_alone

CAPTION = "Email Setup"
ADDRESS, FIND, STATUS = 1101, 1102, 1103
MICROSOFT, GOOGLE, OTHER = 1104, 1105, 1106
SERVER, PORT, SECURITY, USER, PASSWORD, NOTE = 1108, 1110, 1112, 1114, 1116, 1117
SIGN_IN, TEST, SAVE, CANCEL = 1118, 1119, 1, 2
SERVER_FIELDS = [1107, SERVER, 1109, PORT, 1111, SECURITY, 1113, USER, 1115, PASSWORD, NOTE]

LOGIN = "accounts@acme.test"
# Beyond the ANSI code page and beyond the BMP: only the window's UTF-16 read keeps it.
SECRET = "Grüße-€-🔑-Ωμέγα"

# Lines the window must leave as they are, byte for byte: the sign-in's registration, the
# log, a comment, and the host's own sections.
FOREIGN_HEAD = ("[Microsoft Access]\r\nhWnd=0\r\nInitialDir=C:\\Accounts\r\n"
                "[Email Setup]\r\nOAuthClientId=00000000-1111-2222-3333-444444444444\r\n"
                "; set by the administrator\r\nOAuthTenant=acme.test\r\n")
FOREIGN_TAIL = "MailLog=mail.log\r\n"


def form(tw, *actions):
    """Runs the UI driver's form on the Email Setup window: its reports, one per action."""
    result = tw.uidriver("form", CAPTION, *actions, timeout=60)
    assert result.returncode == 0, result
    return [json.loads(line) for line in result.stdout.decode("utf-8").splitlines() if line]


def controls(report):
    return {c["id"]: c for c in report["controls"]}


def start(tw):
    running = tw.start("/emailsetup", timeout=60)
    running.wait_window(CAPTION)
    return running


def test_find_settings_for_consumer_domains_then_cancel_writes_nothing(tw):
    tw.ini_write_raw(tw.ini_raw() + FOREIGN_HEAD + "SMTPServer=old.acme.test\r\nSMTPPort=25\r\n"
                     "SMTPUser=old@acme.test\r\n" + FOREIGN_TAIL)
    before = tw.ini_path().read_bytes()
    running = start(tw)
    opened, yahoo, yahoo_state, gmail, gmail_state, gone = form(
        tw, "state",
        "text=%d:someone@Yahoo.com" % ADDRESS, "click=%d" % FIND,
        "waittext=%d:Found:3000" % STATUS, "state",
        "text=%d:ann@googlemail.com" % ADDRESS, "click=%d" % FIND,
        "waittext=%d:Found the settings for googlemail.com:3000" % STATUS, "state",
        "click=%d" % CANCEL, "gone=5000")
    result = running.wait()

    # On opening: the current settings, another mail server, no stored password.
    c = controls(opened)
    assert [c[i]["checked"] for i in (MICROSOFT, GOOGLE, OTHER)] == [False, False, True]
    assert (c[ADDRESS]["text"], c[SERVER]["text"], c[PORT]["text"], c[USER]["text"]) == (
        "old@acme.test", "old.acme.test", "25", "old@acme.test")
    assert c[SECURITY]["selection"] == 2 and c[SECURITY]["text"] == "None"
    assert c[PASSWORD]["text"] == "" and c[NOTE]["text"] == ""
    assert all(c[i]["enabled"] for i in SERVER_FIELDS + [TEST]) and not c[SIGN_IN]["enabled"]

    assert yahoo["found"], yahoo
    assert yahoo["text"] == "Found the settings for yahoo.com: a well-known provider."
    c = controls(yahoo_state)
    assert c[OTHER]["checked"]
    assert (c[SERVER]["text"], c[PORT]["text"], c[SECURITY]["text"], c[USER]["text"]) == (
        "smtp.mail.yahoo.com", "465", "SSL/TLS", "someone@Yahoo.com")

    assert gmail["found"], gmail
    c = controls(gmail_state)
    assert [c[i]["checked"] for i in (MICROSOFT, GOOGLE, OTHER)] == [False, True, False]
    # Disabled, not hidden; the sign-in applies now.
    assert not any(c[i]["enabled"] for i in SERVER_FIELDS)
    assert c[SIGN_IN]["enabled"] and c[TEST]["enabled"]
    assert c[USER]["text"] == "ann@googlemail.com"

    assert gone["found"], gone
    assert result.rc == 1 and result.boxes == [], result
    assert tw.ini_path().read_bytes() == before
    print("find settings from the table: %d ms and %d ms to the line (window answered within "
          "%d ms)" % (yahoo["ms"], gmail["ms"], max(yahoo["slowest_ms"], gmail["slowest_ms"])))


@pytest.fixture
def creds(tw):
    return Credentials(tw)


def test_another_server_saved_then_a_message_goes_with_the_saved_password(tw, trusted, creds):
    mail = mail_alone(tw)
    server = SecureSmtpd(trusted, "starttls", users={LOGIN: SECRET})
    tw.on_cleanup(server.stop)
    tw.ini_write_raw(tw.ini_raw() + FOREIGN_HEAD + "SMTPAuth=xoauth2\r\nMailAPI=graph\r\n"
                     "OAuthProvider=microsoft\r\nSMTPUser=" + LOGIN + "\r\n" + FOREIGN_TAIL)
    before = tw.ini_raw()
    running = start(tw)
    reports = form(
        tw, "state", "click=%d" % OTHER,
        "text=%d:%s" % (SERVER, SERVER_NAME), "text=%d:0" % PORT, "select=%d:0" % SECURITY,
        "text=%d:%s" % (USER, LOGIN), "textw=%d:%s" % (PASSWORD, SECRET.encode("utf-16-le").hex()),
        "click=%d" % SAVE, "waitbox=5000", "nobox=5000",
        "text=%d:%d" % (PORT, server.port), "click=%d" % TEST, "waitbox=20000", "nobox=5000",
        "click=%d" % SAVE, "gone=5000")
    result = running.wait()
    opened, box, _, tested, _, gone = reports

    c = controls(opened)  # MailAPI=graph: Microsoft, the address from SMTPUser
    assert [c[i]["checked"] for i in (MICROSOFT, GOOGLE, OTHER)] == [True, False, False]
    assert c[ADDRESS]["text"] == LOGIN and not c[SERVER]["enabled"]
    # The wrong port: a box that names the field, and the window stays open.
    assert box["found"] and box["text"] == "Please enter a number from 1 to 65535 in Port."
    # Test, before anything is saved: the check of the window's values with the password
    # typed (none is stored yet), in its own window owned by this one, and its box.
    assert tested["found"] and tested["text"] == (
        "Connected to localhost (127.0.0.1) port %d; TLS 1.2, certificate for localhost trusted; "
        "logged in as %s with PLAIN." % (server.port, LOGIN)), tested
    assert [b["caption"] for b in result.boxes] == [CAPTION, "Email Setup Check"]
    assert result.boxes[1]["icon"] == "information" and result.boxes[1]["owner"] != 0
    assert gone["found"], reports
    assert result.rc == 0, result

    # SMTPAuth removed, MailAPI emptied, the new keys at the section's end; every other line
    # as it was, and the password nowhere in the file.
    head, tail = tw.ini_raw().split("MailAPI=\r\n")
    assert head == before.split("SMTPAuth=xoauth2\r\n")[0]
    assert tail == ("OAuthProvider=microsoft\r\nSMTPUser=%s\r\n%sSMTPServer=%s\r\n"
                    "SMTPPort=%d\r\nSMTPSecurity=starttls\r\n" % (
                        LOGIN, FOREIGN_TAIL, SERVER_NAME, server.port))

    data = message(to="<bob@example.org>")
    mail.queue("S1.txt", data)
    sent = mail.run()
    assert sent.rc == 0 and sent.boxes == [], sent
    assert [(x["login"], x["password"], x["ok"]) for x in server.logins] == [
        (LOGIN.encode(), SECRET.encode("utf-8"), True)] * 2  # the Test's, the message's
    assert len(server.messages) == 1 and mail.queued() == []


@pytest.fixture
def browser(tw, trusted, stand_in):
    """The stand-in browser as the prefix's browser for this test, following the sign-in."""
    stand_in.use(tw, trusted, "follow")
    return stand_in


def test_sign_in_with_microsoft_then_test_and_save(tw, trusted, idp, browser):
    """Sign in for the address in the window, for Graph, with the registration of the file;
    nothing saved but the tokens; Test proves the sign-in and reaches the API's host; Save
    writes the way."""
    api = ApiMock(trusted, check=idp.valid_access_token)
    tw.on_cleanup(api.stop)
    AppDataWatch(tw)  # what the sign-in stores is removed afterwards
    idp.id_token_email = LOGIN
    tw.ini_write_raw(tw.ini_raw() + "[Email Setup]\r\nOAuthClientId=%s\r\n"
                     "OAuthAuthorizeURL=%s\r\nOAuthTokenURL=%s\r\nSMTPServer=old.acme.test\r\n"
                     "MailAPIURL=%s\r\n"
                     % (idp.client_id, idp.authorize_url, idp.token_url, api.graph_url))
    before = tw.ini_raw()
    running = start(tw)
    signed_in, _, tested, _, gone = form(
        tw, "click=%d" % MICROSOFT, "text=%d:%s" % (ADDRESS, LOGIN), "click=%d" % SIGN_IN,
        "waitbox=45000", "nobox=5000", "click=%d" % TEST, "waitbox=20000", "nobox=5000",
        "click=%d" % SAVE, "gone=5000")
    result = running.wait()
    assert signed_in["found"] and signed_in["text"] == (
        "You are signed in as %s.\n\nPress Test to try the sign-in, and Save to send your mail "
        "this way." % LOGIN), (signed_in, idp.problems)
    assert tested["found"] and tested["text"] == (
        "Signed in as %s to send through Microsoft Graph. Reached localhost over TLS, its "
        "certificate trusted. Nothing was sent." % LOGIN), tested
    assert [(b["caption"], b["owner"] != 0) for b in result.boxes] == [
        ("Sign In", True), ("Email Setup Check", True)], result
    assert gone["found"] and result.rc == 0, result

    # Signed in for the address with Graph's scope; Test reached the API's host with one GET,
    # posting nothing.
    assert idp.problems == [] and api.problems == []
    [authorization] = idp.authorizations
    assert authorization["login_hint"] == LOGIN
    assert authorization["scope"] == "https://graph.microsoft.com/Mail.Send offline_access openid email"
    assert [(g["grant_type"], g["status"]) for g in idp.grants] == [("authorization_code", 200)]
    assert [(r["method"], r["path"]) for r in api.requests] == [("GET", "/")]
    # Only Save wrote: the way, the provider and the address, after the lines there were.
    assert tw.ini_raw() == before + ("MailAPI=graph\r\nOAuthProvider=microsoft\r\n"
                                     "SMTPUser=%s\r\n" % LOGIN)


# ------------------------------------------------- Find settings through the system's DNS

MX, SRV = 15, 33


class DnsServer:
    """A DNS server on UDP port 53 of address, inside a network namespace: answers the names
    in answers ({(name, type): [rdata fields]}: MX (preference, host), SRV (priority, weight,
    port, target)) at once, says NXDOMAIN for other names and never answers those in silent.
    questions: every (name, type) asked, in order."""

    def __init__(self, namespace, address):
        self.answers, self.silent, self.questions = {}, set(), []
        self.sock = namespace.run_inside(lambda: socket.socket(socket.AF_INET, socket.SOCK_DGRAM))
        self.sock.bind((address, 53))
        self.sock.settimeout(0.2)
        self.running = True
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    @staticmethod
    def _name(labels):
        out = b""
        for label in labels.rstrip(".").split("."):
            out += bytes([len(label)]) + label.encode()
        return out + b"\0"

    def _serve(self):
        while self.running:
            try:
                query, peer = self.sock.recvfrom(4096)
            except socket.timeout:
                continue
            except OSError:
                return
            pos, labels = 12, []
            while query[pos]:
                labels.append(query[pos + 1:pos + 1 + query[pos]].decode())
                pos += 1 + query[pos]
            qtype, = struct.unpack_from(">H", query, pos + 1)
            question = query[12:pos + 5]
            name = ".".join(labels).lower()
            self.questions.append((name, qtype))
            if name in self.silent:
                continue
            records = self.answers.get((name, qtype))
            rcode = 3 if records is None and not any(k[0] == name for k in self.answers) else 0
            answer = b""
            for r in records or []:
                if qtype == MX:
                    rdata = struct.pack(">H", r[0]) + self._name(r[1])
                else:
                    rdata = struct.pack(">HHH", r[0], r[1], r[2]) + self._name(r[3])
                answer += struct.pack(">HHHIH", 0xC00C, qtype, 1, 60, len(rdata)) + rdata
            # An OPT record closes every answer, as a server speaking EDNS sends it: Wine 8.0
            # refuses an answer whose last byte ends a name (DNS_ERROR_BAD_PACKET).
            opt = b"\0" + struct.pack(">HHIH", 41, 1232, 0, 0)
            header = query[:2] + struct.pack(">HHHHH", 0x8180 | rcode, 1, len(records or []), 0, 1)
            self.sock.sendto(header + question + answer + opt, peer)

    def stop(self):
        self.running = False
        self.thread.join()
        self.sock.close()


def first_nameserver():
    for line in open("/etc/resolv.conf"):
        parts = line.split()
        if len(parts) >= 2 and parts[0] == "nameserver" and "." in parts[1]:
            return parts[1]
    return "127.0.0.1"


@pytest.fixture
def dns(wine_session):
    """(tw, DnsServer): a Wine session inside a network namespace of its own whose resolver
    configuration's nameserver is the test's DnsServer."""
    reason = netns_support.unavailable()
    if reason is not None:
        pytest.skip("no network namespace: %s" % reason)
    namespace = netns_support.NetNamespace()
    session = server = tw = None
    try:
        address = first_nameserver()
        if address != "127.0.0.1":
            namespace._steps("-n", namespace.name, "addr", "add", address + "/32", "dev", "lo")
        server = DnsServer(namespace, address)
        session = netns_support.NamespacedWineSession(namespace, wine_session.display)
        session.start()
        tw = conftest.Tillwick(session, Path(tempfile.mkdtemp(prefix="dns", dir=session.workdir)))
        tw.reset_ini()
        yield tw, server
    finally:
        if tw is not None:
            tw.end_leftover_runs()
            tw.cleanup()
        if session is not None:
            session.stop()
        if server is not None:
            server.stop()
        namespace.delete()


def test_find_settings_through_dns_at_once_and_when_it_never_answers(dns):
    tw, server = dns
    server.answers = {
        ("acme.test", MX): [(20, "aspmx.l.google.com"), (10, "acme-test.mail.protection.outlook.com")],
        ("mailhost.test", MX): [(10, "mx.mailhost.test")],
        ("_submission._tcp.mailhost.test", SRV): [(0, 1, 587, "smtp.mailhost.test")],
    }
    server.silent = {"silent.test"}
    running = start(tw)
    microsoft, microsoft_state, srv, srv_state, looking, given_up, given_up_state, again, \
        gone = form(
        tw, "text=%d:ann@acme.test" % ADDRESS, "click=%d" % FIND,
        "waittext=%d:Found the settings for acme.test:3000" % STATUS, "state",
        "text=%d:ann@mailhost.test" % ADDRESS, "click=%d" % FIND,
        "waittext=%d:Found the settings for mailhost.test:3000" % STATUS, "state",
        "text=%d:ann@silent.test" % ADDRESS, "click=%d" % FIND,
        "waittext=%d:Looking:2000" % STATUS, "waittext=%d:did not answer:8000" % STATUS, "state",
        # Looking once more, and closed while it looks: the late answer finds nobody.
        "click=%d" % FIND, "waittext=%d:Looking:2000" % STATUS, "click=%d" % CANCEL, "gone=3000")
    closed = time.monotonic()
    result = running.wait()
    # Its end waits for no lookup (the resolver would take 10 s to give up).
    assert running.ended - closed < 2, (running.ended - closed)

    assert microsoft["found"] and microsoft["text"] == (
        "Found the settings for acme.test: its MX record acme-test.mail.protection.outlook.com "
        "is Microsoft 365."), microsoft
    assert controls(microsoft_state)[MICROSOFT]["checked"]
    assert srv["found"] and srv["text"] == (
        "Found the settings for mailhost.test: its _submission._tcp SRV record names "
        "smtp.mailhost.test port 587 (STARTTLS)."), srv
    c = controls(srv_state)
    assert c[OTHER]["checked"] and (c[SERVER]["text"], c[PORT]["text"], c[SECURITY]["text"]) == (
        "smtp.mailhost.test", "587", "STARTTLS")
    assert [q for q in server.questions if q[0].endswith("mailhost.test")][:3] == [
        ("mailhost.test", MX), ("_submissions._tcp.mailhost.test", SRV),
        ("_submission._tcp.mailhost.test", SRV)]

    assert looking["found"] and given_up["found"] and again["found"], (looking, given_up, again)
    assert 3900 <= given_up["ms"] <= 5000, given_up
    c = controls(given_up_state)
    assert c[OTHER]["checked"] and c[SERVER]["text"] == "" and c[FIND]["enabled"]
    # The window answered throughout; closed while looking, the program ends at once.
    assert given_up["slowest_ms"] < 500, given_up
    assert gone["found"] and gone["ms"] < 1000, gone
    assert result.rc == 1 and result.boxes == [], result
    print("find settings through DNS: MX %d ms, SRV %d ms, no answer given up after %d ms "
          "(slowest reply of the window meanwhile %d ms); closed while looking in %d ms" % (
              microsoft["ms"], srv["ms"], given_up["ms"], given_up["slowest_ms"], gone["ms"]))
