"""Helpers of the sign-in and XOAUTH2 end-to-end tests: a mock identity server on
https://localhost (authorization code with PKCE, refresh tokens that rotate), the stand-in
browser that Wine's winebrowser runs, the mail server's side of AUTH XOAUTH2 the way Microsoft
and Google answer it (for SecureSmtpd), and a watch on the user's application data folder that
finds the token store the program writes."""
import base64
import hashlib
import http.server
import json
import os
import re
import secrets
import shutil
import threading
import time
import urllib.parse
from pathlib import Path
from types import SimpleNamespace

from tls_support import SERVER_NAME, serve_https

CLIENT_ID = "0b7e4c5a-7d1f-4c1e-9a53-5f2d8c6e1a94"
SCOPE = "https://outlook.office.com/SMTP.Send offline_access"
LOOPBACK_REDIRECT = re.compile(r"http://127\.0\.0\.1:(\d{1,5})/\Z")
BROWSER_KEY = r"HKCU\Software\Wine\WineBrowser"
STAND_IN_BROWSER = Path(__file__).resolve().parent / "stand_in_browser.py"


def b64url(data):
    return base64.urlsafe_b64encode(data).rstrip(b"=").decode("ascii")


def s256(verifier):
    """The PKCE code challenge of a verifier (method S256)."""
    return b64url(hashlib.sha256(verifier.encode("ascii")).digest())


def xoauth2_response(user, token):
    """The XOAUTH2 initial client response, before base64."""
    return b"user=%s\x01auth=Bearer %s\x01\x01" % (user.encode(), token.encode())


# ---------------------------------------------------------------- the identity server

