#!/usr/bin/env python3
"""A launcher server for tests and the demo: HTTPS on <address>:443.

It serves its root folder:
  /launcher/info      -> ROOT/info.json
  /launcher/manifest  -> ROOT/manifest.json
  /launcher/file?p=X  -> ROOT/files/X  (Range "bytes=N-" answered with 206)
  /launcher/banner    -> ROOT/banner.img
  /launcher/release   -> ROOT/launcher/release
  /launcher/release2  -> ROOT/launcher/release2
  /launcher/o/<hex>   -> ROOT/launcher/o/<hex>  (40 or 64 lowercase hex digits; <40>.map and .fine too)
A missing file answers 404.

Faults are scripted in ROOT/rules.json, read again on every request: a list of
rules, the first whose "path" matches wins. The request target matches when it
equals "path", or starts with it when "prefix" is true. Keys of a rule:
  status       answer this status (default: what the file would give)
  body         answer this text instead of the file
  times        use the rule this many more times, then drop it
  range        match only a request whose Range header is exactly this
  cut_after    send the full Content-Length, then drop the connection after N body bytes
  ignore_range answer 200 with the whole file even when Range was asked
  single_part  answer a request for several ranges with the first one alone (a 206 of one part)
  malformed_multipart  answer several ranges with a multipart body whose first part's
               Content-Range names other bytes than it carries
  multirange_status  answer a request for several ranges with this status and no body
               (Varnish answers 416 so); one range is answered as usual
  ranges_status  the same for any request of explicit ranges ("bytes=a-b", one or
               several); "bytes=N-" is answered as usual
  epilogue     after a multipart body's closing boundary, send this many filler bytes
               (no Content-Length: the body ends when the connection does); what was
               sent before the client left is logged as a line {"epilogue_sent": "N"}
  delay_ms     sleep this long before every chunk of the body
  pause_after_first_ms  sleep this long after the first chunk (a transfer that stalls)
  chunk        body chunk size in bytes (default 1 MiB, 64 KiB when endless)
  endless      send body bytes forever (no length), until the client leaves
  extra        a number of bytes appended beyond the file (a server that sends too much)
  location     send this Location header (with a 3xx "status": a redirect)
  drop         close the connection without any answer (a server that is down)
  header_trickle_ms  send the status line and one header a byte at a time, this many ms
               apart (a server that trickles its headers), for header_trickle_for_ms
               (default: until the client leaves), then the rest of the answer

Answers carry the Cache-Control of the shipped nginx config (and Retry-After
on a 503).

Every request is appended to ROOT/requests.log as one JSON line with
"target", "range" and "agent".
"""

import argparse
import json
import os
import re
import socket
import ssl
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

ROOT = "."
LOCK = threading.Lock()


def load_rules():
    try:
        with open(os.path.join(ROOT, "rules.json"), "rb") as f:
            rules = json.loads(f.read() or b"[]")
        return rules if isinstance(rules, list) else []
    except (OSError, ValueError):
        return []


def take_rule(target, range_header):
    """The first matching rule; counts down and drops rules with "times"."""
    with LOCK:
        rules = load_rules()
        for i, rule in enumerate(rules):
            path = rule.get("path", "")
            if "range" in rule and rule["range"] != range_header:
                continue
            if target == path or (rule.get("prefix") and target.startswith(path)):
                if "times" in rule:
                    rule["times"] -= 1
                    if rule["times"] <= 0:
                        del rules[i]
                    tmp = os.path.join(ROOT, "rules.json.tmp")
                    with open(tmp, "w") as f:
                        json.dump(rules, f)
                    os.replace(tmp, os.path.join(ROOT, "rules.json"))
                return rule
    return {}


def log_request(target, headers):
    line = json.dumps({"target": target, "range": headers.get("Range"), "agent": headers.get("User-Agent")})
    with LOCK:
        with open(os.path.join(ROOT, "requests.log"), "a") as f:
            f.write(line + "\n")


def cache_control(target, status):
    """What tools/nginx/tvl-launcher.conf sends: objects a year, the release
    and the info 10 s, the fixed documents and files revalidated, and no
    error kept."""
    path = urllib.parse.urlsplit(target).path
    if status >= 400:
        return "no-store"
    if path.startswith("/launcher/o/"):
        return "public, max-age=31536000, immutable"
    if path in ("/launcher/release", "/launcher/release2", "/launcher/info"):
        return "public, max-age=10, stale-while-revalidate=10"
    return "no-cache"


