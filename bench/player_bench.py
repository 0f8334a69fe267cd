#!/usr/bin/env python3
"""The player under Xvfb with a tray, against the local station, next to `gst-launch-1.0 playbin`
on the same stream with the same sink (fakesink sync=true), in one run:
start to window shown (median of 5), CPU seconds over 60 s stopped and hidden, CPU seconds and
peak RSS over 20 s playing the 128 kbit/s mount; and the whole process, start-up included: CPU for
start + 20 s of playing, peak RSS, and play to first audio (the first bytes a real-time recording
sink writes), gst-launch's counted from its launch.   Usage: bench/player_bench.py [IDLE_S] [PLAY_S]"""
import os
import subprocess
import sys
import tempfile
import time

from benchlib import BUILD, cpu_seconds, Desktop, Station, build, measured, median, own_address, rusage_of, stop, wait_until

IDLE = float(sys.argv[1]) if len(sys.argv) > 1 else 60.0
PLAY = float(sys.argv[2]) if len(sys.argv) > 2 else 20.0
PLAYER = os.path.join(BUILD, "Player", "Sonvale")
TITLE = "Radio Velmora Player"
SINK = "identity ! fakesink sync=true"


def peak_rss_mib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024
    return float("nan")


def shown(desktop):
    out = desktop.run(["xwininfo", "-name", TITLE]).stdout
    return "IsViewable" in out


def first_audio(path, since, timeout=30):
    """Seconds from `since` until the recording at `path` has its first bytes."""
    wait_until(lambda: os.path.exists(path) and os.path.getsize(path) > 0, timeout, interval=0.002)
    return time.monotonic() - since


def recorder(path):
    return f"filesink sync=true buffer-mode=unbuffered location={path}"


def whole_process(desktop, station, scratch):
    """(CPU seconds, peak RSS MiB, play to first audio) of the player from its start through PLAY
    seconds of playing, and the same of gst-launch-1.0 playbin from its launch."""
    heard = os.path.join(scratch, "player.raw")
    player = desktop.start([PLAYER], env={"SONVALE_STREAM_HOST": station.address, "SONVALE_AUDIO_SINK": recorder(heard)})
    wait_until(lambda: shown(desktop), 30, interval=0.005)
    _, left, top, _, _ = desktop.window(TITLE)
    pressed = time.monotonic()
    desktop.click(left + 36, top + 36)  # play/pause
    audio = first_audio(heard, pressed)
    time.sleep(max(0.0, PLAY - (time.monotonic() - pressed)))
    cpu, rss = cpu_seconds(player.pid), peak_rss_mib(player.pid)
    stop(player)

    heard = os.path.join(scratch, "playbin.raw")
    launched = time.monotonic()
    reference = subprocess.Popen(["gst-launch-1.0", "-q", "playbin", f"uri=http://{station.address}:8000/velmora",
                                  f"audio-sink={recorder(heard)}"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    ref_audio = first_audio(heard, launched)
    time.sleep(max(0.0, PLAY - (time.monotonic() - launched)))
    ref_cpu, ref_rss = cpu_seconds(reference.pid), peak_rss_mib(reference.pid)
    stop(reference)
    return (cpu, rss, audio), (ref_cpu, ref_rss, ref_audio)


def main():
    build("Sonvale")
    station = Station(own_address(8))
    desktop = Desktop()
    env = {"SONVALE_STREAM_HOST": station.address, "SONVALE_AUDIO_SINK": SINK}
    try:
        starts = []
        for _ in range(5):
            began = time.monotonic()
            player = desktop.start([PLAYER], env=env)
            wait_until(lambda: shown(desktop), 30, interval=0.005)
            starts.append(time.monotonic() - began)
            stop(player)
            wait_until(lambda: not desktop.window(TITLE), 10)

        player = desktop.start([PLAYER], env=env)
        wait_until(lambda: shown(desktop), 30)
        _, left, top, _, _ = desktop.window(TITLE)
        desktop.click(left + 360, top + 12)  # minimise
        wait_until(lambda: not shown(desktop), 10)
        time.sleep(1)
        before = cpu_seconds(player.pid)
        time.sleep(IDLE)
        idle_cpu = cpu_seconds(player.pid) - before

        desktop.click(*desktop.tray_icon(), repeat=2)
        wait_until(lambda: shown(desktop), 10)
        desktop.click(left + 36, top + 36)  # play/pause
        desktop.click(left + 255, top + 52)  # high quality takes effect at the next play
        desktop.click(left + 36, top + 36)
        desktop.click(left + 36, top + 36)
        before = cpu_seconds(player.pid)
        time.sleep(PLAY)
        play_cpu = cpu_seconds(player.pid) - before
        play_rss = peak_rss_mib(player.pid)
        stop(player)

        _, usage, _ = measured(["gst-launch-1.0", "-q", "playbin", f"uri=http://{station.address}:8000/velmora",
                                f"audio-sink={SINK}"], seconds=PLAY)
        ref_cpu, ref_rss = rusage_of(usage)
        mine, theirs = whole_process(desktop, station, tempfile.mkdtemp(prefix="sonvale-bench-"))
    finally:
        desktop.close()
        station.close()

    print(f"{'':40} {'Sonvale':>12} {'gst-launch playbin':>20}")
    print(f"{'start to window shown (median of 5)':40} {median(starts) * 1000:9.0f} ms")
    print(f"{f'CPU over {IDLE:.0f} s stopped and hidden':40} {idle_cpu:10.3f} s   ({idle_cpu * 60 / IDLE:.3f} s/min)")
    print(f"{f'CPU over {PLAY:.0f} s playing 128 kbit/s':40} {play_cpu:10.2f} s {ref_cpu:18.2f} s   ratio {play_cpu / ref_cpu:.2f}")
    print(f"{'peak RSS':40} {play_rss:8.1f} MiB {ref_rss:16.1f} MiB   ratio {play_rss / ref_rss:.2f}")
    print(f"whole process, start-up included (recording sink, real time):")
    print(f"{f'  CPU for start + {PLAY:.0f} s playing':40} {mine[0]:10.2f} s {theirs[0]:18.2f} s   ratio {mine[0] / theirs[0]:.2f}")
    print(f"{'  peak RSS':40} {mine[1]:8.1f} MiB {theirs[1]:16.1f} MiB   ratio {mine[1] / theirs[1]:.2f}")
    print(f"{'  play (launch) to first audio':40} {mine[2] * 1000:9.0f} ms {theirs[2] * 1000:17.0f} ms")


if __name__ == "__main__":
    main()
