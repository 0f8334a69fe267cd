#!/usr/bin/env python3
"""A tiny HTTP server for tests: fixed routes that misbehave in the ways real servers do.

Usage: http_fixture.py ADDRESS PORT   (prints "ready" once it listens; binds to ADDRESS only)
"""
import http.server
import socketserver
import sys
import time

ADDRESS, PORT = sys.argv[1], int(sys.argv[2])
BASE = f"http://{ADDRESS}:{PORT}"
PNG = bytes.fromhex("89504e470d0a1a0a0000000d4948445200000001000000010806000000"
                    "1f15c4890000000d49444154789c6360000002000100e221bc330000000049454e44ae426082")


def routes():
    return {
        "/empty.m3u": (200, "audio/x-mpegurl", b""),
        "/page.m3u": (200, "text/html", b"<!DOCTYPE html><html><body>Not here</body></html>"),
        "/binary.m3u": (200, "application/octet-stream", bytes(range(1, 256)) * 4112),
        "/relative.m3u": (200, "audio/x-mpegurl", b"#EXTM3U\nstream.mp3\nftp://example.invalid/a.mp3\nfile:///etc/passwd\n"),
        "/image.m3u": (200, "audio/x-mpegurl", f"{BASE}/image.png\n".encode()),
        "/image.png": (200, "image/png", PNG),
        "/extended.m3u": (200, "audio/x-mpegurl", f"#EXTM3U\n#EXTINF:-1,Radio\n{BASE}/missing\n".encode()),
    }


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        sys.stderr.write("fixture: " + (fmt % args) + "\n")

    def do_GET(self):
        if self.path == "/silent":
            time.sleep(120)
            return
        if self.path.startswith("/loop"):
            self.send_response(302)
            self.send_header("Location", "/loop")
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        status, kind, body = routes().get(self.path, (404, "text/plain", b"not found"))
        self.send_response(status)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    server = Server((ADDRESS, PORT), Handler)
    print("ready", flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
