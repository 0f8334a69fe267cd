"""A desktop for end-to-end tests: Xvfb with a tray (trayer), the local station,
and small helpers around xdotool, xwininfo and sox. Every process started here
is stopped by its own pid."""
import array
import os
import re
import signal
import subprocess
import tempfile
import time

SOURCE = os.environ.get("SONVALE_SOURCE_DIR", os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))


# What a caller's shell may carry that would change what the programs do: the
# station, the audio output, proxies, the display, the session bus, Qt's own
# switches. A test names what it wants; nothing else leaks in.
PROXIES = {"http_proxy", "https_proxy", "all_proxy", "no_proxy", "ftp_proxy"}
CALLERS = {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "PULSE_SERVER"}


def own_environment(**wanted):
    """The caller's environment without what would steer the programs, plus `wanted`."""
    env = {name: value for name, value in os.environ.items()
           if not (name.startswith(("SONVALE_", "QT_")) or name.lower() in PROXIES or name in CALLERS)}
    env.update(wanted)
    return env


def wait_until(condition, timeout, interval=0.1):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        result = condition()
        if result:
            return result
        time.sleep(interval)
    return condition()


def bus_daemon():
    """A D-Bus daemon of the test's own (session configuration): (process, address)."""
    daemon = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1",
                               "--address=unix:tmpdir=/tmp"], stdout=subprocess.PIPE, text=True)
    return daemon, daemon.stdout.readline().strip()


def own_address(suite):
    pid = os.getpid()
    return f"127.{100 + suite}.{(pid >> 8) & 0xff}.{1 + (pid & 0xff) % 254}"


