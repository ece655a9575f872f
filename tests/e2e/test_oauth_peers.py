"""The peers of the sign-in tests proven with Python's own clients, before any test leans on
them: the mock identity server (PKCE, one use per code, rotation, refusals, unreachable), the
stand-in browser run as winebrowser runs it, AUTH XOAUTH2 answered the way Microsoft and
Google answer it, and the mock of the Graph and Gmail sending APIs. No Wine program runs
here."""
import base64
import http.client
import json
import smtplib
import subprocess
import urllib.parse

import pytest

from api_mock import ApiMock
from oauth_support import (CLIENT_ID, SCOPE, VERIFIER, IdentityServer, Loopback,
                           StandInBrowser, Xoauth2, authorize_query, xoauth2_response)
from tls_support import SERVER_NAME, SecureSmtpd

USER = "accounts@acme.test"


@pytest.fixture
def idp(certs):
    server = IdentityServer(certs)
    yield server
    server.stop()


def call(certs, idp, method, url, form=None):
    """(status, Location or the JSON answer) of one request to the mock."""
    parts = urllib.parse.urlsplit(url)
    conn = http.client.HTTPSConnection(SERVER_NAME, idp.port, timeout=10,
                                       context=certs.client_context())
    body = urllib.parse.urlencode(form) if form is not None else None
    headers = {"Content-Type": "application/x-www-form-urlencoded"} if form is not None else {}
    conn.request(method, parts.path + ("?" + parts.query if parts.query else ""), body, headers)
    response = conn.getresponse()
    data = response.read()
    conn.close()
    if response.status == 302:
        return 302, response.getheader("Location")
    ctype = response.getheader("Content-Type") or ""
    return response.status, json.loads(data) if ctype.startswith("application/json") else data


def back(location):
    parts = urllib.parse.urlsplit(location)
    return parts.scheme + "://" + parts.netloc + parts.path, dict(urllib.parse.parse_qsl(
        parts.query))


def test_identity_server_checks_pkce_and_rotates_refresh_tokens(certs, idp):
    redirect = "http://127.0.0.1:50123/"
    get = lambda **changes: call(certs, idp, "GET", idp.authorize_url + "?" +  # noqa: E731
                                 authorize_query(redirect, **changes))
    exchange = lambda code, verifier=VERIFIER, uri=redirect: call(  # noqa: E731
        certs, idp, "POST", idp.token_url,
        {"grant_type": "authorization_code", "code": code, "redirect_uri": uri,
         "client_id": CLIENT_ID, "code_verifier": verifier})
    refresh = lambda token: call(  # noqa: E731
        certs, idp, "POST", idp.token_url, {"grant_type": "refresh_token", "refresh_token": token,
                                            "client_id": CLIENT_ID, "scope": SCOPE})

    # What a client must send: a loopback redirect, S256, a state, our client id.
    for changes in ({"redirect_uri": "http://localhost:50123/"},
                    {"code_challenge_method": "plain"}, {"state": None},
                    {"client_id": "someone-else"}):
        assert get(**changes)[0] == 400, changes
    assert len(idp.problems) == 4
    idp.problems.clear()

    status, location = get()
    assert status == 302
    where, fields = back(location)
    assert where == redirect and fields["state"] == "st-1" and "session_state" in fields
    assert idp.authorizations[-1]["login_hint"] == USER
    assert idp.authorizations[-1]["scope"] == SCOPE
    # A code is redeemed once, with its own verifier and redirect URI.
    assert exchange(fields["code"], verifier="x" * 43)[1]["error"] == "invalid_grant"
    code = back(get()[1])[1]["code"]
    assert exchange(code, uri="http://127.0.0.1:50124/")[1]["error"] == "invalid_grant"
    code = back(get()[1])[1]["code"]
    status, first = exchange(code)
    assert status == 200 and first["expires_in"] == 3600 and first["token_type"] == "Bearer"
    assert len(first["access_token"]) > 1500 and len(first["refresh_token"]) > 1000
    assert idp.valid_access_token(first["access_token"])
    assert exchange(code)[1]["error"] == "invalid_grant"
    assert len(idp.problems) == 3

    # The refresh token rotates; the old one is refused from then on.
    idp.expires_in = 60
    status, second = refresh(first["refresh_token"])
    assert status == 200 and second["expires_in"] == 60
    assert second["refresh_token"] != first["refresh_token"]
    assert idp.grants_of("refresh_token")[-1]["scope"] == SCOPE
    status, refused = refresh(first["refresh_token"])
    assert (status, refused["error"], refused["error_codes"]) == (400, "invalid_grant", [70000])
    idp.refuse_refresh = True
    assert refresh(second["refresh_token"])[1]["error"] == "invalid_grant"
    idp.refuse_refresh = False

    idp.stop()
    with pytest.raises(ConnectionRefusedError):
        refresh(second["refresh_token"])
    idp.resume()
    assert refresh(second["refresh_token"])[0] == 200

    # The ways back that a sign-in must not accept.
    for mode, expected in (("access_denied", {"error", "error_description", "state"}),
                           ("wrong_state", {"code", "state"}), ("no_code", {"state"})):
        idp.authorize_mode = mode
        fields = back(get(state="st-2")[1])[1]
        assert set(fields) == expected, mode
        assert (fields["state"] == "st-2") == (mode != "wrong_state")


