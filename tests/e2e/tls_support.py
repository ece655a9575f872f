"""Helpers of the secure-submission end-to-end tests: a test CA and server certificates made
once per session, SMTP peers on loopback that speak TLS (aiosmtpd with STARTTLS or TLS from the
first byte and a login, a scripted server's side of TLS that keeps every raw byte the client
sends after the handshake, a lean threaded server for the figures), and the prefix's side: the
CA put into the CurrentUser ROOT store and the mail login's password into the Credential
Manager, through the certtool and credtool test programs."""
import asyncio
import collections
import datetime
import socket
import ssl
import threading
import time
from pathlib import Path

from conftest import TOOLS_DIR_WIN
from mail_support import Mail, free_port

SERVER_NAME = "localhost"  # Wine's crypt32 matches no IP address in a certificate
CREDENTIAL_TARGET = "Tillwick Orvenda SMTP"


# ------------------------------------------------------------------------- certificates

class Certificates:
    """A test CA and five server certificates, as PEM files in a folder:
    "localhost" (DNS:localhost, signed by the CA), "other_name" (DNS:mail.example.net, signed by
    the CA), "expired" (DNS:localhost, signed by the CA, valid until 30 days ago),
    "unknown_ca" (DNS:localhost, signed by a second CA that nobody trusts) and "not_a_ca"
    (DNS:localhost, signed by a server certificate of the CA, which the file holds too: basic
    constraints broken). with_crl_point()
    adds one that names a revocation list, and makes the list."""

    KINDS = ("localhost", "other_name", "expired", "unknown_ca", "not_a_ca")

    def __init__(self, folder):
        from cryptography import x509
        from cryptography.hazmat.primitives import hashes, serialization
        from cryptography.hazmat.primitives.asymmetric import rsa
        from cryptography.x509.oid import ExtendedKeyUsageOID, NameOID

        self.folder = Path(folder)
        self.folder.mkdir(parents=True, exist_ok=True)
        now = datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0)
        day = datetime.timedelta(days=1)

        def key():
            return rsa.generate_private_key(public_exponent=65537, key_size=2048)

        def name(common):
            return x509.Name([x509.NameAttribute(NameOID.ORGANIZATION_NAME, "Tillwick Tests"),
                              x509.NameAttribute(NameOID.COMMON_NAME, common)])

        def ca(common):
            private = key()
            cert = (x509.CertificateBuilder()
                    .subject_name(name(common)).issuer_name(name(common))
                    .public_key(private.public_key())
                    .serial_number(x509.random_serial_number())
                    .not_valid_before(now - 400 * day).not_valid_after(now + 3650 * day)
                    .add_extension(x509.BasicConstraints(ca=True, path_length=0), critical=True)
                    .add_extension(x509.KeyUsage(digital_signature=True, content_commitment=False,
                                                 key_encipherment=False, data_encipherment=False,
                                                 key_agreement=False, key_cert_sign=True,
                                                 crl_sign=True, encipher_only=False,
                                                 decipher_only=False), critical=True)
                    .add_extension(x509.SubjectKeyIdentifier.from_public_key(
                        private.public_key()), critical=False)
                    .sign(private, hashes.SHA256()))
            return private, cert

        def leaf(dns, issuer_key, issuer_cert, not_before, not_after, crl_url=None,
                 issuer=False):
            """issuer: made to sign another (its key identified, no key usage to forbid
            that), so that only its basic constraints make it no CA."""
            private = key()
            builder = x509.CertificateBuilder()
            if issuer:
                builder = builder.add_extension(x509.SubjectKeyIdentifier.from_public_key(
                    private.public_key()), critical=False)
            else:
                builder = builder.add_extension(x509.KeyUsage(
                    digital_signature=True, content_commitment=False, key_encipherment=True,
                    data_encipherment=False, key_agreement=False, key_cert_sign=False,
                    crl_sign=False, encipher_only=False, decipher_only=False), critical=True)
            if crl_url:
                builder = builder.add_extension(x509.CRLDistributionPoints([
                    x509.DistributionPoint([x509.UniformResourceIdentifier(crl_url)], None, None,
                                           None)]), critical=False)
            cert = (builder
                    .subject_name(name(dns)).issuer_name(issuer_cert.subject)
                    .public_key(private.public_key())
                    .serial_number(x509.random_serial_number())
                    .not_valid_before(not_before).not_valid_after(not_after)
                    .add_extension(x509.BasicConstraints(ca=False, path_length=None),
                                   critical=True)
                    .add_extension(x509.ExtendedKeyUsage([ExtendedKeyUsageOID.SERVER_AUTH]),
                                   critical=False)
                    .add_extension(x509.SubjectAlternativeName([x509.DNSName(dns)]),
                                   critical=False)
                    .add_extension(x509.AuthorityKeyIdentifier.from_issuer_public_key(
                        issuer_key.public_key()), critical=False)
                    .sign(issuer_key, hashes.SHA256()))
            return private, cert

        def pem_key(private):
            return private.private_bytes(serialization.Encoding.PEM,
                                         serialization.PrivateFormat.TraditionalOpenSSL,
                                         serialization.NoEncryption())

        def pem_cert(cert):
            return cert.public_bytes(serialization.Encoding.PEM)

        self._leaf, self._pem_key, self._pem_cert = leaf, pem_key, pem_cert
        self._now, self._day = now, day
        ca_key, ca_cert = ca("Tillwick Test CA")
        self._ca = (ca_key, ca_cert)
        stranger_key, stranger_cert = ca("Tillwick Stranger CA")
        self.ca_path = self.folder / "ca.pem"
        self.ca_path.write_bytes(pem_cert(ca_cert))
        made = {
            "localhost": leaf(SERVER_NAME, ca_key, ca_cert, now - day, now + 30 * day),
            "other_name": leaf("mail.example.net", ca_key, ca_cert, now - day, now + 30 * day),
            "expired": leaf(SERVER_NAME, ca_key, ca_cert, now - 400 * day, now - 30 * day),
            "unknown_ca": leaf(SERVER_NAME, stranger_key, stranger_cert, now - day,
                               now + 30 * day),
        }
        # A certificate issued by one that is no CA (a server certificate of the CA's): the
        # server sends that issuer along with its own.
        issuer_key, issuer_cert = leaf("Tillwick Not A CA", ca_key, ca_cert, now - day,
                                       now + 30 * day, issuer=True)
        made["not_a_ca"] = leaf(SERVER_NAME, issuer_key, issuer_cert, now - day, now + 30 * day)
        sent_along = {"not_a_ca": pem_cert(issuer_cert)}
        self.paths = {}
        for kind, (private, cert) in made.items():
            cert_path = self.folder / (kind + ".pem")
            key_path = self.folder / (kind + ".key")
            cert_path.write_bytes(pem_cert(cert) + sent_along.get(kind, b""))
            key_path.write_bytes(pem_key(private))
            self.paths[kind] = (cert_path, key_path)

    def with_crl_point(self, kind, url, revoked):
        """A "localhost" certificate of the CA, as kind, whose CRL distribution point is url.
        Returns the DER of a CRL of the CA that lists it (revoked) or lists nothing."""
        from cryptography import x509
        from cryptography.hazmat.primitives import hashes, serialization
        ca_key, ca_cert = self._ca
        private, cert = self._leaf(SERVER_NAME, ca_key, ca_cert, self._now - self._day,
                                   self._now + 30 * self._day, crl_url=url)
        cert_path = self.folder / (kind + ".pem")
        key_path = self.folder / (kind + ".key")
        cert_path.write_bytes(self._pem_cert(cert))
        key_path.write_bytes(self._pem_key(private))
        self.paths[kind] = (cert_path, key_path)
        builder = (x509.CertificateRevocationListBuilder().issuer_name(ca_cert.subject)
                   .last_update(self._now - self._day).next_update(self._now + 7 * self._day))
        if revoked:
            builder = builder.add_revoked_certificate(
                x509.RevokedCertificateBuilder().serial_number(cert.serial_number)
                .revocation_date(self._now - self._day).build())
        return builder.sign(ca_key, hashes.SHA256()).public_bytes(serialization.Encoding.DER)

    def server_context(self, kind="localhost", max_tls12=False):
        """A server-side SSLContext presenting the certificate of this kind. max_tls12 keeps
        alerts after the handshake visible as alert records (TLS 1.3 hides their type)."""
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        cert_path, key_path = self.paths[kind]
        context.load_cert_chain(str(cert_path), str(key_path))
        if max_tls12:
            context.maximum_version = ssl.TLSVersion.TLSv1_2
        return context

    def client_context(self):
        """A client SSLContext that trusts the test CA only (for proving the peers)."""
        context = ssl.create_default_context(cafile=str(self.ca_path))
        return context


