"""A mock of the two mail APIs on https://localhost (the test CA's "localhost" certificate), as
their documentation describes them:

- Microsoft Graph, POST /v1.0/me/sendMail with "Content-Type: text/plain" and the MIME message
  in base64 as the body: 202 Accepted with no body ("Send Outlook messages in MIME format");
  an error is {"error": {"code", "message", "innerError"}}.
- Gmail, POST /upload/gmail/v1/users/me/messages/send?uploadType=media with
  "Content-Type: message/rfc822" and the message as the body: 200 with the Message resource
  {"id", "threadId", "labelIds"}; an error is {"error": {"code", "message", "errors":
  [{"message", "domain", "reason"}], "status"}}.

Both take "Authorization: Bearer TOKEN" and ask check(token) whether it is good (401 when it is
not, with WWW-Authenticate as the providers send it). Answers can be scripted ahead: each entry
of script answers one request to a sending endpoint instead of the normal course (see answer()).
Every request is recorded in requests: {method, path, query, headers (lower-case names), body
(bytes), token, status, at, arrived and read (time.monotonic() once its head was in and once its
body was read: the mock's own clock of the upload), problems}, and for a message that came through, raw (the message's
bytes as delivered) and message (raw read by Python's email package; only its header block
while parse is off, as for timing); every check it failed is also in problems. Anything else
gets 404."""
import base64
import binascii
import email.parser
import email.policy
import json
import secrets
import socket
import threading
import time
import urllib.parse

from tls_support import SERVER_NAME, serve_https

GRAPH_PATH = "/v1.0/me/sendMail"
GMAIL_PATH = "/upload/gmail/v1/users/me/messages/send"

# What each API answers for a status, in its own form: (code, message, Gmail's status, reason).
GRAPH_ERRORS = {
    400: ("ErrorMimeContentInvalidBase64String", "Invalid base64 string for MIME content."),
    401: ("InvalidAuthenticationToken", "Access token has expired or is not yet valid."),
    403: ("ErrorAccessDenied", "Access is denied. Check credentials and try again."),
    413: ("ErrorRequestEntityTooLarge", "The request is larger than 4 MB."),
    429: ("ApplicationThrottled", "Application is over its MailboxConcurrency limit."),
    503: ("ServiceUnavailable", "Service is temporarily unavailable."),
}
GMAIL_ERRORS = {
    400: ("Invalid To header", "INVALID_ARGUMENT", "invalidArgument"),
    401: ("Request had invalid authentication credentials. Expected OAuth 2 access token, "
          "login cookie or other valid authentication credential.", "UNAUTHENTICATED",
          "authError"),
    403: ("Request had insufficient authentication scopes.", "PERMISSION_DENIED",
          "insufficientPermissions"),
    413: ("Request Entity Too Large", "FAILED_PRECONDITION", "uploadTooLarge"),
    429: ("Too many concurrent requests for user.", "RESOURCE_EXHAUSTED", "rateLimitExceeded"),
    503: ("The service is currently unavailable.", "UNAVAILABLE", "backendError"),
}


def graph_error(status, code=None, message=None):
    known = GRAPH_ERRORS.get(status, ("UnknownError", "An error occurred."))
    return {"error": {"code": code or known[0], "message": message or known[1],
                      "innerError": {"date": time.strftime("%Y-%m-%dT%H:%M:%S"),
                                     "request-id": secrets.token_hex(8),
                                     "client-request-id": secrets.token_hex(8)}}}


def gmail_error(status, reason=None, message=None):
    known = GMAIL_ERRORS.get(status, ("Internal error encountered.", "INTERNAL", "backendError"))
    text = message or known[0]
    return {"error": {"code": status, "message": text,
                      "errors": [{"message": text, "domain": "global",
                                  "reason": reason or known[2]}],
                      "status": known[1]}}


