#!/usr/bin/python3
"""Measures what a round trip through the message format does to sound, compares `aamsg q`
with the other encoders of the format, and draws the spectrograms for docs/quality.md.

    /usr/bin/python3 docs/make-quality.py [--paths 4,8,16,32]

Needs a built aamsg (make build), the benchmark build for the search-width table (make bench
builds it: build-bench/bench/aamsg_best_tradeoff), and Debian's sox, ffmpeg, espeak-ng and
python3-numpy. Rewrites the tables between the <!-- name --> markers in docs/quality.md and
the pictures in docs/images/.

Every round trip is decoded with `aamsg d`, the format's own decoder, and compared with the
ideal 8000-per-second signal: for the tone tables the exact sine, for the comparison sox's
very-high-quality rate conversion of the average of the channels, kept in floating point. Each
encoder is allowed its own constant delay (the one of -32..32 samples that suits it best).
"""
import argparse
import math
import os
import re
import struct
import subprocess
import sys
import tempfile
import wave

import numpy as np

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TOOL = os.path.join(ROOT, "build", "aamsg")
TRADEOFF = os.path.join(ROOT, "build-bench", "bench", "aamsg_best_tradeoff")
SAMPLE = os.path.join(ROOT, "samples", "thank-you.wav")
DOC = os.path.join(ROOT, "docs", "quality.md")
IMAGES = os.path.join(ROOT, "docs", "images")
RATES = [8000, 11025, 16000, 22050, 44100, 48000]
TONES = [300, 1000, 3000]
TEXT = ("Thank you for calling. Please hold while we connect your call. Our office hours are "
        "Monday to Friday, nine to five. Press one for sales, two for support.")
TEXTS = {
    "de": "Vielen Dank für Ihren Anruf. Bitte bleiben Sie in der Leitung, wir verbinden Sie gleich.",
    "fr": "Merci de votre appel. Veuillez patienter, nous allons vous mettre en relation.",
    "es": "Gracias por llamar. Por favor espere mientras conectamos su llamada.",
    "it": "Grazie per aver chiamato. Attenda in linea, la stiamo mettendo in contatto.",
    "ru": "Спасибо за звонок. Пожалуйста, оставайтесь на линии, мы соединяем вас.",
    "pt": "Obrigado por ligar. Por favor aguarde enquanto transferimos a sua chamada.",
    "nl": "Bedankt voor uw oproep. Een ogenblik geduld, wij verbinden u door.",
}


def run(*args, **kw):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **kw)


def speak(voice, path, text=None):
    run("espeak-ng", "-v", voice, "-s", "150", "-w", path, text or TEXTS.get(voice.split("+")[0], TEXT))


def write_wave(path, rate, channels, samples, width=2):
    with wave.open(path, "wb") as w:
        w.setnchannels(channels)
        w.setsampwidth(width)
        w.setframerate(rate)
        w.writeframes(np.asarray(samples, dtype="<i2").tobytes())


def read_wave16(path):
    with wave.open(path, "rb") as w:
        data = w.readframes(w.getnframes())
    return np.frombuffer(data, dtype="<i2").astype(np.float64)