class CrlServer:
    """An HTTP server on loopback for one certificate revocation list: url() names it (a path
    of its own per server: Wine keeps fetched lists in its URL cache, by URL). serve(der)
    answers every GET of it with those bytes; silent=True accepts connections and never
    answers. requests: (path, time.time()) of every GET, or of every connection when silent.
    Stopped (connections closed) with stop()."""

    def __init__(self, silent=False):
        self.silent = silent
        self.der = b""
        self.requests = []
        self.path = "/ca-%d.crl" % time.monotonic_ns()
        self.sock = socket.socket()
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(8)
        self.port = self.sock.getsockname()[1]
        self.conns = []
        threading.Thread(target=self._accept, daemon=True).start()

    def url(self):
        return "http://%s:%d%s" % (SERVER_NAME, self.port, self.path)

    def serve(self, der):
        self.der = der

    def _accept(self, sock=None):
        while True:
            try:
                conn, _ = (sock or self.sock).accept()
            except OSError:
                return
            self.conns.append(conn)
            if self.silent:
                self.requests.append((None, time.time()))
            else:
                threading.Thread(target=self._answer, args=(conn,), daemon=True).start()

    def _answer(self, conn):
        conn.settimeout(10)
        request = b""
        try:
            while b"\r\n\r\n" not in request:
                chunk = conn.recv(4096)
                if not chunk:
                    return
                request += chunk
            path = request.split(b" ")[1].decode("latin-1")
            self.requests.append((path, time.time()))
            found = path == self.path
            body = self.der if found else b""
            conn.sendall(b"HTTP/1.1 %s\r\nContent-Type: application/pkix-crl\r\n"
                         b"Content-Length: %d\r\nConnection: close\r\n\r\n" % (
                             b"200 OK" if found else b"404 Not Found", len(body)) + body)
        except OSError:
            pass
        finally:
            conn.close()

    def stop(self):
        self.sock.close()
        for conn in self.conns:
            conn.close()