class IdentityServer:
    """A mock identity server on https://localhost:PORT (the test CA's "localhost" certificate),
    threaded; every request is recorded in requests ({method, path, query, form, status,
    problems, at}); every check it failed also in problems.

    GET /authorize checks client_id, response_type=code, a loopback redirect_uri
    (http://127.0.0.1:PORT/), code_challenge_method=S256, a code_challenge and a state, and
    records login_hint and scope (authorizations). authorize_mode decides the 302 back to the
    redirect_uri: "code" (code, the same state, and a session_state as Microsoft adds),
    "access_denied", "wrong_state" (a code with another state) or "no_code". A request that
    fails a check gets a 400 page instead.

    POST /token (form): grant_type=authorization_code takes a code it issued once, with the same
    client_id and redirect_uri and the verifier of the challenge; grant_type=refresh_token takes
    the current refresh token of a grant, rotates it (the old one is refused with invalid_grant
    from then on) and records the scope sent. Every answer is in grants ({grant_type, form,
    status, response, at}). Tokens are as long as Microsoft's (about 1.7 KB and 1.1 KB); access
    tokens expire after expires_in seconds (read when issued). With id_token_email set, the
    answer to a code whose scope asks for "openid" carries an id_token (unsigned) naming that
    account, as "email" and "preferred_username". refuse_refresh makes every
    refresh an invalid_grant; stop() makes the server unreachable, resume() brings it back on
    the same port."""

    def __init__(self, certs, client_id=CLIENT_ID, client_secret=None, expires_in=3600):
        self.client_id = client_id
        self.client_secret = client_secret
        self.expires_in = expires_in
        self.id_token_email = None
        self.authorize_mode = "code"
        self.refuse_refresh = False
        self.requests = []
        self.problems = []
        self.authorizations = []
        self.grants = []
        self.errors = []
        self.access_tokens = {}  # every access token issued: {token: expiry (time.time())}
        self._codes = {}  # code -> its authorization, until redeemed
        self._refresh = set()  # refresh tokens that are current
        self._lock = threading.Lock()
        self._context = certs.server_context("localhost")
        self.port = 0
        self._server = None
        self.resume()

    @property
    def base(self):
        return "https://%s:%d" % (SERVER_NAME, self.port)

    @property
    def authorize_url(self):
        return self.base + "/authorize"

    @property
    def token_url(self):
        return self.base + "/token"

    # -- life
    def resume(self):
        self._server = serve_https(self._context, self._handle, self.errors, self.port)
        self.port = self._server.server_address[1]

    def stop(self):
        """Unreachable from now on: the port refuses connections."""
        if self._server is not None:
            self._server.shutdown()
            self._server.server_close()
            self._server = None

    # -- tokens
    def valid_access_token(self, token):
        expiry = self.access_tokens.get(token)
        return expiry is not None and expiry > time.time()

    def _new_tokens(self, scope):
        header = b64url(json.dumps({"typ": "JWT", "alg": "RS256"}).encode())
        payload = b64url(json.dumps({"aud": "https://outlook.office.com", "scp": scope,
                                     "nonce": secrets.token_hex(16),
                                     "pad": "x" * 900}).encode())
        access = "%s.%s.%s" % (header, payload, b64url(secrets.token_bytes(256)))
        refresh = "0.A" + b64url(secrets.token_bytes(820))
        self.access_tokens[access] = time.time() + self.expires_in
        self._refresh.add(refresh)
        return {"token_type": "Bearer", "scope": scope, "expires_in": self.expires_in,
                "ext_expires_in": self.expires_in, "access_token": access,
                "refresh_token": refresh}

    # -- requests
    def _handle(self, handler, method):
        parts = urllib.parse.urlsplit(handler.path)
        length = int(handler.headers.get("Content-Length") or 0)
        body = handler.rfile.read(length) if length else b""
        record = {"method": method, "path": parts.path, "at": time.time(), "problems": [],
                  "content_type": handler.headers.get("Content-Type"), "form": {}}
        record["query"] = self._pairs(parts.query, record)
        with self._lock:
            self.requests.append(record)
            if method == "GET" and parts.path == "/authorize":
                status, headers, payload = self._authorize(record)
            elif method == "POST" and parts.path == "/token":
                record["form"] = self._pairs(body.decode("utf-8", "replace"), record)
                status, headers, payload = self._token(record)
            else:
                status, headers, payload = 404, {"Content-Type": "text/plain"}, b"not found"
            record["status"] = status
            self.problems += [{"path": parts.path, "problem": p} for p in record["problems"]]
        handler.send_response(status)
        for name, value in headers.items():
            handler.send_header(name, value)
        handler.send_header("Content-Length", str(len(payload)))
        handler.end_headers()
        handler.wfile.write(payload)

    @staticmethod
    def _pairs(text, record):
        """Query or form fields as a dict; a name given twice is a problem."""
        fields = {}
        for name, value in urllib.parse.parse_qsl(text, keep_blank_values=True):
            if name in fields:
                record["problems"].append("%s given twice" % name)
            fields.setdefault(name, value)
        return fields

    def _authorize(self, record):
        q = record["query"]
        problems = record["problems"]
        if q.get("client_id") != self.client_id:
            problems.append("client_id %r" % q.get("client_id"))
        if q.get("response_type") != "code":
            problems.append("response_type %r" % q.get("response_type"))
        redirect = q.get("redirect_uri", "")
        if not LOOPBACK_REDIRECT.match(redirect):
            problems.append("redirect_uri %r is not http://127.0.0.1:PORT/" % redirect)
        if q.get("code_challenge_method") != "S256":
            problems.append("code_challenge_method %r" % q.get("code_challenge_method"))
        if not re.fullmatch(r"[A-Za-z0-9_-]{43}", q.get("code_challenge", "")):
            problems.append("code_challenge %r is no SHA-256 in base64url" %
                            q.get("code_challenge"))
        if not q.get("state"):
            problems.append("no state")
        if problems:
            return 400, {"Content-Type": "text/plain"}, ("\n".join(problems)).encode()
        state = q["state"]
        authorization = {"login_hint": q.get("login_hint"), "scope": q.get("scope"),
                         "state": state, "redirect_uri": redirect,
                         "code_challenge": q["code_challenge"], "prompt": q.get("prompt"),
                         "mode": self.authorize_mode}
        self.authorizations.append(authorization)
        code = "M." + b64url(secrets.token_bytes(48))
        back = {"code": [("code", code), ("state", state),
                         ("session_state", b64url(secrets.token_bytes(12)))],
                "access_denied": [("error", "access_denied"),
                                  ("error_description", "The user has denied access."),
                                  ("state", state)],
                "wrong_state": [("code", code), ("state", "x" + state[::-1])],
                "no_code": [("state", state)]}[self.authorize_mode]
        if any(name == "code" for name, _ in back):
            self._codes[code] = authorization
            authorization["code"] = code
        location = redirect + "?" + urllib.parse.urlencode(back)
        return 302, {"Location": location, "Content-Type": "text/html"}, b"<p>Redirecting</p>"

    def _token(self, record):
        form = record["form"]
        problems = record["problems"]
        grant = {"grant_type": form.get("grant_type"), "form": dict(form), "at": record["at"]}
        self.grants.append(grant)
        if not (record["content_type"] or "").startswith("application/x-www-form-urlencoded"):
            problems.append("Content-Type %r" % record["content_type"])
        if form.get("client_id") != self.client_id:
            problems.append("client_id %r" % form.get("client_id"))
        if self.client_secret is not None and form.get("client_secret") != self.client_secret:
            problems.append("client_secret %r" % form.get("client_secret"))
        refused = None
        if problems:
            refused = ("invalid_client", 401)
        elif form.get("grant_type") == "authorization_code":
            authorization = self._codes.pop(form.get("code", ""), None)
            verifier = form.get("code_verifier", "")
            if authorization is None:
                problems.append("code %r was not issued or was used" % form.get("code"))
                refused = ("invalid_grant", 400)
            elif form.get("redirect_uri") != authorization["redirect_uri"]:
                problems.append("redirect_uri %r, not %r" % (form.get("redirect_uri"),
                                                             authorization["redirect_uri"]))
                refused = ("invalid_grant", 400)
            elif not re.fullmatch(r"[A-Za-z0-9._~-]{43,128}", verifier) or \
                    s256(verifier) != authorization["code_challenge"]:
                problems.append("code_verifier %r does not match the challenge" % verifier)
                refused = ("invalid_grant", 400)
            else:
                grant["tokens"] = self._new_tokens(authorization["scope"] or "")
                if self.id_token_email and "openid" in (authorization["scope"] or "").split():
                    claims = {"aud": self.client_id, "email": self.id_token_email,
                              "preferred_username": self.id_token_email,
                              "iat": int(time.time())}
                    grant["tokens"]["id_token"] = "%s.%s.%s" % (
                        b64url(json.dumps({"typ": "JWT", "alg": "RS256"}).encode()),
                        b64url(json.dumps(claims).encode()), b64url(secrets.token_bytes(256)))
        elif form.get("grant_type") == "refresh_token":
            token = form.get("refresh_token", "")
            grant["scope"] = form.get("scope")
            if self.refuse_refresh or token not in self._refresh:
                refused = ("invalid_grant", 400)
            else:
                self._refresh.discard(token)
                grant["tokens"] = self._new_tokens(form.get("scope") or "")
        else:
            problems.append("grant_type %r" % form.get("grant_type"))
            refused = ("unsupported_grant_type", 400)
        if refused:
            error, status = refused
            # As Microsoft answers: the error, a description, and fields a client passes over.
            response = {"error": error,
                        "error_description": "AADSTS70000: The provided grant is not valid.",
                        "error_codes": [70000], "timestamp": "2026-01-05 09:14:02Z",
                        "trace_id": "5d1c0f3a-2b7e-4f50-9a61-3c8e2f9b0d11",
                        "correlation_id": "a7e4d2c1-96b8-4e0f-8c35-1f2a9b7d6e40"}
        else:
            status, response = 200, grant["tokens"]
        grant["status"], grant["response"] = status, response
        return status, {"Content-Type": "application/json; charset=utf-8",
                        "Cache-Control": "no-store"}, json.dumps(response).encode()

    # -- what the tests read
    def grants_of(self, grant_type):
        return [g for g in self.grants if g["grant_type"] == grant_type]

    def latest_tokens(self):
        """The tokens of the last grant that issued any."""
        issued = [g["tokens"] for g in self.grants if "tokens" in g]
        return issued[-1] if issued else None


