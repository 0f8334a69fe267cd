"""Shared pieces of the benchmarks: building, the local station, and measuring child processes."""
import os
import socket
import signal
import statistics
import subprocess
import sys
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
from desktop import Desktop, Station, bus_daemon, own_address, recorded_seconds, stop, wait_until  # noqa: E402,F401

BUILD = os.environ.get("SONVALE_BUILD_DIR", os.path.join(ROOT, "build"))
# The player's window, and where its buttons are in it.
TITLE = "Radio Velmora Player"
PLAY, LOW, HIGH = (36, 36), (204, 52), (257, 52)


def build(*targets, directory=BUILD, options=()):
    subprocess.run(["cmake", "-S", ROOT, "-B", directory, "-DCMAKE_BUILD_TYPE=RelWithDebInfo", *options], check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", directory, "-j2", "--target", *targets], check=True, stdout=subprocess.DEVNULL)


def desktop_with_session_bus():
    """A Desktop whose programs find a session bus, as on a listener's desktop (without one, the
    player's first D-Bus use would start one itself through dbus-launch). Returns (desktop, bus)."""
    desktop = Desktop()
    bus, address = bus_daemon()
    desktop.env["DBUS_SESSION_BUS_ADDRESS"] = address
    return desktop, bus


def shown(desktop, title):
    """Whether the window of this title is mapped and viewable on the desktop."""
    return "IsViewable" in desktop.run(["xwininfo", "-name", title]).stdout


def cpu_seconds(pid):
    """User plus system CPU seconds of a running process, from /proc."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def thread_cpu(pid):
    """CPU seconds of each of a running process's threads by name (threads of one name summed; the first
    thread is "main", threads that kept the process's name are "unnamed", such as libsoup's session
    thread), from schedstat's nanoseconds. Threads that have ended are not counted."""
    with open(f"/proc/{pid}/comm") as f:
        own = f.read().strip()
    seconds = {}
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{tid}/comm") as f:
                name = f.read().strip()
            name = "main" if tid == str(pid) else "unnamed" if name == own else name
            with open(f"/proc/{pid}/task/{tid}/schedstat") as f:
                seconds[name] = seconds.get(name, 0.0) + int(f.read().split()[0]) / 1e9
        except OSError:
            continue
    return seconds


def measured(command, env=None, seconds=None, sample_at=None):
    """Runs a command to its end (sending SIGINT after `seconds`, if given).
    Returns ([(monotonic time, stdout line)], its own rusage, the monotonic time it was started)."""
    start = time.monotonic()
    process = subprocess.Popen(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    lines = []

    def read():
        for line in process.stdout:
            lines.append((time.monotonic(), line.rstrip("\n")))

    reader = threading.Thread(target=read, daemon=True)
    reader.start()
    samples = []
    if sample_at:
        def sample():
            for at in sample_at:
                time.sleep(max(0.0, start + at - time.monotonic()))
                try:
                    samples.append(cpu_seconds(process.pid))
                except OSError:
                    pass
        threading.Thread(target=sample, daemon=True).start()
    timer = threading.Timer(seconds, lambda: process.send_signal(signal.SIGINT)) if seconds else None
    if timer:
        timer.start()
    _, _, usage = os.wait4(process.pid, 0)
    process.returncode = 0
    if timer:
        timer.cancel()
    reader.join(5)
    process.stdout.close()
    if sample_at:
        return lines, usage, start, samples
    return lines, usage, start


def ended(process, sig=signal.SIGTERM):
    """Ends a running child with `sig` and returns its (CPU seconds, peak RSS MiB) from wait4, exact to the
    microsecond where /proc's figures count 10 ms ticks."""
    process.send_signal(sig)
    _, _, usage = os.wait4(process.pid, 0)
    process.returncode = 0
    return rusage_of(usage)


def rusage_of(process_usage):
    return process_usage.ru_utime + process_usage.ru_stime, process_usage.ru_maxrss / 1024


def median(values):
    return statistics.median(values) if values else float("nan")


def audio_flows(recording, within):
    """When audio came back: the moment the recording began to grow, once it has grown by 0.5 s of sound
    within `within` seconds; None if it did not."""
    start, onset = recorded_seconds(recording), None
    deadline = time.monotonic() + within
    while time.monotonic() < deadline:
        now = recorded_seconds(recording)
        if onset is None and now > start:
            onset = time.monotonic()
        if now > start + 0.5:
            return onset
        time.sleep(0.02)
    return None


def audio_stops(recording, within):
    """True once the recording has not grown for 0.4 s, within `within` seconds."""
    deadline, last = time.monotonic() + within, recorded_seconds(recording)
    while time.monotonic() < deadline:
        time.sleep(0.4)
        now = recorded_seconds(recording)
        if now - last < 0.05:
            return True
        last = now
    return False


def icecast_times(address, mount, reply_bytes=0):
    """What Icecast does for a new listener, to a bare socket: seconds from the request to its first byte, to the
    end of its reply's head, and to the first audio once the reply is `reply_bytes` long (or the connection ended)."""
    start, got, first, head = time.monotonic(), b"", None, None
    with socket.create_connection((address, 8000), timeout=30) as s:
        s.sendall(f"GET /{mount} HTTP/1.0\r\nHost: bench\r\n\r\n".encode())
        while True:
            data = s.recv(65536)
            first = first or time.monotonic() - start
            got += data
            if head is None and b"\r\n\r\n" in got:
                head = time.monotonic() - start
            audio = head is not None and len(got.split(b"\r\n\r\n", 1)[1]) > 0
            if not data or (audio and len(got) >= reply_bytes):
                return first, head, time.monotonic() - start