@pytest.mark.parametrize("mode", ["follow", "favicon", "close"])
def test_stand_in_browser_follows_sign_in_to_the_loopback(certs, idp, tmp_path, mode):
    browser = StandInBrowser(tmp_path / "browser")
    browser.configure(certs, mode, tmp_path / "browser.log")
    loopback = Loopback()
    url = idp.authorize_url + "?" + authorize_query(loopback.redirect)
    try:
        # As winebrowser runs it: the program itself, the URL its only argument.
        subprocess.run([str(browser.program), url], timeout=60, check=True)
    finally:
        loopback.stop()
    opened, done = browser.records()
    assert opened["url"] == done["url"] == url
    if mode == "close":
        assert idp.requests == [] and loopback.paths == [] and "authorize" not in done
        return
    assert done["authorize"]["status"] == 302
    assert done["redirect"]["status"] == 200 and "close" in done["redirect"]["body"]
    sent_back = urllib.parse.urlsplit(done["authorize"]["location"]).query
    assert back(done["authorize"]["location"])[1]["code"] == idp.authorizations[0]["code"]
    assert loopback.paths[-1] == "/?" + sent_back
    assert loopback.paths[:-1] == (["/favicon.ico"] if mode == "favicon" else [])
    assert done.get("favicon", {}).get("status") == (404 if mode == "favicon" else None)


class XoauthClient:
    """smtplib's AUTH with a fixed initial response; answers a 334 challenge with an empty
    line, as a client of Google's must."""

    def __init__(self, user, token):
        self.response = xoauth2_response(user, token).decode()
        self.challenges = []

    def __call__(self, challenge=None):
        if challenge is None:
            return self.response
        self.challenges.append(challenge)
        return ""


