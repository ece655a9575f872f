#!/usr/bin/python3 -I
"""A stand-in for the user's web browser in the sign-in tests. Wine's winebrowser.exe runs it
(a Unix program named in HKCU\\Software\\Wine\\WineBrowser "Browsers") with the URL that the
program opened as its last argument. It does what a user who signs in does to the sign-in page:
GET it (trusting only the test CA), take the 302's Location and GET that, the program's
loopback listener, recording the page it got back.

It reads browser.json beside itself: {"mode", "ca", "log"}. Modes: "follow"; "favicon" (first
asks the loopback listener for /favicon.ico, as a browser does for the page it shows); "close"
(the user closes the browser: nothing is requested). It appends two JSON lines to the log:
{"event": "opened", "url", "argv"} at once, {"event": "done", ...} with every exchange at the
end: "favicon", "authorize" and "redirect" as {"url", "status", "location", "body"} or
{"url", "error"}."""
import http.client
import json
import os
import ssl
import sys
import urllib.parse


def fetch(url, context, timeout):
    parts = urllib.parse.urlsplit(url)
    try:
        if parts.scheme == "https":
            conn = http.client.HTTPSConnection(parts.hostname, parts.port, timeout=timeout,
                                               context=context)
        else:
            conn = http.client.HTTPConnection(parts.hostname, parts.port, timeout=timeout)
        target = (parts.path or "/") + ("?" + parts.query if parts.query else "")
        conn.request("GET", target, headers={"Accept": "text/html,*/*"})
        response = conn.getresponse()
        body = response.read()
        conn.close()
        return {"url": url, "status": response.status,
                "location": response.getheader("Location"),
                "body": body.decode("utf-8", "replace")}
    except Exception as exc:  # whatever went wrong is what the test reads
        return {"url": url, "error": repr(exc)}


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(here, "browser.json"), encoding="utf-8") as f:
        config = json.load(f)
    url = sys.argv[-1] if len(sys.argv) > 1 else ""

    def log(record):
        line = (json.dumps(record) + "\n").encode("utf-8")
        fd = os.open(config["log"], os.O_WRONLY | os.O_APPEND | os.O_CREAT, 0o644)
        try:
            os.write(fd, line)
        finally:
            os.close(fd)

    log({"event": "opened", "url": url, "argv": sys.argv[1:], "pid": os.getpid()})
    done = {"event": "done", "url": url, "mode": config["mode"]}
    if config["mode"] != "close":
        context = ssl.create_default_context(cafile=config["ca"])
        if config["mode"] == "favicon":
            query = urllib.parse.parse_qs(urllib.parse.urlsplit(url).query)
            loopback = query.get("redirect_uri", [""])[0]
            done["favicon"] = fetch(urllib.parse.urljoin(loopback, "/favicon.ico"), None, 30)
        done["authorize"] = fetch(url, context, 30)
        location = done["authorize"].get("location")
        if done["authorize"].get("status") == 302 and location:
            done["redirect"] = fetch(location, None, 60)
    log(done)


if __name__ == "__main__":
    main()