# ------------------------------------------------------------------- the prefix's side

def serve_https(context, handle, errors, port=0):
    """A threaded HTTP/1.1 server for a mock on https://localhost:PORT (127.0.0.1; port 0 takes a
    free one), serving from a thread of its own: handle(handler, method) answers each GET and
    POST; what a handler raises is added to errors. Answers leave at once (TCP_NODELAY): no
    client waits for a delayed acknowledgement. The TLS handshake happens in the request's
    thread, on its first read."""
    import http.server
    import socket
    import threading

    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def setup(self):
            super().setup()
            self.connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

        def do_GET(self):
            handle(self, "GET")

        def do_POST(self):
            handle(self, "POST")

        def log_message(self, *args):
            pass

    class Server(http.server.ThreadingHTTPServer):
        daemon_threads = True

        def handle_error(self, request, client_address):
            import traceback
            errors.append(traceback.format_exc(limit=3))

    server = Server(("127.0.0.1", port), Handler)
    server.socket = context.wrap_socket(server.socket, server_side=True,
                                        do_handshake_on_connect=False)
    threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.05},
                     daemon=True).start()
    return server


def trust_test_ca(session, certs):
    """Adds the test CA to the CurrentUser ROOT store of the session's prefix."""
    session.wine([TOOLS_DIR_WIN + r"\certtool.exe", "add-root", session.win_path(certs.ca_path)],
                 check=True)