def stop(process, timeout=10):
    if process is None or process.poll() is not None:
        return
    process.send_signal(signal.SIGTERM)
    try:
        process.wait(timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


class Desktop:
    """Xvfb on a display of this test's own, with trayer docked at the top right."""

    def __init__(self, with_tray=True):
        self.display = self.free_display()
        self._last_click = None  # ((x, y, button), monotonic time)
        self.env = own_environment(DISPLAY=self.display, QT_QPA_PLATFORM="xcb")
        # -noreset: a display without a tray has no lasting client, and Xvfb
        # would reset (refusing connections for a moment) whenever its last
        # client leaves, such as the readiness check below.
        self.server_log = tempfile.mktemp(prefix="sonvale-xvfb-", suffix=".log")
        with open(self.server_log, "wb") as log:
            self.xvfb = subprocess.Popen(["Xvfb", self.display, "-screen", "0", "1024x600x24", "-nolisten", "tcp",
                                          "-noreset"], stdout=subprocess.DEVNULL, stderr=log)
        socket = f"/tmp/.X11-unix/X{self.display[1:]}"
        if not wait_until(lambda: os.path.exists(socket) and self.run(["xwininfo", "-root"]).returncode == 0, 20):
            raise RuntimeError("Xvfb did not start")
        self.trayer = None
        if with_tray:
            self.start_tray()

    def start_tray(self):
        self.trayer = subprocess.Popen(
            ["trayer", "--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "120",
             "--height", "24", "--transparent", "false", "--tint", "0x303030"],
            env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not wait_until(lambda: self.find_line(r'"panel": \("panel" "trayer"\)'), 20):
            raise RuntimeError("trayer did not start")

    @staticmethod
    def free_display():
        number = 200 + os.getpid() % 700
        while os.path.exists(f"/tmp/.X{number}-lock") or os.path.exists(f"/tmp/.X11-unix/X{number}"):
            number += 1
        return f":{number}"

    def close(self):
        stop(self.trayer)
        stop(self.xvfb)
        if os.path.exists(self.server_log):
            os.remove(self.server_log)

    def run(self, command, env_extra=None, **kwargs):
        return subprocess.run(command, env=dict(self.env, **(env_extra or {})), capture_output=True, text=True,
                              timeout=60, **kwargs)

    def start(self, command, env=None, log=None):
        """Starts a program on this display; its stderr goes to the file `log` if given."""
        stderr = open(log, "ab") if log else subprocess.DEVNULL
        try:
            return subprocess.Popen(command, env=dict(self.env, **(env or {})), stdout=subprocess.DEVNULL, stderr=stderr)
        finally:
            if log:
                stderr.close()

    def tree(self):
        return self.run(["xwininfo", "-root", "-tree"]).stdout

    def find_line(self, pattern):
        for line in self.tree().splitlines():
            if re.search(pattern, line):
                return line
        return None

    def window(self, title):
        """(id, x, y, width, height) of the first window with this exact title, mapped or not."""
        for line in self.tree().splitlines():
            match = re.match(r'\s*(0x[0-9a-f]+) "(.*)": \((.*?)\)\s+(\d+)x(\d+)\+(-?\d+)\+(-?\d+)\s+\+(-?\d+)\+(-?\d+)', line)
            if match and match.group(2) == title:
                return int(match.group(1), 16), int(match.group(8)), int(match.group(9)), int(match.group(4)), int(match.group(5))
        return None

    def window_class(self, window_id):
        return self.run(["xprop", "-id", str(window_id), "WM_CLASS"]).stdout

    def mapped(self, window_id):
        return "IsViewable" in self.run(["xwininfo", "-id", str(window_id)]).stdout

    def tray_icon(self, name="Sonvale"):
        """Screen centre of the icon embedded in trayer's panel, or None."""
        found = self.tray_icon_window(name)
        return found[1] if found else None

    def tray_icon_window(self, name="Sonvale"):
        """(window id, screen centre) of the icon embedded in trayer's panel, or None."""
        lines = self.tree().splitlines()
        inside_panel = False
        for line in lines:
            if '"panel": ("panel" "trayer")' in line:
                inside_panel = True
                continue
            if inside_panel:
                match = re.match(rf'\s*(0x[0-9a-f]+) "{name}": .*?(\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+)', line)
                if match:
                    w, h, x, y = map(int, match.groups()[1:])
                    return int(match.group(1), 16), (x + w // 2, y + h // 2)
                if re.match(r"\s{5}0x", line):  # back at the root's children
                    inside_panel = False
        return None

    def menus(self):
        """Sizes of the mapped popup menus of the player."""
        sizes = []
        for line in self.tree().splitlines():
            match = re.match(r'\s*(0x[0-9a-f]+) "Sonvale": \("Sonvale" "Sonvale"\)\s+(\d+)x(\d+)', line)
            if match and int(match.group(3)) > 30 and self.mapped(int(match.group(1), 16)):
                sizes.append((int(match.group(2)), int(match.group(3))))
        return sizes

    def pixel(self, x, y):
        """The screen's colour at (x, y) as (r, g, b)."""
        out = self.run(["import", "-window", "root", "-crop", f"1x1+{x}+{y}", "-depth", "8", "txt:-"]).stdout
        match = re.search(r"\((\d+),(\d+),(\d+)", out.splitlines()[-1])
        return tuple(int(v) for v in match.groups()) if match else None

    def screenshot(self, path):
        self.run(["import", "-window", "root", path])

    def pointer(self):
        out = self.run(["xdotool", "getmouselocation", "--shell"]).stdout
        values = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
        return int(values.get("X", -1)), int(values.get("Y", -1))

    def move(self, x, y):
        # --sync waits for the pointer to arrive; asked to stay where it is,
        # it would wait for a motion that never comes.
        if self.pointer() != (x, y):
            self.run(["xdotool", "mousemove", "--sync", str(x), str(y)])

    # Clicks meant as separate clicks come further apart than Qt's double-click
    # interval (400 ms), as a person's do; closer, the second is half of a
    # double-click.
    DOUBLE_CLICK_GAP = 0.6

    def click(self, x, y, button=1, repeat=1):
        self.move(x, y)
        if self._last_click and self._last_click[0] == (x, y, button):
            time.sleep(max(0.0, self._last_click[1] + self.DOUBLE_CLICK_GAP - time.monotonic()))
        self.run(["xdotool", "click", "--repeat", str(repeat), "--delay", "60", str(button)])
        self._last_click = ((x, y, button), time.monotonic())

    def key(self, name):
        self.run(["xdotool", "key", name])


class Station:
    """scripts/station on an address of its own."""

    def __init__(self, address, demo=False):
        self.address = address
        self.dir = tempfile.mkdtemp(prefix="sonvale-station-")
        self.script = os.path.join(SOURCE, "scripts", "station")
        command = [self.script, "start", "--address", address, "--dir", self.dir]
        subprocess.run(command + (["--demo"] if demo else []), check=True, timeout=120)

    def title(self, mount, text):
        self.call("title", mount, text)

    def drop(self, mount):
        self.call("drop", mount)

    def restore(self, mount):
        self.call("restore", mount)

    def call(self, *args):
        subprocess.run([self.script, *args, "--address", self.address, "--dir", self.dir], check=True, timeout=60)

    def close(self):
        subprocess.run([os.path.join(SOURCE, "scripts", "station"), "stop", "--address", self.address, "--dir", self.dir],
                       timeout=60)


def recording_sink(path, append=False):
    """Records in real time; each new pipeline (a reconnect) starts the file anew unless `append`."""
    return ("audioconvert ! audioresample ! audio/x-raw,format=S16LE,rate=44100,channels=1 ! "
            f"filesink sync=true buffer-mode=unbuffered append={'true' if append else 'false'} location={path}")


def recorded_seconds(path):
    return os.path.getsize(path) / 88200 if os.path.exists(path) else 0


def frequency(path, last_seconds=2.0):
    """sox's rough frequency of the last seconds of a raw recording."""
    start = max(0.0, recorded_seconds(path) - last_seconds)
    out = subprocess.run(["sox", "-t", "raw", "-r", "44100", "-e", "signed", "-b", "16", "-c", "1", path, "-n",
                          "trim", f"{start:.3f}", "stat"], capture_output=True, text=True, timeout=60).stderr
    match = re.search(r"Rough\s+frequency:\s+(-?\d+)", out)
    return int(match.group(1)) if match else -1


class AudioServer:
    """An audio server of the test's own with one null output, and a recording of what reaches it: PulseAudio,
    or PipeWire as today's desktops run it (pipewire, wireplumber and its PulseAudio service, pipewire-pulse)."""

    def __init__(self, kind="pulseaudio"):
        self.kind = kind
        self.dir = tempfile.mkdtemp(prefix=f"sonvale-{kind}-")
        self.socket = os.path.join(self.dir, "pulse", "native") if kind == "pipewire" else os.path.join(self.dir, "native")
        # The output is there as the server starts, as a desktop's sound card is.
        if kind == "pipewire":
            os.makedirs(os.path.join(self.dir, "pipewire", "pipewire.conf.d"))
            with open(os.path.join(self.dir, "pipewire", "pipewire.conf.d", "heard.conf"), "w") as f:
                f.write("context.objects = [ { factory = adapter args = { factory.name = support.null-audio-sink\n"
                        "  node.name = heard media.class = Audio/Sink audio.position = [ FL FR ] } } ]\n")
        else:
            with open(os.path.join(self.dir, "default.pa"), "w") as f:
                f.write(f"load-module module-native-protocol-unix auth-anonymous=1 socket={self.socket}\n"
                        "load-module module-null-sink sink_name=heard\nset-default-sink heard\n")
        self.env = own_environment(PULSE_SERVER=f"unix:{self.socket}", HOME=self.dir, XDG_RUNTIME_DIR=self.dir,
                                   XDG_CONFIG_HOME=self.dir, XDG_STATE_HOME=os.path.join(self.dir, "state"))
        self.processes = []  # the server's own, in the order they start
        self.bus = self.recorder = None
        self.recording = os.path.join(self.dir, "heard.raw")

    def start(self):
        if self.kind == "pipewire":
            # WirePlumber, the session manager that links streams to outputs, needs a session bus.
            self.bus, address = bus_daemon()
            env = dict(self.env, DBUS_SESSION_BUS_ADDRESS=address)
            with open(os.path.join(self.dir, "server.log"), "ab") as log:
                self.processes.append(subprocess.Popen(["pipewire"], env=env, stdout=log, stderr=log))
                # Its clients give up on a daemon that does not answer yet (the socket of one killed before may
                # still be there).
                if not wait_until(lambda: subprocess.run(["pw-cli", "info", "0"], env=env, capture_output=True,
                                                         timeout=10).returncode == 0, 20):
                    raise RuntimeError("pipewire did not start")
                for command in ("wireplumber", "pipewire-pulse"):
                    self.processes.append(subprocess.Popen([command], env=env, stdout=log, stderr=log))
        else:
            self.processes.append(subprocess.Popen(
                ["pulseaudio", "-n", "-F", os.path.join(self.dir, "default.pa"), "--daemonize=no",
                 "--exit-idle-time=-1", "--use-pid-file=no", "--system=false", "--log-level=error"],
                env=self.env, stdout=subprocess.DEVNULL))
        if not wait_until(lambda: "Default Sink: heard" in subprocess.run(["pactl", "info"], env=self.env,
                                                                          capture_output=True, text=True).stdout, 20):
            said = ""
            if os.path.exists(os.path.join(self.dir, "server.log")):
                with open(os.path.join(self.dir, "server.log"), errors="replace") as log:
                    said = ": " + log.read()[-3000:]
            raise RuntimeError(f"{self.kind} did not start{said}")
        with open(self.recording, "wb") as out:  # each server's recording starts anew
            self.recorder = subprocess.Popen(["parec", "-d", "heard.monitor", "--format=s16le", "--rate=44100",
                                              "--channels=1", "--latency-msec=20"], env=self.env, stdout=out)
        # PulseAudio's idle null sink renders in 2-s blocks and takes up the recorder's short latency only at
        # the next one: what plays in the meantime is heard up to 2 s late. Suspended and resumed, it starts
        # afresh in short blocks, as a sound card's sink plays a new stream at once. (PipeWire's runs in the
        # graph's short cycles from the start; suspended, it would take along a stream already playing.)
        for suspended in ("1", "0") if self.kind == "pulseaudio" else ():
            subprocess.run(["pactl", "suspend-sink", "heard", suspended], env=self.env, check=True,
                           stdout=subprocess.DEVNULL)

    def kill(self):
        for process in [self.recorder, *reversed(self.processes)]:
            if process and process.poll() is None:
                process.kill()
                process.wait()
        stop(self.bus)
        if self.bus:
            self.bus.stdout.close()
        self.processes = []
        self.bus = self.recorder = None

    def stall(self, stalled=True):
        """Stops the server's processes, or lets them go on: a wedged device or a stuck server, as its clients see it."""
        for process in self.processes:
            process.send_signal(signal.SIGSTOP if stalled else signal.SIGCONT)

    def sounding(self):
        """Whether the last 0.2 s recorded are sound, not silence."""
        size = os.path.getsize(self.recording) if os.path.exists(self.recording) else 0
        if size < 17640:
            return False
        with open(self.recording, "rb") as f:
            f.seek(size - 17640 - size % 2)
            samples = array.array("h", f.read(17640))
        return sum(s * s for s in samples) / len(samples) > 1000 ** 2
