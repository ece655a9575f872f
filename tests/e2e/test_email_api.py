"""The mail APIs' way out under Wine: the HTTPS request on its worker thread (the program's own
seam, in the httppost tool) against the mock of Graph and Gmail on https://localhost: the body
written piece by piece with the window told of each, the answer with its Retry-After, Cancel
from the window's thread while the answer is awaited, and a certificate that is not trusted.
Then the program itself with MailAPI, signed in at the mock identity server: Graph delivering
two files (with the mail log), Gmail one with 8-bit text to every To, Cc and Bcc, a refused
token renewed once, a throttled post keeping both files, and "/emailcheck"."""
import base64
import json

import pytest

from api_mock import ApiMock
from conftest import TOOLS_DIR_WIN
from mail_support import QUEUE_TEXT, assert_box, assert_walk, message, transmitted
from oauth_support import AppDataWatch
from test_email_oauth import sign_in
from tls_support import mail_alone

MESSAGE = (b"From: <accounts@acme.test>\r\nTo: <bob@example.org>\r\nBcc: <c@example.net>\r\n"
           b"Subject: Invoice 1042\r\n\r\n" + b"0123456789 abcdefghijklmnopqrstuvwxyz\r\n" * 20000)


def post(tw, url, body, ctype, *options, timeout=120):
    """The tool's JSON lines for body POSTed to url with the token "good"."""
    path = tw.testdir / "body.bin"
    path.write_bytes(body)
    result = tw.wine([TOOLS_DIR_WIN + r"\httppost.exe", url, tw.win_path(path), ctype, "good"] +
                     list(options), timeout=timeout)
    assert result.returncode == 0, result.stderr
    return [json.loads(line) for line in result.stdout.decode().splitlines()]


@pytest.fixture
def mock(trusted):
    server = ApiMock(trusted, check=lambda token: token == "good")
    yield server
    server.stop()
    assert server.errors == []