class Credentials:
    """The mail login's stored password in the prefix's Credential Manager: a generic
    credential named "Tillwick Orvenda SMTP" whose blob is the password in UTF-16LE, as
    Windows' own Credential Manager stores what a user types. Removed after the test."""

    def __init__(self, tw):
        self.tw = tw
        self.credtool = TOOLS_DIR_WIN + r"\credtool.exe"
        tw.on_cleanup(self.delete)

    def write(self, user, password):
        blob = password.encode("utf-16-le").hex()
        self.tw.wine([self.credtool, "write", CREDENTIAL_TARGET, user, blob], check=True)

    def delete(self):
        """Removes the credential; harmless when there is none (credtool then says so)."""
        self.tw.wine([self.credtool, "delete", CREDENTIAL_TARGET])


def end_leftover_runs(tw):
    """Ends every Tillwick.exe and UI driver still running in the prefix (see
    Tillwick.end_leftover_runs): these tests share one queue and its batch mutex."""
    return tw.end_leftover_runs()


def mail_alone(tw):
    """The mail helper of a test that needs the batch to itself: a run left over from an
    earlier test would hold up this one (one batch at a time) and its UI drivers would answer
    this test's boxes; one this test leaves would do the same to the next."""
    end_leftover_runs(tw)
    helper = Mail(tw)
    tw.on_cleanup(lambda: end_leftover_runs(tw))
    return helper


def secure_settings(tw, port, security=None, user=None):
    """Section "Email Setup" for a server reached by name: SMTPSecurity and SMTPUser only when
    given (None leaves the key out)."""
    tw.ini_set("Email Setup", "SMTPServer", SERVER_NAME)
    tw.ini_set("Email Setup", "SMTPPort", str(port))
    if security is not None:
        tw.ini_set("Email Setup", "SMTPSecurity", security)
    if user is not None:
        tw.ini_set("Email Setup", "SMTPUser", user)


# ------------------------------------------------------------------------------ aiosmtpd

