#!/usr/bin/python3
"""mlserve keeps its library current by itself, and shows it on its web page.

watch_test.py MLSETUP SHARECTL MLSERVE MLCHECK OUTPUT_DIR
  builds an installation sharing two folders (one titled as a script), runs
  mlserve on 127.0.0.1 and, without any command:
  - a folder of 200 files copied into the share: a few refreshes, never one
    per file, and all 200 in the library; GENA subscribers told;
  - a file written slowly stays out until complete, then has its duration;
  - files and folders removed and renamed: the library follows, mlcheck clean;
  - a folder shared by sharectl meanwhile is watched too;
  - the page in headless Chromium: sources, counts, the tree's first level,
    the script title shown as text; a screenshot in OUTPUT_DIR;
  - with a watch limit below the share's folders: one log line, and the
    source left to the periodic refresh;
  - a noauth rule on /web/ refuses the status; the page still shows the tree.
"""
import html
import http.server
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.error
import urllib.request

SCRIPT_TITLE = "<script>alert(1)</script>"
CDS = "urn:schemas-upnp-org:service:ContentDirectory:1"


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def run(command, **kwargs):
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, **kwargs)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def tone(path, seconds, title):
    run(["ffmpeg", "-loglevel", "error", "-y", "-f", "lavfi", "-i", "sine=frequency=440:duration=%d" % seconds,
         "-q:a", "9", "-metadata", "title=" + title, path])


def wait_for(what, check, seconds=60):
    deadline = time.time() + seconds
    while time.time() < deadline:
        value = check()
        if value:
            return value
        time.sleep(0.25)
    fail("timed out waiting for " + what)


class Server:
    """mlserve in an installation folder, on 127.0.0.1:port."""

    def __init__(self, mlserve, library, port, env=None, ready="/web/status.json"):
        self.library, self.port = library, port
        self.log_path = os.path.join(library, "logs", "medialib.log")
        self.process = subprocess.Popen([mlserve], cwd=library, stdout=subprocess.DEVNULL,
                                        env=dict(os.environ, **(env or {})))
        wait_for("mlserve to serve", lambda: self.get(ready) is not None, 20)

    def url(self, path):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def get(self, path):
        try:
            with urllib.request.urlopen(self.url(path), timeout=5) as answer:
                return answer.read().decode()
        except OSError:
            return None

    def status(self):
        return json.loads(self.get("/web/status.json"))

    def source(self, url):
        return next(s for s in self.status()["sources"] if s["url"] == url)

    def log(self):
        with open(self.log_path, errors="replace") as text:
            return text.read()

    def search(self, criteria):
        """The DIDL-Lite of a Search from the root."""
        body = ('<?xml version="1.0"?><s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/"><s:Body>'
                '<u:Search xmlns:u="%s"><ContainerID>0</ContainerID><SearchCriteria>%s</SearchCriteria>'
                '<Filter>*</Filter><StartingIndex>0</StartingIndex><RequestedCount>0</RequestedCount>'
                '<SortCriteria></SortCriteria></u:Search></s:Body></s:Envelope>' % (CDS, html.escape(criteria)))
        request = urllib.request.Request(self.url("/control/ContentDirectory"), body.encode(), headers={
            "Content-Type": 'text/xml; charset="utf-8"', "SOAPACTION": '"%s#Search"' % CDS})
        with urllib.request.urlopen(request, timeout=10) as answer:
            return html.unescape(re.search(r"<Result>(.*)</Result>", answer.read().decode(), re.S).group(1))

    def stop(self):
        self.process.terminate()
        if self.process.wait(timeout=30) != 0:
            fail("mlserve exited with %d" % self.process.returncode)


class NotifySink(http.server.ThreadingHTTPServer):
    """Collects the SystemUpdateID of every GENA NOTIFY."""

    def __init__(self):
        self.ids = []

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_NOTIFY(handler):
                body = handler.rfile.read(int(handler.headers.get("Content-Length", 0))).decode()
                found = re.search(r"<SystemUpdateID>(\d+)</SystemUpdateID>", body)
                if found:
                    self.ids.append(int(found.group(1)))
                handler.send_response(200)
                handler.end_headers()

            def log_message(handler, *args):
                pass

        super().__init__(("127.0.0.1", 0), Handler)
        threading.Thread(target=self.serve_forever, daemon=True).start()

    def subscribe(self, server):
        request = urllib.request.Request(server.url("/event/ContentDirectory"), method="SUBSCRIBE", headers={
            "CALLBACK": "<http://127.0.0.1:%d/>" % self.server_address[1], "NT": "upnp:event",
            "TIMEOUT": "Second-600"})
        urllib.request.urlopen(request, timeout=5).close()
        wait_for("the initial event", lambda: self.ids, 10)


def refreshes(server, share):
    return server.log().count("FolderWatch - Refreshed %s:" % share)


def items(server, share):
    return server.source(share)["items"]


