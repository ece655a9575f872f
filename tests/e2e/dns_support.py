"""A name server of a test's own, inside a network namespace, for names with several addresses
(or only IPv6 ones) that the system's resolver then finds, under Wine as anywhere.

`ip netns exec NAME` runs its command in a mount namespace of its own where every file of
/etc/netns/NAME/ is bind-mounted over the one of /etc, so a resolv.conf written there names our
server for the programs of that namespace alone (Wine's getaddrinfo runs in the program's own
process and reads /etc/resolv.conf). `NameServer(netns, names)` writes that file, binds UDP
port 53 of 127.0.0.1 inside the namespace and answers A and AAAA queries from names
({"multi.tillwick.test": ["127.0.0.2", "::1"]}); a name it does not hold is answered NXDOMAIN
at once, so nothing waits for a resolver time-out. Every query is kept in `queries`
((name, type) in order). Needs root (`netns_support.unavailable`).
"""
import ipaddress
import shutil
import socket
import struct
import threading
from pathlib import Path

NETNS_ETC = Path("/etc/netns")
TYPE_A, TYPE_AAAA = 1, 28


def _read_name(packet, offset):
    labels = []
    while True:
        length = packet[offset]
        offset += 1
        if length == 0:
            return ".".join(labels), offset
        if length & 0xC0:
            raise ValueError("a compressed name in a question")
        labels.append(packet[offset:offset + length].decode("ascii", "replace"))
        offset += length


def answer(query, names):
    """(the response to one query packet from names (lower-case keys), the name asked for, its
    type), or None for a packet that is no query."""
    if len(query) < 12:
        return None
    ident, flags, qdcount = struct.unpack("!HHH", query[:6])
    if flags & 0x8000 or qdcount != 1:
        return None
    try:
        name, offset = _read_name(query, 12)
        qtype, qclass = struct.unpack("!HH", query[offset:offset + 4])
    except (ValueError, IndexError, struct.error):
        return None
    question = query[12:offset + 4]
    addresses = names.get(name.lower().rstrip("."))
    records = []
    for text in addresses or ():
        address = ipaddress.ip_address(text)
        rtype = TYPE_AAAA if address.version == 6 else TYPE_A
        if rtype == qtype and qclass == 1:
            # The name as a pointer to the question's (offset 12), class IN, TTL 1 s.
            records.append(struct.pack("!HHHIH", 0xC00C, rtype, 1, 1, len(address.packed)) +
                           address.packed)
    rcode = 0 if addresses is not None else 3
    # A response, authoritative, recursion desired copied and available.
    out_flags = 0x8000 | 0x0400 | (flags & 0x0100) | 0x0080 | rcode
    header = struct.pack("!HHHHHH", ident, out_flags, 1, len(records), 0, 0)
    return header + question + b"".join(records), name, qtype


class NameServer:
    """Answers A and AAAA queries for names inside netns until stop()."""

    ADDRESS = "127.0.0.1"

    def __init__(self, netns, names):
        self.netns = netns
        self.names = {k.lower(): list(v) for k, v in names.items()}
        self.queries = []
        self.etc = NETNS_ETC / netns.name
        self.etc.mkdir(parents=True, exist_ok=True)
        # One try of one second: a lost answer shows as a slow lookup, not as a hang.
        (self.etc / "resolv.conf").write_text(
            "nameserver %s\noptions timeout:1 attempts:1\n" % self.ADDRESS)

        def bound():
            sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            sock.bind((self.ADDRESS, 53))
            return sock
        self._sock = netns.run_inside(bound)
        self._sock.settimeout(0.2)
        self._stopping = False
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()

    def _serve(self):
        while not self._stopping:
            try:
                query, peer = self._sock.recvfrom(512)
            except socket.timeout:
                continue
            except OSError:
                return
            answered = answer(query, self.names)
            if answered is None:
                continue
            self.queries.append(answered[1:])
            self._sock.sendto(answered[0], peer)

    def stop(self):
        self._stopping = True
        self._thread.join(timeout=2)
        self._sock.close()
        shutil.rmtree(self.etc, ignore_errors=True)
