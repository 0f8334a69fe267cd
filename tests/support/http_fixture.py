#!/usr/bin/env python3
"""A tiny HTTP server for tests: fixed routes that misbehave in the ways real servers do.

Usage: http_fixture.py ADDRESS PORT   (prints "ready" once it listens; binds to ADDRESS only)
"""
import ctypes
import gzip
import http.server
import os
import signal
import socketserver
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

ADDRESS, PORT = sys.argv[1], int(sys.argv[2])
BASE = f"http://{ADDRESS}:{PORT}"
PNG = bytes.fromhex("89504e470d0a1a0a0000000d4948445200000001000000010806000000"
                    "1f15c4890000000d49444154789c6360000002000100e221bc330000000049454e44ae426082")


def adts_frames(count=400, payload=200):
    """AAC-LC in ADTS frames (44.1 kHz, stereo) with empty payloads: enough for a typefinder to name the format."""
    length = 7 + payload
    header = bytes([0xFF, 0xF1, 0x50, 0x80 | (length >> 11) & 3, (length >> 3) & 0xFF, ((length & 7) << 5) | 0x1F, 0xFC])
    return (header + bytes(payload)) * count


def encoded(pipeline):
    """What a GStreamer pipeline that ends in fdsink writes, made once; empty where an element is missing."""
    if pipeline not in ENCODED:
        ENCODED[pipeline] = subprocess.run(["gst-launch-1.0", "-q", *pipeline.split()], capture_output=True,
                                           timeout=60).stdout
    return ENCODED[pipeline]


ENCODED = {}
HLS = []  # the live HLS stream's directory, once a request asked for it
HLS_LOCK = threading.Lock()


def ends_with_its_parent():
    """In the child: killed when the fixture ends, however it ends."""
    ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG


def hls_directory():
    """A live HLS station: a 660 Hz tone in AAC-LC (32 kbit/s) in MPEG-TS segments of 1 s and a rolling playlist
    of the latest 4, written by GStreamer's hlssink2 from the first request on."""
    with HLS_LOCK:
        if not HLS:
            directory = tempfile.mkdtemp(prefix="sonvale-hls-")
            subprocess.Popen(["gst-launch-1.0", "-q", *(
                "audiotestsrc is-live=true freq=660 volume=0.5 ! audioconvert ! audio/x-raw,rate=44100,channels=1 ! "
                "avenc_aac bitrate=32000 ! aacparse ! h.audio hlssink2 name=h target-duration=1 max-files=8 "
                f"playlist-length=4 location={directory}/seg%05d.ts playlist-location={directory}/live.m3u8").split()],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, preexec_fn=ends_with_its_parent)
            HLS.append(directory)
        directory = HLS[0]
    # A live playlist names at least a segment or two.
    deadline = time.monotonic() + 15
    while time.monotonic() < deadline and not os.path.exists(os.path.join(directory, "seg00002.ts")):
        time.sleep(0.05)
    return directory


def hls(path):
    """The live HLS station's files, its master playlist (one variant), and a station playlist that names it."""
    if path == "/hls.m3u":
        return 200, "audio/x-mpegurl", f"{BASE}/hls/master.m3u8\n".encode()
    if path == "/hls/master.m3u8":
        return 200, "application/vnd.apple.mpegurl", b'#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=40000,CODECS="mp4a.40.2"\nlive.m3u8\n'
    name = path[len("/hls/"):]
    if "/" in name or not (name == "live.m3u8" or name.endswith(".ts")):
        return 404, "text/plain", b"not found"
    try:
        with open(os.path.join(hls_directory(), name), "rb") as f:
            return 200, "application/vnd.apple.mpegurl" if name.endswith(".m3u8") else "video/mp2t", f.read()
    except FileNotFoundError:
        return 404, "text/plain", b"not found"


def aac_lc():
    """Ten seconds of a 660 Hz tone in AAC-LC (ADTS), by GStreamer's FFmpeg encoder."""
    return encoded("audiotestsrc num-buffers=430 freq=660 volume=0.5 ! audioconvert ! audio/x-raw,rate=44100,channels=2 ! "
                   "avenc_aac bitrate=64000 ! aacparse ! audio/mpeg,stream-format=adts ! fdsink")