def check_copy(server, share, sink, work):
    """A folder of 200 files copied in: a few refreshes, all files in."""
    album = os.path.join(work, "Album")
    os.makedirs(album)
    tone(os.path.join(album, "track000.mp3"), 1, "Track")
    run(["convert", "-size", "32x32", "gradient:orange-brown", os.path.join(album, "folder.jpg")])
    for n in range(1, 200):
        shutil.copy(os.path.join(album, "track000.mp3"), os.path.join(album, "track%03d.mp3" % n))
    before, refreshed, seen_id = items(server, share), refreshes(server, share), max(sink.ids)
    subprocess.run(["cp", "-r", album, share], check=True)
    wait_for("200 new items", lambda: items(server, share) == before + 200)
    time.sleep(3)
    count = refreshes(server, share) - refreshed
    print("copy of 200 files: %d refresh(es), %d items" % (count, items(server, share)))
    if not 1 <= count <= 5:
        fail("the copy of 200 files caused %d refreshes" % count)
    wait_for("a NOTIFY with a newer SystemUpdateID", lambda: max(sink.ids) > seen_id, 10)


def check_slow_write(server, share, work):
    """A file written slowly is taken once complete, with its duration."""
    source = os.path.join(work, "slow.mp3")
    tone(source, 3, "Slow Tone")
    data = open(source, "rb").read()
    before = items(server, share)
    with open(os.path.join(share, "slow.mp3"), "wb") as out:
        step = len(data) // 8 + 1
        for at in range(0, len(data), step):
            out.write(data[at:at + step])
            out.flush()
            time.sleep(0.6)
            if items(server, share) != before:
                fail("the library took slow.mp3 while it was being written")
    wait_for("slow.mp3 in the library", lambda: items(server, share) == before + 1)
    didl = server.search('dc:title = "Slow Tone"')
    duration = re.search(r'duration="([^"]+)"', didl)
    print("slow.mp3: duration %s" % (duration.group(1) if duration else None))
    if duration is None or not re.match(r"0?0:00:03", duration.group(1)):
        fail("slow.mp3 has no 3 s duration: " + didl)


def check_remove_rename(server, share, library, mlcheck):
    """Removals and renames: the library follows, and stays consistent."""
    before = items(server, share)
    os.rename(os.path.join(share, "Album"), os.path.join(share, "Renamed Album"))
    os.remove(os.path.join(share, "Renamed Album", "track000.mp3"))
    os.rename(os.path.join(share, "Renamed Album", "track001.mp3"),
              os.path.join(share, "Renamed Album", "first.mp3"))
    shutil.rmtree(os.path.join(share, "Old"))
    wait_for("the removals", lambda: items(server, share) == before - 2)
    time.sleep(2)
    titles = set(re.findall(r"<dc:title>(.*?)</dc:title>", server.search('upnp:class derivedfrom "object.container"')))
    if "/Renamed Album" not in titles or "/Album" in titles or "/Old" in titles:
        fail("the library's folders do not follow the renames and removals: %s" % sorted(titles))
    check = subprocess.run([mlcheck], cwd=library, capture_output=True, text=True)
    print("after removals and renames: %d items; %s" % (items(server, share), check.stdout.strip()))
    if check.returncode != 0 or not check.stdout.startswith("0 violations"):
        fail("mlcheck: " + check.stdout + check.stderr)


def is_image(url):
    with urllib.request.urlopen(url, timeout=5) as answer:
        return answer.status == 200 and answer.headers.get("Content-Type", "").startswith("image/")


def chromium_command(top):
    chromium = shutil.which("chromium")
    if chromium is None:
        print("SKIPPED the browser check: no chromium (scripts/install-deps.sh installs it)")
        return None
    return [chromium, "--headless", "--no-sandbox", "--disable-gpu", "--user-data-dir=" + top + "/chromium",
            "--virtual-time-budget=10000"]


def browse_page(server, top, path):
    """The page's DOM once its script ran, or None without a browser."""
    browser = chromium_command(top)
    if browser is None:
        return None
    return subprocess.run(browser + ["--dump-dom", server.url(path)], capture_output=True, text=True,
                          timeout=120).stdout


def check_page(server, output, top):
    """The page in headless Chromium: sources, counts, the tree, escaping."""
    browser = chromium_command(top)
    if browser is None:
        return
    dom = browse_page(server, top, "/")
    subprocess.run(browser + ["--window-size=1000,900", "--screenshot=" + os.path.join(output, "web-page.png"),
                              server.url("/#open=0/1")], capture_output=True, timeout=120)
    with open(os.path.join(output, "web-page.html"), "w") as saved:
        saved.write(dom)
    status = server.status()
    table = re.search(r'<table id="sources">.*?</table>', dom, re.S)
    rows = re.findall(r"<tr[^>]*><td>([^<]*)</td><td>([^<]*)</td><td>(\d+)</td>", table.group(0) if table else "")
    shown = {html.unescape(name): int(count) for name, _, count in rows}
    expected = {s["name"]: s["items"] for s in status["sources"]}
    if 'data-ready="1"' not in dom or shown != expected:
        fail("the page shows the sources %s, the library has %s" % (shown, expected))
    if SCRIPT_TITLE in dom or html.escape(SCRIPT_TITLE, quote=False) not in dom:
        fail("the script title is not shown as text")
    level = re.findall(r'<li data-id="(0/\d+)">.*?<span class="title">(.*?)</span>', dom)
    if len(level) < 3:
        fail("the tree's first level is missing: %s" % level)
    # A level of tracks with covers, opened through the page's own link to it.
    parent = re.search(r'parentID="([^"]+)"', server.search('dc:title = "Track"')).group(1)
    opened = browse_page(server, top, "/#open=" + parent)
    covers = re.findall(r'<li data-id="%s/\d+"><img class="cover" alt="" src="([^"]+)"' % parent, opened)
    if len(covers) < 100 or not all(is_image(c) for c in covers[:3]):
        fail("the level %s shows %d tracks with a cover that loads" % (parent, len(covers)))
    print("page: sources %s, tree %s, %d covers in %s; screenshot %s" % (
        shown, [t for _, t in level], len(covers), parent, os.path.join(output, "web-page.png")))