# ---------------------------------------------------------------- the stand-in browser

VERIFIER = "dBjftJeZ4CVP-mJ92K1p1t9hWTmQ4QJ5nMf5cZk3EZq"


def authorize_query(redirect, state="st-1", verifier=VERIFIER, user="accounts@acme.test",
                    **changes):
    """The query of a sign-in URL as a client should send it; changes replace fields (None
    leaves one out)."""
    query = {"client_id": CLIENT_ID, "response_type": "code", "redirect_uri": redirect,
             "scope": SCOPE, "state": state, "code_challenge": s256(verifier),
             "code_challenge_method": "S256", "login_hint": user}
    query.update(changes)
    return urllib.parse.urlencode({k: v for k, v in query.items() if v is not None})


class Loopback:
    """What the program's loopback listener does, for proving the stand-in browser without the
    program: one page for the redirect, 404 for anything else; every request path kept."""

    def __init__(self):
        self.paths = []
        owner = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                owner.paths.append(self.path)
                found = self.path.startswith("/?")
                body = b"<p>You can close this window.</p>" if found else b"no"
                self.send_response(200 if found else 404)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.redirect = "http://127.0.0.1:%d/" % self.server.server_address[1]
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def stop(self):
        self.server.shutdown()
        self.server.server_close()


class StandInBrowser:
    """The stand-in browser: stand_in_browser.py copied into a folder of its own (give it a
    short path without blanks: winebrowser splits the "Browsers" value at commas and blanks and
    reads at most 255 characters of it), with the browser.json that configure() writes."""

    def __init__(self, folder):
        self.folder = Path(folder)
        self.folder.mkdir(parents=True, exist_ok=True)
        self.program = self.folder / "stand_in_browser.py"
        # Longer than 255 characters, the value is not read and winebrowser falls back to its
        # own list (xdg-open first); a blank or comma would split the path.
        assert len(str(self.program)) < 250 and not set(" ,\t\"") & set(str(self.program))
        shutil.copy2(STAND_IN_BROWSER, self.program)
        os.chmod(self.program, 0o755)
        self.certs = None
        self.log = None

    def configure(self, certs, mode, log):
        """The mode of its next runs (see stand_in_browser.py); records go to log."""
        self.certs, self.log = certs, Path(log)
        (self.folder / "browser.json").write_text(json.dumps(
            {"mode": mode, "ca": str(certs.ca_path), "log": str(self.log)}))

    def use(self, tw, certs, mode="follow"):
        """Makes it the prefix's browser for this test ("Browsers" is restored afterwards)."""
        self.configure(certs, mode, tw.testdir / ("browser-%d.log" % time.monotonic_ns()))
        tw.reg_set(BROWSER_KEY, "Browsers", str(self.program))

    def switch(self, mode):
        """Another mode for the next runs of this test."""
        self.configure(self.certs, mode, self.log)

    def records(self):
        try:
            text = self.log.read_text(encoding="utf-8")
        except FileNotFoundError:
            return []
        return [json.loads(line) for line in text.splitlines() if line.strip()]

    def wait(self, event="done", timeout=30):
        """The first record of this event, or None after timeout seconds."""
        deadline = time.monotonic() + timeout
        while True:
            found = [r for r in self.records() if r["event"] == event]
            if found or time.monotonic() > deadline:
                return found[0] if found else None
            time.sleep(0.05)


