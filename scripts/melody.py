#!/usr/bin/env python3
"""Writes a short, gentle pentatonic melody as a 44.1 kHz stereo WAV (the demo station's music)."""
import math
import struct
import sys
import wave

RATE = 44100
NOTES = {"C4": 261.63, "D4": 293.66, "E4": 329.63, "G4": 392.00, "A4": 440.00,
         "C5": 523.25, "D5": 587.33, "E5": 659.25, "G3": 196.00, "A3": 220.00, "C3": 130.81}
TUNE = ["E4", "G4", "A4", "C5", "A4", "G4", "E4", "D4", "C4", "D4", "E4", "G4", "E4", "D4", "C4", "C4"]
BASS = ["C3", "A3", "G3", "C3"]
BEAT = 0.32


def tone(freq, length, volume):
    count = int(RATE * length)
    for i in range(count):
        t = i / RATE
        envelope = min(1.0, t / 0.01) * math.exp(-3.0 * t)
        yield volume * envelope * (math.sin(2 * math.pi * freq * t) + 0.25 * math.sin(4 * math.pi * freq * t))


def main(path):
    beats = len(TUNE)
    samples = [0.0] * int(RATE * BEAT * beats + RATE)
    for n, name in enumerate(TUNE):
        start = int(RATE * BEAT * n)
        for i, v in enumerate(tone(NOTES[name], BEAT * 2.5, 0.35)):
            samples[start + i] += v
    for n, name in enumerate(BASS):
        start = int(RATE * BEAT * 4 * n)
        for i, v in enumerate(tone(NOTES[name], BEAT * 4, 0.25)):
            if start + i < len(samples):
                samples[start + i] += v
    with wave.open(path, "wb") as out:
        out.setnchannels(2)
        out.setsampwidth(2)
        out.setframerate(RATE)
        frames = bytearray()
        for v in samples:
            s = int(max(-1.0, min(1.0, v)) * 26000)
            frames += struct.pack("<hh", s, s)
        out.writeframes(bytes(frames))


if __name__ == "__main__":
    main(sys.argv[1])
