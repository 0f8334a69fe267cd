"""The real updater under Xvfb: the question appears, Yes, the note, OK, and the downloaded patch runs."""
import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from desktop import SOURCE, Desktop, own_address, own_environment, stop, wait_until  # noqa: E402

UPDATER = os.environ.get("SONVALE_UPDATER", "build/Player/Updater/updater")
TITLE = "Radio Velmora Updater"


PLAYER = os.environ.get("SONVALE_PLAYER", "build/Player/Sonvale")


class CommandLines(unittest.TestCase):
    def test_help_and_version_answer_without_a_display_and_anything_else_is_an_error(self):
        env = own_environment(SONVALE_UPDATE_HOST="127.0.0.1:9", SONVALE_STREAM_HOST="127.0.0.1")
        # The build's versions, written once in its settings.
        versions = os.environ["SONVALE_PLAYER_VERSION"], os.environ["SONVALE_UPDATER_VERSION"]
        for program, name, version in ((PLAYER, "Sonvale", versions[0]), (UPDATER, "updater", versions[1])):
            run = lambda *args: subprocess.run([program, *args], env=env, capture_output=True, text=True, timeout=30)
            answer = run("--version")
            self.assertEqual((answer.returncode, answer.stdout), (0, f"{name} {version}\n"), answer.stderr)
            answer = run("--help")
            self.assertEqual(answer.returncode, 0, answer.stderr)
            self.assertTrue(answer.stdout.startswith(f"Usage: {name} [options]"), answer.stdout)
            self.assertIn("--version", answer.stdout)
            for wrong in (["--bogus"], ["station.example"]):
                answer = run(*wrong)
                self.assertEqual(answer.returncode, 2, wrong)
                self.assertIn(f"Usage: {name} [--help] [--version]", answer.stderr)


class UpdaterOnADesktop(unittest.TestCase):
    def setUp(self):
        self.desktop = Desktop(with_tray=False)
        self.scratch = tempfile.mkdtemp(prefix="sonvale-updater-")
        self.scenario = os.path.join(self.scratch, "service")
        os.mkdir(self.scenario)
        self.address = own_address(5)
        self.service = subprocess.Popen(
            [sys.executable, os.path.join(SOURCE, "tests", "support", "update_service.py"), self.address, "8080",
             self.scenario], stdout=subprocess.PIPE, text=True)
        self.assertEqual(self.service.stdout.readline().strip(), "ready")

    def tearDown(self):
        stop(self.service)
        self.service.stdout.close()
        self.desktop.close()

    def write(self, name, content):
        with open(os.path.join(self.scenario, name), "w") as f:
            f.write(content)

    def box(self):
        found = self.desktop.run(["xdotool", "search", "--name", f"^{TITLE}$"]).stdout.split()
        return [w for w in found if self.desktop.mapped(int(w))]

    def answer(self, window):
        self.desktop.run(["xdotool", "windowfocus", "--sync", window])
        self.desktop.run(["xdotool", "key", "--clearmodifiers", "Return"])

    def test_question_yes_note_ok_and_the_patch_runs(self):
        marker = os.path.join(self.scratch, "patched")
        self.write("check.body", "<html><body>false</body></html>")
        self.write("patch.body", f"#!/bin/sh\ntouch '{marker}'\n")
        tmp = os.path.join(self.scratch, "tmp")
        os.mkdir(tmp)
        updater = self.desktop.start([UPDATER], env={
            "SONVALE_UPDATE_HOST": f"{self.address}:8080", "TMPDIR": tmp,
            "XDG_CONFIG_HOME": os.path.join(self.scratch, "config")})
        try:
            question = wait_until(self.box, 30)
            self.assertTrue(question, "the question did not appear")
            self.assertTrue(os.path.exists(os.path.join(tmp, "patch.exe")), "the patch is on disk before the question")
            self.assertFalse(os.path.exists(marker))
            self.answer(question[0])
            note = wait_until(lambda: [w for w in self.box() if w != question[0]] or
                              (self.box() if not self.desktop.mapped(int(question[0])) else None), 30)
            self.assertTrue(note, "the note did not appear")
            self.assertFalse(os.path.exists(marker), "the patch starts only after OK")
            self.answer(note[0])
            self.assertTrue(wait_until(lambda: os.path.exists(marker), 30), "the patch did not run")
            self.assertEqual(updater.wait(30), 0)
        finally:
            stop(updater)

    def test_latest_version_ends_silently_with_status_zero(self):
        updater = subprocess.run([UPDATER], env=dict(self.desktop.env, SONVALE_UPDATE_HOST=f"{self.address}:8080",
                                                     XDG_CONFIG_HOME=os.path.join(self.scratch, "config")),
                                 capture_output=True, text=True, timeout=60)
        self.assertEqual((updater.returncode, updater.stdout, updater.stderr), (0, "", ""))

    def test_a_display_that_cannot_be_opened_counts_as_none(self):
        self.write("check.body", "<html><body>false</body></html>")
        self.write("patch.body", "PATCH")
        tmp = os.path.join(self.scratch, "tmp")
        os.mkdir(tmp)
        env = dict(self.desktop.env, DISPLAY=":4999", SONVALE_UPDATE_HOST=f"{self.address}:8080", TMPDIR=tmp,
                   XDG_CONFIG_HOME=os.path.join(self.scratch, "config"))
        updater = subprocess.run([UPDATER], env=env, capture_output=True, text=True, timeout=60)
        self.assertEqual((updater.returncode, updater.stdout, updater.stderr), (0, "", ""))
        with open(os.path.join(tmp, "patch.exe")) as patch:
            self.assertEqual(patch.read(), "PATCH", "checked and downloaded, nobody asked")

        env["QT_LOGGING_RULES"] = "sonvale.updater=true"
        updater = subprocess.run([UPDATER], env=env, capture_output=True, text=True, timeout=60)
        self.assertEqual(updater.returncode, 0)
        self.assertIn("no display to ask on", updater.stderr, "the silent end is logged when asked for")


if __name__ == "__main__":
    unittest.main(verbosity=2)
