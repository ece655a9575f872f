"""Sign-in with OAuth 2.0 and "/email" with AUTH XOAUTH2 under Wine: "/emailsignin" against a
mock identity server on https://localhost (the test CA in the prefix's ROOT store) with the
stand-in browser that Wine's winebrowser runs following the sign-in page to the program's
loopback listener; then deliveries over STARTTLS whose XOAUTH2 carries the token the identity
server issued, refreshed when near expiry; refusals of the refresh, of the sign-in and of the
token, the way Microsoft and Google word them; and the token store, found as the file the
sign-in adds under the user's application data folder. The sign-in proves itself at once with
the mail server: a token the server takes, and one it refuses (the sign-in then forgotten);
a refused token in a batch is renewed once before its refusal is shown.

The boxes that sum up a sign-in or a refusal are checked word for word; the others for what
they must name (the user, "/emailsignin")."""
import base64
import time
import urllib.parse

import pytest

from mail_support import message
from oauth_support import (SCOPE, AppDataWatch, Loopback, Xoauth2, authorize_query,
                           holds_in_clear, oauth_settings, xoauth2_response)
from tls_support import SecureSmtpd, mail_alone

USER = "accounts@acme.test"
SENT = "Email Sent"
# The sign-in's box when the mail server took the new token at once; the advice after a
# refused token.
TEXT_SIGNED_IN = (
    "You are signed in as %s.\n\nThe mail server localhost took the login for %s: Tillwick "
    "Orvenda can now send e-mail through this account.")
ADVICE_SIGN_IN = (
    "The server did not accept the sign-in: run \"Tillwick.exe /emailsignin\" again and sign "
    "in as the SMTPUser mailbox.")
# What each provider offers beside XOAUTH2 (Google offers more that aiosmtpd cannot take).
MECHANISMS = {"microsoft": ("LOGIN",), "google": ("LOGIN", "PLAIN")}


@pytest.fixture
def browser(tw, trusted, stand_in):
    """The stand-in browser as the prefix's browser for this test, following the sign-in."""
    stand_in.use(tw, trusted, "follow")
    return stand_in


@pytest.fixture
def mail(tw):
    return mail_alone(tw)


@pytest.fixture
def appdata(tw):
    """The user's application data folder as it was before the test."""
    return AppDataWatch(tw)


@pytest.fixture
def smtpd(tw, trusted, idp):
    """Starts a SecureSmtpd (STARTTLS) that takes XOAUTH2 in a provider's style; by default a
    token is good when the identity server issued it, it has not expired and the user is
    USER."""
    def start(style="microsoft", check=None):
        xoauth2 = Xoauth2(check or (lambda user, token: user == USER and
                                    idp.valid_access_token(token)), style)
        server = SecureSmtpd(trusted, "starttls", xoauth2=xoauth2,
                             mechanisms=MECHANISMS[style])
        tw.on_cleanup(server.stop)
        return server, xoauth2
    return start


def sign_in(tw, browser, idp):
    """Runs "/emailsignin" while the stand-in browser follows the sign-in page; returns the
    run's result. Fails at once, with what the identity server objected to, when the browser
    got no redirect back (the program would wait minutes for it)."""
    running = tw.start("/emailsignin", timeout=60)
    deadline = time.monotonic() + 45
    done = None
    while done is None and time.monotonic() < deadline:
        done = browser.wait("done", timeout=0)
        if done is None and running.proc.poll() is not None:
            done = browser.wait("done", timeout=2)
            assert done is not None, "the run ended without opening the browser: %r" % (
                running.wait(),)
        time.sleep(0.05)
    assert done is not None, "the browser was never opened: %r" % running.events()
    assert done["authorize"].get("status") == 302, (done["authorize"], idp.problems)
    return running.wait()


def finish_after_box(tw, running, timeout=30):
    """Waits for the run's first message box; if the sending window then still waits, presses
    its Cancel as the user would; returns the result."""
    deadline = time.monotonic() + timeout
    while not any(e.get("event") == "msgbox" for e in running.running.events()):
        if running.running.proc.poll() is not None or time.monotonic() > deadline:
            break
        time.sleep(0.05)
    tw.uidriver("click", "Sending Email", "1000", "--timeout", "2")
    return running.wait()


def queue_two(mail):
    mail.queue("S1.txt", message(to="<first@example.org>"))
    mail.queue("S2.txt", message(to="<second@example.org>"))


