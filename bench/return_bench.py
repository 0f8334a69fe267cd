#!/usr/bin/python3
"""bench/return_bench.py [CYCLES]: how soon sound is back once what broke it is back, the player beside a
reference client of the same server, in one run (CYCLES of each, default 8).
- A source that drops and returns, on each mount: from the restore (the mount is listed again) to sound in a
  recording sink, confirmed by 0.5 s more. Reference: `gst-launch-1.0 playbin` started at the restore.
- An audio server that is killed and started again: from its start (it answers `pactl info`) to sound at its
  output. Reference: `gst-launch-1.0 audiotestsrc ! pulsesink` started at the same moment.
Also: how soon Icecast itself sends a new listener the response head and the first audio of each mount."""
import os
import subprocess
import sys
import tempfile
import time

from benchlib import (BUILD, HIGH, LOW, PLAY, TITLE, Desktop, Station, audio_flows, audio_stops, build, icecast_times,
                      median, own_address, stop, wait_until)
from desktop import AudioServer, recording_sink

PLAYER = os.path.join(BUILD, "Player", "Sonvale")


def source_returns(station, desktop, cycles):
    recording = tempfile.mktemp(prefix="sonvale-return-", suffix=".raw")
    reference = tempfile.mktemp(prefix="sonvale-return-ref-", suffix=".raw")
    player = desktop.start([PLAYER], env={"SONVALE_STREAM_HOST": station.address,
                                          "SONVALE_AUDIO_SINK": recording_sink(recording, append=True)})
    results = {}
    try:
        _, left, top, _, _ = wait_until(lambda: desktop.window(TITLE), 20)
        press = lambda spot: desktop.click(left + spot[0], top + spot[1])  # noqa: E731
        for mount, quality in (("velmora32", LOW), ("velmora", HIGH)):
            press(quality)
            press(PLAY)
            if audio_flows(recording, 20) is None:
                raise RuntimeError(f"no audio from {mount}")
            time.sleep(3)
            ours, theirs, server = [], [], []
            for _ in range(cycles):
                station.drop(mount)
                audio_stops(recording, 20)
                station.restore(mount)
                restored = time.monotonic()
                if os.path.exists(reference):
                    os.remove(reference)
                launch = subprocess.Popen(["gst-launch-1.0", "-q", "playbin",
                                           f"uri=http://{station.address}:8000/{mount}",
                                           f"audio-sink={recording_sink(reference)}"], stdout=subprocess.DEVNULL)
                back = audio_flows(recording, 30)
                ours.append(back - restored if back else float("inf"))
                back = audio_flows(reference, 30)
                theirs.append(back - restored if back else float("inf"))
                stop(launch)
                server.append(icecast_times(station.address, mount)[1:])
            press(PLAY)
            results[mount] = (ours, theirs, server)
    finally:
        stop(player)
        for path in (recording, reference):
            if os.path.exists(path):
                os.remove(path)
    return results


def output_returns(station, desktop, cycles):
    audio = AudioServer()
    ours, theirs = [], []
    player = None
    try:
        audio.start()
        player = desktop.start([PLAYER], env={"SONVALE_STREAM_HOST": station.address,
                                              "PULSE_SERVER": audio.env["PULSE_SERVER"]})
        _, left, top, _, _ = wait_until(lambda: desktop.window(TITLE), 20)
        desktop.click(left + PLAY[0], top + PLAY[1])
        if not wait_until(audio.sounding, 20, interval=0.05):
            raise RuntimeError("no sound at the audio server")
        for _ in range(cycles):
            audio.kill()
            time.sleep(2)  # the player is looking for its output by now
            audio.start()
            began = time.monotonic()
            ours.append(time.monotonic() - began if wait_until(audio.sounding, 20, interval=0.05) else float("inf"))
            time.sleep(1)
            audio.kill()
            audio.start()
            began = time.monotonic()
            tone = subprocess.Popen(["gst-launch-1.0", "-q", "audiotestsrc", "freq=880", "volume=0.5", "!", "pulsesink"],
                                    env=audio.env, stdout=subprocess.DEVNULL)
            theirs.append(time.monotonic() - began if wait_until(audio.sounding, 20, interval=0.05) else float("inf"))
            stop(tone)
            time.sleep(1)  # the player finds the server again before the next cycle
    finally:
        stop(player)
        audio.kill()
    return ours, theirs


def spread(values):
    return f"{min(values):5.2f} / {median(values):5.2f} / {max(values):5.2f} s"


def main():
    cycles = int(sys.argv[1]) if len(sys.argv) > 1 else 8
    build("Sonvale")
    station = Station(own_address(10))
    desktop = Desktop(with_tray=False)
    try:
        sources = source_returns(station, desktop, cycles)
        outputs = output_returns(station, desktop, cycles)
    finally:
        desktop.close()
        station.close()
    print(f"\n{'best / median / worst of ' + str(cycles):44} {'player':>22} {'reference':>24}")
    for mount, (ours, theirs, server) in sources.items():
        print(f"{'source back on ' + mount + ', to sound':44} {spread(ours):>22} {spread(theirs):>24}  (playbin)")
        print(f"{'  Icecast to a bare socket: head / audio':44} "
              f"{median([h for h, _ in server]):5.2f} / {median([a for _, a in server]):5.2f} s (median)")
    ours, theirs = outputs
    print(f"{'audio server back, to sound':44} {spread(ours):>22} {spread(theirs):>24}  (audiotestsrc)")


if __name__ == "__main__":
    main()
