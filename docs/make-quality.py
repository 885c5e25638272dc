#!/usr/bin/env python3
"""Measures what a round trip through the message format does to sound, and draws the
spectrograms for docs/quality.md. Needs a built aamsg (make build) and sox.

    python3 docs/make-quality.py            # prints the tables, writes docs/images/*.png

Signal-to-noise ratios compare the decoded message with the ideal 8000-per-second signal:
for tones the exact sine at the output instants k/8000, for the recording sox's
high-quality rate conversion of the same input (channels added, as the encoder does).
"""
import math
import os
import struct
import subprocess
import sys
import tempfile
import wave

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TOOL = os.path.join(ROOT, "build", "aamsg")
SAMPLE = os.path.join(ROOT, "samples", "thank-you.wav")
IMAGES = os.path.join(ROOT, "docs", "images")
RATES = [8000, 11025, 16000, 22050, 44100, 48000]
TONES = [300, 1000, 3000]


def run(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL)


def write_wave(path, rate, channels, samples):
    with wave.open(path, "wb") as w:
        w.setnchannels(channels)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(struct.pack("<%dh" % len(samples), *samples))


def read_wave(path):
    with wave.open(path, "rb") as w:
        channels = w.getnchannels()
        data = w.readframes(w.getnframes())
    samples = struct.unpack("<%dh" % (len(data) // 2), data)
    if channels == 1:
        return list(samples)
    return [samples[i] + samples[i + 1] for i in range(0, len(samples), 2)]


def round_trip(path, work):
    run(TOOL, "e", path, os.path.join(work, "rt.msg"))
    run(TOOL, "d", os.path.join(work, "rt.msg"), os.path.join(work, "rt.wav"))
    return read_wave(os.path.join(work, "rt.wav"))


def snr(reference, decoded):
    n = min(len(reference), len(decoded))
    signal = sum(reference[i] ** 2 for i in range(n))
    noise = sum((reference[i] - decoded[i]) ** 2 for i in range(n))
    return 10 * math.log10(signal / noise)


def clip(value):
    return max(-32768, min(32767, value))


def main():
    if not os.path.exists(TOOL):
        sys.exit("build aamsg first: make build")
    os.makedirs(IMAGES, exist_ok=True)
    with tempfile.TemporaryDirectory() as work:
        print("| tone | " + " | ".join("%g kHz" % (r / 1000) for r in RATES) + " |")
        print("|---|" + "---|" * len(RATES))
        for freq in TONES:
            row = []
            for rate in RATES:
                frames = [round(16000 * math.sin(2 * math.pi * freq * i / rate)) for i in range(2 * rate)]
                path = os.path.join(work, "tone.wav")
                write_wave(path, rate, 1, frames)
                decoded = round_trip(path, work)
                ideal = [16000 * math.sin(2 * math.pi * freq * k / 8000) for k in range(len(decoded))]
                row.append("%.1f dB" % snr(ideal[100:], decoded[100:]))
            print("| %d Hz | %s |" % (freq, " | ".join(row)))

        print()
        print("| recording | " + " | ".join("%g kHz" % (r / 1000) for r in RATES) + " |")
        print("|---|" + "---|" * len(RATES))
        reference_path = os.path.join(work, "ref.wav")
        run("sox", SAMPLE, "-r", "8000", "-b", "16", reference_path)
        reference = [clip(v) for v in read_wave(reference_path)]
        row = []
        for rate in RATES:
            path = os.path.join(work, "sample.wav")
            run("sox", SAMPLE, "-r", str(rate), "-b", "16", path)
            row.append("%.1f dB" % snr(reference, round_trip(path, work)))
        print("| thank-you.wav | %s |" % " | ".join(row))

        decoded = os.path.join(work, "decoded.wav")
        run(TOOL, "e", SAMPLE, os.path.join(work, "s.msg"))
        run(TOOL, "d", os.path.join(work, "s.msg"), decoded)
        for name, source, title in [
            ("original", SAMPLE, "thank-you.wav, 44.1 kHz stereo, as recorded"),
            ("ideal-8k", reference_path, "converted to 8 kHz by sox (high quality)"),
            ("round-trip", decoded, "encoded with aamsg e, decoded with aamsg d"),
        ]:
            run("sox", source, "-n", "remix", "-", "spectrogram", "-x", "480", "-y", "160",
                "-z", "90", "-t", title, "-o", os.path.join(IMAGES, name + ".png"))


main()
