"""Names with several addresses, under Wine: served by a name server of the test's own inside
a network namespace (dns_support), looked up by the program's own seam and walked by its own
address walk on real sockets (walkprobe.exe); and mail sent to such names through the sending
window's walk."""
import contextlib
import json
import re
import socket
import tempfile
import types
import warnings
from pathlib import Path

import pytest

import conftest
from dns_support import NameServer
from mail_support import Mail, message
from netns_support import NamespacedWineSession, NetNamespace, unavailable
from tls_support import FastSmtpServer

# Two that refuse, then one that listens; one that never answers, then the listener; the
# listener alone; IPv6 only; IPv4 beside IPv6 (Linux's address selection puts ::1 first).
NAMES = {
    "three.tillwick.test": ["127.0.0.2", "127.0.0.3", "127.0.0.4"],
    "silent.tillwick.test": ["127.0.0.6", "127.0.0.4"],
    "direct.tillwick.test": ["127.0.0.4"],
    "six.tillwick.test": ["::1"],
    "mixed.tillwick.test": ["127.0.0.5", "::1"],
}
PROBE = conftest.TOOLS_DIR_WIN + r"\walkprobe.exe"
STAGGER_S = 2.0


@contextlib.contextmanager
def named_peers(display):
    """A Wine session inside a namespace whose name server answers NAMES (.session, .dns),
    and one SMTP server there on 127.0.0.4 and ::1 at .port (.smtp). 127.0.0.6 at that port
    takes no connection: its listener's queue of one is full, so a connect goes unanswered.
    Needs what netns_support.unavailable() checks."""
    namespace = NetNamespace()
    made, held = [], []
    try:
        dns = NameServer(namespace, NAMES)
        made.append(dns)
        listener, listener6, full, filler = (namespace.socket(f) for f in (
            socket.AF_INET, socket.AF_INET6, socket.AF_INET, socket.AF_INET))
        held += [full, filler]
        listener.bind(("127.0.0.4", 0))
        port = listener.getsockname()[1]
        listener6.bind(("::1", port))
        full.bind(("127.0.0.6", port))
        for sock, backlog in ((listener, 8), (listener6, 8), (full, 0)):
            sock.listen(backlog)
        filler.connect(("127.0.0.6", port))
        smtp = FastSmtpServer(socks=[listener, listener6])
        made.append(smtp)
        session = NamespacedWineSession(namespace, display)
        made.append(session)
        session.start()
        yield types.SimpleNamespace(session=session, dns=dns, smtp=smtp, port=port)
    finally:
        for thing in reversed(made):
            thing.stop()
        for sock in held:
            sock.close()
        namespace.delete()


@pytest.fixture(scope="module")
def named(wine_session):
    reason = unavailable()
    if reason is not None:
        warnings.warn("NO NETWORK NAMESPACES: %s; the address cases are skipped" % reason)
        pytest.skip(reason)
    with named_peers(wine_session.display) as peers:
        yield peers


def probe(named, *args):
    result = named.session.wine([PROBE] + list(args), timeout=90)
    lines = [json.loads(line) for line in result.stdout.decode().splitlines() if line.strip()]
    return result.returncode, lines


@pytest.mark.parametrize("name, error, addresses", [
    ("three.tillwick.test", 0, NAMES["three.tillwick.test"]),
    ("six.tillwick.test", 0, ["::1"]),
    ("mixed.tillwick.test", 0, ["::1", "127.0.0.5"]),
    ("nowhere.tillwick.test", 11001, []),
    ("::1", 0, ["::1"]),  # written out: taken as it is, never asked for
])
def test_lookup_gives_every_address_in_the_systems_order(named, name, error, addresses):
    asked = len(named.dns.queries)
    rc, lines = probe(named, name)
    assert rc == (0 if error == 0 else 1) and len(lines) == 1, lines
    assert lines[0]["error"] == error
    assert [(a["family"], a["text"]) for a in lines[0]["addresses"]] == \
        [(6 if ":" in a else 4, a) for a in addresses]
    queried = sorted(named.dns.queries[asked:])
    assert queried == ([] if name == "::1" else [(name, 1), (name, 28)]), queried


