"""The installed player as a Linux desktop meets it: driven through MPRIS 2 by playerctl on a
session bus of the test's own, its icon shown by a StatusNotifierItem host, its desktop entry and
metainfo validated, and its Debian package checked with lintian."""
import glob
import os
import subprocess
import sys
import tempfile
import threading
import unittest

import dbus

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from desktop import SOURCE, Desktop, Station, bus_daemon, frequency, own_address, recorded_seconds, recording_sink, stop, wait_until  # noqa: E402

BUILD = os.environ.get("SONVALE_BUILD_DIR", "build")
APP_ID = os.environ.get("SONVALE_APP_ID", "org.velmora.Sonvale")
TITLE = "Radio Velmora Player"
ITEM = "org.kde.StatusNotifierItem"


def install(prefix):
    subprocess.run(["cmake", "--install", BUILD, "--prefix", prefix], check=True, capture_output=True, timeout=120)


class SessionBus:
    """A dbus-daemon of the test's own, and a StatusNotifierItem watcher on it."""

    def __init__(self):
        self.daemon, self.address = bus_daemon()
        self.watcher = subprocess.Popen([sys.executable, os.path.join(SOURCE, "tests", "support", "sni_watcher.py"),
                                         self.address], stdout=subprocess.PIPE, text=True)
        self.events = []
        if self.watcher.stdout.readline().strip() != "ready":
            raise RuntimeError("the watcher did not start")
        threading.Thread(target=lambda: [self.events.append(line.split()) for line in self.watcher.stdout],
                         daemon=True).start()
        self.bus = dbus.bus.BusConnection(self.address)

    def close(self):
        self.bus.close()
        stop(self.watcher)
        stop(self.daemon)
        self.watcher.stdout.close()
        self.daemon.stdout.close()

    def get(self, service, path, interface, name):
        return self.bus.get_object(service, path).Get(interface, name, dbus_interface=dbus.PROPERTIES_IFACE)

    def call(self, service, path, interface, method, *args):
        return getattr(dbus.Interface(self.bus.get_object(service, path), interface), method)(*args)


