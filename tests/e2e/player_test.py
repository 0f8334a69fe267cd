"""The real Sonvale binary under Xvfb with a tray host, against the local station, driven with xdotool."""
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from desktop import SOURCE, Desktop, Station, frequency, own_address, recorded_seconds, recording_sink, stop, wait_until  # noqa: E402

PLAYER = os.environ.get("SONVALE_PLAYER", "build/Player/Sonvale")
SHAPE_CHECK = os.environ.get("SONVALE_SHAPE_CHECK", "build/tests/sonvale-shape-check")
TITLE = "Radio Velmora Player"
HIGH_TONE, LOW_TONE = 440, 880


class PlayerOnADesktop(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.station = Station(own_address(3))
        cls.desktop = Desktop()
        cls.scratch = tempfile.mkdtemp(prefix="sonvale-e2e-")

    @classmethod
    def tearDownClass(cls):
        cls.desktop.close()
        cls.station.close()

    def setUp(self):
        name = self.id().split('.')[-1]
        self.recording = os.path.join(self.scratch, f"{name}.raw")
        self.log = os.path.join(self.scratch, f"{name}.log")
        self.player = None
        self.shown_on = self.desktop

    def tearDown(self):
        if self.failed():
            self.keep_evidence()
        stop(self.player)

    def failed(self):
        result = self._outcome.result
        return any(test is self for test, _ in result.failures + result.errors)

    def keep_evidence(self):
        """A failed test leaves the screen, the window tree and the player's stderr behind."""
        folder = os.path.join(os.environ.get("SONVALE_E2E_EVIDENCE", os.path.join(os.getcwd(), "e2e-evidence")),
                              self.id().split('.')[-1])
        os.makedirs(folder, exist_ok=True)
        self.shown_on.screenshot(os.path.join(folder, "screen.png"))
        with open(os.path.join(folder, "tree.txt"), "w") as tree:
            tree.write(self.shown_on.tree())
        shutil.copy(self.shown_on.server_log, os.path.join(folder, "xvfb.log"))
        if os.path.exists(self.log):
            shutil.copy(self.log, os.path.join(folder, "player.log"))
            with open(self.log, errors="replace") as log:
                sys.stderr.write(f"--- player stderr ---\n{log.read()}--- evidence in {folder}\n")

    def start_player(self, desktop=None):
        desktop = self.shown_on = desktop or self.desktop
        self.player = desktop.start([PLAYER], env={
            "SONVALE_STREAM_HOST": self.station.address, "SONVALE_AUDIO_SINK": recording_sink(self.recording)},
            log=self.log)
        window = wait_until(lambda: desktop.window(TITLE), 20)
        self.assertIsNotNone(window, "the player's window did not appear")
        if desktop.trayer:
            self.assertTrue(wait_until(lambda: desktop.tray_icon(), 20), "no tray icon")
        return window

    def press(self, x, y, button=1):
        """Clicks at a point of the player's window."""
        _, left, top, _, _ = self.desktop.window(TITLE)
        self.desktop.click(left + x, top + y, button)

    def icon_colour(self):
        x, y = self.desktop.tray_icon()
        return self.desktop.pixel(x, y)

    def wait_for_tone(self, tone, after_seconds):
        self.assertTrue(wait_until(lambda: recorded_seconds(self.recording) > after_seconds + 3, 30))
        self.assertAlmostEqual(frequency(self.recording), tone, delta=15)

    def test_window_outline_tray_and_dragging(self):
        window_id, x, y, width, height = self.start_player()
        self.assertEqual((x, y, width, height), (212, 196, 380, 72))
        self.assertIn('"Sonvale"', self.desktop.window_class(window_id))
        check = subprocess.run([SHAPE_CHECK, str(window_id)], env=self.desktop.env, capture_output=True, text=True)
        self.assertEqual(check.returncode, 0, check.stdout)
        red, green, _ = self.icon_colour()
        self.assertGreater(red, green, "the icon is red while stopped")

        _, left, top, _, _ = self.desktop.window(TITLE)
        self.desktop.move(left + 140, top + 50)
        self.desktop.run(["xdotool", "mousedown", "1"])
        for step in range(1, 5):
            self.desktop.move(left + 140 + 10 * step, top + 50 + 6 * step)
        self.desktop.run(["xdotool", "mouseup", "1"])
        self.assertTrue(wait_until(lambda: self.desktop.window(TITLE)[1:3] == (left + 40, top + 24), 10),
                        f"window at {self.desktop.window(TITLE)[1:3]}")

    def test_playback_follows_the_quality_choice(self):
        self.start_player()
        icon_window, _ = self.desktop.tray_icon_window()
        self.press(36, 36)  # play/pause
        self.wait_for_tone(LOW_TONE, 0)
        self.assertTrue(wait_until(lambda: self.icon_colour()[1] > self.icon_colour()[0], 10), "icon turns green")
        self.assertEqual(self.desktop.tray_icon_window()[0], icon_window, "the icon changed colour in place, never re-docked")

        # The station's log names the player and the version it was built as, for the playlist and the stream.
        version = subprocess.run([PLAYER, "--version"], capture_output=True, text=True).stdout.split()[-1]
        with open(os.path.join(self.station.dir, "log", "access.log"), errors="replace") as log:
            agents = {line.rsplit('"', 2)[-2] for line in log if "GET /velmora32" in line}
        self.assertEqual(agents, {f"Sonvale/{version}"})

        self.press(255, 52)  # high quality
        self.press(36, 36)   # pause
        time.sleep(1)
        self.press(36, 36)   # play the high-quality stream
        heard = recorded_seconds(self.recording)
        time.sleep(1)
        self.wait_for_tone(HIGH_TONE, max(0.0, recorded_seconds(self.recording) - heard))

    def region(self, x, y, width, height):
        """The window's pixels in a rectangle, as RGB bytes."""
        _, left, top, _, _ = self.desktop.window(TITLE)
        return subprocess.run(["import", "-window", "root", "-crop", f"{width}x{height}+{left + x}+{top + y}",
                               "-depth", "8", "rgb:-"], env=self.desktop.env, capture_output=True, timeout=60).stdout

    def settled(self, read):
        """What `read` gives once the window is painted: not black, and the same twice running."""
        def painted():
            first = read()
            time.sleep(0.2)
            return first if any(first) and read() == first else None
        found = wait_until(painted, 15)
        self.assertTrue(found, "the window was never painted")
        return found

    def test_a_listener_with_only_a_keyboard_plays_and_chooses_quality(self):
        window_id, *_ = self.start_player()
        self.desktop.run(["xdotool", "windowfocus", "--sync", str(window_id)])
        play = lambda: self.region(0, 1, 64, 70)  # noqa: E731
        high = lambda: self.region(232, 34, 45, 38)  # noqa: E731
        play_before, high_before = self.settled(play), self.settled(high)
        self.desktop.key("Tab")
        self.assertTrue(wait_until(lambda: play() != play_before, 10), "a focus mark on play")
        self.assertEqual(high(), high_before, "and on no other button")
        self.desktop.key("space")
        self.wait_for_tone(LOW_TONE, 0)
        for _ in range(3):  # stop (enabled now), low, high
            self.desktop.key("Tab")
        focused_high = wait_until(lambda: high() != high_before and high(), 10)
        self.assertTrue(focused_high, "the focus mark moved on to high quality")
        self.desktop.key("space")
        self.assertTrue(wait_until(lambda: high() != focused_high, 10), "Space checks it")
        self.desktop.key("shift+F10")
        self.assertTrue(wait_until(self.desktop.menus, 10), "Shift+F10 opens the menu")
        self.desktop.key("Escape")
        self.assertTrue(wait_until(lambda: not self.desktop.menus(), 10))
        self.desktop.key("Tab")  # close
        self.desktop.key("Tab")  # minimise
        self.desktop.key("Return")
        self.assertTrue(wait_until(lambda: not self.desktop.mapped(window_id), 10), "Enter on minimise hides it")

    def test_sharp_at_scale_two_and_smooth_at_one_and_a_half(self):
        skin = os.path.join(SOURCE, "Player", "skin")

        def rgb(path, geometry):
            return subprocess.run(["convert", path, "-alpha", "off", "-crop", geometry, "+repage", "-depth", "8", "rgb:-"],
                                  capture_output=True, timeout=60).stdout

        for scale in ("2", "1.5"):
            desktop = Desktop(with_tray=False)
            self.addCleanup(desktop.close)
            self.desktop = self.shown_on = desktop  # this test's own, at its scale
            player = desktop.start([PLAYER], env={"SONVALE_STREAM_HOST": self.station.address, "QT_SCALE_FACTOR": scale})
            self.addCleanup(stop, player)
            window = wait_until(lambda: desktop.window(TITLE), 20)
            self.assertTrue(window)
            window_id, _, _, width, height = window
            self.assertEqual((width, height), (int(380 * float(scale)), int(72 * float(scale))))
            if scale == "2":
                check = subprocess.run([SHAPE_CHECK, str(window_id), "2"], env=desktop.env, capture_output=True, text=True)
                self.assertEqual(check.returncode, 0, "the outline, doubled: " + check.stdout)
                # Between the stop and the quality buttons, and over the rounded left edge: the @2x art itself.
                for x, y, w, h in ((230, 10, 110, 120), (0, 2, 18, 140)):
                    expected = rgb(os.path.join(skin, "background@2x.png"), f"{w}x{h}+{x}+{y}")
                    opaque = subprocess.run(["convert", os.path.join(skin, "background@2x.png"), "-alpha", "extract",
                                             "-crop", f"{w}x{h}+{x}+{y}", "+repage", "-depth", "8", "gray:-"],
                                            capture_output=True, timeout=60).stdout

                    def differing():
                        shown = self.region(x, y, w, h)
                        return sum(1 for i, a in enumerate(opaque)
                                   if a == 255 and shown[3 * i:3 * i + 3] != expected[3 * i:3 * i + 3])
                    # Polled: a machine under load paints the window a while after mapping it.
                    wait_until(lambda: differing() == 0, 15)
                    self.assertEqual(differing(), 0, f"pixels differing from the @2x art at {x},{y}")
            else:
                # A picture blown up pixel by pixel to 1.5 repeats every other row and column of its pixels
                # (the 1x play face so: 39 rows and 36 columns of 95 the same as their neighbours); one
                # drawn smoothly from the @2x art repeats next to none, flat areas aside.
                w, h = 90, 96

                def repeated():
                    face = self.region(3, 4, w, h)
                    rows = [face[3 * w * y:3 * w * (y + 1)] for y in range(h)]
                    columns = [bytes(face[3 * (w * y + x) + c] for y in range(h) for c in range(3)) for x in range(w)]
                    return sum(a == b for a, b in zip(rows, rows[1:])) + sum(a == b for a, b in zip(columns, columns[1:]))
                wait_until(lambda: repeated() <= 6, 15)
                self.assertLessEqual(repeated(), 6, "the play face at 1.5 is drawn smoothly, not blown up")
            stop(player)

    def test_hiding_showing_menu_second_start_and_exit(self):
        window_id, *_ = self.start_player()
        self.press(360, 12)  # minimise
        self.assertTrue(wait_until(lambda: not self.desktop.mapped(window_id), 10), "minimise hides the window")
        icon = self.desktop.tray_icon()
        self.desktop.click(*icon, repeat=2)
        self.assertTrue(wait_until(lambda: self.desktop.mapped(window_id), 10), "tray double-click shows it")

        self.desktop.click(*icon, button=3, repeat=2)
        time.sleep(1)  # for a menu that would close again
        shown_menu = wait_until(self.desktop.menus, 10)
        self.assertTrue(shown_menu, "a quick second right-click keeps the menu")
        self.desktop.key("Escape")
        self.assertTrue(wait_until(lambda: not self.desktop.menus(), 10))
        self.press(360, 12)
        self.assertTrue(wait_until(lambda: not self.desktop.mapped(window_id), 10))
        self.desktop.click(*icon, button=3)
        hidden_menu = wait_until(self.desktop.menus, 10)
        self.assertTrue(hidden_menu)
        self.assertGreater(hidden_menu[0][1], shown_menu[0][1], "the menu offers Open while the window is hidden")
        self.desktop.key("o")
        self.assertTrue(wait_until(lambda: self.desktop.mapped(window_id), 10), "Open shows the window")

        self.press(360, 12)
        self.assertTrue(wait_until(lambda: not self.desktop.mapped(window_id), 10))
        second = self.desktop.start([PLAYER], env={"SONVALE_STREAM_HOST": self.station.address})
        self.assertEqual(second.wait(30), 0)
        self.assertTrue(wait_until(lambda: self.desktop.mapped(window_id), 10), "a second start shows the first")
        windows = [line for line in self.desktop.tree().splitlines() if f'"{TITLE}"' in line]
        self.assertEqual(len(windows), 1, "the second start made no window")
        with open(self.log, errors="replace") as log:
            self.assertNotIn("internal error", log.read(), "the window was shown through Qt, not behind its back")

        self.press(360, 12)
        self.assertTrue(wait_until(lambda: not self.desktop.mapped(window_id), 10),
                        "hiding works again after another start showed the window")
        self.desktop.click(*icon, button=3)
        self.assertTrue(wait_until(self.desktop.menus, 10))
        self.desktop.key("x")  # E&xit
        self.assertEqual(self.player.wait(30), 0)
        self.assertTrue(wait_until(lambda: self.desktop.tray_icon() is None, 10), "the tray icon is gone")

    def test_without_a_tray_minimise_keeps_the_window_until_a_tray_appears(self):
        desktop = Desktop(with_tray=False)
        self.addCleanup(desktop.close)  # after tearDown has kept any evidence
        window_id, left, top, _, _ = self.start_player(desktop)
        desktop.click(left + 360, top + 12)  # minimise
        time.sleep(1)
        self.assertTrue(desktop.mapped(window_id), "with no tray the window stays reachable")
        desktop.start_tray()
        icon = wait_until(desktop.tray_icon, 20)
        self.assertTrue(icon, "the icon appears with the tray")
        desktop.click(left + 360, top + 12)
        self.assertTrue(wait_until(lambda: not desktop.mapped(window_id), 10), "now minimise hides the window")
        desktop.click(*icon, repeat=2)
        self.assertTrue(wait_until(lambda: desktop.mapped(window_id), 10), "tray double-click shows it")

    def test_another_programs_window_with_the_title_does_not_stop_the_start(self):
        other = self.desktop.start(["xmessage", "-title", "radio velmora player notes", "notes"])
        try:
            self.assertTrue(wait_until(lambda: self.desktop.window("radio velmora player notes"), 10))
            self.start_player()
            self.press(374, 12)  # close
            self.assertEqual(self.player.wait(30), 0)
        finally:
            stop(other)

    def test_an_engine_that_cannot_be_created_is_reported_and_ends_with_status_one(self):
        no_plugins = tempfile.mkdtemp(prefix="sonvale-no-plugins-")
        player = subprocess.Popen([PLAYER], env=dict(self.desktop.env, GST_PLUGIN_SYSTEM_PATH=no_plugins,
                                                     GST_PLUGIN_PATH=no_plugins,
                                                     GST_REGISTRY=os.path.join(no_plugins, "registry.bin")),
                                  stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        try:
            report = wait_until(lambda: self.desktop.run(["xdotool", "search", "--name", "^Sonvale$"]).stdout.split()
                                and self.desktop.find_line(r'"Sonvale": \("Sonvale" "Sonvale"\)\s+\d{3}x\d{2,3}'), 20)
            self.assertTrue(report, "no error report appeared")
            self.assertIsNone(self.desktop.window(TITLE), "no player window")
            window = report.split()[0]
            self.desktop.run(["xdotool", "windowfocus", "--sync", window])
            self.desktop.key("Return")
            self.assertEqual(player.wait(30), 1)
            self.assertIn("playbin", player.stderr.read())
        finally:
            stop(player)
            player.stderr.close()


if __name__ == "__main__":
    unittest.main(verbosity=2)