class SecureSmtpd:
    """aiosmtpd on loopback with TLS: mode "starttls" (STARTTLS offered and required before
    any transaction) or "tls" (TLS from the first byte). With users ({login: password}) it
    offers AUTH only inside TLS and requires it before MAIL; mechanisms are those offered.
    Records every command with whether it came inside TLS (commands: [{verb, arg, tls,
    peer}]), every login attempt (logins: [{mechanism, login, password, tls, ok}], login and
    password as the bytes received) and every accepted message (messages, as in Aiosmtpd).
    xoauth2 (oauth_support.Xoauth2) offers AUTH XOAUTH2 too, on lines as long as a bearer token
    needs; its attempts go to logins as well. Each command also has "at" (time.time()).
    size_limit offers SIZE with that limit (0: no SIZE); eight_bit=False leaves 8BITMIME out
    of the reply to EHLO. Each message keeps MAIL FROM's parameters too ("mail_options",
    upper case)."""

    def __init__(self, certs, mode="starttls", users=None, mechanisms=("PLAIN", "LOGIN"),
                 cert="localhost", data_delay=0.0, xoauth2=None, size_limit=0, eight_bit=True):
        from aiosmtpd.controller import Controller
        from aiosmtpd.smtp import SMTP, AuthResult

        self.commands = []
        self.logins = []
        self.messages = []
        self.users = {k.encode("utf-8"): v.encode("utf-8") for k, v in (users or {}).items()}
        server = self

        def inside_tls(smtp):
            transport = smtp.transport
            return transport is not None and transport.get_extra_info("ssl_object") is not None

        class Handler:
            async def handle_DATA(self, srv, session, envelope):
                if data_delay:
                    await asyncio.sleep(data_delay)
                server.messages.append({"from": envelope.mail_from,
                                        "to": list(envelope.rcpt_tos),
                                        "data": envelope.original_content,
                                        "helo": session.host_name,
                                        "login": getattr(session.auth_data, "login", None),
                                        "tls": inside_tls(srv),
                                        "mail_options": list(envelope.mail_options)})
                return "250 2.0.0 Ok: queued"

        if not eight_bit:
            async def handle_EHLO(handler, srv, session, envelope, hostname, responses):
                session.host_name = hostname
                return [r for r in responses if r[4:].upper() != "8BITMIME"]
            Handler.handle_EHLO = handle_EHLO

        if xoauth2 is not None:
            async def auth_XOAUTH2(handler, smtp, args):
                return await xoauth2.authenticate(server, smtp, args, inside_tls(smtp))
            Handler.auth_XOAUTH2 = auth_XOAUTH2

        def authenticate(smtp, session, envelope, mechanism, auth_data):
            ok = server.users.get(auth_data.login) == auth_data.password
            server.logins.append({"mechanism": mechanism, "login": auth_data.login,
                                  "password": auth_data.password, "tls": inside_tls(smtp),
                                  "ok": ok})
            # handled=False: aiosmtpd answers a refusal with its 535 line itself.
            return AuthResult(success=ok, handled=False, auth_data=auth_data)

        class RecordingSmtp(SMTP):
            """Records each command line as it is read, before aiosmtpd judges it, so that
            what it refuses (a command before STARTTLS, say) is on record too. Command lines
            are read with the default separator; the message and login answers are not."""

            if xoauth2 is not None:
                line_length_limit = 16384  # a Microsoft token makes an AUTH line of 2 to 3 KB

            def _client_connected_cb(self, reader, writer):
                super()._client_connected_cb(reader, writer)
                if xoauth2 is not None:
                    self.command_size_limits = collections.defaultdict(lambda: 512,
                                                                       {"AUTH": 12288})
                if mode == "tls":
                    # aiosmtpd takes only STARTTLS for TLS: from the first byte, it is told so
                    # here, so that it offers and takes a login as inside TLS.
                    self._tls_protocol = writer.transport
                read_until, read_line = reader.readuntil, reader.readline
                answering = []  # not empty while a login answer is read (readline)

                async def recorded(separator=b"\n"):
                    line = await read_until(separator)
                    if separator == b"\n" and not answering:
                        text = line.rstrip(b"\r\n").decode("latin-1")
                        verb, _, arg = text.partition(" ")
                        server.commands.append({"verb": verb.upper(), "arg": arg,
                                                "tls": inside_tls(self),
                                                "peer": self.session.peer, "at": time.time()})
                    return line

                async def answer():
                    answering.append(1)
                    try:
                        return await read_line()
                    finally:
                        answering.pop()
                reader.readuntil, reader.readline = recorded, answer

        class RecordingController(Controller):
            def factory(self):
                return RecordingSmtp(self.handler, **self.SMTP_kwargs)

        options = {"data_size_limit": size_limit, "server_hostname": "tls.test"}
        context = certs.server_context(cert)
        if mode == "starttls":
            options.update(tls_context=context, require_starttls=True)
        elif mode == "tls":
            options.update(ssl_context=context)
        else:
            raise ValueError(mode)
        if users is not None or xoauth2 is not None:
            options.update(authenticator=authenticate, auth_required=True, auth_require_tls=True,
                           auth_exclude_mechanism=[m for m in ("PLAIN", "LOGIN")
                                                   if m not in mechanisms])
        self.port = free_port()
        self.controller = RecordingController(Handler(), hostname="127.0.0.1", port=self.port,
                                              ready_timeout=10, **options)
        self.controller.start()

    def verbs(self, tls=None):
        """The verbs received, in order; only those in clear (tls False) or inside TLS (True)
        when tls is given."""
        return [c["verb"] for c in self.commands if tls is None or c["tls"] == tls]

    def stop(self):
        self.controller.stop()