def quiet_smtp(mail):
    """A mail server that must never be reached: it records every connection."""
    return mail.scripted(lambda server, peer: peer.send("220 quiet.test ESMTP\r\n"))


# ---------------------------------------------------------- the browser hand-off itself

def test_shell_open_of_sign_in_url_reaches_the_stand_in_browser(tw, idp, browser):
    """What the program relies on under Wine: the shell's open of an https URL runs
    winebrowser, which runs the stand-in (from "Browsers"), which gets the URL unchanged,
    trusts the identity server and comes back to the loopback address."""
    loopback = Loopback()
    tw.on_cleanup(loopback.stop)
    url = idp.authorize_url + "?" + authorize_query(loopback.redirect, state="Zq-1_x~.")
    tw.wine(["rundll32", "url.dll,FileProtocolHandler", url], check=True)
    done = browser.wait("done")
    assert done is not None, "winebrowser did not run the stand-in"
    assert done["url"] == url
    assert done["authorize"]["status"] == 302 and idp.problems == []
    assert done["redirect"]["status"] == 200
    assert loopback.paths == ["/?" + urllib.parse.urlsplit(done["authorize"]["location"]).query]


# ---------------------------------------------------------------- sign-in, then delivery

def test_sign_in_then_starttls_delivery_carries_the_issued_token(tw, mail, idp, browser,
                                                                 appdata, smtpd):
    server, _ = smtpd("microsoft")
    oauth_settings(tw, idp, server.port, USER)
    result = sign_in(tw, browser, idp)
    assert result.rc == 0
    assert [(b["caption"], b["text"]) for b in result.boxes] == [
        ("Sign In", TEXT_SIGNED_IN % (USER, USER))], result
    # Authorization code with S256 PKCE, our client id, a loopback redirect; the code
    # exchanged once with its verifier (the mock refuses anything else and says so).
    assert idp.problems == []
    [authorization] = idp.authorizations
    assert (authorization["login_hint"], authorization["scope"]) == (USER, SCOPE)
    [grant] = idp.grants
    assert (grant["grant_type"], grant["status"]) == ("authorization_code", 200)
    tokens = grant["response"]
    redirect = browser.wait("done")["redirect"]
    assert redirect["status"] == 200 and redirect["body"].strip(), redirect
    # The store: one file, neither token in it as text.
    [store] = appdata.changed()
    for token in (tokens["access_token"], tokens["refresh_token"]):
        assert not holds_in_clear(store.read_bytes(), token)
    # The sign-in's check: up to the login with the new token, then QUIT; no transaction.
    assert server.verbs() == ["EHLO", "STARTTLS", "EHLO", "AUTH", "QUIT"]
    checked, logins = len(server.commands), len(server.logins)

    data = message(description="Invoice 1042 for Acme Ltd")
    mail.queue("I1042.txt", data)
    sent = mail.run()
    assert sent.rc == 0
    assert sent.boxes == [], sent
    assert sent.last_status == SENT
    commands = server.commands[checked:]
    assert [c["verb"] for c in commands if not c["tls"]] == ["EHLO", "STARTTLS"]
    inside = [c["verb"] for c in commands if c["tls"]]
    assert inside[0] == "EHLO" and inside.index("AUTH") < inside.index("MAIL")
    assert [(x["login"], x["token"], x["tls"], x["ok"]) for x in server.logins] == [
        (USER.encode(), tokens["access_token"].encode(), True, True)] * 2
    assert len(server.logins) == logins + 1
    # Nothing of the token ever in clear.
    encoded = base64.b64encode(xoauth2_response(USER, tokens["access_token"])).decode()
    assert not [c for c in server.commands if not c["tls"] and
                (encoded[-40:] in c["arg"] or tokens["access_token"][-40:] in c["arg"])]
    assert [(m["to"], m["tls"]) for m in server.messages] == [(["bob@example.org"], True)]
    assert idp.grants_of("refresh_token") == []  # a token good for an hour is used as it is
    assert mail.queued() == []


