"""The player as a screen reader meets it: the real binary on an AT-SPI bus of the test's own, its
window's tree read with pyatspi (roles, names, states, actions), play pressed through AT-SPI and the
tone heard, the quality buttons' checked state following a press."""
import os
import subprocess
import sys
import unittest

import pyatspi

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from desktop import Desktop, Station, bus_daemon, frequency, own_address, recorded_seconds, recording_sink, stop, wait_until  # noqa: E402

PLAYER = os.environ.get("SONVALE_PLAYER", "build/Player/Sonvale")


def tree(node):
    """Every node below `node`, itself included."""
    nodes = [node]
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            nodes += tree(child)
    return nodes


class PlayerOnAScreenReadersBus(unittest.TestCase):
    def setUp(self):
        self.station = Station(own_address(10))
        self.desktop = Desktop(with_tray=False)
        self.bus, address = bus_daemon()
        # pyatspi finds the accessibility bus through the session bus of this process.
        os.environ["DBUS_SESSION_BUS_ADDRESS"] = address
        os.environ["DISPLAY"] = self.desktop.display
        self.launcher = subprocess.Popen(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"],
                                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.recording = os.path.join(self.station.dir, "heard.raw")
        self.player = self.desktop.start([PLAYER], env={
            "SONVALE_STREAM_HOST": self.station.address, "SONVALE_AUDIO_SINK": recording_sink(self.recording),
            "DBUS_SESSION_BUS_ADDRESS": address, "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1"})

    def tearDown(self):
        stop(self.player)
        stop(self.launcher)
        stop(self.bus)
        self.bus.stdout.close()
        self.desktop.close()
        self.station.close()

    def application(self):
        desktop = pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            if app is not None and app.name == "Sonvale" and app.childCount:
                return app
        return None

    def test_named_buttons_press_as_clicks_and_nothing_hidden_claims_to_show(self):
        app = wait_until(self.application, 30)
        self.assertTrue(app, "the player is not on the accessibility bus")
        window = app.getChildAtIndex(0)
        self.assertEqual(window.name, "Radio Velmora Player")
        nodes = {node.name: node for node in tree(window) if node.name}
        for name, role in (("Play", "push button"), ("Stop", "push button"), ("Minimise", "push button"),
                           ("Close", "push button"), ("High Speed", "radio button"), ("Low Speed", "radio button"),
                           ("Ready", "status bar")):
            self.assertIn(name, nodes)
            self.assertEqual(nodes[name].getRoleName(), role, name)
        for name in ("Play", "Minimise", "Close", "High Speed", "Low Speed"):
            action = nodes[name].queryAction()
            self.assertEqual(action.getName(0), "Press", name)
            self.assertTrue(nodes[name].getState().contains(pyatspi.STATE_FOCUSABLE), name)
        self.assertTrue(nodes["Low Speed"].getState().contains(pyatspi.STATE_CHECKED))
        self.assertFalse(nodes["High Speed"].getState().contains(pyatspi.STATE_CHECKED))
        top = window.queryComponent().getExtents(pyatspi.DESKTOP_COORDS).y
        showing = [node for node in tree(window)[1:] if node.getState().contains(pyatspi.STATE_SHOWING)]
        for node in showing:
            y = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS).y - top
            inside = y < 72 or node.getRoleName() == "status bar"  # the status keeps its place below
            self.assertTrue(inside, f"{node.getRoleName()} '{node.name}' shows outside the window at {y}")
        decorations = [node for node in tree(window) if node.getRoleName() == "filler" and node is not window]
        self.assertFalse(any(node.getState().contains(pyatspi.STATE_FOCUSABLE) for node in decorations))

        nodes["Play"].queryAction().doAction(0)
        self.assertTrue(wait_until(lambda: recorded_seconds(self.recording) > 1, 30), "pressing Play plays")
        self.assertAlmostEqual(frequency(self.recording, 0.5), 880, delta=15)
        status = nodes["Ready"]
        self.assertTrue(wait_until(lambda: status.name == "Playing (Low Quality)", 10), status.name)
        self.assertTrue(wait_until(lambda: any(n.name == "Pause" for n in tree(window)), 10), "named for what it does")

        nodes["High Speed"].queryAction().doAction(0)
        self.assertTrue(wait_until(lambda: nodes["High Speed"].getState().contains(pyatspi.STATE_CHECKED), 10))
        self.assertFalse(nodes["Low Speed"].getState().contains(pyatspi.STATE_CHECKED))


if __name__ == "__main__":
    unittest.main(verbosity=2)