# ------------------------------------------------------------------- scripted TLS peers

class TlsLink:
    """The server's side of TLS on a scripted peer's connection (mail_support.Peer), through
    memory buffers, so that every raw byte the client sends after the handshake is kept as
    it came (after). handshake() takes over what the peer had buffered already."""

    def __init__(self, peer, context):
        self.peer = peer
        self.incoming = ssl.MemoryBIO()
        self.outgoing = ssl.MemoryBIO()
        self.tls = context.wrap_bio(self.incoming, self.outgoing, server_side=True)
        self.error = None
        self.after = b""

    def _flush(self):
        data = self.outgoing.read()
        if data:
            self.peer.conn.sendall(data)

    def _receive(self, timeout):
        self.peer.conn.settimeout(timeout)
        try:
            return self.peer.conn.recv(65536)
        except (socket.timeout, OSError):
            return b""

    def handshake(self, timeout=15):
        """Runs the handshake; True when it finished, else False with error set."""
        if self.peer.buffer:
            self.incoming.write(self.peer.buffer)
            self.peer.buffer = b""
        while True:
            try:
                self.tls.do_handshake()
                self._flush()
                self.after = self.incoming.read()  # sent right behind the client's last flight
                return True
            except ssl.SSLWantReadError:
                self._flush()
                chunk = self._receive(timeout)
                if not chunk:
                    self.error = "the client closed or fell silent during the handshake"
                    return False
                self.incoming.write(chunk)
            except (ssl.SSLError, OSError) as exc:
                try:
                    self._flush()  # the server's alert, if any
                except OSError:
                    pass
                self.error = repr(exc)
                return False

    def drain(self, timeout=30):
        """Keeps every raw byte until the client closes the connection, stays silent for
        timeout seconds, or sends anything but alert records (then the caller's script ends
        and closes, so that a client waiting for an answer fails at once). Returns all bytes
        received after the handshake attempt."""
        if self.incoming.pending:
            self.after += self.incoming.read()
        while set(tls_record_types(self.after)) <= {"alert"}:
            chunk = self._receive(timeout)
            if not chunk:
                break
            self.after += chunk
        return self.after


def tls_record_types(raw):
    """The content types of the TLS records in raw bytes, in order; "garbage" for bytes that
    are no whole TLS 1.x record (text in clear, say)."""
    types = []
    at = 0
    while at < len(raw):
        header = raw[at:at + 5]
        if len(header) < 5 or header[0] not in (20, 21, 22, 23) or header[1] != 3:
            types.append("garbage")
            break
        length = int.from_bytes(header[3:5], "big")
        if at + 5 + length > len(raw):
            types.append("garbage")
            break
        types.append({20: "change_cipher_spec", 21: "alert", 22: "handshake",
                      23: "application_data"}[header[0]])
        at += 5 + length
    return types


# --------------------------------------------------------------- a fast peer for figures

def client_hello_offer(data):
    """What a TLS ClientHello (the first bytes of data) offers for resuming: (length of its
    session id, length of its session ticket extension, -1 when it has none); None when data
    does not start with a whole ClientHello."""
    try:
        if data[0] != 22 or data[5] != 1:
            return None
        at = 5 + 4 + 2 + 32  # record and handshake headers, version, random
        session_id = data[at]
        at += 1 + session_id
        at += 2 + int.from_bytes(data[at:at + 2], "big")  # cipher suites
        at += 1 + data[at]  # compression methods
        end = at + 2 + int.from_bytes(data[at:at + 2], "big")
        at += 2
        ticket = -1
        while at + 4 <= end:
            kind, length = int.from_bytes(data[at:at + 2], "big"), \
                int.from_bytes(data[at + 2:at + 4], "big")
            if kind == 35:
                ticket = length
            at += 4 + length
        return session_id, ticket
    except IndexError:
        return None