def file_for(target):
    parsed = urllib.parse.urlsplit(target)
    fixed = {"/launcher/info": "info.json", "/launcher/manifest": "manifest.json", "/launcher/banner": "banner.img",
             # the release, where tvl_publish.py --site ROOT puts it
             "/launcher/release": "launcher/release", "/launcher/release2": "launcher/release2"}
    if parsed.path in fixed:
        return os.path.join(ROOT, fixed[parsed.path])
    if re.fullmatch(r"/launcher/o/([0-9a-f]{40}(\.map|\.fine)?|[0-9a-f]{64})", parsed.path):
        return os.path.join(ROOT, "launcher", "o", parsed.path.rsplit("/", 1)[1])
    if parsed.path == "/launcher/file":
        rel = urllib.parse.parse_qs(parsed.query).get("p", [""])[0]
        full = os.path.realpath(os.path.join(ROOT, "files", rel))
        if full.startswith(os.path.realpath(os.path.join(ROOT, "files")) + os.sep):
            return full
    return None


class Body:
    """A response body: bytes in memory or a file streamed from disk, from
    `start` on, followed by `extra` filler bytes."""

    def __init__(self, data=None, path=None):
        self.data, self.path = data, path
        self.size = len(data) if data is not None else os.path.getsize(path)
        self.start, self.extra = 0, 0

    def length(self):
        return self.size - self.start + self.extra

    def pieces(self, chunk, limit):
        left = limit
        if self.data is not None:
            pos = self.start
            while left > 0 and pos < self.size:
                piece = self.data[pos:pos + min(chunk, left)]
                pos += len(piece)
                left -= len(piece)
                yield piece
        else:
            with open(self.path, "rb") as f:
                f.seek(self.start)
                while left > 0:
                    piece = f.read(min(chunk, left))
                    if not piece:
                        break
                    left -= len(piece)
                    yield piece
        while left > 0:
            piece = b"x" * min(chunk, left)
            left -= len(piece)
            yield piece


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    # Without it each small answer waits about 40 ms for a delayed ACK.
    disable_nagle_algorithm = True

    def log_message(self, fmt, *args):
        pass

    def do_GET(self):
        target = self.path
        log_request(target, self.headers)
        rule = take_rule(target, self.headers.get("Range"))
        if rule.get("drop"):
            return self.drop_connection()
        if rule.get("endless"):
            return self.send_endless(rule)
        if rule.get("header_trickle_ms"):
            return self.send_trickled_headers(target, rule)
        status, body = self.resolve(target, rule)
        ranges = self.explicit_ranges()
        if status == 200 and ranges and len(ranges) > 1 and rule.get("multirange_status"):
            return self.send_empty(int(rule["multirange_status"]))
        if status == 200 and ranges and rule.get("ranges_status"):
            return self.send_empty(int(rule["ranges_status"]))
        if status == 200 and ranges and not rule.get("ignore_range") and body.path:
            return self.send_ranges(body.path, ranges, rule)
        offset = self.range_offset()
        if status == 200 and offset and not rule.get("ignore_range") and offset >= body.size:
            # As nginx: a range that starts past the end is not satisfiable, and never kept.
            return self.send_empty(416, [("Content-Range", f"bytes */{body.size}")])
        if status == 200 and offset and not rule.get("ignore_range") and offset <= body.size:
            body.start = offset
            status = 206
        body.extra = int(rule.get("extra", 0))
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(body.length()))
        self.send_header("Cache-Control", cache_control(target, status))
        if rule.get("location"):
            self.send_header("Location", rule["location"])
        if status == 503:
            self.send_header("Retry-After", "30")
        self.end_headers()
        self.send_body(body, rule)

    def resolve(self, target, rule):
        if "body" in rule:
            return int(rule.get("status", 200)), Body(data=rule["body"].encode("utf-8"))
        path = file_for(target)
        if path and os.path.isfile(path):
            return int(rule.get("status", 200)), Body(path=path)
        return int(rule.get("status", 404)), Body(data=b"not found")

    def range_offset(self):
        value = self.headers.get("Range", "")
        if value.startswith("bytes=") and value.endswith("-"):
            try:
                return int(value[6:-1])
            except ValueError:
                return 0
        return 0

    def explicit_ranges(self):
        """[(first, last)] of "bytes=a-b,c-d", or None for any other Range.
        In a list of several, a last part may be open ("c-"): last is None."""
        value = self.headers.get("Range", "")
        match = re.fullmatch(r"bytes=(\d+-\d*(,\d+-\d*)*)", value)
        if not match:
            return None
        parts = [part.split("-") for part in match.group(1).split(",")]
        if len(parts) == 1 and parts[0][1] == "":
            return None  # a plain resume, "bytes=N-"
        return [(int(a), int(b) if b else None) for a, b in parts]

    def send_ranges(self, path, ranges, rule):
        """As nginx answers: one range as a plain 206, several as
        multipart/byteranges (or as the rule spoils it)."""
        with open(path, "rb") as f:
            data = f.read()
        total = len(data)
        ranges = [(a, total - 1 if b is None else min(b, total - 1)) for a, b in ranges if a < total]
        if len(ranges) == 1 or rule.get("single_part"):
            a, b = ranges[0]
            payload, content_type = data[a:b + 1], "application/octet-stream"
            extra = [("Content-Range", f"bytes {a}-{b}/{total}")]
        else:
            boundary = "00000000001"
            parts = []
            for i, (a, b) in enumerate(ranges):
                named = (a + 1, b + 1) if rule.get("malformed_multipart") and i == 0 else (a, b)
                parts.append(f"\r\n--{boundary}\r\nContent-Type: application/octet-stream\r\n"
                             f"Content-Range: bytes {named[0]}-{named[1]}/{total}\r\n\r\n".encode() + data[a:b + 1])
            payload = b"".join(parts) + f"\r\n--{boundary}--\r\n".encode()
            content_type, extra = f"multipart/byteranges; boundary={boundary}", []
        self.send_response(206)
        self.send_header("Cache-Control", cache_control(self.path, 206))
        self.send_header("Content-Type", content_type)
        for name, value in extra:
            self.send_header(name, value)
        if rule.get("epilogue") and len(ranges) > 1:
            return self.send_with_epilogue(payload, int(rule["epilogue"]))
        self.send_header("Content-Length", str(len(payload)))
        self.end_headers()
        self.send_body(Body(data=payload), rule)

    def send_with_epilogue(self, payload, filler):
        self.send_header("Connection", "close")
        self.end_headers()
        self.close_connection = True
        sent = 0
        try:
            self.wfile.write(payload)
            block = b"x" * 65536
            while sent < filler:
                self.wfile.write(block[:min(len(block), filler - sent)])
                sent += min(len(block), filler - sent)
            self.wfile.flush()
        except OSError:
            pass
        with LOCK:
            with open(os.path.join(ROOT, "requests.log"), "a") as f:
                f.write(json.dumps({"target": "", "epilogue_sent": str(sent)}) + "\n")

    def send_empty(self, status, headers=()):
        self.send_response(status)
        self.send_header("Cache-Control", cache_control(self.path, status))
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def send_body(self, body, rule):
        chunk = int(rule.get("chunk", 1 << 20))
        total = body.length()
        limit = min(int(rule["cut_after"]), total) if "cut_after" in rule else total
        sent = 0
        try:
            for piece in body.pieces(chunk, limit):
                if rule.get("delay_ms"):
                    time.sleep(rule["delay_ms"] / 1000.0)
                if sent and rule.get("pause_after_first_ms"):
                    time.sleep(rule.pop("pause_after_first_ms") / 1000.0)
                self.wfile.write(piece)
                self.wfile.flush()
                sent += len(piece)
            self.wfile.flush()
        except OSError:
            return
        if sent < total:
            self.drop_connection()

    def send_endless(self, rule):
        self.send_response(int(rule.get("status", 200)))
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Connection", "close")
        self.end_headers()
        block = b"z" * int(rule.get("chunk", 65536))
        try:
            while True:
                if rule.get("delay_ms"):
                    time.sleep(rule["delay_ms"] / 1000.0)
                self.wfile.write(block)
        except OSError:
            pass
        self.close_connection = True

    def send_trickled_headers(self, target, rule):
        _, body = self.resolve(target, rule)
        ends = time.monotonic() + rule.get("header_trickle_for_ms", 1e12) / 1000.0
        self.close_connection = True
        try:
            self.wfile.write(b"HTTP/1.1 200 OK\r\nX-Slow: ")
            while time.monotonic() < ends:
                self.wfile.write(b"a")
                self.wfile.flush()
                time.sleep(rule["header_trickle_ms"] / 1000.0)
            self.wfile.write(b"\r\nContent-Length: %d\r\nConnection: close\r\n\r\n" % body.length())
            for piece in body.pieces(1 << 20, body.length()):
                self.wfile.write(piece)
            self.wfile.flush()
        except OSError:
            pass

    def drop_connection(self):
        self.close_connection = True
        try:
            self.connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


