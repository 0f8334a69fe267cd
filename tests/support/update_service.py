#!/usr/bin/env python3
"""The station's update service for tests, bound to ADDRESS:PORT only.

Usage: update_service.py ADDRESS PORT SCENARIO_DIR [CERT KEY]   (prints "ready" once it listens;
with CERT and KEY it speaks https)
Each request reads its answer from SCENARIO_DIR at that moment:
  check.status, check.body   the version check's reply (default 200, <html><body>true</body></html>)
  patch.status, patch.body   the patch's reply (default 200, empty)
  patch.mode                 "normal", "cut" (half the body, then the connection closes),
                             "silent" (never answers), "slow" (the last byte after 0.5 s),
                             "trickle" (one byte every 0.2 s, the whole body)
  check.mode                 "normal", "silent", "trickle" or "endless-head" (header lines, 100 a second,
                             for up to a minute)
  check.size                 if present, the check body is this many bytes of padding instead
  check.location             if present, the check answers 302 with this Location
  sig.body                   if present, the patch's signature (/player/patch.exe.minisig); else 404
Every request line is appended to SCENARIO_DIR/requests.log; "last-byte" times (monotonic
seconds) of patch replies go to SCENARIO_DIR/last-byte.
"""
import http.server
import os
import ssl
import socketserver
import sys
import time

ADDRESS, PORT, SCENARIO = sys.argv[1], int(sys.argv[2]), sys.argv[3]


def read(name, default=b""):
    try:
        with open(os.path.join(SCENARIO, name), "rb") as f:
            return f.read()
    except FileNotFoundError:
        return default


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        pass

    def do_GET(self):
        with open(os.path.join(SCENARIO, "requests.log"), "a") as log:
            log.write(self.path + "\n")
        location = read("check.location").decode().strip()
        if self.path.startswith("/player/isclientlatestversion.php?") and location:
            self.send_response(302)
            self.send_header("Location", location)
            self.send_header("Content-Length", "0")
            self.end_headers()
        elif self.path.startswith("/player/isclientlatestversion.php?"):
            self.answer("check", b"<html><body>true</body></html>")
        elif self.path == "/player/patch.exe":
            self.answer("patch", b"")
        elif self.path == "/player/patch.exe.minisig" and os.path.exists(os.path.join(SCENARIO, "sig.body")):
            self.answer("sig", b"")
        else:
            self.reply(404, b"not found")

    def answer(self, what, default_body):
        mode = read(f"{what}.mode", b"normal").decode().strip()
        if mode == "silent":
            time.sleep(300)
            return
        if mode == "endless-head":
            try:
                self.wfile.write(b"HTTP/1.1 200 OK\r\n")
                for i in range(6000):
                    self.wfile.write(b"X-Padding-%d: %s\r\n" % (i, b"p" * 80))
                    self.wfile.flush()
                    time.sleep(0.01)
            except OSError:
                pass  # the client gave up
            self.close_connection = True
            return
        status = int(read(f"{what}.status", b"200"))
        size = read(f"{what}.size")
        body = b"<html><body>" + b" " * int(size) + b"true</body></html>" if size else read(f"{what}.body", default_body)
        self.reply(status, body, mode)

    def reply(self, status, body, mode="normal"):
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if mode == "cut":
            self.wfile.write(body[: len(body) // 2])
            self.wfile.flush()
            self.close_connection = True
            return
        if mode == "trickle":
            try:
                for i in range(len(body)):
                    self.wfile.write(body[i:i + 1])
                    self.wfile.flush()
                    time.sleep(0.2)
            except OSError:
                pass  # the client gave up
            return
        if mode == "slow" and body:
            self.wfile.write(body[:-1])
            self.wfile.flush()
            time.sleep(0.5)
            body = body[-1:]
        chunk = 1 << 20
        for start in range(0, len(body), chunk):
            self.wfile.write(body[start:start + chunk])
        self.wfile.flush()
        with open(os.path.join(SCENARIO, "last-byte"), "w") as f:
            f.write(f"{time.monotonic():.6f}\n")


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


if __name__ == "__main__":
    server = Server((ADDRESS, PORT), Handler)
    if len(sys.argv) > 5:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(sys.argv[4], sys.argv[5])
        server.socket = context.wrap_socket(server.socket, server_side=True)
    print("ready", flush=True)
    server.serve_forever()