def check_new_share(server, sharectl, library, third, work):
    """A folder shared by sharectl while the server runs is watched too."""
    os.makedirs(third)
    for _ in range(10):  # the server may hold the library for a refresh: sharectl then says so
        if subprocess.run([sharectl, "-S", third], cwd=library, stdout=subprocess.DEVNULL).returncode == 0:
            break
        time.sleep(1)
    wait_for("the new source watched", lambda: any(s["url"] == third and s["how"] == "watched"
                                                   for s in server.status()["sources"]), 20)
    shutil.copy(os.path.join(work, "slow.mp3"), os.path.join(third, "late.mp3"))
    wait_for("the file in the new source", lambda: items(server, third) == 1)
    print("a share made while serving: watched, its new file in the library")


def check_limit(mlserve, library, port, share):
    """Past the watch limit: one log line, the periodic refresh instead."""
    server = Server(mlserve, library, port, {"MLSERVE_WATCH_LIMIT": "1"})
    try:
        wait_for("the source list", lambda: server.status()["sources"], 20)
        time.sleep(6)  # one more reading of the sources: still one line
        lines = [l for l in server.log().splitlines() if "Not watching " + share + ":" in l]
        how = server.source(share)["how"]
        print("watch limit 1: %d log line(s); %s" % (len(lines), how))
        if len(lines) != 1 or "limit" not in lines[0] or not how.startswith("refreshed every 1440 minutes"):
            fail("the watch limit gave %s, %r" % (lines, how))
    finally:
        server.stop()


def check_rules(mlserve, library, port, top):
    """A noauth rule on /web/ keeps the status away; the page still shows the tree."""
    config = os.path.join(library, "config.xml")
    text = open(config).read().replace("<threadPool ", '<noauth from="*" path="/web/"/><threadPool ', 1)
    open(config, "w").write(text)
    server = Server(mlserve, library, port, ready="/description.xml")
    try:
        try:
            urllib.request.urlopen(server.url("/web/status.json"), timeout=5)
            fail("/web/status.json served despite the noauth rule")
        except urllib.error.HTTPError as refused:
            if refused.code != 403:
                fail("/web/status.json refused with %d" % refused.code)
        dom = browse_page(server, top, "/")
        if dom is not None and ('data-ready="1"' not in dom or '<li data-id="0/1">' not in dom):
            fail("the page without its status shows no tree")
        print("noauth on /web/: status refused, the page shows the tree")
    finally:
        server.stop()


def main():
    mlsetup, sharectl, mlserve, mlcheck, output = sys.argv[1:6]
    os.makedirs(output, exist_ok=True)
    top = tempfile.mkdtemp(prefix="mlserve-watch-")
    try:
        share, other, work = (os.path.join(top, n) for n in ("share", "other", "work"))
        for folder in (os.path.join(share, "Old"), other, work):
            os.makedirs(folder)
        tone(os.path.join(share, "Old", "old.mp3"), 1, "Old")
        tone(os.path.join(other, "other.mp3"), 1, "Other")
        library = os.path.join(top, "library")
        run([mlsetup, library])
        run([sharectl, "-S", share], cwd=library)
        run([sharectl, "-T", SCRIPT_TITLE, "-S", other], cwd=library)
        port = free_port()
        config = os.path.join(library, "config.xml")
        text = open(config).read().replace('port="41952" ip=""', 'port="%d" ip="127.0.0.1"' % port)
        open(config, "w").write(text)
        server = Server(mlserve, library, port)
        try:
            sink = NotifySink()
            sink.subscribe(server)
            check_copy(server, share, sink, work)
            check_slow_write(server, share, work)
            check_remove_rename(server, share, library, mlcheck)
            check_page(server, output, top)
            check_new_share(server, sharectl, library, os.path.join(top, "third"), work)
        finally:
            server.stop()
        check_limit(mlserve, library, port, share)
        check_rules(mlserve, library, port, top)
        print("PASS")
    finally:
        shutil.rmtree(top, ignore_errors=True)


if __name__ == "__main__":
    main()