def walk(named, name):
    """The walk to name at the server's port: (exit code, what it did, the winner's text or
    None, the milliseconds to the win)."""
    rc, lines = probe(named, name, str(named.port))
    done = [line for line in lines if line.get("action") == "won"]
    actions = [(line["action"], line["address"]) for line in lines if "action" in line]
    return rc, actions, done[0]["address"] if done else None, done[0]["ms"] if done else None


def test_walk_takes_the_address_that_answers_and_a_silent_one_costs_the_stagger(named):
    rc, actions, winner, _ = walk(named, "three.tillwick.test")
    assert rc == 0 and winner == "127.0.0.4", actions
    # Each refusal moved on at once; the last address needed no stagger timer.
    assert actions == [("arm", ""), ("connect", "127.0.0.2"), ("close", "127.0.0.2"),
                       ("arm", ""), ("connect", "127.0.0.3"), ("close", "127.0.0.3"),
                       ("stop", ""), ("connect", "127.0.0.4"), ("won", "127.0.0.4")]
    rc, actions, winner, direct_ms = walk(named, "direct.tillwick.test")
    assert rc == 0 and winner == "127.0.0.4", actions
    rc, actions, winner, silent_ms = walk(named, "silent.tillwick.test")
    assert rc == 0 and winner == "127.0.0.4", actions
    assert ("close", "127.0.0.6") in actions  # the silent attempt closed once the other won
    cost = (silent_ms - direct_ms) / 1000
    assert STAGGER_S - 0.05 <= cost <= STAGGER_S + 0.3, (silent_ms, direct_ms)


@pytest.fixture
def named_mail(named, request):
    """Mail through the namespace's session with the x86_64 build, or the one given."""
    arch = getattr(request, "param", "x86_64")
    if arch == "i686" and named.session.i686_problem():
        pytest.skip("i686 build NOT TESTED: " + named.session.i686_problem())
    named.session.install_program(arch)
    tw = conftest.Tillwick(named.session,
                           Path(tempfile.mkdtemp(prefix="named", dir=named.session.workdir)), arch)
    tw.reset_ini()
    yield Mail(tw)
    tw.end_leftover_runs()
    tw.cleanup()


def send_logged(named, mail, name):
    """One message to name at the server's port with the mail log on: (result, log text)."""
    mail.settings(named.port, server=name)
    mail.tw.ini_set("Email Setup", "MailLog", "mail.log")
    log_path = mail.tw.progdir_unix / "mail.log"
    mail.tw.on_cleanup(lambda: log_path.unlink(missing_ok=True))
    delivered = len(named.smtp.sizes)
    mail.queue("S1.txt", message())
    result = mail.run(timeout=30)
    assert result.rc == 0 and result.boxes == [], result
    assert len(named.smtp.sizes) == delivered + 1 and mail.queued() == []
    return result, log_path.read_text(errors="replace")


def test_mail_to_a_name_whose_first_two_addresses_refuse(named, named_mail):
    _, log = send_logged(named, named_mail, "three.tillwick.test")
    # The log names each address as it is tried (the status line too, but it may show one
    # for less time than the recorder takes to see it).
    assert re.search(r"127\.0\.0\.2.*127\.0\.0\.3.*connected to 127\.0\.0\.4", log, re.S), log
    # The check says which address it reached.
    check = named_mail.run(args="/emailcheck", caption="Checking Email Setup")
    assert len(check.boxes) == 1 and check.boxes[0]["text"].startswith(
        "Connected to three.tillwick.test (127.0.0.4) port %d;" % named.port), check


# The IPv6 socket address is laid out by each build's own headers: both builds.
@pytest.mark.parametrize("named_mail", ["x86_64", "i686"], indirect=True)
def test_mail_to_a_name_with_only_an_ipv6_address(named, named_mail):
    _, log = send_logged(named, named_mail, "six.tillwick.test")
    assert "connected to ::1" in log, log
