"""The player on a machine like a listener's: a PulseAudio server of its own that dies and comes back
(or is not there yet when play is pressed), NetworkManager and logind on a system bus of their own
(python3-dbusmock) whose network goes and comes and whose machine sleeps and wakes. What reaches the
audio server's output is recorded, and the time from each return to sound is measured."""
import os
import subprocess
import sys
import tempfile
import time
import unittest

import dbus

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from desktop import AudioServer, Desktop, Station, bus_daemon, frequency, own_address, stop, wait_until  # noqa: E402

PLAYER = os.environ.get("SONVALE_PLAYER", "build/Player/Sonvale")
MOCK = "org.freedesktop.DBus.Mock"
NM_DISCONNECTED, NM_CONNECTED_GLOBAL = 20, 70


class SystemBus:
    """A bus standing in for the system bus, with logind and NetworkManager mocked on it."""

    def __init__(self):
        self.daemon, self.address = bus_daemon()
        env = dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=self.address)
        self.mocks = [subprocess.Popen([sys.executable, "-m", "dbusmock", "--system", "--template", name], env=env,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                      for name in ("logind", "networkmanager")]
        self.bus = dbus.bus.BusConnection(self.address)
        for name in ("org.freedesktop.login1", "org.freedesktop.NetworkManager"):
            if not wait_until(lambda: self.bus.name_has_owner(name), 20):
                raise RuntimeError(f"{name} did not start")
        self.login = self.bus.get_object("org.freedesktop.login1", "/org/freedesktop/login1")
        self.network = self.bus.get_object("org.freedesktop.NetworkManager", "/org/freedesktop/NetworkManager")

    def network_state(self, state):
        self.network.SetGlobalConnectionState(dbus.UInt32(state), dbus_interface=MOCK)

    def sleep(self, sleeping):
        self.login.EmitSignal("org.freedesktop.login1.Manager", "PrepareForSleep", "b", [sleeping], dbus_interface=MOCK)

    def delay_locks(self):
        return [str(i[1]) for i in self.login.ListInhibitors(dbus_interface="org.freedesktop.login1.Manager")
                if str(i[0]) == "sleep" and str(i[3]) == "delay"]

    def close(self):
        self.bus.close()
        for mock in self.mocks:
            stop(mock)
        stop(self.daemon)
        self.daemon.stdout.close()


class Portal:
    """The desktop portal's Inhibit, mocked on the session bus; its calls are recorded."""
    REQUEST = "/org/freedesktop/portal/desktop/request/1_1/sonvale"

    def __init__(self, address):
        env = dict(os.environ, DBUS_SESSION_BUS_ADDRESS=address)
        self.mock = subprocess.Popen([sys.executable, "-m", "dbusmock", "org.freedesktop.portal.Desktop",
                                      "/org/freedesktop/portal/desktop", "org.freedesktop.portal.Inhibit"], env=env,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.bus = dbus.bus.BusConnection(address)
        if not wait_until(lambda: self.bus.name_has_owner("org.freedesktop.portal.Desktop"), 20):
            raise RuntimeError("the portal mock did not start")
        desktop = self.bus.get_object("org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop")
        desktop.AddMethod("org.freedesktop.portal.Inhibit", "Inhibit", "sua{sv}", "o",
                          f"ret = dbus.ObjectPath('{self.REQUEST}')", dbus_interface=MOCK)
        desktop.AddObject(self.REQUEST, "org.freedesktop.portal.Request", {},
                          [("Close", "", "", "")], dbus_interface=MOCK)
        self.desktop = desktop
        self.request = self.bus.get_object("org.freedesktop.portal.Desktop", self.REQUEST)

    def inhibits(self):
        """The flags of every Inhibit so far."""
        return [int(args[1]) for _, method, args in self.desktop.GetCalls(dbus_interface=MOCK) if method == "Inhibit"]

    def closes(self):
        return len(self.request.GetCalls(dbus_interface=MOCK))

    def forget(self):
        for mock in (self.desktop, self.request):
            mock.ClearCalls(dbus_interface=MOCK)

    def close(self):
        self.bus.close()
        stop(self.mock)


class ListenersMachine(unittest.TestCase):
    """The player on a machine of the test's own: a system bus with logind and NetworkManager, a session bus with
    the desktop portal, an audio server."""
    audio_kind = "pulseaudio"
    suite = 8  # the station's loopback address

    @classmethod
    def setUpClass(cls):
        cls.station = Station(own_address(cls.suite))
        cls.desktop = Desktop(with_tray=False)
        cls.system = SystemBus()
        cls.session, cls.session_address = bus_daemon()
        cls.portal = Portal(cls.session_address)
        cls.audio = AudioServer(cls.audio_kind)

    @classmethod
    def tearDownClass(cls):
        cls.audio.kill()
        cls.portal.close()
        stop(cls.session)
        cls.session.stdout.close()
        cls.system.close()
        cls.desktop.close()
        cls.station.close()

    def setUp(self):
        self.system.network_state(NM_CONNECTED_GLOBAL)
        self.log = tempfile.mktemp(prefix="sonvale-machine-", suffix=".log")
        self.player = None

    def tearDown(self):
        stop(self.player)
        self.audio.kill()
        if os.path.exists(self.log):
            if self._outcome.success is False or any(t is self for t, _ in self._outcome.result.failures):
                with open(self.log, errors="replace") as log:
                    sys.stderr.write(log.read())
            os.remove(self.log)

    def start_player(self):
        env = {"SONVALE_STREAM_HOST": self.station.address, "PULSE_SERVER": self.audio.env["PULSE_SERVER"],
               "DBUS_SYSTEM_BUS_ADDRESS": self.system.address, "DBUS_SESSION_BUS_ADDRESS": self.session_address,
               "QT_LOGGING_RULES": "sonvale.player.info=true"}
        self.player = self.desktop.start([PLAYER], env=env, log=self.log)
        self.assertTrue(wait_until(lambda: self.mpris() == "Stopped", 20))

    def mpris(self):
        return self.desktop.run(["playerctl", "--player=sonvale", "status"],
                                env_extra={"DBUS_SESSION_BUS_ADDRESS": self.session_address}).stdout.strip()

    def play(self):
        self.desktop.run(["playerctl", "--player=sonvale", "play"],
                         env_extra={"DBUS_SESSION_BUS_ADDRESS": self.session_address})

    def label(self):
        """The window's status text, as the player logs it."""
        with open(self.log, errors="replace") as log:
            texts = [line.split("status: ", 1)[1].strip().strip('"') for line in log if "status: " in line]
        return texts[-1] if texts else "Ready"

    def time_to_sound(self, timeout=20):
        began = time.monotonic()
        self.assertTrue(wait_until(self.audio.sounding, timeout, interval=0.05), "no sound came back")
        return time.monotonic() - began

    def expect_heard(self):
        self.assertTrue(wait_until(self.audio.sounding, 20, interval=0.05))
        time.sleep(0.6)
        self.assertAlmostEqual(frequency(self.audio.recording, 0.5), 880, delta=15)

    def mpris_call(self, method, *args):
        """Calls the player's MPRIS method (or Get of a property) and returns its answer and how long it took."""
        bus = dbus.bus.BusConnection(self.session_address)
        try:
            player = bus.get_object("org.mpris.MediaPlayer2.sonvale", "/org/mpris/MediaPlayer2")
            began = time.monotonic()
            answer = player.get_dbus_method(method, dbus_interface=args[0])(*args[1:], timeout=10)
            return answer, time.monotonic() - began
        finally:
            bus.close()

    def playlist_requests(self):
        try:
            with open(os.path.join(self.station.dir, "log", "access.log"), errors="replace") as log:
                return log.read().count("GET /velmora32.m3u ")
        except FileNotFoundError:
            return 0


class AudioServerTests:
    """What the player does when its audio server goes, stalls or is not there at first: the same on each server."""

    def test_the_audio_server_goes_and_comes_back_and_is_not_there_at_first(self):
        self.start_player()
        self.play()
        self.assertTrue(wait_until(lambda: self.label() == "Reconnecting...", 15), self.label())
        time.sleep(2)
        self.assertEqual((self.label(), self.mpris()), ("Reconnecting...", "Playing"),
                         "with no audio server nothing claims to play")
        self.audio.start()
        sys.stderr.write(f"{self.audio.kind}: play with no audio server: sound {self.time_to_sound():.2f} s after it came\n")
        self.expect_heard()
        self.assertEqual(self.label(), "Playing (Low Quality)")

        outage = 2
        requests = self.playlist_requests()
        self.audio.kill()
        self.assertTrue(wait_until(lambda: self.label() == "Reconnecting...", 10), self.label())
        time.sleep(outage)
        self.assertEqual((self.label(), self.mpris()), ("Reconnecting...", "Playing"))
        self.audio.start()
        sys.stderr.write(f"{self.audio.kind}: audio server away {outage} s: sound {self.time_to_sound():.2f} s after it came back\n")
        self.expect_heard()
        self.assertEqual(self.playlist_requests(), requests, "the stream is kept while the audio server is away")

    def test_a_stalled_audio_server_never_holds_up_the_player(self):
        self.audio.start()
        self.start_player()
        self.play()
        self.expect_heard()
        self.audio.stall()
        try:
            time.sleep(2)
            _, took = self.mpris_call("Stop", "org.mpris.MediaPlayer2.Player")
            status, asked = self.mpris_call("Get", "org.freedesktop.DBus.Properties", "org.mpris.MediaPlayer2.Player",
                                            "PlaybackStatus")
            sys.stderr.write(f"{self.audio.kind}: stalled audio server: Stop answered in {took:.3f} s, then the status in {asked:.3f} s\n")
            self.assertEqual(str(status), "Stopped")
            self.assertLess(max(took, asked), 1, "the player waited on the audio server")
            self.assertTrue(wait_until(lambda: self.label() == "Stopped", 2), self.label())
            _, took = self.mpris_call("Play", "org.mpris.MediaPlayer2.Player")
            self.assertLess(took, 1)
            time.sleep(3)
            recorded = os.path.getsize(self.audio.recording)
        finally:
            self.audio.stall(False)
        # Its recorder was stalled with it: what counts is sound recorded since.
        began = time.monotonic()
        self.assertTrue(wait_until(lambda: os.path.getsize(self.audio.recording) > recorded + 44100 * 2
                                   and self.audio.sounding(), 20, interval=0.05), "no sound after the stall")
        sys.stderr.write(f"{self.audio.kind}: stalled audio server: sound {time.monotonic() - began:.2f} s after it went on\n")
        self.expect_heard()

        self.audio.stall()
        try:
            time.sleep(1)
            self.mpris_call("Quit", "org.mpris.MediaPlayer2")
            began = time.monotonic()
            try:
                self.player.wait(5)
            except subprocess.TimeoutExpired:
                self.fail("the player did not end while the audio server was stalled")
            sys.stderr.write(f"{self.audio.kind}: stalled audio server: Quit ended the player in {time.monotonic() - began:.2f} s\n")
            self.assertEqual(self.player.returncode, 0)
        finally:
            self.audio.stall(False)


class PlayerOnAListenersMachine(AudioServerTests, ListenersMachine):
    def test_no_attempts_while_the_network_is_down_and_sound_as_soon_as_it_is_back(self):
        self.audio.start()
        self.start_player()
        self.play()
        self.expect_heard()
        outage = 4
        self.station.drop("velmora32")
        self.system.network_state(NM_DISCONNECTED)
        self.assertTrue(wait_until(lambda: self.label() == "Reconnecting...", 15), self.label())
        requests = self.playlist_requests()
        time.sleep(outage)
        self.assertEqual(self.playlist_requests(), requests, "no attempt while the network is down")
        self.assertEqual(self.mpris(), "Playing")
        # The station is there again well before the network: what is measured is the network's return.
        self.station.restore("velmora32")
        time.sleep(3)
        self.assertEqual(self.playlist_requests(), requests, "no attempt while the network is down")
        self.system.network_state(NM_CONNECTED_GLOBAL)
        sys.stderr.write(f"network down {outage} s: sound {self.time_to_sound():.2f} s after it came back\n")
        self.expect_heard()

    def test_sleep_drops_the_stream_and_wake_brings_it_back(self):
        self.portal.forget()
        self.audio.start()
        self.start_player()
        self.assertEqual(self.system.delay_locks(), [], "no lock while stopped")
        self.play()
        self.expect_heard()
        self.assertTrue(wait_until(lambda: self.system.delay_locks() == ["Radio Velmora Player"], 10),
                        self.system.delay_locks())
        self.assertEqual(self.portal.inhibits(), [4], "the desktop is asked not to suspend for idleness")
        self.system.sleep(True)
        self.assertTrue(wait_until(lambda: not self.audio.sounding(), 10), "the stream was dropped before sleep")
        self.assertTrue(wait_until(lambda: self.system.delay_locks() == [], 10), "the lock lets the machine sleep")
        time.sleep(2)
        self.system.sleep(False)
        sys.stderr.write(f"wake: sound {self.time_to_sound():.2f} s after it\n")
        self.expect_heard()
        self.assertTrue(wait_until(lambda: self.system.delay_locks() == ["Radio Velmora Player"], 10))
        self.desktop.run(["playerctl", "--player=sonvale", "pause"],
                         env_extra={"DBUS_SESSION_BUS_ADDRESS": self.session_address})
        self.assertTrue(wait_until(lambda: self.system.delay_locks() == [], 10), "released on pause")
        self.assertTrue(wait_until(lambda: self.portal.closes() == 1, 10), "the idle inhibitor too")
        self.assertEqual(self.portal.inhibits(), [4], "one inhibitor, held through sleep and wake")

class PlayerOnPipeWire(AudioServerTests, ListenersMachine):
    audio_kind = "pipewire"
    suite = 26


if __name__ == "__main__":
    unittest.main(verbosity=2)