def read_float(path):
    """A 32-bit float WAVE file as sox writes it (the reference)."""
    with open(path, "rb") as f:
        data = f.read()
    at = data.index(b"data") + 8
    return np.frombuffer(data[at:at + (len(data) - at) // 4 * 4], dtype="<f4").astype(np.float64) * 32768.0


def make_sources(work):
    """At least ten sources, made by independent tools, as people's files come."""
    s = {}

    def path(name):
        return os.path.join(work, name)

    speak("en-us", path("en-us.wav"))
    run("sox", path("en-us.wav"), "-r", "8000", "-b", "16", path("speech-8k.wav"))
    s["speech, en-us, 8 kHz 16-bit (sox)"] = path("speech-8k.wav")
    speak("de", path("de.wav"))
    run("sox", path("de.wav"), "-r", "11025", "-b", "8", path("speech-11k-8bit.wav"))
    s["speech, de, 11.025 kHz 8-bit (sox)"] = path("speech-11k-8bit.wav")
    speak("fr+f2", path("fr.wav"))
    run("ffmpeg", "-y", "-i", path("fr.wav"), "-ar", "16000", path("speech-16k.wav"))
    s["speech, fr female, 16 kHz (ffmpeg)"] = path("speech-16k.wav")
    speak("es", path("speech-22k.wav"))
    s["speech, es, 22.05 kHz (espeak-ng)"] = path("speech-22k.wav")
    speak("en-gb+m3", path("en-gb.wav"))
    run("sox", path("en-gb.wav"), "-r", "44100", path("speech-44k-mono.wav"))
    s["speech, en-gb, 44.1 kHz mono (sox)"] = path("speech-44k-mono.wav")
    # Stereo from Python: the voice in both channels, the right one a little later and softer.
    speak("it", path("it.wav"))
    run("sox", path("it.wav"), "-r", "44100", path("it44.wav"))
    mono = read_wave16(path("it44.wav"))
    left = mono * 0.7
    right = np.concatenate([np.zeros(30), mono[:-30]]) * 0.5
    write_wave(path("speech-44k-stereo.wav"), 44100, 2, np.round(np.stack([left, right], 1).ravel()))
    s["speech, it, 44.1 kHz stereo (Python)"] = path("speech-44k-stereo.wav")
    speak("nl", path("nl.wav"))
    run("sox", path("nl.wav"), "-r", "44100", "-c", "2", path("speech-44k-hot.wav"), "gain", "-n", "-0.1")
    s["speech, nl, 44.1 kHz stereo near full scale (sox)"] = path("speech-44k-hot.wav")
    speak("ru", path("ru.wav"))
    run("ffmpeg", "-y", "-i", path("ru.wav"), "-ar", "48000", "-ac", "2", "-c:a", "pcm_s24le",
        path("speech-48k-24bit.wav"))
    s["speech, ru, 48 kHz 24-bit stereo (ffmpeg)"] = path("speech-48k-24bit.wav")
    speak("pt+f4", path("pt.wav"))
    run("sox", path("pt.wav"), "-r", "48000", "-e", "floating-point", "-b", "32", path("speech-48k-float.wav"))
    s["speech, pt female, 48 kHz 32-bit float (sox)"] = path("speech-48k-float.wav")
    run("sox", path("en-us.wav"), "-r", "44100", path("en44.wav"))
    run("sox", "-n", "-r", "44100", path("hiss.wav"), "synth", "12", "whitenoise", "highpass", "5000",
        "highpass", "5000", "vol", "0.05")
    run("sox", "-m", path("en44.wav"), path("hiss.wav"), path("speech-hiss.wav"), "trim", "0", "10")
    s["speech with hiss above 5 kHz, 44.1 kHz (sox)"] = path("speech-hiss.wav")
    run("sox", "-n", "-r", "44100", path("sweep.wav"), "synth", "10", "sine", "100-12000", "vol", "0.5")
    s["sweep 100 Hz-12 kHz, 44.1 kHz (sox)"] = path("sweep.wav")
    run("sox", "-n", "-r", "22050", path("chord.wav"), "synth", "6", "square", "261.63", "square", "329.63",
        "square", "392", "vol", "0.3")
    s["square-wave chord, 22.05 kHz (sox)"] = path("chord.wav")
    # DTMF digits from Python: 80 ms tones, 80 ms gaps.
    keys = {"1": (697, 1209), "2": (697, 1336), "3": (697, 1477), "4": (770, 1209), "5": (770, 1336),
            "6": (770, 1477), "7": (852, 1209), "8": (852, 1336), "9": (852, 1477), "0": (941, 1336)}
    rate, tone = 16000, []
    for digit in "5551234067898":
        low, high = keys[digit]
        t = np.arange(int(0.08 * rate)) / rate
        tone += list(8000 * (np.sin(2 * np.pi * low * t) + np.sin(2 * np.pi * high * t))) + [0] * int(0.08 * rate)
    write_wave(path("dtmf.wav"), rate, 1, np.round(tone))
    s["DTMF digits, 16 kHz (Python)"] = path("dtmf.wav")
    run("sox", "-n", "-r", "32000", path("pink.wav"), "synth", "8", "pinknoise", "vol", "0.4")
    s["pink noise, 32 kHz (sox)"] = path("pink.wav")
    return s


def decode(message, work):
    out = os.path.join(work, "decoded.wav")
    run(TOOL, "d", message, out)
    return read_wave16(out)


def encode_q(src, msg, work):
    run(TOOL, "q", src, msg)


def encode_e_ideal(src, msg, work):
    ideal = os.path.join(work, "ideal16.wav")
    run("sox", src, "-r", "8000", "-c", "1", "-b", "16", ideal, "rate", "-v")
    run(TOOL, "e", ideal, msg)


def encode_sox(src, msg, work):
    run("sox", src, "-t", "ima", "-r", "8000", "-c", "1", msg)


def encode_ffmpeg(src, msg, work):
    mid = os.path.join(work, "ff8k.wav")
    kvag = os.path.join(work, "ff.kvag")
    run("ffmpeg", "-y", "-i", src, "-ar", "8000", "-ac", "1", mid)
    run("ffmpeg", "-y", "-i", mid, "-c:a", "adpcm_ima_ssi", "-f", "kvag", kvag)
    with open(kvag, "rb") as f, open(msg, "wb") as g:
        g.write(f.read()[14:])  # the container's header; the codes are the message format's


ENCODERS = [("aamsg q", encode_q), ("aamsg e on ideal 8 kHz", encode_e_ideal), ("sox", encode_sox),
            ("ffmpeg", encode_ffmpeg)]


def reference(src, work):
    ref = os.path.join(work, "ref.wav")
    run("sox", src, "-r", "8000", "-c", "1", "-e", "floating-point", "-b", "32", ref, "rate", "-v")
    return read_float(ref)


def snr(ref, out, max_delay=32):
    """The best SNR over constant delays of the output against the reference."""
    best = -math.inf
    for d in range(-max_delay, max_delay + 1):
        r = ref[max(0, d):]
        o = out[max(0, -d):]
        n = min(len(r), len(o))
        if n < 1000:
            continue
        r, o = r[:n], o[:n]
        noise = np.sum((r - o) ** 2)
        best = max(best, 10 * math.log10(np.sum(r ** 2) / max(noise, 1e-9)))
    return best


def measure_comparison(sources, work):
    rows = []
    for name, src in sources.items():
        ref = reference(src, work)
        row = []
        for label, encode in ENCODERS:
            msg = os.path.join(work, "out.msg")
            if os.path.exists(msg):
                os.remove(msg)
            try:
                encode(src, msg, work)
                row.append(snr(ref, decode(msg, work)))
            except subprocess.CalledProcessError:
                row.append(None)  # the encoder refused or failed
        rows.append((name, row))
        print(name, ["-" if v is None else "%.2f" % v for v in row], file=sys.stderr)
    return rows


def comparison_table(rows):
    head = "| source | " + " | ".join(label for label, _ in ENCODERS) + " | q over best peer |"
    lines = [head, "|---|" + "---|" * (len(ENCODERS) + 1)]
    gains, sums = [], [0.0] * len(ENCODERS)
    for name, row in rows:
        peers = [v for v in row[1:] if v is not None]
        gain = row[0] - max(peers)
        gains.append(gain)
        cells = ["failed" if v is None else "%.1f dB" % v for v in row]
        lines.append("| %s | %s | %+.1f dB |" % (name, " | ".join(cells), gain))
        for i, v in enumerate(row):
            sums[i] += v if v is not None else 0.0
    means = ["%.1f dB" % (v / len(rows)) for v in sums]
    lines.append("| **mean** | %s | **%+.2f dB** (lowest %+.2f) |" % (" | ".join(means), sum(gains) / len(gains), min(gains)))
    return "\n".join(lines)


def median_ms(command, runs=5):
    import time
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        times.append((time.perf_counter() - start) * 1000)
    return sorted(times)[len(times) // 2]


def tradeoff_table(sources, work, settings, long_input, peer_rows):
    """Mean round trip over the sources and time on a long input, for each search setting."""
    if not os.path.exists(TRADEOFF):
        sys.exit("build the benchmarks first: make bench (or cmake with -DAAMSG_BENCH=ON)")
    means = {k: [] for k in settings}
    for name, src in sources.items():
        ref = reference(src, work)
        prefix = os.path.join(work, "setting")
        subprocess.run([TRADEOFF, src, prefix] + settings, check=True, stdout=subprocess.DEVNULL)
        for k in settings:
            means[k].append(snr(ref, decode("%s-%s.msg" % (prefix, k), work)))
    times = {k: [] for k in settings}
    for _ in range(5):
        out = subprocess.run([TRADEOFF, long_input, os.path.join(work, "long")] + settings,
                             check=True, capture_output=True, text=True).stdout.split("\n")
        for line in out:
            if line.strip():
                times[line.split()[0]].append(float(line.split()[1]))
    sox = median_ms(["sox", long_input, "-t", "ima", "-r", "8000", "-c", "1", os.path.join(work, "sox.msg")])
    best_peer = sum(max(v for v in row[1:] if v is not None) for _, row in peer_rows) / len(peer_rows)
    lines = ["| paths | look ahead | mean round trip | over the best peer | 10 minutes of 44.1 kHz stereo |",
             "|---|---|---|---|---|"]
    for k in settings:
        paths, ahead = k.split(":")
        mean = sum(means[k]) / len(means[k])
        t = sorted(times[k])[len(times[k]) // 2]
        lines.append("| %s | %s | %.2f dB | %+.2f dB | %.0f ms (%.2fx sox) |" % (paths, ahead, mean, mean - best_peer, t, t / sox))
    lines.append("| sox | | | | %.0f ms |" % sox)
    return "\n".join(lines)


def round_trip(path, work):
    run(TOOL, "e", path, os.path.join(work, "rt.msg"))
    return decode(os.path.join(work, "rt.msg"), work)


def plain_snr(reference, decoded):
    n = min(len(reference), len(decoded))
    r, d = np.asarray(reference[:n], dtype=np.float64), decoded[:n]
    return 10 * math.log10(np.sum(r ** 2) / np.sum((r - d) ** 2))


def tone_tables(work):
    lines = ["| tone | " + " | ".join("%g kHz" % (r / 1000) for r in RATES) + " |", "|---|" + "---|" * len(RATES)]
    for freq in TONES:
        row = []
        for rate in RATES:
            frames = np.round(16000 * np.sin(2 * np.pi * freq * np.arange(2 * rate) / rate))
            path = os.path.join(work, "tone.wav")
            write_wave(path, rate, 1, frames)
            decoded = round_trip(path, work)
            ideal = 16000 * np.sin(2 * np.pi * freq * np.arange(len(decoded)) / 8000)
            row.append("%.1f dB" % plain_snr(ideal[100:], decoded[100:]))
        lines.append("| %d Hz | %s |" % (freq, " | ".join(row)))
    lines += ["", "| recording | " + " | ".join("%g kHz" % (r / 1000) for r in RATES) + " |",
              "|---|" + "---|" * len(RATES)]
    reference_path = os.path.join(work, "sample-ref.wav")
    run("sox", SAMPLE, "-r", "8000", "-b", "16", reference_path, "remix", "1v1,2v1")
    ref = np.clip(read_wave16(reference_path), -32768, 32767)
    row = []
    for rate in RATES:
        path = os.path.join(work, "sample.wav")
        run("sox", SAMPLE, "-r", str(rate), "-b", "16", path)
        row.append("%.1f dB" % plain_snr(ref, round_trip(path, work)))
    lines.append("| thank-you.wav | %s |" % " | ".join(row))
    return "\n".join(lines)


def spectrograms(work):
    decoded_e = os.path.join(work, "decoded-e.wav")
    decoded_q = os.path.join(work, "decoded-q.wav")
    run(TOOL, "e", SAMPLE, os.path.join(work, "s.msg"))
    run(TOOL, "d", os.path.join(work, "s.msg"), decoded_e)
    run(TOOL, "q", SAMPLE, os.path.join(work, "q.msg"))
    run(TOOL, "d", os.path.join(work, "q.msg"), decoded_q)
    ideal = os.path.join(work, "ideal.wav")
    run("sox", SAMPLE, "-r", "8000", "-b", "16", ideal, "remix", "1v1,2v1")
    for name, source, title in [
        ("original", SAMPLE, "thank-you.wav, 44.1 kHz stereo, as recorded"),
        ("ideal-8k", ideal, "converted to 8 kHz by sox (high quality)"),
        ("round-trip", decoded_e, "encoded with aamsg e, decoded with aamsg d"),
        ("round-trip-q", decoded_q, "encoded with aamsg q, decoded with aamsg d"),
    ]:
        run("sox", source, "-n", "remix", "-", "spectrogram", "-x", "480", "-y", "160", "-z", "90", "-t", title,
            "-o", os.path.join(IMAGES, name + ".png"))


def replace_section(doc, name, body):
    pattern = re.compile(r"(<!-- %s -->\n).*?(<!-- /%s -->)" % (name, name), re.S)
    if not pattern.search(doc):
        sys.exit("docs/quality.md lacks the markers of " + name)
    return pattern.sub(lambda m: m.group(1) + body + "\n" + m.group(2), doc)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--settings", default="1:0,1:4,2:0,2:2,2:3,3:3,4:3,8:0,8:3",
                        help="search settings (paths:lookahead) for the trade-off table")
    parser.add_argument("--only", default="", help="comparison or tradeoff: print just that table")
    args = parser.parse_args()
    if not os.path.exists(TOOL):
        sys.exit("build aamsg first: make build")
    os.makedirs(IMAGES, exist_ok=True)
    with tempfile.TemporaryDirectory() as work:
        sources = make_sources(work)
        rows = measure_comparison(sources, work)
        if args.only == "comparison":
            print(comparison_table(rows))
            return
        long_input = os.path.join(work, "10min.wav")
        run("sox", "-n", "-r", "44100", "-c", "2", "-b", "16", long_input, "synth", "600", "sine", "200-3000",
            "synth", "600", "whitenoise", "mix", "vol", "0.5")
        settings = args.settings.split(",")
        if args.only == "tradeoff":
            print(tradeoff_table(sources, work, settings, long_input, rows))
            return
        with open(DOC) as f:
            doc = f.read()
        doc = replace_section(doc, "comparison", comparison_table(rows))
        doc = replace_section(doc, "tradeoff", tradeoff_table(sources, work, settings, long_input, rows))
        doc = replace_section(doc, "tones", tone_tables(work))
        spectrograms(work)
        with open(DOC, "w") as f:
            f.write(doc)


main()