class TLSServer(ThreadingHTTPServer):
    """Each connection's TLS handshake runs in its own thread, within 30 s:
    a client that stops half-way through one (launchers are killed at any
    moment) must not hold up every other connection in accept()."""
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, handler, ctx):
        self.ctx = ctx
        super().__init__(address, handler)

    def finish_request(self, request, client_address):
        request.settimeout(30)
        try:
            tls = self.ctx.wrap_socket(request, server_side=True)
        except (OSError, ssl.SSLError):
            return
        tls.settimeout(None)
        self.RequestHandlerClass(tls, client_address, self)

    def handle_error(self, request, client_address):
        pass  # a client that left mid-answer is no server fault


def main():
    global ROOT
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--root", required=True)
    ap.add_argument("--address", default="127.0.0.2")
    ap.add_argument("--port", type=int, default=443)
    ap.add_argument("--cert", required=True)
    ap.add_argument("--key", required=True)
    ap.add_argument("--ready-file", help="written once the server accepts connections")
    args = ap.parse_args()
    ROOT = os.path.abspath(args.root)
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.load_cert_chain(args.cert, args.key)
    server = TLSServer((args.address, args.port), Handler, ctx)
    if args.ready_file:
        with open(args.ready_file, "w") as f:
            f.write(str(os.getpid()))
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
