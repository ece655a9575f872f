#!/usr/bin/python3
"""The mail APIs' way out under Wine, its seam alone, printed, not asserted: a 2 MB message in
base64 (2.7 MB, as Graph takes it) POSTed to the local mock of Graph by the program's HTTPS
request on its worker thread (the httppost tool, which compiles in the seam's own source and
feeds it the bytes in its pieces), against curl posting the same bytes to the same mock in the
same run, the two taking turns. Both times run from the start of the request to its answer,
each request on a new connection with its TLS handshake (the mock closes every connection);
the tool's own clock leaves Wine's process start out, and each of its runs makes a first
request (which loads WinHTTP and the TLS library, shown apart) before the one measured.
Twice: to the mock as it is, which delays its acknowledgements as Linux does, and to the mock
acknowledging every piece at once: Wine's WinHTTP leaves Nagle's rule on (curl sets
TCP_NODELAY), so the first waits for a delayed acknowledgement before its last small segment
goes. Target for the whole program later: within 1.3 times curl.

Needs the win64 build (TILLWICK_BUILD, default build/win64, with its tools) and the Debian
packages of scripts/setup. Usage: /usr/bin/python3 bench/api_seam_e2e.py [--repeat N]
"""
import argparse
import base64
import json
import statistics
import subprocess
import sys
import tempfile
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "e2e"))

import conftest  # noqa: E402  (the end-to-end harness: Wine prefix, Xvfb, the program)
from api_mock import ApiMock  # noqa: E402
from tls_support import Certificates, trust_test_ca  # noqa: E402


def two_megabytes():
    line = b"0123456789 abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ 0123456789\r\n"
    head = (b"From: <accounts@acme.test>\r\nTo: <bob@example.org>\r\nSubject: Invoice\r\n"
            b"Date: Tue, 08 Dec 2026 14:05:09 +0100\r\nMessage-ID: <m1@acme.test>\r\n\r\n")
    return head + line * ((2 * 1024 * 1024 - len(head)) // len(line))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repeat", type=int, default=9)
    args = parser.parse_args()

    session = conftest.WineSession()
    session.start()
    try:
        testdir = Path(tempfile.mkdtemp(prefix="bench-", dir=session.workdir))
        tw = conftest.Tillwick(session, testdir)
        certs = Certificates(testdir / "tls")
        trust_test_ca(session, certs)
        mock = ApiMock(certs)
        mock.parse = False  # the mock's own work stays out of both times
        body = base64.b64encode(two_megabytes())
        path = testdir / "body.b64"
        path.write_bytes(body)

        mock.close = True

        def ours():
            result = tw.wine([conftest.TOOLS_DIR_WIN + r"\httppost.exe", mock.graph_url,
                              tw.win_path(path), "text/plain", "good", "--repeat", "2"],
                             timeout=300)
            lines = [json.loads(line) for line in result.stdout.decode().splitlines()]
            if len(lines) != 2 or any(r["status"] != 202 for r in lines):
                raise SystemExit("the tool's requests failed: %r %r" % (lines, result.stderr))
            return lines[0]["ms"] / 1000, lines[1]["ms"] / 1000

        def curl():
            out = subprocess.run(
                ["curl", "-sS", "-o", "/dev/null", "-w", "%{http_code} %{time_total}",
                 "--cacert", str(certs.ca_path), "-H", "Authorization: Bearer good",
                 "-H", "Content-Type: text/plain", "-H", "Expect:", "--data-binary",
                 "@" + str(path), mock.graph_url], check=True, capture_output=True,
                timeout=120).stdout.decode().split()
            if out[0] != "202":
                raise SystemExit("curl got %s" % out[0])
            return float(out[1])

        for quick_ack in (False, True):
            mock.quick_ack = quick_ack
            colds, mine, theirs = [], [], []
            for _ in range(args.repeat):
                cold, warm = ours()
                colds.append(cold)
                mine.append(warm)
                theirs.append(curl())
            print("2 MB message as Graph's base64 (%d bytes), the seam alone, %s: %.3f s "
                  "(median %.3f s; a run's first request %.3f s), curl %.3f s (median %.3f s), "
                  "ratio %.2f (median %.2f)"
                  % (len(body), "acknowledged at once" if quick_ack else "delayed "
                     "acknowledgements", min(mine), statistics.median(mine),
                     statistics.median(colds), min(theirs), statistics.median(theirs),
                     min(mine) / min(theirs),
                     statistics.median(mine) / statistics.median(theirs)))
        mock.stop()
        delivered = mock.delivered()
        if len(delivered) != 6 * args.repeat or mock.errors:
            raise SystemExit("the mock saw %d deliveries, errors %r" % (len(delivered),
                                                                        mock.errors))
    finally:
        session.stop()


if __name__ == "__main__":
    main()