class ApiMock:
    """The mock, threaded, on https://localhost:PORT. graph_url and gmail_url are the two
    endpoints (MailAPIURL for the program). check(token) decides whether a bearer token is good
    (default: any). answer(status, ...) scripts the answer to the next request to a sending
    endpoint; delay holds every answer back that many seconds once the body is in; with
    close each answer ends its connection (every request then makes its own handshake); with
    quick_ack every piece of a body read is acknowledged at once, as a receiver that does not
    delay its acknowledgements (a client that leaves Nagle's rule on then waits for none);
    stop() ends it. kind is the certificate it presents (tls_support.Certificates)."""

    def __init__(self, certs, check=None, kind="localhost"):
        self.check = check or (lambda token: bool(token))
        self.parse = True
        self.delay = 0
        self.close = False
        self.quick_ack = False
        self.script = []
        self.requests = []
        self.problems = []
        self.errors = []
        self._lock = threading.Lock()
        self._server = serve_https(certs.server_context(kind), self._handle, self.errors)
        self.port = self._server.server_address[1]

    @property
    def base(self):
        return "https://%s:%d" % (SERVER_NAME, self.port)

    @property
    def graph_url(self):
        return self.base + GRAPH_PATH

    @property
    def gmail_url(self):
        return self.base + GMAIL_PATH + "?uploadType=media"

    def stop(self):
        self._server.shutdown()
        self._server.server_close()

    def answer(self, status, retry_after=None, code=None, message=None, reason=None):
        """The next request to a sending endpoint gets this status (with Retry-After when
        given) in the API's own error form, whatever its token and body."""
        self.script.append({"status": status, "retry_after": retry_after, "code": code,
                            "message": message, "reason": reason})

    def delivered(self):
        """The requests whose message was taken, in order."""
        return [r for r in self.requests if r["status"] in (200, 202)]

    # -- requests
    def _handle(self, handler, method):
        parts = urllib.parse.urlsplit(handler.path)
        length = int(handler.headers.get("Content-Length") or 0)
        arrived = time.monotonic()
        body = self._read_body(handler, length)
        read = time.monotonic()
        headers = {name.lower(): value for name, value in handler.headers.items()}
        auth = headers.get("authorization", "")
        record = {"method": method, "path": parts.path, "query": parts.query, "at": time.time(),
                  "arrived": arrived, "read": read,
                  "headers": headers, "body": body, "problems": [], "raw": None,
                  "message": None,
                  "token": auth[len("Bearer "):] if auth.startswith("Bearer ") else None}
        with self._lock:
            self.requests.append(record)
            if method == "POST" and parts.path == GRAPH_PATH:
                status, extra, payload = self._send(record, graph=True)
            elif method == "POST" and parts.path == GMAIL_PATH:
                status, extra, payload = self._send(record, graph=False)
            else:
                status, extra, payload = 404, {}, b""
            record["status"] = status
            self.problems += [{"path": parts.path, "problem": p} for p in record["problems"]]
        time.sleep(self.delay)
        handler.send_response(status)
        if payload:
            handler.send_header("Content-Type", "application/json; charset=utf-8")
        for name, value in extra.items():
            handler.send_header(name, value)
        handler.send_header("Content-Length", str(len(payload)))
        if self.close:
            handler.send_header("Connection", "close")
            handler.close_connection = True
        handler.end_headers()
        handler.wfile.write(payload)

    def _read_body(self, handler, length):
        if not self.quick_ack:
            return handler.rfile.read(length) if length else b""
        pieces, got = [], 0
        while got < length:
            handler.connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_QUICKACK, 1)
            piece = handler.rfile.read1(min(length - got, 1 << 20))
            if not piece:
                break
            pieces.append(piece)
            got += len(piece)
        return b"".join(pieces)

    def _error(self, graph, status, code=None, message=None, reason=None):
        body = graph_error(status, code, message) if graph else gmail_error(status, reason,
                                                                            message)
        return json.dumps(body).encode()

    def _send(self, record, graph):
        """(status, extra headers, body) for a sending request, as the API answers."""
        problems = record["problems"]
        if self.script:
            s = self.script.pop(0)
            extra = {"Retry-After": str(s["retry_after"])} if s["retry_after"] is not None else {}
            if s["status"] == 401:
                extra["WWW-Authenticate"] = 'Bearer realm=""'
            return s["status"], extra, self._error(graph, s["status"], s["code"], s["message"],
                                                   s["reason"])
        if graph and record["query"]:
            problems.append("query %r" % record["query"])
        if not graph and urllib.parse.parse_qs(record["query"]) != {"uploadType": ["media"]}:
            problems.append("query %r is not uploadType=media" % record["query"])
        if record["token"] is None or not self.check(record["token"]):
            unauthorized = {"WWW-Authenticate": 'Bearer realm=""'}
            return 401, unauthorized, self._error(graph, 401)
        ctype = (record["headers"].get("content-type") or "").split(";")[0].strip().lower()
        wanted = "text/plain" if graph else "message/rfc822"
        if ctype != wanted:
            problems.append("Content-Type %r, not %s" % (record["headers"].get("content-type"),
                                                         wanted))
            return 400, {}, self._error(graph, 400, message="Unsupported Content-Type")
        raw = record["body"]
        if graph:
            try:
                raw = base64.b64decode(raw, validate=True)
            except (binascii.Error, ValueError):
                problems.append("the body is not base64")
                return 400, {}, self._error(graph, 400)
        record["raw"] = raw
        record["message"] = email.parser.BytesParser(policy=email.policy.default).parsebytes(
            raw, headersonly=not self.parse)
        if not record["message"]["To"]:
            problems.append("no To field")
            return 400, {}, self._error(graph, 400, message="At least one recipient is "
                                        "required, but none were found.")
        if graph:
            return 202, {}, b""
        message_id = "%016x" % secrets.randbits(64)
        return 200, {}, json.dumps({"id": message_id, "threadId": message_id,
                                    "labelIds": ["SENT"]}).encode()
