#!/usr/bin/python3
"""The queued e-mail, shown end to end (run through scripts/demo, which installs and builds
first): a loopback SMTP server (aiosmtpd) in this process, a fresh Wine prefix on its own Xvfb
display with Tillwick.exe installed in "C:\\Program Files\\Tillwick Orvenda", the host
settings written for the server, three sample messages queued as the host application would
queue them, "Tillwick.exe /email" run, a screenshot of the "Sending Email" window taken while
it shows, and what the server received printed."""
import argparse
import asyncio
import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "e2e"))

import conftest  # noqa: E402  (the Wine prefix, Xvfb and the installed program)
from mail_support import Mail, free_port  # noqa: E402

SAMPLES = {
    # An invoice with a description line (shown in the window) and a copy recipient.
    "I1042.txt": (
        "Invoice 1042 for Acme Ltd\r\n"
        "To: <bob@example.org>\r\n"
        "From: Tillwick Orvenda Accounts <accounts@tillwick.test>\r\n"
        "Cc: <carol@example.org>\r\n"
        "Subject: Invoice 1042\r\n"
        "\r\n"
        "Dear Bob,\r\n\r\nplease find below invoice 1042 for the goods delivered on 3 May.\r\n\r\n"
        "  12 x Widgets, blue         54.00\r\n   1 x Delivery              6.50\r\n"
        "                             -----\r\n  Total due                  60.50\r\n\r\n"
        "Kind regards,\r\nAccounts\r\n"),
    "I1043.txt": (
        "Subject: Invoice 1043\r\n"
        "To: <dave@example.org>\r\n"
        "From: <accounts@tillwick.test>\r\n"
        "\r\n"
        "Invoice 1043: 3 x Gadgets, 27.00. Payable within 30 days.\r\n"),
    "S77.txt": (
        "Subject: Statement for April\r\n"
        "To: <erin@example.org>\r\n"
        "From: <accounts@tillwick.test>\r\n"
        "\r\n"
        "Your statement for April:\r\n.\r\nBalance brought forward 0.00, invoices 60.50, "
        "paid 60.50.\r\n"),
}


def start_server(port, hold_first_s):
    """aiosmtpd on 127.0.0.1:port; returns (controller, received). The first message is held
    for a moment before the server accepts it, so that the window can be photographed."""
    from aiosmtpd.controller import Controller

    received = []

    class Handler:
        async def handle_DATA(self, server, session, envelope):
            if not received:
                await asyncio.sleep(hold_first_s)
            received.append((session.host_name, envelope.mail_from, list(envelope.rcpt_tos),
                             envelope.original_content))
            return "250 2.0.0 Ok: queued as %d" % len(received)

    controller = Controller(Handler(), hostname="127.0.0.1", port=port, ready_timeout=10)
    controller.start()
    return controller, received


def screenshot(display, target):
    """The whole screen, cut down to the window (the window stands at the top left of an
    otherwise black screen)."""
    raw = target.with_suffix(".full.png")
    subprocess.run(["import", "-display", display, "-window", "root", str(raw)], check=True,
                   timeout=30)
    subprocess.run(["convert", str(raw), "-bordercolor", "black", "-border", "1", "-trim",
                    "+repage", str(target)], check=True, timeout=30)
    raw.unlink()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--screenshot", default=str(REPO / "out" / "demo" / "sending-window.png"))
    args = parser.parse_args()
    shot = Path(args.screenshot).resolve()
    shot.parent.mkdir(parents=True, exist_ok=True)

    print("Starting Xvfb and a fresh Wine prefix with Tillwick.exe installed ...", flush=True)
    session = conftest.WineSession()
    session.start()
    controller = None
    try:
        testdir = Path(tempfile.mkdtemp(prefix="demo-", dir=session.workdir))
        tw = conftest.Tillwick(session, testdir)
        tw.reset_ini()
        mail = Mail(tw)
        port = free_port()
        controller, received = start_server(port, hold_first_s=2.0)
        mail.settings(port)
        print("SMTP server (aiosmtpd) listening on 127.0.0.1:%d" % port)
        print("Host settings file %s:" % tw.ini_path())
        print("    " + tw.ini_raw().strip().replace("\r\n", "\n    "))
        for name, text in SAMPLES.items():
            mail.queue(name, text.encode("cp1252"))
        print("Queued in %s: %s" % (mail.queue_dir, ", ".join(mail.queued())))

        print("Running: Tillwick.exe /email", flush=True)
        running = mail.start(timeout=60)
        if running.wait_status("Sending: Invoice 1042", timeout=30):
            time.sleep(0.3)  # let it paint
            screenshot(session.display, shot)
            print("Screenshot of the sending window: %s" % shot)
        else:
            print("The sending window did not show the invoice's description in time.")
        result = running.wait()

        print()
        print("Exit code %d; status lines shown, per window:" % result.rc)
        for number, texts in enumerate(result.windows, 1):
            print("  window %d: %s" % (number, " -> ".join(texts)))
        for box in result.boxes:
            print("  message box %r: %r" % (box["caption"], box["text"]))
        print("Left in the queue: %s" % (", ".join(mail.queued()) or "nothing"))
        print()
        print("The server received %d message(s):" % len(received))
        for number, (helo, sender, recipients, data) in enumerate(received, 1):
            print("--- message %d: HELO %s, MAIL FROM:<%s>, RCPT TO:%s" % (
                number, helo, sender, ", ".join("<%s>" % r for r in recipients)))
            print(data.decode("cp1252").replace("\r\n", "\n").rstrip("\n"))
        print("---")
        tw.cleanup()
        return 0 if result.rc == 0 and len(received) == len(SAMPLES) else 1
    finally:
        if controller is not None:
            controller.stop()
        session.stop()


if __name__ == "__main__":
    sys.exit(main())