def test_the_request_on_its_worker_posts_in_pieces_and_reads_the_answer(tw, mock):
    body = base64.b64encode(MESSAGE)
    (sent,) = post(tw, mock.graph_url, body, "text/plain")
    assert (sent["status"], sent["connected"], sent["bytesSent"]) == (202, True, len(body))
    # Once when the request's head is out, then after every piece of 256 KB.
    assert sent["progress"] == 1 + -(-len(body) // (256 * 1024))
    (delivered,) = mock.delivered()
    assert delivered["raw"] == MESSAGE and delivered["headers"]["content-length"] == str(len(body))
    assert delivered["message"]["Bcc"].addresses[0].addr_spec == "c@example.net"

    mock.answer(429, retry_after=7)
    (busy,) = post(tw, mock.gmail_url, MESSAGE, "message/rfc822")
    assert (busy["status"], busy["retryAfter"]) == (429, "7")
    assert json.loads(busy["body"])["error"]["errors"][0]["reason"] == "rateLimitExceeded"
    assert mock.problems == []


def test_cancel_ends_the_wait_for_the_answer_at_once(tw, mock):
    mock.delay = 20
    (cancelled,) = post(tw, mock.gmail_url, MESSAGE, "message/rfc822", "--cancel-after", "1500")
    assert (cancelled["status"], cancelled["error"]) == (0, 12017)
    assert cancelled["connected"] and cancelled["bytesSent"] == len(MESSAGE)
    assert 1500 <= cancelled["ms"] < 3000


def test_an_untrusted_certificate_sends_nothing(tw, trusted):
    stranger = ApiMock(trusted, kind="unknown_ca")
    try:
        (refused,) = post(tw, stranger.graph_url, b"x", "text/plain")
    finally:
        stranger.stop()
    assert (refused["status"], refused["connected"], refused["bytesSent"]) == (0, False, 0)
    # Windows says the certificate was refused (12175); Wine's WinHTTP that the secure
    # channel failed (12157), since its chain check runs inside the handshake.
    assert refused["error"] in (12157, 12175)
    assert stranger.requests == []


# ------------------------------------------------------------- "/email" with MailAPI

USER = "accounts@acme.test"
API_SCOPE = "https://graph.microsoft.com/Mail.Send offline_access openid email"
WAY_NAMES = {"graph": "Microsoft Graph", "gmail": "the Gmail API"}
SIGNED_IN = ("You are signed in as %s.\n\nTillwick Orvenda can now send e-mail for %s through "
             "%s.")
QUEUED = "\n\nThe email has been queued in " + QUEUE_TEXT + "\n"


@pytest.fixture
def api(tw, trusted, idp):
    """The mock of both APIs, taking the tokens the identity server issued."""
    server = ApiMock(trusted, check=idp.valid_access_token)
    tw.on_cleanup(server.stop)
    return server


@pytest.fixture
def signed_in(tw, trusted, idp, api, stand_in):
    """signed_in(way) signs in for MailAPI=way through the stand-in browser ("/emailsignin":
    its box names the account, no mail server is asked) and returns the test's Mail helper
    (also signed_in.mail, before any sign-in); the sign-in's store is removed after the
    test."""
    mail = mail_alone(tw)
    watch = AppDataWatch(tw)
    tw.on_cleanup(watch.remove_added)

    def sign_in_for(way):
        api_settings(tw, idp, api, way)
        stand_in.use(tw, trusted, "follow")
        result = sign_in(tw, stand_in, idp)
        assert result.rc == 0, result
        assert [(b["caption"], b["text"]) for b in result.boxes] == [
            ("Sign In", SIGNED_IN % (USER, USER, WAY_NAMES[way]))], result
        assert api.requests == []
        return mail
    sign_in_for.mail = mail
    return sign_in_for


def api_settings(tw, idp, api, way):
    """Section "Email Setup" for MailAPI=way posting to the mock, signing in at the identity
    server; no SMTP key at all."""
    for key, value in (("MailAPI", way), ("MailAPIURL", api.graph_url if way == "graph"
                                                       else api.gmail_url),
                       ("SMTPUser", USER), ("OAuthProvider", "custom"),
                       ("OAuthClientId", idp.client_id), ("OAuthAuthorizeURL", idp.authorize_url),
                       ("OAuthTokenURL", idp.token_url), ("OAuthScope", API_SCOPE)):
        tw.ini_set("Email Setup", key, value)


@pytest.mark.both_builds
def test_graph_delivers_two_files_and_logs_each_request(tw, api, idp, signed_in):
    mail = signed_in("graph")
    log_path = tw.testdir / "mail.log"
    tw.ini_set("Email Setup", "MailLog", tw.win_path(log_path))
    first = message(to="<first@example.org>", description="Invoice 1042 for Acme Ltd")
    second = message(to="<second@example.org>", cc="<copy@example.org>")
    mail.queue("S1.txt", first)
    mail.queue("S2.txt", second)
    sent = mail.run()
    assert (sent.rc, sent.boxes, mail.queued()) == (0, [], []), sent
    assert api.problems == [] and idp.problems == []
    token = idp.latest_tokens()["access_token"]
    delivered = api.delivered()
    assert [(r["status"], r["token"], r["headers"]["content-type"]) for r in delivered] == [
        (202, token, "text/plain")] * 2
    # The file without its description line; the second as it is.
    assert delivered[0]["raw"] == transmitted(first.split(b"\r\n", 1)[1])
    assert delivered[1]["raw"] == transmitted(second)
    for statuses in sent.windows:
        assert_walk(statuses, ["Connecting to: localhost", "Sending to: localhost",
                               "Waiting for localhost to answer", "Email Sent"])
    log = log_path.read_bytes().decode("ascii")
    posted = "> POST %s (the message: %d bytes, posted as %d bytes of base64)" % (
        api.graph_url, len(delivered[0]["raw"]), len(delivered[0]["body"]))
    assert posted in log and log.count("< HTTP 202") == 2, log
    assert token[-40:] not in log and delivered[1]["body"][-60:].decode() not in log


def test_gmail_delivers_eight_bit_text_to_every_to_cc_and_bcc(tw, api, idp, signed_in):
    mail = signed_in("gmail")
    data = ("Subject: Rechnung 1042\r\nFrom: Acme Ltd <accounts@acme.test>\r\n"
            "To: <bob@example.org>, Carol <carol@example.org>\r\nCc: <dave@example.org>\r\n"
            "Bcc: <erin@example.net>\r\n\r\nGrüße aus Köln, 12 €.\r\n").encode("cp1252")
    mail.queue("S1.txt", data)
    sent = mail.run()
    assert (sent.rc, sent.boxes, mail.queued()) == (0, [], []), sent
    [posted] = api.delivered()
    assert (posted["status"], posted["headers"]["content-type"]) == (200, "message/rfc822")
    assert posted["query"] == "uploadType=media" and api.problems == []
    message_read = posted["message"]
    recipients = sorted(a.addr_spec for field in ("To", "Cc", "Bcc")
                        for a in message_read[field].addresses)
    assert recipients == ["bob@example.org", "carol@example.org", "dave@example.org",
                          "erin@example.net"]
    # No other field names a recipient; the body is the 8-bit text, labelled.
    assert not [k for k in message_read.keys() if k.lower().startswith("resent-")]
    assert message_read.get_content().replace("\r\n", "\n") == "Grüße aus Köln, 12 €.\n"
    assert message_read["Content-Transfer-Encoding"] == "8bit"


def test_a_refused_token_is_renewed_once_and_the_message_posted_again(tw, api, idp, signed_in):
    mail = signed_in("graph")
    before = idp.latest_tokens()
    api.answer(401)
    mail.queue("S1.txt", message())
    sent = mail.run()
    assert (sent.rc, sent.boxes, mail.queued()) == (0, [], []), sent
    [renewal] = idp.grants_of("refresh_token")
    assert renewal["form"]["refresh_token"] == before["refresh_token"]
    assert [(r["status"], r["token"]) for r in api.requests] == [
        (401, before["access_token"]), (202, renewal["response"]["access_token"])]


def test_a_throttled_post_keeps_both_files_and_says_when_to_try_again(tw, api, signed_in):
    mail = signed_in("graph")
    log_path = tw.testdir / "mail.log"
    tw.ini_set("Email Setup", "MailLog", tw.win_path(log_path))
    api.answer(429, retry_after=30)
    mail.queue("S1.txt", message(to="<first@example.org>"))
    mail.queue("S2.txt", message(to="<second@example.org>"))
    sent = mail.run()
    assert sent.rc == 0
    [box] = sent.boxes
    assert_box(box, "localhost is busy and asks to try again in 30 seconds (HTTP status 429)."
               + QUEUED, owned_by_window=True)
    assert mail.queued() == ["S1.txt", "S2.txt"] and len(api.requests) == 1
    log = log_path.read_bytes().decode("ascii")
    assert ("< HTTP 429 ApplicationThrottled: Application is over its MailboxConcurrency "
            "limit. (Retry-After: 30)") in log, log


def test_emailcheck_with_mail_api_proves_the_sign_in_and_posts_nothing(tw, api, idp,
                                                                     signed_in):
    mail = signed_in.mail
    api_settings(tw, idp, api, "graph")
    mail.queue("S1.txt", message())
    unsigned = mail.run(args="/emailcheck", caption="Checking Email Setup")
    assert unsigned.rc == 1
    assert [b["text"] for b in unsigned.boxes] == [
        "Tillwick Orvenda is not signed in to send e-mail as %s.\n\nPlease run \"Tillwick.exe "
        "/emailsignin\" as this Windows user and sign in. No e-mail was sent." % USER]
    assert api.requests == []

    signed_in("graph")
    checked = mail.run(args="/emailcheck", caption="Checking Email Setup")
    assert checked.rc == 0
    assert [(b["caption"], b["text"]) for b in checked.boxes] == [
        ("Email Setup Check", "Signed in as %s to send through Microsoft Graph. Reached "
         "localhost over TLS, its certificate trusted. Nothing was sent." % USER)]
    # One GET of the host's root without a token; nothing posted, nothing dequeued.
    assert [(r["method"], r["path"], r["token"]) for r in api.requests] == [("GET", "/", None)]
    assert mail.queued() == ["S1.txt"]