# -------------------------------------------------------------- the mail server's side

class Xoauth2:
    """AUTH XOAUTH2 for SecureSmtpd(xoauth2=...): takes the initial response on the AUTH line
    (or after an empty 334), decodes "user=U^Aauth=Bearer T^A^A" and asks check(user, token).
    A refusal is answered the way the provider does: style "microsoft" with "535 5.7.3
    Authentication unsuccessful", style "google" with a 334 carrying a base64 JSON error, then,
    whatever the client answers, a two-line 535 5.7.8. Each attempt is added to the server's
    logins: {mechanism, login, token, raw, initial, answer (the client's line after the 334
    challenge, or None), tls, ok, at}."""

    LINES = {
        "microsoft": ("235 2.7.0 Authentication successful",
                      "535 5.7.3 Authentication unsuccessful "
                      "[LO4P123CA0456.GBRP123.PROD.OUTLOOK.COM 2026-01-05T09:14:02.118Z]"),
        "google": ("235 2.7.0 Accepted",
                   "535-5.7.8 Username and Password not accepted. For more information, go to\r\n"
                   "535 5.7.8  https://support.google.com/mail/?p=BadCredentials "
                   "a640c23a62f3a-a8d25a0b1c2sm4711966b.93 - gsmtp"),
    }
    GOOGLE_CHALLENGE = {"status": "401", "schemes": "Bearer", "scope": "https://mail.google.com/"}

    def __init__(self, check, style="microsoft"):
        self.check = check
        self.style = style

    @property
    def refusal_line(self):
        """The last line of the refusal, as a client shows it."""
        return self.LINES[self.style][1].split("\r\n")[-1]

    async def authenticate(self, server, smtp, args, tls):
        from aiosmtpd.smtp import AuthResult

        reader = smtp._reader
        attempt = {"mechanism": "XOAUTH2", "login": None, "token": None, "raw": None,
                   "initial": len(args) > 1, "answer": None, "tls": tls, "ok": False,
                   "at": time.time()}
        server.logins.append(attempt)
        if len(args) > 1:
            encoded = args[1].encode("ascii", "replace")
        else:
            await smtp.push("334 ")
            encoded = (await reader.readline()).rstrip(b"\r\n")
        try:
            attempt["raw"] = base64.b64decode(encoded, validate=True)
        except ValueError:
            await smtp.push("501 5.5.2 Cannot decode response")
            return AuthResult(success=False, handled=True)
        found = re.fullmatch(rb"user=([^\x01]*)\x01auth=Bearer ([^\x01]+)\x01\x01",
                             attempt["raw"])
        if found:
            attempt["login"], attempt["token"] = found.group(1), found.group(2)
            attempt["ok"] = bool(self.check(found.group(1).decode("utf-8", "replace"),
                                            found.group(2).decode("ascii", "replace")))
        success, refusal = self.LINES[self.style]
        if attempt["ok"]:
            return AuthResult(success=True, message=success,
                              auth_data=SimpleNamespace(login=attempt["login"]))
        if self.style == "google":
            challenge = base64.b64encode(json.dumps(self.GOOGLE_CHALLENGE).encode()).decode()
            await smtp.push("334 " + challenge)
            attempt["answer"] = (await reader.readline()).rstrip(b"\r\n")
        return AuthResult(success=False, handled=False, message=refusal)


