#!/usr/bin/env python3
"""The media engine against `gst-launch-1.0 playbin`, side by side in one run, on the local
station's 128 kbit/s mount with the same sink (fakesink sync=true):
launch to first audio (median of 5), controls.play to state 3 and to the first audio sample,
CPU seconds and peak RSS over 20 s of playing.   Usage: bench/engine_bench.py [SECONDS]"""
import os
import sys
import time

from benchlib import BUILD, Station, build, icecast_times, measured, median, own_address, rusage_of

SECONDS = float(sys.argv[1]) if len(sys.argv) > 1 else 20.0
RUNS = 5


STEADY_FROM = 5.0


def steady(samples, seconds):
    """CPU seconds per second between STEADY_FROM and the last sample."""
    return (samples[1] - samples[0]) / (seconds - 1 - STEADY_FROM) if len(samples) == 2 else float("nan")


def engine(url, seconds, play_after_ms=0):
    env = dict(os.environ, SONVALE_AUDIO_SINK="identity ! fakesink sync=true")
    command = [os.path.join(BUILD, "bench", "sonvale-engine-bench"), url, str(seconds), str(play_after_ms)]
    lines, usage, start, samples = measured(command, env=env, sample_at=(STEADY_FROM, seconds - 1))
    times = {line.split()[0]: float(line.split()[1]) for _, line in lines if len(line.split()) == 2}
    return times, usage, start, samples


def playbin(uri, seconds, verbose):
    sink = "identity silent=false ! fakesink sync=true" if verbose else "identity ! fakesink sync=true"
    command = ["gst-launch-1.0"] + (["-v"] if verbose else ["-q"]) + ["playbin", f"uri={uri}", f"audio-sink={sink}"]
    lines, usage, start, samples = measured(command, seconds=seconds, sample_at=(STEADY_FROM, seconds - 1))
    first = next((t for t, line in lines if "identity" in line and "chain" in line), None)
    return first, usage, start, samples


def main():
    build("sonvale-engine-bench")
    station = Station(own_address(9))
    try:
        playlist = f"http://{station.address}:8000/velmora.m3u"
        stream = f"http://{station.address}:8000/velmora"
        first_engine, first_direct, first_playbin, play_to_3, play_to_audio = [], [], [], [], []
        server_first, server_burst = [], []
        for _ in range(RUNS):
            times, _, start, _ = engine(playlist, 2.5)
            first_engine.append(times["first-audio"] - start)
            times, _, _, _ = engine(playlist, 3.5, play_after_ms=1000)
            play_to_3.append(times["playing"] - times["play"])
            play_to_audio.append(times["first-audio"] - times["play"])
            first, _, burst = icecast_times(station.address, "velmora", 65536)
            server_first.append(first)
            server_burst.append(burst)
            times, _, start, _ = engine(stream, 2.5)
            first_direct.append(times["first-audio"] - start)
            first, _, start, _ = playbin(stream, 2.5, verbose=True)
            first_playbin.append(first - start)
        _, engine_usage, _, engine_samples = engine(playlist, SECONDS)
        _, playbin_usage, _, playbin_samples = playbin(stream, SECONDS, verbose=False)
    finally:
        station.close()

    engine_cpu, engine_rss = rusage_of(engine_usage)
    playbin_cpu, playbin_rss = rusage_of(playbin_usage)
    ms = lambda values: f"{median(values) * 1000:7.1f} ms"  # noqa: E731
    print(f"{'':44} {'engine':>12} {'gst-launch playbin':>20}")
    print(f"{'launch to first audio (median of 5)':44} {ms(first_engine):>12} {ms(first_playbin):>20}")
    print(f"{'  the same, engine given the stream itself':44} {ms(first_direct):>12}")
    print(f"{'controls.play to state 3 (median, play 1 s after start)':44} {ms(play_to_3):>12}")
    print(f"{'controls.play to first audio (same)':44} {ms(play_to_audio):>12}")
    print(f"{'Icecast alone: first byte / end of burst':44} {ms(server_first):>12} / {median(server_burst) * 1000:.1f} ms"
          " (a bare socket)")
    print(f"{f'CPU seconds over {SECONDS:.0f} s playing':44} {engine_cpu:10.2f} s {playbin_cpu:18.2f} s"
          f"   ratio {engine_cpu / playbin_cpu:.2f}")
    engine_steady, playbin_steady = steady(engine_samples, SECONDS), steady(playbin_samples, SECONDS)
    print(f"{'  of it while playing steadily (CPU s per s)':44} {engine_steady:10.4f}   {playbin_steady:18.4f}     ratio {engine_steady / playbin_steady:.2f}")
    print(f"{'peak RSS':44} {engine_rss:8.1f} MiB {playbin_rss:16.1f} MiB   ratio {engine_rss / playbin_rss:.2f}")


if __name__ == "__main__":
    main()