class FastSmtpServer:
    """A lean threaded SMTP peer for the figures: replies at once, reads the message in 1 MB
    receives, takes STARTTLS (ssl wrap of the socket) when given a server context, and accepts
    HELO and EHLO alike. sizes: the length of every message received, end-of-data mark
    included. clocks: for every message, the seconds from the accept to its end of data, as the
    server's own clock measured them. accepts: the monotonic time of every accept. quits: the
    monotonic time of every reply to QUIT.
    handshakes: for every STARTTLS, what the ClientHello offered for resuming
    (`client_hello_offer`) and whether the session was resumed. socks: listening sockets made
    by the caller (of one port; each served), instead of one on 127.0.0.1."""

    def __init__(self, context=None, socks=None):
        self.context = context
        self.sizes = []
        self.clocks = []
        self.accepts = []
        self.quits = []
        self.errors = []
        self.handshakes = []
        if socks is None:
            sock = socket.socket()
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            sock.bind(("127.0.0.1", 0))
            sock.listen(8)
            socks = [sock]
        self.socks = socks
        self.sock = socks[0]
        self.port = self.sock.getsockname()[1]
        for sock in socks[1:]:
            threading.Thread(target=self._accept, args=(sock,), daemon=True).start()
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self, sock=None):
        while True:
            try:
                conn, _ = (sock or self.sock).accept()
            except OSError:
                return
            threading.Thread(target=self._serve, args=(conn,), daemon=True).start()

    def _serve(self, conn):
        accepted = time.monotonic()
        self.accepts.append(accepted)
        chunk = bytearray(1 << 20)
        pending = b""
        tls = False
        try:
            conn.settimeout(60)
            conn.sendall(b"220 fast.test ESMTP\r\n")
            while True:
                while b"\n" not in pending:
                    got = conn.recv(65536)
                    if not got:
                        return
                    pending += got
                line, pending = pending.split(b"\n", 1)
                verb = line.strip().split(b" ", 1)[0].upper()
                if verb == b"EHLO":
                    offer = b"250-STARTTLS\r\n" if self.context and not tls else b""
                    conn.sendall(b"250-fast.test\r\n" + offer + b"250 8BITMIME\r\n")
                elif verb == b"STARTTLS" and self.context and not tls:
                    conn.sendall(b"220 2.0.0 Ready to start TLS\r\n")
                    hello = conn.recv(16384, socket.MSG_PEEK)
                    conn = self.context.wrap_socket(conn, server_side=True)
                    tls, pending = True, b""
                    self.handshakes.append({"offer": client_hello_offer(hello),
                                            "resumed": conn.session_reused})
                elif verb == b"DATA":
                    conn.sendall(b"354 End data with <CR><LF>.<CR><LF>\r\n")
                    size, tail = len(pending), pending[-5:]
                    pending = b""
                    while not (b"\r\n" + tail).endswith(b"\r\n.\r\n"):
                        got = conn.recv_into(chunk)
                        if not got:
                            return
                        size += got
                        tail = (tail + bytes(chunk[max(0, got - 5):got]))[-5:]
                    self.clocks.append(time.monotonic() - accepted)
                    self.sizes.append(size)
                    conn.sendall(b"250 2.0.0 Ok: queued\r\n")
                elif verb == b"QUIT":
                    conn.sendall(b"221 2.0.0 Bye\r\n")
                    self.quits.append(time.monotonic())
                    return
                else:
                    conn.sendall(b"250 2.0.0 Ok\r\n")
        except (OSError, ssl.SSLError) as exc:
            self.errors.append(repr(exc))
        finally:
            try:
                conn.close()
            except OSError:
                pass

    def stop(self):
        for sock in self.socks:
            try:
                sock.close()
            except OSError:
                pass
