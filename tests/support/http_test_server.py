#!/usr/bin/env python3
"""A scripted HTTP server for tests, bound to 127.0.0.1 only.

Serves files from --root with byte ranges, Last-Modified and 304, plus
scripted answers under fixed paths (redirects, cookies, digest
authentication, chunked bodies, live streams, stalls and broken replies).
Prints "PORT <n>" once it listens. With --tls CERT KEY it speaks HTTPS.
--make-certs DIR writes ca.pem, server.pem and server.key (a test CA and a
certificate for 127.0.0.1 signed by it) and exits.
"""
import argparse
import email.utils
import hashlib
import os
import socket
import ssl
import subprocess
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

STATS = {"requests": 0, "bytes": 0}
STATS_LOCK = threading.Lock()
REALM = "tests"
NONCE = "5f1d0c0ffee"


def count(nbytes, request=False):
    with STATS_LOCK:
        STATS["bytes"] += nbytes
        if request:
            STATS["requests"] += 1


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "TestServer/1.0"

    def log_message(self, *args):
        pass

    # ---- helpers ----
    def query(self):
        return dict(urllib.parse.parse_qsl(urllib.parse.urlsplit(self.path).query))

    def route(self):
        return urllib.parse.urlsplit(self.path).path

    def base(self):
        scheme = "https" if self.server.tls else "http"
        return "%s://127.0.0.1:%d" % (scheme, self.server.server_address[1])

    def send_body(self, code, body, headers=(), ctype="text/plain"):
        if isinstance(body, str):
            body = body.encode()
        self.send_response(code)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(body)))
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)
            count(len(body))

    def raw(self, data):
        self.wfile.write(data)
        self.wfile.flush()
        self.close_connection = True

    def endless(self, chunk=b"\xff\xfb\x90\x00" * 256, pause=0.01):
        try:
            while True:
                self.wfile.write(chunk)
                self.wfile.flush()
                if pause:
                    time.sleep(pause)
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError, OSError):
            pass
        self.close_connection = True

    # ---- files ----
    def serve_file(self, name, ctype=None):
        path = os.path.join(self.server.root, name)
        if not os.path.isfile(path):
            return self.send_body(404, "not found")
        size = os.path.getsize(path)
        mtime = os.path.getmtime(path)
        modified = email.utils.formatdate(mtime, usegmt=True)
        since = self.headers.get("If-Modified-Since")
        if since:
            try:
                if email.utils.parsedate_to_datetime(since).timestamp() >= int(mtime):
                    self.send_response(304)
                    self.send_header("Last-Modified", modified)
                    self.send_header("Content-Length", "0")
                    self.end_headers()
                    return
            except (TypeError, ValueError):
                pass
        first, last, code = 0, size - 1, 200
        ranges = self.headers.get("Range")
        if ranges and ranges.startswith("bytes="):
            a, _, b = ranges[6:].partition("-")
            if a == "":
                first = max(0, size - int(b))
            else:
                first = int(a)
                if b:
                    last = min(int(b), size - 1)
            if first >= size:
                self.send_response(416)
                self.send_header("Content-Range", "bytes */%d" % size)
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
            code = 206
        self.send_response(code)
        self.send_header("Content-Type", ctype or self.server.types.get(os.path.splitext(name)[1],
                                                                        "application/octet-stream"))
        self.send_header("Content-Length", str(last - first + 1))
        self.send_header("Last-Modified", modified)
        self.send_header("Accept-Ranges", "bytes")
        if code == 206:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (first, last, size))
        self.end_headers()
        if self.command == "HEAD":
            return
        with open(path, "rb") as f:
            f.seek(first)
            left = last - first + 1
            try:
                while left > 0:
                    block = f.read(min(65536, left))
                    self.wfile.write(block)
                    count(len(block))
                    left -= len(block)
            except (BrokenPipeError, ConnectionResetError, OSError):
                self.close_connection = True

    def slow_file(self, name, seconds, cut=False):
        """A file whose whole body takes seconds to arrive; "<name>.fetching"
        appears beside it when such a transfer begins. HEAD and ranges are
        answered at once. With cut, the body ends halfway."""
        path = os.path.join(self.server.root, name)
        if self.command == "HEAD" or self.headers.get("Range") or not os.path.isfile(path):
            return self.serve_file(name, "application/rss+xml")
        with open(path, "rb") as f:
            body = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/rss+xml")
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Last-Modified", email.utils.formatdate(os.path.getmtime(path), usegmt=True))
        self.end_headers()
        open(path + ".fetching", "w").close()
        steps = max(1, int(seconds * 10))
        try:
            for step in range(steps // 2 if cut else steps):
                self.wfile.write(body[step * len(body) // steps:(step + 1) * len(body) // steps])
                self.wfile.flush()
                time.sleep(seconds / steps)
        except (BrokenPipeError, ConnectionResetError, OSError):
            pass
        self.close_connection = cut

    # ---- scripted answers ----
    def digest_ok(self):
        auth = self.headers.get("Authorization", "")
        if not auth.startswith("Digest "):
            return False
        fields = {}
        for part in auth[7:].split(","):
            key, _, value = part.strip().partition("=")
            fields[key] = value.strip('"')
        ha1 = hashlib.md5(("%s:%s:%s" % (fields.get("username"), REALM, "secret")).encode()).hexdigest()
        ha2 = hashlib.md5(("%s:%s" % (self.command, fields.get("uri"))).encode()).hexdigest()
        if "qop" in fields:
            expect = hashlib.md5(("%s:%s:%s:%s:%s:%s" % (ha1, NONCE, fields.get("nc"), fields.get("cnonce"),
                                                          fields.get("qop"), ha2)).encode()).hexdigest()
        else:
            expect = hashlib.md5(("%s:%s:%s" % (ha1, NONCE, ha2)).encode()).hexdigest()
        return fields.get("username") == "alice" and fields.get("response") == expect

    def scripted(self, route, q):
        if route == "/status":
            return self.send_body(int(q.get("code", "200")), q.get("body", "status body"))
        # "/redirect/NAME": the same, under a name whose extension a client may trust.
        if route == "/redirect" or route.startswith("/redirect/"):
            kind, to = q.get("kind", "abs"), q.get("to", "/files/a.txt")
            location = {"abs": self.base() + to, "rel": to, "broken": "http:/127.0.0.1:%d%s" %
                        (self.server.server_address[1], to), "raw": to}[kind]
            return self.send_body(int(q.get("code", "302")), "moved", [("Location", location)])
        if route == "/loop":
            return self.send_body(302, "again", [("Location", "/loop")])
        if route == "/cookie/set":
            return self.send_body(200, "set", [("Set-Cookie", "session=%s; Path=/" % q.get("v", "abc"))])
        if route == "/cookie/check":
            return self.send_body(200, "cookie=" + self.headers.get("Cookie", ""))
        if route == "/agent":
            return self.send_body(200, self.headers.get("User-Agent", ""))
        if route == "/echo":
            return self.send_body(200, str(self.headers))
        if route == "/digest":
            if self.digest_ok():
                return self.send_body(200, "welcome")
            challenge = 'Digest realm="%s", nonce="%s", qop="auth"' % (REALM, NONCE)
            return self.send_body(401, "who", [("WWW-Authenticate", challenge)])
        if route == "/upload":
            length = int(self.headers.get("Content-Length", "0"))
            data = self.rfile.read(length)
            return self.send_body(200, "%s %d %s" % (self.command, len(data), hashlib.md5(data).hexdigest()))
        if route == "/chunked":
            self.send_response(200)
            self.send_header("Content-Type", q.get("type", "audio/mpeg"))
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            for i in range(int(q.get("chunks", "4"))):
                piece = (b"chunk%d-" % i) * 100
                self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
            self.wfile.write(b"0\r\n\r\n")
            return
        if route == "/icy":
            return self.raw_icy()
        if route == "/live":
            self.raw(b"HTTP/1.0 200 OK\r\nContent-Type: %s\r\nicy-name: Test Radio\r\n"
                     b"icy-br: 128\r\n\r\n" % q.get("type", "audio/mpeg").encode())
            return self.endless()
        if route == "/halfway":
            return self.halfway(q)
        if route == "/stall":
            self.raw(b"HTTP/1.1 200 OK\r\nContent-Type: audio/mpeg\r\nContent-Length: 100000\r\n\r\nabc")
            time.sleep(float(q.get("seconds", "60")))
            return
        if route == "/endless.m3u":
            self.raw(b"HTTP/1.1 200 OK\r\nContent-Type: audio/x-mpegurl\r\n\r\n")
            lines = b"".join(b"%s/files/a.mp3?n=%d\n" % (self.base().encode(), n) for n in range(100))
            try:
                while self.command != "HEAD":
                    self.wfile.write(lines)
                    count(len(lines))
            except (BrokenPipeError, ConnectionResetError, OSError):
                pass
            return
        if route.startswith("/slow/"):
            return self.slow_file(route[6:], float(q.get("seconds", "5")), "cut" in q)
        if route == "/trickle":
            seconds = float(q.get("seconds", "5"))
            self.raw(b"HTTP/1.1 200 OK\r\nContent-Type: audio/mpeg\r\nContent-Length: %d\r\n\r\n" %
                     int(seconds * 20 * 200))
            for _ in range(int(seconds * 20)):
                self.wfile.write(b"t" * 200)
                self.wfile.flush()
                time.sleep(0.05)
            return
        if route == "/garbage":
            return self.raw(b"SPAM and eggs\r\n\r\nnot http at all")
        if route == "/bigheaders":
            filler = "".join("X-Filler-%d: %s\r\n" % (i, "y" * 90) for i in range(120))
            return self.raw(("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n%s\r\nok" % filler).encode())
        if route == "/hugelength":
            self.raw(b"HTTP/1.1 200 OK\r\nContent-Type: video/mp4\r\nContent-Length: 1000000000000000\r\n\r\n")
            return self.endless(b"\0" * 65536, 0) if q.get("endless") else self.raw(b"\0" * 1000)
        if route == "/announced":
            head = "HTTP/1.1 200 OK\r\nContent-Type: audio/mpeg\r\nServer: %s\r\nContent-Length: %s\r\n\r\n" % (
                q.get("server", "Apache"), q.get("length", "1000"))
            return self.raw(head.encode() + b"x" * 1000)
        if route == "/closemid":
            return self.raw(b"HTTP/1.1 200 OK\r\nContent-Type: audio/mpeg\r\nContent-Length: 10000\r\n\r\n" +
                            b"x" * 5000)
        if route == "/rangereject":
            if self.headers.get("Range"):
                return self.send_body(416, "no ranges here")
            return self.send_body(200, "whole body", ctype=q.get("type", "audio/mpeg"))
        if route == "/norange":
            return self.send_body(200, b"n" * int(q.get("size", "1000")), ctype="application/octet-stream")
        if route == "/nohead":
            if self.command == "HEAD":
                return self.send_body(405, "")
            return self.send_body(200, "body", ctype="audio/mpeg")
        if route == "/icy404":
            if self.headers.get("Icy-MetaData") == "1":
                return self.raw(b"ICY 200 OK\r\ncontent-type: audio/aacp\r\nicy-name: x\r\n\r\n" + b"a" * 2000)
            return self.raw(b"ICY 404 Resource Not Found\r\nicy-notice1: need metadata\r\n\r\n")
        if route == "/pingpong":
            return self.send_body(302, "on", [("Location", "/pingpong?n=%d" % (int(q.get("n", "0")) + 1))])
        if route == "/uvox":
            if (self.headers.get("User-Agent") == "Ultravox/2.0" and
                    self.headers.get("Ultravox-transport-type") == "TCP"):
                return self.send_body(200, "", ctype="misc/ultravox")
            return self.send_body(404, "not ultravox")
        if route.startswith("/ctype"):
            headers = []
            if "server" in q:
                self.server_version, self.sys_version = q["server"], ""
            body = q.get("body", "")
            if q.get("raw"):
                return self.raw(body.encode())
            self.send_response(int(q.get("code", "200")))
            if "type" in q:
                self.send_header("Content-Type", q["type"])
            for name, value in headers:
                self.send_header(name, value)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            if self.command != "HEAD":
                self.wfile.write(body.encode())
            return
        if route == "/validators":
            tag = '"v1"'
            if self.headers.get("If-None-Match") == tag:
                self.send_response(304)
                self.send_header("ETag", tag)
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
            return self.send_body(200, "data", [("ETag", tag), ("Last-Modified", q.get("lm", "Tue, 01 Dec 2026 10:00:00 GMT"))])
        if route == "/stats":
            with STATS_LOCK:
                text = "%d %d" % (STATS["requests"], STATS["bytes"])
            return self.send_body(200, text)
        if route == "/stats/reset":
            with STATS_LOCK:
                STATS["requests"] = STATS["bytes"] = 0
            return self.send_body(200, "0 0")
        return self.send_body(404, "no such path")

    def halfway(self, q):
        """A file that answers HEAD and ranged requests, but whose plain GET
        stops after "bytes" bytes: the server then stalls for "seconds" or,
        with then=close, hangs up."""
        name, ctype = q.get("name", ""), q.get("type", "video/mp4")
        if self.command == "HEAD" or self.headers.get("Range"):
            return self.serve_file(name, ctype)
        path = os.path.join(self.server.root, name)
        with open(path, "rb") as f:
            data = f.read()
        self.raw(b"HTTP/1.1 200 OK\r\nContent-Type: %s\r\nContent-Length: %d\r\n\r\n" %
                 (ctype.encode(), len(data)) + data[:int(q.get("bytes", "1000"))])
        if q.get("then") != "close":
            time.sleep(float(q.get("seconds", "60")))

    def raw_icy(self):
        self.raw(b"ICY 200 OK\r\ncontent-type: audio/mpeg\r\nicy-name: Test Radio\r\nicy-br: 128\r\n\r\n")
        self.endless()

    def handle_any(self):
        route = self.route()
        if not route.startswith("/stats"):
            count(0, request=True)
        if route.startswith("/files/"):
            return self.serve_file(urllib.parse.unquote(route[len("/files/"):]))
        return self.scripted(route, self.query())

    do_GET = do_HEAD = do_POST = do_PUT = handle_any


def make_certs(folder):
    def run(*args):
        subprocess.run(["openssl", *args], check=True, capture_output=True, cwd=folder)
    run("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem", "-days", "2",
        "-subj", "/CN=Test CA")
    run("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key", "-out", "server.csr", "-subj",
        "/CN=127.0.0.1")
    with open(os.path.join(folder, "san.ext"), "w") as f:
        f.write("subjectAltName=IP:127.0.0.1\n")
    run("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial", "-out",
        "server.pem", "-days", "2", "-extfile", "san.ext")


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def handle_error(self, request, client_address):
        pass  # clients of the tests hang up early on purpose


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", default=".")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"))
    parser.add_argument("--make-certs")
    args = parser.parse_args()
    if args.make_certs:
        make_certs(args.make_certs)
        return
    server = Server(("127.0.0.1", args.port), Handler)
    server.root = args.root
    server.tls = bool(args.tls)
    server.types = {".mp3": "audio/mpeg", ".m4a": "audio/mp4", ".mkv": "video/x-matroska",
                    ".txt": "text/plain", ".html": "text/html", ".xml": "text/xml", ".wma": "audio/x-ms-wma"}
    if args.tls:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.tls[0], args.tls[1])
        server.socket = context.wrap_socket(server.socket, server_side=True)
    print("PORT %d" % server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