@pytest.mark.parametrize("style", ["microsoft", "google"])
def test_xoauth2_peer_answers_like_the_provider(certs, style):
    token = "eyJ0eXAiOiJKV1Qi." + "A" * 1800  # as long as Microsoft's
    xoauth2 = Xoauth2(lambda user, got: (user, got) == (USER, token), style)
    server = SecureSmtpd(certs, "starttls", xoauth2=xoauth2, mechanisms=("LOGIN",))
    try:
        client = smtplib.SMTP(SERVER_NAME, server.port, timeout=10)
        client.ehlo("client.test")
        assert "auth" not in client.esmtp_features  # no login offered in clear
        client.starttls(context=certs.client_context())
        client.ehlo("client.test")
        assert client.esmtp_features["auth"].split() == ["LOGIN", "XOAUTH2"]
        wrong = XoauthClient(USER, "not-the-token")
        with pytest.raises(smtplib.SMTPAuthenticationError) as refused:
            client.auth("XOAUTH2", wrong)
        right = XoauthClient(USER, token)
        assert client.auth("XOAUTH2", right)[0] == 235
        client.sendmail("a@example.org", ["b@example.org"], b"Subject: x\r\n\r\nHello.\r\n")
        client.quit()
    finally:
        server.stop()
    assert refused.value.smtp_code == 535
    assert refused.value.smtp_error.decode().splitlines()[-1] == xoauth2.refusal_line[4:]
    if style == "google":
        assert json.loads(wrong.challenges[0]) == Xoauth2.GOOGLE_CHALLENGE
    else:
        assert wrong.challenges == []
    assert [(x["login"], x["token"], x["initial"], x["answer"], x["tls"], x["ok"])
            for x in server.logins] == [
        (USER.encode(), b"not-the-token", True, b"" if style == "google" else None, True, False),
        (USER.encode(), token.encode(), True, None, True, True)]
    assert server.verbs(tls=False) == ["EHLO", "STARTTLS"]
    auth_lines = [c["arg"] for c in server.commands if c["verb"] == "AUTH"]
    assert base64.b64decode(auth_lines[1].split()[1]) == xoauth2_response(USER, token)
    assert [(m["login"], m["tls"]) for m in server.messages] == [(USER.encode(), True)]


def test_api_mock_takes_mail_as_graph_and_gmail_do(certs):
    mock = ApiMock(certs, check=lambda token: token == "good")
    message = (b"From: <a@acme.test>\r\nTo: <b@example.org>\r\nBcc: <c@example.net>\r\n"
               b"Subject: x\r\n\r\nHello.\r\n")

    def post(url, body, ctype, token="good"):
        parts = urllib.parse.urlsplit(url)
        conn = http.client.HTTPSConnection(SERVER_NAME, mock.port, timeout=10,
                                           context=certs.client_context())
        conn.request("POST", parts.path + ("?" + parts.query if parts.query else ""), body,
                     {"Content-Type": ctype, "Authorization": "Bearer " + token})
        response = conn.getresponse()
        data = response.read()
        conn.close()
        return response.status, response.getheader("Retry-After"), \
            json.loads(data) if data else None

    try:
        graph = lambda body=base64.b64encode(message), **kw: post(  # noqa: E731
            mock.graph_url, body, kw.pop("ctype", "text/plain"), **kw)
        gmail = lambda body=message, **kw: post(  # noqa: E731
            mock.gmail_url, body, kw.pop("ctype", "message/rfc822"), **kw)
        assert graph() == (202, None, None)
        status, _, sent = gmail()
        assert status == 200 and sent["id"] and sent["labelIds"] == ["SENT"]
        # Both keep the message as it came, its Bcc too: the recipients are read from it.
        first, second = mock.delivered()
        assert first["raw"] == second["raw"] == message
        assert first["message"]["Bcc"].addresses[0].addr_spec == "c@example.net"
        assert [r["token"] for r in mock.requests] == ["good", "good"]

        status, _, refused = graph(token="stale")
        assert (status, refused["error"]["code"]) == (401, "InvalidAuthenticationToken")
        assert gmail(token="stale")[2]["error"]["status"] == "UNAUTHENTICATED"
        assert graph(body=b"not base64!")[0] == 400
        assert gmail(ctype="text/plain")[0] == 400
        mock.answer(429, retry_after=7)
        status, retry, busy = gmail()
        assert (status, retry, busy["error"]["errors"][0]["reason"]) == \
            (429, "7", "rateLimitExceeded")
        mock.answer(403)
        assert graph()[2]["error"]["code"] == "ErrorAccessDenied"
        mock.answer(403)
        assert gmail()[2]["error"]["errors"][0]["reason"] == "insufficientPermissions"
        mock.answer(413)
        assert graph()[0] == 413
        assert len(mock.delivered()) == 2
        assert [p["problem"] for p in mock.problems] == [
            "the body is not base64", "Content-Type 'text/plain', not message/rfc822"]
    finally:
        mock.stop()
    assert mock.errors == []