def test_token_near_expiry_is_refreshed_once_before_the_batch(tw, mail, idp, browser, appdata,
                                                              smtpd):
    idp.expires_in = 120  # under five minutes from the start: every token is near expiry
    stored_at_auth = []
    signed_in = {}  # the application data folder once the sign-in is over

    def check(user, token):
        if signed_in:
            stored_at_auth.append(appdata.changed(since=signed_in))
        return user == USER and idp.valid_access_token(token)
    server, _ = smtpd("microsoft", check)
    oauth_settings(tw, idp, server.port, USER)
    browser.switch("favicon")  # a request that is not the redirect comes first
    assert sign_in(tw, browser, idp).rc == 0
    assert browser.wait("done")["favicon"].get("status"), browser.records()
    # The sign-in's own check renewed its short-lived token already.
    renewals = len(idp.grants_of("refresh_token"))
    first = idp.latest_tokens()
    [store] = appdata.changed()
    signed_in.update(appdata.snapshot())
    checked, logins = len(server.commands), len(server.logins)

    queue_two(mail)
    sent = mail.run()
    assert sent.rc == 0
    assert sent.boxes == [], sent
    [refresh] = idp.grants_of("refresh_token")[renewals:]  # one for the batch, not per message
    assert refresh["form"]["refresh_token"] == first["refresh_token"]
    assert (refresh["status"], refresh["scope"]) == (200, SCOPE)
    second = refresh["response"]
    assert refresh["at"] < server.commands[checked]["at"]  # before anything connected
    assert stored_at_auth and stored_at_auth[0] == [store]  # the new tokens stored by then
    batch_logins = server.logins[logins:]
    assert batch_logins and {(x["token"], x["ok"]) for x in batch_logins} == {
        (second["access_token"].encode(), True)}
    assert len(server.messages) == 2 and mail.queued() == []
    for token in (second["access_token"], second["refresh_token"]):
        assert not holds_in_clear(store.read_bytes(), token)

    # The next batch refreshes with the rotated token: the first one is refused by now.
    mail.queue("S3.txt", message(to="<third@example.org>"))
    sent = mail.run()
    assert sent.rc == 0 and sent.boxes == [], sent
    refreshes = idp.grants_of("refresh_token")
    assert [(g["form"]["refresh_token"], g["status"]) for g in refreshes[renewals + 1:]] == [
        (second["refresh_token"], 200)]
    assert server.logins[-1]["token"] == refreshes[-1]["response"]["access_token"].encode()
    assert mail.queued() == []


@pytest.mark.parametrize("failure", ["invalid_grant", "unreachable"])
def test_refused_or_unreachable_refresh_connects_nothing(tw, mail, idp, browser, smtpd,
                                                         failure):
    # The sign-in's check goes to a working server; the batch to one that records every
    # connection.
    working, _ = smtpd("microsoft")
    oauth_settings(tw, idp, working.port, USER)
    idp.expires_in = 120
    assert sign_in(tw, browser, idp).rc == 0
    renewals = len(idp.grants_of("refresh_token"))
    server = quiet_smtp(mail)
    tw.ini_set("Email Setup", "SMTPPort", str(server.port))
    if failure == "invalid_grant":
        idp.refuse_refresh = True
    else:
        idp.stop()
    queue_two(mail)
    result = mail.run()
    assert result.rc == 1
    assert len(result.boxes) == 1, result
    assert server.peers == []
    assert mail.queued() == ["S1.txt", "S2.txt"]
    if failure == "invalid_grant":
        assert [g["status"] for g in idp.grants_of("refresh_token")[renewals:]] == [400]
        assert "/emailsignin" in result.boxes[0]["text"]
        return
    # Once the endpoint answers again, the kept files go out with the same sign-in.
    idp.resume()
    tw.ini_set("Email Setup", "SMTPPort", str(working.port))
    sent = mail.run()
    assert sent.rc == 0 and sent.boxes == [], sent
    assert [g["status"] for g in idp.grants_of("refresh_token")[renewals:]] == [200]
    assert len(working.messages) == 2 and mail.queued() == []


# ------------------------------------------------------------- sign-in that does not end well

