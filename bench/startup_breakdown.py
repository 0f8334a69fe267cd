#!/usr/bin/env python3
"""Where the player's start-up goes: the player under Xvfb (with a session bus) against the local
station, stopped;
one second after its window shows, its CPU seconds so far and its resident memory by mapping
(/proc/PID/smaps: each library's file pages, heap, anonymous memory), largest first; then the same
once it plays, so that what only a play needs shows as the difference. Beside it the floor: a bare
Qt window (bench/BareWindow.cpp) and gst-launch-1.0 playbin on the same stream, and what the playing
player holds beyond the larger of the two in each mapping. With --callgrind the first
seconds run under valgrind's callgrind (slow) and its inclusive costs by library are printed.
Usage: bench/startup_breakdown.py [--callgrind]"""
import collections
import os
import subprocess
import sys
import tempfile
import time

from benchlib import BUILD, Station, build, cpu_seconds, desktop_with_session_bus, own_address, shown, stop, wait_until

PLAYER = os.path.join(BUILD, "Player", "Sonvale")
TITLE = "Radio Velmora Player"
SINK = "identity ! fakesink sync=true"


def resident_by_mapping(pid):
    """{mapping: KiB resident}; anonymous mappings under their [name] or 'anonymous'."""
    sizes = collections.Counter()
    name = "anonymous"
    with open(f"/proc/{pid}/smaps") as f:
        for line in f:
            fields = line.split()
            if "-" in fields[0] and len(fields) >= 5 and not fields[0].endswith(":"):
                name = os.path.basename(fields[5]) if len(fields) > 5 else "anonymous"
            elif fields[0] == "Rss:":
                sizes[name] += int(fields[1])
    return sizes


def report(title, sizes, top=18):
    total = sum(sizes.values())
    print(f"\n{title}: {total / 1024:.1f} MiB resident")
    for name, kib in sizes.most_common(top):
        print(f"  {kib / 1024:7.2f} MiB  {name}")


def floor(desktop, station, playing):
    """The bare window's and gst-launch's resident memory by mapping, and the player's excess over them."""
    bare = desktop.start([os.path.join(BUILD, "bench", "sonvale-bare-window")])
    wait_until(lambda: shown(desktop, TITLE), 30, interval=0.005)
    time.sleep(1)
    window = resident_by_mapping(bare.pid)
    stop(bare)
    reference = subprocess.Popen(["gst-launch-1.0", "-q", "playbin", f"uri=http://{station.address}:8000/velmora32",
                                  f"audio-sink={SINK}"], env=desktop.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(5)
    launch = resident_by_mapping(reference.pid)
    stop(reference)
    report("a bare Qt window, 1 s after it shows", window, top=8)
    report("gst-launch-1.0 playbin, 5 s playing the same mount", launch, top=8)
    mappings = set(window) | set(launch)
    least = sum(max(window.get(k, 0), launch.get(k, 0)) for k in mappings)
    print(f"\nthe two together, each mapping at the larger of the two: {least / 1024:.1f} MiB")
    excess = collections.Counter({k: v - max(window.get(k, 0), launch.get(k, 0)) for k, v in playing.items()})
    report("what the playing player holds beyond the larger of the two, by mapping",
           collections.Counter({k: v for k, v in excess.items() if v > 0}), top=12)


def main():
    build("Sonvale", "sonvale-bare-window")
    station = Station(own_address(12))
    desktop, bus = desktop_with_session_bus()
    env = {"SONVALE_STREAM_HOST": station.address, "SONVALE_AUDIO_SINK": SINK}
    try:
        if "--callgrind" in sys.argv:
            out = os.path.join(tempfile.mkdtemp(prefix="sonvale-callgrind-"), "callgrind.out")
            player = desktop.start(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}", PLAYER], env=env)
            wait_until(lambda: shown(desktop, TITLE), 120)
            time.sleep(2)
            stop(player, timeout=60)
            annotate = subprocess.run(["callgrind_annotate", "--inclusive=yes", out], capture_output=True, text=True)
            print("\n".join(annotate.stdout.splitlines()[:60]))
            return
        began = time.monotonic()
        player = desktop.start([PLAYER], env=env)
        wait_until(lambda: shown(desktop, TITLE), 30, interval=0.005)
        print(f"start to window shown: {(time.monotonic() - began) * 1000:.0f} ms")
        time.sleep(1)
        print(f"CPU from start to one second after the window: {cpu_seconds(player.pid):.3f} s")
        stopped = resident_by_mapping(player.pid)
        report("stopped, one second after the window", stopped)
        _, left, top, _, _ = desktop.window(TITLE)
        desktop.click(left + 36, top + 36)
        time.sleep(5)
        playing = resident_by_mapping(player.pid)
        report("playing, 5 s", playing)
        grown = collections.Counter({k: v - stopped.get(k, 0) for k, v in playing.items() if v > stopped.get(k, 0)})
        report("what playing added", grown)
        stop(player)
        floor(desktop, station, playing)
    finally:
        desktop.close()
        stop(bus)
        station.close()


if __name__ == "__main__":
    main()
