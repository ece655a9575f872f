"""The mail APIs' way out under Wine: the HTTPS request on its worker thread (the program's own
seam, in the httppost tool) against the mock of Graph and Gmail on https://localhost: the body
written piece by piece with the window told of each, the answer with its Retry-After, Cancel
from the window's thread while the answer is awaited, and a certificate that is not trusted."""
import base64
import json

import pytest

from api_mock import ApiMock
from conftest import TOOLS_DIR_WIN

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