def test_cancelled_sign_in_stores_nothing(tw, mail, idp, browser, appdata):
    browser.switch("close")  # the user closes the browser, then presses Cancel
    server = quiet_smtp(mail)
    oauth_settings(tw, idp, server.port, USER)
    running = tw.start("/emailsignin", timeout=60)
    assert browser.wait("opened") is not None, running.events()
    deadline = time.monotonic() + 20
    waiting = None
    while waiting is None and time.monotonic() < deadline:
        waiting = next((e for e in running.events() if e.get("event") == "dialog" and any(
            "sign in" in c["text"].lower() for c in e["controls"])), None)
        time.sleep(0.05)
    assert waiting is not None, "no window waiting for the sign-in: %r" % running.events()
    [cancel] = [c for c in waiting["controls"] if c["class"].lower() == "button" and
                c["text"].replace("&", "").lower() == "cancel"]
    pressed = time.monotonic()
    assert tw.uidriver("click", waiting["caption"], str(cancel["id"])).returncode == 0
    running.wait()
    assert time.monotonic() - pressed < 10
    assert idp.requests == [] and appdata.changed() == []

    mail.queue("S1.txt", message())
    after = mail.run()
    assert after.rc == 1
    assert len(after.boxes) == 1 and "/emailsignin" in after.boxes[0]["text"], after
    assert server.peers == [] and mail.queued() == ["S1.txt"]


@pytest.mark.parametrize("mode", ["access_denied", "wrong_state"])
def test_sign_in_refused_or_forged_stores_nothing(tw, idp, browser, appdata, mode):
    oauth_settings(tw, idp, 25, USER)
    idp.authorize_mode = mode
    result = sign_in(tw, browser, idp)
    assert len(result.boxes) == 1, result  # why not
    assert idp.grants == []  # the code of a wrong state is never exchanged
    assert appdata.changed() == []


# ------------------------------------------------------------------- the token refused

@pytest.mark.parametrize("style", ["microsoft", "google"])
def test_refused_token_shows_the_server_line_and_keeps_the_files(tw, mail, idp, browser,
                                                                  smtpd, style):
    """The server takes the sign-in's token at the sign-in's check, then refuses every token:
    the batch renews the token once and tries again; the second refusal is shown."""
    accepting = [True]
    server, xoauth2 = smtpd(style, check=lambda user, token: accepting[0])
    oauth_settings(tw, idp, server.port, USER)
    assert sign_in(tw, browser, idp).rc == 0
    token = idp.latest_tokens()["access_token"]
    accepting[0] = False
    logins = len(server.logins)
    queue_two(mail)
    result = finish_after_box(tw, mail.start())
    assert len(result.boxes) == 1, result
    assert result.boxes[0]["text"] == "State=AUTH. Error: %s\r\n\n%s\n" % (
        xoauth2.refusal_line, ADVICE_SIGN_IN)
    [renewal] = idp.grants_of("refresh_token")
    renewed = renewal["response"]["access_token"]
    assert [(x["token"], x["tls"]) for x in server.logins[logins:]] == [
        (token.encode(), True), (renewed.encode(), True)]
    if style == "google":  # each JSON challenge answered with nothing
        assert [x["answer"] for x in server.logins[logins:]] == [b"", b""]
    assert "MAIL" not in server.verbs() and server.messages == []
    assert mail.queued() == ["S1.txt", "S2.txt"]  # the batch stopped


def test_sign_in_whose_token_the_mail_server_refuses_is_forgotten(tw, mail, idp, browser,
                                                                  appdata, smtpd):
    """The provider signs in another account than SMTPUser (its id_token says which); the mail
    server refuses that token: the box names both accounts, and the stored sign-in is gone."""
    idp.id_token_email = "someone.else@acme.test"
    stored_at_auth = []

    def check(user, token):
        stored_at_auth.append(appdata.changed())
        return False
    server, xoauth2 = smtpd("microsoft", check)
    oauth_settings(tw, idp, server.port, USER, scope=SCOPE + " openid email")
    result = sign_in(tw, browser, idp)
    assert result.rc == 1
    assert [(b["caption"], b["text"]) for b in result.boxes] == [(
        "Sign In",
        "The provider signed you in as someone.else@acme.test, but the mail server localhost "
        "did not accept that sign-in for %s (SMTPUser):\n\nState=AUTH. Error: %s\r\n\n%s\n"
        "\nThe sign-in has been forgotten. Please run \"Tillwick.exe /emailsignin\" again and "
        "sign in as %s." % (USER, xoauth2.refusal_line, ADVICE_SIGN_IN, USER))], result
    assert len(stored_at_auth) == 1 and len(stored_at_auth[0]) == 1  # stored, then tried
    assert appdata.changed() == []  # and deleted
    assert idp.grants_of("refresh_token") == []  # no renewal at the sign-in
    assert "MAIL" not in server.verbs() and server.messages == []
