#!/usr/bin/env python3
"""The player under Xvfb with a tray, against the local station, next to `gst-launch-1.0 playbin`
on the same stream with the same sink (fakesink sync=true), in one run, on a desktop with a session
bus:
start to window shown (median of 5), CPU seconds over 60 s stopped and hidden, CPU seconds and
peak RSS over 20 s playing the 128 kbit/s mount; and the whole process, start-up included: CPU for
start + 20 s of playing (and its end), peak RSS, and play to first audio (the first bytes a real-time recording
sink writes), gst-launch's counted from its launch, both on the same mount (the player's default
low-quality one, and the 128 kbit/s one chosen before play).
Usage: bench/player_bench.py [IDLE_S] [PLAY_S]
       bench/player_bench.py --whole ROUNDS [PLAY_S]   (only the whole process, medians of ROUNDS)
The whole process is also shown by thread: each thread's CPU, whole and from 5 s of playing on."""
import os
import signal
import subprocess
import sys
import tempfile
import time

from benchlib import (BUILD, cpu_seconds, desktop_with_session_bus, ended, Station, build, measured, median, own_address,
                      rusage_of, shown, stop, thread_cpu, wait_until)

WHOLE_ONLY = sys.argv[1:2] == ["--whole"]
ROUNDS, IDLE = (int(sys.argv[2]), 0.0) if WHOLE_ONLY else (0, float(sys.argv[1]) if len(sys.argv) > 1 else 60.0)
PLAY = float(sys.argv[2 + WHOLE_ONLY]) if len(sys.argv) > 2 + WHOLE_ONLY else 20.0
PLAYER = os.path.join(BUILD, "Player", "Sonvale")
TITLE = "Radio Velmora Player"
SINK = "identity ! fakesink sync=true"


def peak_rss_mib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024
    return float("nan")


def first_audio(path, since, timeout=30):
    """Seconds from `since` until the recording at `path` has its first bytes."""
    wait_until(lambda: os.path.exists(path) and os.path.getsize(path) > 0, timeout, interval=0.002)
    return time.monotonic() - since


def recorder(path):
    return f"filesink sync=true buffer-mode=unbuffered location={path}"


STEADY_FROM = 5.0


def full_station():
    """The local station once each mount holds a whole connect burst (64 KiB, 16 s of the 32 kbit/s
    stream): a mount's listeners before that start on less, wait longer for audio and never fill the
    network buffer, and the first of the programs measured would pay for it."""
    station = Station(own_address(8))
    time.sleep(17)
    return station


def played(process, since):
    """Plays until PLAY seconds after `since`. Returns each thread's CPU seconds by then, and of it what
    was spent from STEADY_FROM seconds on: {name: (whole, steady)}."""
    time.sleep(max(0.0, STEADY_FROM - (time.monotonic() - since)))
    settled = thread_cpu(process.pid)
    time.sleep(max(0.0, PLAY - (time.monotonic() - since)))
    return {name: (cpu, cpu - settled.get(name, 0.0)) for name, cpu in thread_cpu(process.pid).items()}