class InstalledPlayerOnADesktop(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = tempfile.mkdtemp(prefix="sonvale-prefix-")
        install(cls.prefix)
        cls.station = Station(own_address(6))
        cls.desktop = Desktop(with_tray=False)
        cls.session = SessionBus()
        cls.recording = os.path.join(cls.prefix, "heard.raw")

    @classmethod
    def tearDownClass(cls):
        cls.session.close()
        cls.desktop.close()
        cls.station.close()

    def playerctl(self, *args):
        return self.desktop.run(["playerctl", "--player=sonvale", *args],
                                env_extra={"DBUS_SESSION_BUS_ADDRESS": self.session.address}).stdout.strip()

    def send(self, method):
        """A call as `dbus-send` makes it without --print-reply: a signal addressed to the player."""
        self.desktop.run(["dbus-send", "--session", "--dest=org.mpris.MediaPlayer2.sonvale", "/org/mpris/MediaPlayer2",
                          method], env_extra={"DBUS_SESSION_BUS_ADDRESS": self.session.address}, check=True)

    def item_icon_colour(self, item):
        """(red, green) summed over the item's largest icon picture."""
        pixmaps = self.session.get(*item, ITEM, "IconPixmap")
        width, height, data = max(pixmaps, key=lambda p: p[0] * p[1])
        argb = bytes(data)
        return sum(argb[i + 1] for i in range(0, len(argb), 4)), sum(argb[i + 2] for i in range(0, len(argb), 4))

    def open_offered(self, item):
        menu = self.session.get(*item, ITEM, "Menu")
        self.session.call(item[0], menu, "com.canonical.dbusmenu", "AboutToShow", 0)
        _, (_, _, children) = self.session.call(item[0], menu, "com.canonical.dbusmenu", "GetLayout", 0, -1, [])
        entries = {str(child[1].get("label", "-")): bool(child[1].get("visible", True)) for child in children}
        self.assertIn("_Open", entries, entries)
        return entries["_Open"]

    def test_media_controls_status_notifier_item_and_quit(self):
        env = {"SONVALE_STREAM_HOST": self.station.address, "SONVALE_AUDIO_SINK": recording_sink(self.recording),
               "DBUS_SESSION_BUS_ADDRESS": self.session.address,
               "XDG_DATA_DIRS": os.path.join(self.prefix, "share") + ":/usr/share"}
        player = self.desktop.start([os.path.join(self.prefix, "bin", "Sonvale")], env=env)
        signals = open(os.path.join(self.prefix, "signals.txt"), "w+")
        monitor = subprocess.Popen(["dbus-monitor", "--address", self.session.address,
                                    "type='signal',interface='org.freedesktop.DBus.Properties'"], stdout=signals)
        try:
            window_id, left, top, _, _ = wait_until(lambda: self.desktop.window(TITLE), 20)
            item = wait_until(lambda: next(((e[1], e[2]) for e in self.session.events if e[0] == "item"), None), 20)
            self.assertTrue(item, "the player registered no StatusNotifierItem")
            self.assertTrue(wait_until(lambda: self.playerctl("status") == "Stopped", 20))
            red, green = self.item_icon_colour(item)
            self.assertGreater(red, green, "red while stopped")
            widths = sorted(int(p[0]) for p in self.session.get(*item, ITEM, "IconPixmap"))
            self.assertGreaterEqual(widths[-1], 32, f"a host that draws it larger gets a picture for it: {widths}")
            self.assertEqual(self.session.get(*item, ITEM, "ToolTip")[2], TITLE)

            self.playerctl("play-pause")
            self.assertTrue(wait_until(lambda: self.playerctl("status") == "Playing", 30))
            self.assertTrue(wait_until(lambda: recorded_seconds(self.recording) > 3, 30))
            self.assertAlmostEqual(frequency(self.recording), 880, delta=15)
            self.assertTrue(wait_until(lambda: self.item_icon_colour(item)[1] > self.item_icon_colour(item)[0], 10))
            self.assertEqual(self.playerctl("metadata", "mpris:artUrl"),
                             f"file://{self.prefix}/share/icons/hicolor/256x256/apps/{APP_ID}.png")
            for title in ("Morning Show", "Evening News"):
                self.station.title("velmora32", title)
                self.assertTrue(wait_until(lambda: self.playerctl("metadata", "title") == title, 30), title)
            self.assertEqual(self.session.get(*item, ITEM, "ToolTip")[2], f"{TITLE}\nEvening News")
            self.playerctl("volume", "0.4")
            self.assertEqual(self.playerctl("volume"), "0.400000")
            self.assertTrue(wait_until(lambda: "Evening News" in open(signals.name).read(), 10),
                            "controls hear of changes through PropertiesChanged")

            # The station drops: the controls go on saying Playing (the player is getting it back) and
            # forget the title of the connection that broke; a play/pause sent the way dbus-send sends
            # it without --print-reply pauses for good, as the window's button would.
            self.station.drop("velmora32")
            seen = []
            self.assertTrue(wait_until(lambda: seen.append((self.playerctl("status"), self.playerctl("metadata", "title")))
                                       or seen[-1][1] == "Radio Velmora", 20), seen)
            self.assertEqual({status for status, _ in seen}, {"Playing"}, seen)
            self.send("org.mpris.MediaPlayer2.Player.PlayPause")
            self.assertTrue(wait_until(lambda: self.playerctl("status") == "Paused", 10))
            self.station.restore("velmora32")
            self.assertFalse(wait_until(lambda: self.playerctl("status") != "Paused", 4), "paused for good")
            os.remove(self.recording)
            self.playerctl("play")
            self.assertTrue(wait_until(lambda: self.playerctl("status") == "Playing", 30))
            self.assertTrue(wait_until(lambda: recorded_seconds(self.recording) > 1, 30))
            self.assertAlmostEqual(frequency(self.recording, 0.5), 880, delta=15)
            self.playerctl("stop")
            self.assertTrue(wait_until(lambda: self.playerctl("status") == "Stopped", 10))
            self.assertEqual(self.playerctl("metadata", "title"), "Radio Velmora", "no title once stopped")

            self.assertFalse(self.open_offered(item))
            self.desktop.click(left + 360, top + 12)  # minimise: the host is the tray
            self.assertTrue(wait_until(lambda: not self.desktop.mapped(window_id), 10))
            self.assertTrue(self.open_offered(item))
            self.session.call(*item, ITEM, "Activate", 0, 0)
            self.assertTrue(wait_until(lambda: self.desktop.mapped(window_id), 10), "activation shows the window")
            self.desktop.click(left + 360, top + 12)
            self.assertTrue(wait_until(lambda: not self.desktop.mapped(window_id), 10))
            self.send("org.mpris.MediaPlayer2.Raise")
            self.assertTrue(wait_until(lambda: self.desktop.mapped(window_id), 10), "Raise shows the window")

            self.session.call("org.mpris.MediaPlayer2.sonvale", "/org/mpris/MediaPlayer2", "org.mpris.MediaPlayer2",
                              "Quit")
            self.assertEqual(player.wait(30), 0)
            self.assertTrue(wait_until(lambda: ["gone", item[0]] in self.session.events, 10), "the item is gone")
        finally:
            stop(player)
            stop(monitor)
            signals.close()



class InstalledFilesAndPackage(unittest.TestCase):
    """Validators, cpack and lintian: heavy on the processor, so ctest runs them alone."""

    @classmethod
    def setUpClass(cls):
        cls.prefix = tempfile.mkdtemp(prefix="sonvale-prefix-")
        install(cls.prefix)

    def test_desktop_entry_metainfo_icons_and_debian_package(self):
        applications = os.path.join(self.prefix, "share", "applications", f"{APP_ID}.desktop")
        check = subprocess.run(["desktop-file-validate", applications], capture_output=True, text=True)
        # Debian 12's validator predates the 1.5 key SingleMainWindow, which desktops read; nothing else may fail.
        errors = [line for line in check.stdout.splitlines() if '"SingleMainWindow"' not in line]
        self.assertEqual(errors, [])
        check = subprocess.run(["appstreamcli", "validate", "--no-net",
                                os.path.join(self.prefix, "share", "metainfo", f"{APP_ID}.metainfo.xml")],
                               capture_output=True, text=True)
        self.assertEqual(check.returncode, 0, check.stdout)
        icons = sorted(glob.glob(os.path.join(self.prefix, "share", "icons", "hicolor", "*", "apps", f"{APP_ID}.png")))
        self.assertEqual(len(icons), 8, icons)

        packages = tempfile.mkdtemp(prefix="sonvale-deb-")
        subprocess.run(["cpack", "-G", "DEB", "-B", packages], cwd=BUILD, check=True, capture_output=True, timeout=300)
        deb = glob.glob(os.path.join(packages, "*.deb"))[0]
        depends = subprocess.run(["dpkg-deb", "-f", deb, "Depends"], capture_output=True, text=True).stdout
        for package in ("libqt6widgets6", "libgstreamer1.0-0", "libgif7", "gstreamer1.0-plugins-good", "gstreamer1.0-plugins-bad",
                        "gstreamer1.0-libav"):
            self.assertIn(package, depends)
        contents = subprocess.run(["dpkg-deb", "-c", deb], capture_output=True, text=True).stdout
        for path in ("./usr/bin/Sonvale", "./usr/bin/updater", f"./usr/share/applications/{APP_ID}.desktop",
                     "./usr/share/man/man1/Sonvale.1.gz", "./usr/share/man/man1/updater.1.gz"):
            self.assertIn(path, contents)
        lintian = subprocess.run(["lintian", "--fail-on", "error,warning", deb], capture_output=True, text=True, timeout=300)
        sys.stderr.write(f"lintian {os.path.basename(deb)}:\n{lintian.stdout}")
        self.assertEqual(lintian.returncode, 0, lintian.stdout)


if __name__ == "__main__":
    unittest.main(verbosity=2)