# ------------------------------------------------------------- the program's settings

def oauth_settings(tw, idp, smtp_port, user, scope=SCOPE):
    """Section "Email Setup" for XOAUTH2 over STARTTLS to localhost with the mock's URLs."""
    for key, value in (("SMTPServer", SERVER_NAME), ("SMTPPort", str(smtp_port)),
                       ("SMTPSecurity", "starttls"), ("SMTPUser", user),
                       ("SMTPAuth", "xoauth2"), ("OAuthProvider", "custom"),
                       ("OAuthClientId", idp.client_id),
                       ("OAuthAuthorizeURL", idp.authorize_url),
                       ("OAuthTokenURL", idp.token_url), ("OAuthScope", scope)):
        tw.ini_set("Email Setup", key, value)


# ---------------------------------------------------------------- the token store

class AppDataWatch:
    """The files under the prefix users' application data folders (AppData\\Roaming) as they
    were when made; changed() names those added or altered since. Whatever was added is
    removed after the test, so that no test finds tokens another one stored."""

    def __init__(self, tw):
        self.users = tw.session.drive_c / "users"
        self.before = self.snapshot()
        self.folders = {p for root in self._roots() for p in root.rglob("*") if p.is_dir()}
        tw.on_cleanup(self.remove_added)

    def _roots(self):
        return sorted(self.users.glob("*/AppData/Roaming"))

    def snapshot(self):
        files = {}
        for root in self._roots():
            for path in root.rglob("*"):
                if path.is_file() and not path.is_symlink():
                    files[path] = path.read_bytes()
        return files

    def changed(self, since=None):
        since = self.before if since is None else since
        return sorted(path for path, data in self.snapshot().items() if since.get(path) != data)

    def remove_added(self):
        for root in self._roots():
            for path in sorted(root.rglob("*"), key=lambda p: len(p.parts), reverse=True):
                if path.is_file() and path not in self.before:
                    path.unlink()
                elif path.is_dir() and path not in self.folders and not any(path.iterdir()):
                    path.rmdir()


def holds_in_clear(data, secret):
    """True when the bytes hold the secret as text: ASCII/UTF-8 or UTF-16LE, whole or its last
    64 characters (the random end of a token)."""
    piece = secret[-64:]
    return any(s.encode(enc) in data for s in (secret, piece) for enc in ("utf-8", "utf-16-le"))