def whole_process(desktop, station, scratch, high):
    """(CPU seconds, peak RSS MiB, play to first audio, CPU by thread) of the player from its start through
    PLAY seconds of playing the high or low mount, and the same of gst-launch-1.0 playbin from its launch."""
    heard = os.path.join(scratch, "player.raw")
    for old in (heard, os.path.join(scratch, "playbin.raw")):
        if os.path.exists(old):
            os.remove(old)
    player = desktop.start([PLAYER], env={"SONVALE_STREAM_HOST": station.address, "SONVALE_AUDIO_SINK": recorder(heard)})
    wait_until(lambda: shown(desktop, TITLE), 30, interval=0.005)
    _, left, top, _, _ = desktop.window(TITLE)
    if high:
        desktop.click(left + 255, top + 52)
    pressed = time.monotonic()
    desktop.click(left + 36, top + 36)  # play/pause
    audio = first_audio(heard, pressed)
    threads = played(player, pressed)
    cpu, rss = ended(player)

    heard = os.path.join(scratch, "playbin.raw")
    launched = time.monotonic()
    mount = "velmora" if high else "velmora32"
    reference = subprocess.Popen(["gst-launch-1.0", "-q", "playbin", f"uri=http://{station.address}:8000/{mount}",
                                  f"audio-sink={recorder(heard)}"], env=desktop.env, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
    ref_audio = first_audio(heard, launched)
    ref_threads = played(reference, launched)
    ref_cpu, ref_rss = ended(reference, signal.SIGINT)
    return (cpu, rss, audio, threads), (ref_cpu, ref_rss, ref_audio, ref_threads)


def report_whole(mine, theirs, title):
    print(f"whole process, start-up included, {title} (recording sink, real time):")
    print(f"{f'  CPU for start + {PLAY:.0f} s playing':40} {mine[0]:10.3f} s {theirs[0]:18.3f} s   ratio {mine[0] / theirs[0]:.2f}")
    print(f"{'  peak RSS':40} {mine[1]:8.1f} MiB {theirs[1]:16.1f} MiB   ratio {mine[1] / theirs[1]:.2f}")
    print(f"{'  play (launch) to first audio':40} {mine[2] * 1000:9.0f} ms {theirs[2] * 1000:17.0f} ms")


def whole_only(rounds):
    """Medians over `rounds` of the whole process on each mount, the two programs alternating."""
    build("Sonvale")
    station = full_station()
    desktop, bus = desktop_with_session_bus()
    scratch = tempfile.mkdtemp(prefix="sonvale-bench-")
    results = {True: [], False: []}
    try:
        for _ in range(rounds):
            for high in (True, False):
                results[high].append(whole_process(desktop, station, scratch, high))
    finally:
        desktop.close()
        stop(bus)
        station.close()
    for high, title in ((True, "128 kbit/s mount"), (False, "32 kbit/s mount (the default)")):
        mine = [median([r[0][i] for r in results[high]]) for i in range(3)]
        theirs = [median([r[1][i] for r in results[high]]) for i in range(3)]
        report_whole(mine, theirs, f"{title}, medians of {rounds}")
        ratios = sorted(r[0][0] / r[1][0] for r in results[high])
        print(f"  CPU ratio round by round: {' '.join(f'{x:.2f}' for x in ratios)} (median {median(ratios):.2f})")
        report_threads([r[0][3] for r in results[high]], [r[1][3] for r in results[high]])


def report_threads(mine, theirs):
    """Medians of each thread's CPU, the whole run and from STEADY_FROM s of playing on, for threads that
    used a millisecond or more."""
    def medians(rounds, name):
        return [median([r.get(name, (0.0, 0.0))[i] for r in rounds]) * 1000 for i in (0, 1)]
    names = {name for r in mine + theirs for name, (cpu, _) in r.items() if cpu >= 0.001}
    rows = sorted(((medians(mine, n), medians(theirs, n), n) for n in names), key=lambda row: -max(row[0][0], row[1][0]))
    print(f"  by thread, ms (whole / from {STEADY_FROM:.0f} s on)      {'Sonvale':>15} {'gst-launch playbin':>20}")
    for (m_whole, m_steady), (t_whole, t_steady), name in rows:
        print(f"    {name:38} {m_whole:7.1f} / {m_steady:5.1f} {t_whole:11.1f} / {t_steady:5.1f}")


def main():
    if WHOLE_ONLY:
        whole_only(ROUNDS)
        return
    build("Sonvale")
    station = full_station()
    desktop, bus = desktop_with_session_bus()
    env = {"SONVALE_STREAM_HOST": station.address, "SONVALE_AUDIO_SINK": SINK}
    try:
        starts = []
        for _ in range(5):
            began = time.monotonic()
            player = desktop.start([PLAYER], env=env)
            wait_until(lambda: shown(desktop, TITLE), 30, interval=0.005)
            starts.append(time.monotonic() - began)
            stop(player)
            wait_until(lambda: not desktop.window(TITLE), 10)

        player = desktop.start([PLAYER], env=env)
        wait_until(lambda: shown(desktop, TITLE), 30)
        _, left, top, _, _ = desktop.window(TITLE)
        desktop.click(left + 360, top + 12)  # minimise
        wait_until(lambda: not shown(desktop, TITLE), 10)
        time.sleep(1)
        before = cpu_seconds(player.pid)
        time.sleep(IDLE)
        idle_cpu = cpu_seconds(player.pid) - before

        desktop.click(*desktop.tray_icon(), repeat=2)
        wait_until(lambda: shown(desktop, TITLE), 10)
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
        scratch = tempfile.mkdtemp(prefix="sonvale-bench-")
        whole = [whole_process(desktop, station, scratch, high) for high in (True, False)]
    finally:
        desktop.close()
        stop(bus)
        station.close()

    print(f"{'':40} {'Sonvale':>12} {'gst-launch playbin':>20}")
    print(f"{'start to window shown (median of 5)':40} {median(starts) * 1000:9.0f} ms")
    print(f"{f'CPU over {IDLE:.0f} s stopped and hidden':40} {idle_cpu:10.3f} s   ({idle_cpu * 60 / IDLE:.3f} s/min)")
    print(f"{f'CPU over {PLAY:.0f} s playing 128 kbit/s':40} {play_cpu:10.2f} s {ref_cpu:18.2f} s   ratio {play_cpu / ref_cpu:.2f}")
    print(f"{'peak RSS':40} {play_rss:8.1f} MiB {ref_rss:16.1f} MiB   ratio {play_rss / ref_rss:.2f}")
    for (mine, theirs), title in zip(whole, ("128 kbit/s mount", "32 kbit/s mount (the default)")):
        report_whole(mine, theirs, title)
        report_threads([mine[3]], [theirs[3]])


if __name__ == "__main__":
    main()