def burst():
    """Two seconds of an 880 Hz tone in MP3 at 32 kbit/s, mono, as a station's mount sends a new listener
    just after its source came back; by GStreamer's LAME encoder."""
    return encoded("audiotestsrc num-buffers=86 freq=880 volume=0.5 ! audioconvert ! audio/x-raw,rate=44100,channels=1 ! "
                   "lamemp3enc target=bitrate bitrate=32 cbr=true ! fdsink")


def routes():
    return {
        "/full.m3u": (200, "audio/x-mpegurl", f"{BASE}/full\n".encode()),
        "/full": (403, "text/html", b"<html><body>too many listeners</body></html>"),
        "/aac": (200, "audio/aac", adts_frames()),
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

    def hostile(self):
        """Servers that push: endless or oversized heads, endless bodies, a compression bomb, a trickle."""
        if self.path == "/headers-without-end.m3u":
            self.wfile.write(b"HTTP/1.1 200 OK\r\n")
            while True:
                self.wfile.write(b"X-Filler: " + b"a" * 100 + b"\r\n")
        if self.path == "/oversized-headers.m3u":
            self.wfile.write(b"HTTP/1.1 200 OK\r\n" + (b"X-Filler: " + b"a" * 1000 + b"\r\n") * 10000
                             + f"Content-Type: audio/x-mpegurl\r\n\r\n{BASE}/missing\n".encode())
            return
        self.send_response(200)
        if self.path == "/endless-chunked.m3u":
            self.send_header("Content-Type", "audio/x-mpegurl")
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            chunk = b"#EXTINF:-1,x\n" * 100
            while True:
                self.wfile.write(b"%x\r\n%s\r\n" % (len(chunk), chunk))
        if self.path == "/bomb.m3u":
            body = gzip.compress(b"\0" * (50 << 20))
            self.send_header("Content-Type", "audio/x-mpegurl")
            self.send_header("Content-Encoding", "gzip")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return
        if self.path == "/trickle.m3u":
            self.send_header("Content-Type", "audio/x-mpegurl")
            self.end_headers()
            for byte in f"#EXTM3U\n{BASE}/missing\n".encode():
                self.wfile.write(bytes([byte]))
                self.wfile.flush()
                time.sleep(0.5)
            return
        if self.path == "/noise.mp3":
            self.send_header("Content-Type", "audio/mpeg")
            self.end_headers()
            while True:
                self.wfile.write(os.urandom(16384))
                time.sleep(0.01)

    def playlists(self):
        """Playlists that lead to the stream named by ?to=: after relays that fail, after one that accepts and never
        answers, or after 10 MB of comments."""
        path, _, query = self.path.partition("?")
        target = urllib.parse.parse_qs(query).get("to", [""])[0]
        if path == "/relays.m3u":
            body = f"#EXTM3U\nhttp://{ADDRESS}:9/dead\n/missing\n{target}\n".encode()
        elif path == "/wedged.m3u":
            body = f"#EXTM3U\n/silent\n{target}\n".encode()
        elif path == "/huge.m3u":
            body = f"#EXTM3U\n#EXTINF:-1,Radio\n{target}\n".encode() + (b"#" * 1023 + b"\n") * 10240
            body = body[:10 * 1024 * 1024]
        else:
            return False
        self.send_response(200)
        self.send_header("Content-Type", "audio/x-mpegurl")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        try:
            self.wfile.write(body)
        except OSError:
            pass  # read only up to its bound, as it should be
        return True

    def do_GET(self):
        if self.playlists():
            return
        if self.path == "/silent":
            time.sleep(120)
            return
        if self.path == "/burst":
            # The burst, and then nothing for a while on an open connection.
            self.send_response(200)
            self.send_header("Content-Type", "audio/mpeg")
            self.end_headers()
            self.wfile.write(burst())
            self.wfile.flush()
            time.sleep(60)
            self.close_connection = True
            return
        if self.path in ("/headers-without-end.m3u", "/oversized-headers.m3u", "/endless-chunked.m3u", "/bomb.m3u",
                         "/trickle.m3u", "/noise.mp3"):
            try:
                self.hostile()
            except OSError:
                pass  # the client hung up, as it should
            self.close_connection = True
            return
        if self.path.startswith("/loop"):
            self.send_response(302)
            self.send_header("Location", "/loop")
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if self.path == "/aac-lc":
            status, kind, body = 200, "audio/aac", aac_lc()
        elif self.path.startswith("/hls"):
            status, kind, body = hls(self.path)
        else:
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
