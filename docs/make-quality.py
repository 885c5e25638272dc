#!/usr/bin/python3
"""Measures what a round trip through the message format does to sound and how fast `aamsg q` is,
against the other encoders of the format, and draws the pictures for docs/quality.md.

    /usr/bin/python3 docs/make-quality.py [--quick] [--corpus DIR] [--only comparison|time|tradeoff|ceiling]

Needs a built aamsg (make build), the benchmark build for the search-width and ceiling tables
(make bench builds build-bench/bench/), the peer encoder adpcm-xq's sources
(--adpcm-xq, built here with its build.sh), and Debian's sox, libsox-fmt-all, ffmpeg, lame,
espeak-ng, codec2-examples, alsa-utils, hyperfine, python3-numpy and python3-matplotlib.
Rewrites the tables between the <!-- name --> markers in docs/quality.md and the pictures in
docs/images/. --quick measures a few sources and skips the slow tables, printing instead of
writing; --corpus also leaves the ideal signals, adpcm-xq's messages and every score in DIR;
AAMSG=path/to/aamsg measures another build of the tool. AAMSG_PESQ=program adds a PESQ table of
the speech sources (narrow-band, MOS-LQO): the program is given two headerless 16-bit 8 kHz mono
files, the ideal signal and the decoded one, and prints the score as the last word of its
output. No PESQ implementation comes with aamsg or Debian; build one for measuring only.

Every message is decoded with `aamsg d`, the format's own decoder, and compared with the ideal
8000-per-second signal: for the tone tables the exact sine, for the comparison sox's
very-high-quality rate conversion (`rate -v`) of the average of the channels, rounded to 16 bits
without dither; `aamsg e` and adpcm-xq are given that same signal as their input. Each encoder
is allowed its own constant delay (the one of -256..256 samples, 32 ms either way, with the best
plain SNR; the speech measure uses the same delay).
"""
import argparse
import json
import math
import os
import re
import shutil
import subprocess
import sys
import tempfile
import wave

import numpy as np

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TOOL = os.environ.get("AAMSG", os.path.join(ROOT, "build", "aamsg"))  # another build: AAMSG=path
TRADEOFF = os.path.join(ROOT, "build-bench", "bench", "aamsg_best_tradeoff")
SEARCH_EVAL = os.path.join(ROOT, "build-bench", "bench", "aamsg_search_eval")
SEARCH_CEILING = os.path.join(ROOT, "build-bench", "bench", "aamsg_search_ceiling")
XQ = os.path.join(ROOT, "build-quality", "adpcm-xq")
SAMPLE = os.path.join(ROOT, "samples", "thank-you.wav")
DOC = os.path.join(ROOT, "docs", "quality.md")
IMAGES = os.path.join(ROOT, "docs", "images")
CODEC2 = "/usr/share/codec2/raw"
ALSA = "/usr/share/sounds/alsa"
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
REAL, SYNTHETIC = "real voice", "synthetic voice"
PESQ = os.environ.get("AAMSG_PESQ")
PESQ_LABELS = ["q", "q --flat", "xq -5", "xq -8 -f"]


def run(*args, **kw):
    if args[0] == "sox":
        args = ("sox", "-R") + args[1:]  # the same dither every run: the sources and sox's messages repeat
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **kw)


def speak(voice, path, text=None):
    run("espeak-ng", "-v", voice, "-s", "150", "-w", path, text or TEXTS.get(voice.split("+")[0], TEXT))


def raw8k(name):
    """sox's input options for one of codec2-examples' headerless recordings."""
    return ["-t", "raw", "-r", "8000", "-e", "signed", "-b", "16", "-c", "1", os.path.join(CODEC2, name + ".raw")]


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


def make_sources(work, quick=False):
    """(name, description, path, kind of speech or None): real voices from codec2-examples and
    alsa-utils, espeak-ng's voices in eight languages, music-like material and tones, in every
    rate, sample format and container `q` reads, made by independent tools as people's files
    come."""
    s = []

    def path(name):
        return os.path.join(work, name)

    def add(name, description, kind, file):
        s.append((name, description, file, kind))

    # Real voices. codec2-examples' recordings are 8 kHz (hts2 16 kHz) 16-bit mono.
    run("sox", *raw8k("hts1a"), path("hts1a.wav"))
    add("hts1a", "hts1a, man, 8 kHz 16-bit WAVE (sox)", REAL, path("hts1a.wav"))
    run("sox", *raw8k("forig"), "-r", "11025", "-b", "8", "-e", "unsigned", path("forig.wav"))
    add("forig", "forig, woman, 11.025 kHz 8-bit WAVE (sox)", REAL, path("forig.wav"))
    run("sox", *raw8k("morig"), "-r", "22050", path("morig.aiff"))
    add("morig", "morig, man, 22.05 kHz AIFF (sox)", REAL, path("morig.aiff"))
    if not quick:
        run("sox", *raw8k("kristoff"), "-r", "44100", path("kristoff44.wav"))
        run("lame", "--quiet", "-b", "128", path("kristoff44.wav"), path("kristoff.mp3"))
        add("kristoff", "kristoff, man, 44.1 kHz MP3 128 kbit/s (lame)", REAL, path("kristoff.mp3"))
        run("sox", "-t", "raw", "-r", "16000", "-e", "signed", "-b", "16", "-c", "1", os.path.join(CODEC2, "hts2.raw"),
            "-b", "24", path("hts2.flac"))
        add("hts2", "hts2, woman, 16 kHz 24-bit FLAC (sox)", REAL, path("hts2.flac"))
        run("sox", *raw8k("cq_ref"), path("cq_ref.wav"))
        add("cq_ref", "cq_ref, man, 8 kHz 16-bit WAVE (sox)", REAL, path("cq_ref.wav"))
        run("sox", *raw8k("f2400"), "-r", "16000", path("f2400.wav"))
        add("f2400", "f2400, woman, 16 kHz WAVE (sox)", REAL, path("f2400.wav"))
        run("sox", *raw8k("big_dog"), "-r", "48000", "-c", "2", "-e", "floating-point", "-b", "32", path("big_dog.wav"))
        add("big_dog", "big_dog, man, 48 kHz 32-bit float stereo WAVE (sox)", REAL, path("big_dog.wav"))
        run("ffmpeg", "-y", "-i", "/usr/share/codec2/raw/speech_orig_16k.wav", "-ar", "44100", "-ac", "2",
            "-c:a", "libvorbis", "-q:a", "6", path("speech16k.ogg"))
        add("speech_orig", "speech_orig_16k, man, 44.1 kHz stereo Ogg Vorbis (ffmpeg)", REAL, path("speech16k.ogg"))
    shutil.copy(os.path.join(ALSA, "Front_Center.wav"), path("front_center.wav"))
    add("front_center", "\"Front center\", woman, 48 kHz 16-bit WAVE (alsa-utils)", REAL, path("front_center.wav"))
    if not quick:
        run("ffmpeg", "-y", "-i", os.path.join(ALSA, "Front_Left.wav"), "-c:a", "libopus", "-b:a", "64k",
            path("front_left.opus"))
        add("front_left", "\"Front left\", woman, 48 kHz Opus 64 kbit/s (ffmpeg)", REAL, path("front_left.opus"))
        run("sox", os.path.join(ALSA, "Rear_Right.wav"), "-c", "2", "-b", "24", path("rear_right.flac"))
        add("rear_right", "\"Rear right\", woman, 48 kHz 24-bit stereo FLAC (sox)", REAL, path("rear_right.flac"))

    # Synthetic voices.
    speak("en-us", path("en-us.wav"))
    run("sox", path("en-us.wav"), "-r", "8000", "-b", "16", path("speech-8k.wav"))
    add("espeak-en-us", "espeak-ng en-us, 8 kHz 16-bit (sox)", SYNTHETIC, path("speech-8k.wav"))
    if quick:
        return s
    speak("de", path("de.wav"))
    run("sox", path("de.wav"), "-r", "11025", "-b", "8", path("speech-11k-8bit.wav"))
    add("espeak-de", "espeak-ng de, 11.025 kHz 8-bit (sox)", SYNTHETIC, path("speech-11k-8bit.wav"))
    speak("fr+f2", path("fr.wav"))
    run("ffmpeg", "-y", "-i", path("fr.wav"), "-ar", "16000", path("speech-16k.wav"))
    add("espeak-fr", "espeak-ng fr female, 16 kHz (ffmpeg)", SYNTHETIC, path("speech-16k.wav"))
    speak("es", path("speech-22k.wav"))
    add("espeak-es", "espeak-ng es, 22.05 kHz (espeak-ng)", SYNTHETIC, path("speech-22k.wav"))
    speak("en-gb+m3", path("en-gb.wav"))
    run("sox", path("en-gb.wav"), "-r", "44100", path("speech-44k-mono.wav"))
    add("espeak-en-gb", "espeak-ng en-gb, 44.1 kHz mono (sox)", SYNTHETIC, path("speech-44k-mono.wav"))
    # Stereo from Python: the voice in both channels, the right one a little later and softer.
    speak("it", path("it.wav"))
    run("sox", path("it.wav"), "-r", "44100", path("it44.wav"))
    mono = read_wave16(path("it44.wav"))
    left = mono * 0.7
    right = np.concatenate([np.zeros(30), mono[:-30]]) * 0.5
    write_wave(path("speech-44k-stereo.wav"), 44100, 2, np.round(np.stack([left, right], 1).ravel()))
    add("espeak-it", "espeak-ng it, 44.1 kHz stereo (Python)", SYNTHETIC, path("speech-44k-stereo.wav"))
    speak("nl", path("nl.wav"))
    run("sox", path("nl.wav"), "-r", "44100", "-c", "2", path("speech-44k-hot.wav"), "gain", "-n", "-0.1")
    add("espeak-nl", "espeak-ng nl, 44.1 kHz stereo near full scale (sox)", SYNTHETIC, path("speech-44k-hot.wav"))
    speak("ru", path("ru.wav"))
    run("ffmpeg", "-y", "-i", path("ru.wav"), "-ar", "48000", "-ac", "2", "-c:a", "pcm_s24le",
        path("speech-48k-24bit.wav"))
    add("espeak-ru", "espeak-ng ru, 48 kHz 24-bit stereo (ffmpeg)", SYNTHETIC, path("speech-48k-24bit.wav"))
    speak("pt+f4", path("pt.wav"))
    run("sox", path("pt.wav"), "-r", "48000", "-e", "floating-point", "-b", "32", path("speech-48k-float.wav"))
    add("espeak-pt", "espeak-ng pt female, 48 kHz 32-bit float (sox)", SYNTHETIC, path("speech-48k-float.wav"))
    run("sox", path("en-us.wav"), "-r", "44100", path("en44.wav"))
    run("sox", "-n", "-r", "44100", path("hiss.wav"), "synth", "12", "whitenoise", "highpass", "5000",
        "highpass", "5000", "vol", "0.05")
    run("sox", "-m", path("en44.wav"), path("hiss.wav"), path("speech-hiss.wav"), "trim", "0", "10")
    add("espeak-hiss", "espeak-ng en-us with hiss above 5 kHz, 44.1 kHz (sox)", SYNTHETIC, path("speech-hiss.wav"))

    # Music-like material and tones.
    run("sox", "-n", "-r", "44100", path("sweep.wav"), "synth", "10", "sine", "100-12000", "vol", "0.5")
    add("sweep", "sweep 100 Hz-12 kHz, 44.1 kHz (sox)", None, path("sweep.wav"))
    run("sox", "-n", "-r", "22050", path("chord.wav"), "synth", "6", "square", "261.63", "square", "329.63",
        "square", "392", "vol", "0.3")
    add("chord", "square-wave chord, 22.05 kHz (sox)", None, path("chord.wav"))
    # DTMF digits from Python: 80 ms tones, 80 ms gaps.
    keys = {"1": (697, 1209), "2": (697, 1336), "3": (697, 1477), "4": (770, 1209), "5": (770, 1336),
            "6": (770, 1477), "7": (852, 1209), "8": (852, 1336), "9": (852, 1477), "0": (941, 1336)}
    rate, tone = 16000, []
    for digit in "5551234067898":
        low, high = keys[digit]
        t = np.arange(int(0.08 * rate)) / rate
        tone += list(8000 * (np.sin(2 * np.pi * low * t) + np.sin(2 * np.pi * high * t))) + [0] * int(0.08 * rate)
    write_wave(path("dtmf.wav"), rate, 1, np.round(tone))
    add("dtmf", "DTMF digits, 16 kHz (Python)", None, path("dtmf.wav"))
    run("sox", "-n", "-r", "32000", path("pink.wav"), "synth", "8", "pinknoise", "vol", "0.4")
    add("pink", "pink noise, 32 kHz (sox)", None, path("pink.wav"))
    return s


def ideal(src, out):
    """The ideal 8 kHz signal: sox's very-high-quality conversion of the channels' average,
    rounded to 16 bits without dither. ffmpeg decodes Opus (which sox does not read) and MP3 (sox
    keeps the encoder's leading delay and padding, which `q`'s reader drops)."""
    if src.endswith((".opus", ".mp3")):
        decoded = out + ".decoded.wav"
        run("ffmpeg", "-y", "-i", src, "-c:a", "pcm_f32le", decoded)
        src = decoded
    run("sox", "-D", src, "-r", "8000", "-c", "1", "-b", "16", "-e", "signed", out, "rate", "-v")
    return read_wave16(out)


def decode(message, work):
    out = os.path.join(work, "decoded.wav")
    run(TOOL, "d", message, out)
    return read_wave16(out)


def snr_delay(ref, out, max_delay=256):
    """The best plain SNR over constant delays of the output against the reference, and that
    delay (positive: the output is late). The error energy at every delay comes from the two
    signals' running energies and their cross-correlation (by FFT)."""
    ref, out = np.asarray(ref, dtype=np.float64), np.asarray(out, dtype=np.float64)
    size = 1 << (len(ref) + len(out)).bit_length()
    cross = np.fft.irfft(np.fft.rfft(out, size) * np.conj(np.fft.rfft(ref, size)), size)
    r2 = np.concatenate([[0.0], np.cumsum(ref ** 2)])
    o2 = np.concatenate([[0.0], np.cumsum(out ** 2)])
    best, best_d = -math.inf, 0
    for d in range(-max_delay, max_delay + 1):
        a, b = max(0, -d), max(0, d)
        n = min(len(ref) - a, len(out) - b)
        if n < 1000:
            continue
        signal = r2[a + n] - r2[a]
        noise = signal + (o2[b + n] - o2[b]) - 2 * cross[d % size]
        value = 10 * math.log10(signal / max(noise, 1e-9))
        if value > best:
            best, best_d = value, d
    return best, best_d


def aligned(ref, out, delay):
    r = ref[max(0, -delay):]
    o = out[max(0, delay):]
    n = min(len(r), len(o))
    return r[:n], o[:n]


def critical_bands(rate, n_fft):
    """Hu and Loizou's 25 Gaussian-shaped critical-band filters over the FFT's bins below the
    Nyquist frequency: centres 50..3597.63 Hz, bandwidths 70..346.136 Hz, each scaled so that
    wider bands are not favoured, cut where it falls below -30 dB."""
    centre = [50.0, 120.0, 190.0, 260.0, 330.0, 400.0, 470.0, 540.0, 617.372, 703.378, 798.717, 904.128,
              1020.38, 1148.30, 1288.72, 1442.54, 1610.70, 1794.16, 1993.93, 2211.08, 2446.71, 2701.97,
              2978.04, 3276.17, 3597.63]
    width = [70.0] * 7 + [77.3724, 86.0056, 95.3398, 105.411, 116.256, 127.914, 140.423, 153.823, 168.154,
                          183.457, 199.776, 217.153, 235.631, 255.255, 276.072, 298.126, 321.465, 346.136]
    half = n_fft // 2
    bins = np.arange(half)
    floor_level = math.exp(-30.0 / (2.0 * 2.303))
    filters = np.zeros((len(centre), half))
    for i, (f, w) in enumerate(zip(centre, width)):
        f0 = math.floor(f / (rate / 2) * half)
        bw = w / (rate / 2) * half
        g = np.exp(-11.0 * ((bins - f0) / bw) ** 2 + math.log(width[0]) - math.log(w))
        filters[i] = g * (g > floor_level)
    return filters


def fwsnrseg(ref, out, rate=8000):
    """Frequency-weighted segmental SNR (Hu and Loizou 2008) of two aligned signals, as their
    published MATLAB measure computes it: 30 ms Hann frames every 7.5 ms; each frame's magnitude
    spectrum (FFT of twice the frame, rounded up to a power of two) scaled to unit area below the
    Nyquist frequency; 25 critical-band sums; each band's SNR 10 log10(X^2 / (X - Y)^2) weighted
    by X^0.2 (X the clean band, Y the coded one); the frame's weighted mean clamped to -10..35 dB;
    the mean over frames."""
    eps = np.finfo(np.float64).eps
    x = np.asarray(ref, dtype=np.float64) / 32768.0 + eps
    y = np.asarray(out, dtype=np.float64) / 32768.0 + eps
    win = round(0.030 * rate)
    hop = win // 4
    n_fft = 1 << (2 * win - 1).bit_length()
    count = len(x) // hop - win // hop
    if count < 1:
        return math.nan
    window = 0.5 * (1 - np.cos(2 * np.pi * np.arange(1, win + 1) / (win + 1)))
    starts = np.arange(count) * hop
    idx = starts[:, None] + np.arange(win)[None, :]
    half = n_fft // 2
    cx = np.abs(np.fft.rfft(x[idx] * window, n_fft))[:, :half]
    cy = np.abs(np.fft.rfft(y[idx] * window, n_fft))[:, :half]
    cx /= cx.sum(axis=1, keepdims=True)
    cy /= cy.sum(axis=1, keepdims=True)
    filters = critical_bands(rate, n_fft)
    ex, ey = cx @ filters.T, cy @ filters.T
    err = np.maximum((ex - ey) ** 2, eps)
    weight = ex ** 0.2
    band_snr = 10 * np.log10(ex ** 2 / err)
    frame = np.sum(weight * band_snr, axis=1) / np.sum(weight, axis=1)
    return float(np.mean(np.clip(frame, -10, 35)))


# The encoders: each makes a message from the source and the ideal 16-bit 8 kHz signal made from
# it; a missing peer or an option aamsg does not have yet shows as n/a.
def encode_q(src, ideal16, msg, work):
    run(TOOL, "q", src, msg)


def encode_q_flat(src, ideal16, msg, work):
    run(TOOL, "q", "--flat", src, msg)


def encode_e_ideal(src, ideal16, msg, work):
    run(TOOL, "e", ideal16, msg)


def encode_sox(src, ideal16, msg, work):
    if src.endswith(".opus"):
        raise FileNotFoundError("sox reads no Opus")
    run("sox", src, "-t", "ima", "-r", "8000", "-c", "1", msg)


def encode_ffmpeg(src, ideal16, msg, work):
    mid = os.path.join(work, "ff8k.wav")
    kvag = os.path.join(work, "ff.kvag")
    run("ffmpeg", "-y", "-i", src, "-ar", "8000", "-ac", "1", mid)
    run("ffmpeg", "-y", "-i", mid, "-c:a", "adpcm_ima_ssi", "-f", "kvag", kvag)
    with open(kvag, "rb") as f, open(msg, "wb") as g:
        g.write(f.read()[14:])  # the container's header; the codes are the message format's


def xq_command(options, wav, msg):
    """adpcm-xq writing a headerless message (-r -b0) of the raw codes (-i) from `wav`."""
    return [XQ, "-q", "-y", "-r", "-b0", "-i"] + list(options) + [wav, msg]


def xq(*options):
    def encode(src, ideal16, msg, work):
        if not os.path.exists(XQ):
            raise FileNotFoundError(XQ)
        run(*xq_command(options, ideal16, msg))
    return encode


ENCODERS = [("q", encode_q), ("q --flat", encode_q_flat), ("e on ideal", encode_e_ideal), ("sox", encode_sox),
            ("ffmpeg", encode_ffmpeg), ("xq -2 -f", xq("-2", "-f")), ("xq -5 -f", xq("-5", "-f")),
            ("xq -8 -f", xq("-8", "-f")), ("xq -5", xq("-5"))]
LABELS = [label for label, _ in ENCODERS]
XQ_COLUMN = LABELS.index("xq -8 -f")
FLAT_COLUMN = LABELS.index("q --flat")
XQ_COLUMNS = [i for i, label in enumerate(LABELS) if label.startswith("xq")]


def pesq(ideal16, decoded, work):
    """PESQ of the decoded signal against the ideal one, by the AAMSG_PESQ program."""
    raws = []
    for path in (ideal16, decoded):
        raws.append(path + ".raw")
        run("sox", path, "-t", "raw", raws[-1])
    return float(subprocess.run([PESQ] + raws, check=True, capture_output=True, text=True).stdout.split()[-1])


def scores(ref, out, kind):
    """Plain SNR at the best delay, and fwSNRseg at that delay for speech (else None)."""
    value, delay = snr_delay(ref, out)
    return value, fwsnrseg(*aligned(ref, out, delay)) if kind else None


def measure_comparison(sources, work, corpus=None):
    """For each source and encoder: plain SNR, and fwSNRseg for speech (None where the encoder
    failed or is missing)."""
    rows = []
    for name, description, src, kind in sources:
        ideal16 = os.path.join(work, "ideal16.wav")
        ref = ideal(src, ideal16)
        if corpus:
            shutil.copy(ideal16, os.path.join(corpus, "ideal8k", name + ".wav"))
        plain, weighted, perceived = [], [], {}
        for label, encode in ENCODERS:
            msg = os.path.join(work, "out.msg")
            if os.path.exists(msg):
                os.remove(msg)
            try:
                encode(src, ideal16, msg, work)
                out = decode(msg, work)
            except (subprocess.CalledProcessError, FileNotFoundError):
                plain.append(None)
                weighted.append(None)
                continue
            value, fw = scores(ref, out, kind)
            plain.append(value)
            weighted.append(fw)
            if PESQ and kind and label in PESQ_LABELS:
                perceived[label] = pesq(ideal16, os.path.join(work, "decoded.wav"), work)
            if corpus and label.startswith("xq"):
                shutil.copy(msg, os.path.join(corpus, "adpcm-xq", "%s.%s.msg" % (name, label[3:].replace(" ", ""))))
        rows.append((name, description, kind, plain, weighted, perceived))
        print(name, " ".join("%s=%s" % (l, "-" if v is None else "%.2f/%s" % (v, "-" if w is None else "%.2f" % w))
                             for l, v, w in zip(LABELS, plain, weighted)), file=sys.stderr)
    return rows


def cell(value):
    return "n/a" if value is None else "%.1f" % value


def flat_over_xq8(values):
    """The goal in plain SNR: q --flat against adpcm-xq looking 8 samples ahead, unshaped."""
    flat, peer = values[FLAT_COLUMN], values[XQ_COLUMN]
    return None if flat is None or peer is None else flat - peer


def q_over_best_xq(values):
    """The goal for speech: q as it runs by default against the best of adpcm-xq's settings."""
    peers = [values[i] for i in XQ_COLUMNS]
    return None if values[0] is None or None in peers else values[0] - max(peers)


def score_table(rows, column, speech_only, goal, goal_label):
    """One table: a row per source, a mean row, and the goal's margin (its mean over the rows)."""
    lines = ["| source | " + " | ".join(LABELS) + " | %s |" % goal_label, "|---|" + "---|" * (len(LABELS) + 1)]
    picked = [(description, kind, values[column]) for name, description, kind, *values in rows
              if not speech_only or kind]
    margins = []
    for description, kind, values in picked:
        margins.append(goal(values))
        lines.append("| %s%s | %s | %s |" % (description, " *" if kind == REAL else "",
                                             " | ".join(cell(v) for v in values),
                                             "n/a" if margins[-1] is None else "%+.2f" % margins[-1]))
    means = []
    for i in range(len(LABELS)):
        column_values = [values[i] for _, _, values in picked]
        means.append(None if None in column_values else sum(column_values) / len(column_values))
    margin = "n/a" if None in margins else "**%+.2f** (lowest %+.2f)" % (sum(margins) / len(margins), min(margins))
    lines.append("| **mean** (%d) | %s | %s |" % (len(picked), " | ".join(cell(v) for v in means), margin))
    return "\n".join(lines)


def pesq_table(rows):
    """PESQ (MOS-LQO) of the speech sources for q, q --flat and adpcm-xq, and the means."""
    lines = ["| source | " + " | ".join(PESQ_LABELS) + " |", "|---|" + "---|" * len(PESQ_LABELS)]
    picked = [(description, perceived) for _, description, kind, _, _, perceived in rows if kind]
    for description, perceived in picked:
        lines.append("| %s | %s |" % (description, " | ".join("%.3f" % perceived[l] if l in perceived else "n/a"
                                                            for l in PESQ_LABELS)))
    means = []
    for l in PESQ_LABELS:
        values = [p[l] for _, p in picked if l in p]
        means.append("%.4f" % (sum(values) / len(values)) if len(values) == len(picked) else "n/a")
    lines.append("| **mean** (%d) | %s |" % (len(picked), " | ".join(means)))
    return "\n".join(lines)


def write_corpus(corpus, sources, rows):
    with open(os.path.join(corpus, "scores.tsv"), "w") as f:
        f.write("name\tencoder\tplain SNR dB\tfwSNRseg dB\n")
        for name, _, _, plain, weighted, _ in rows:
            for label, p, w in zip(LABELS, plain, weighted):
                f.write("%s\t%s\t%s\t%s\n" % (name, label, "n/a" if p is None else "%.3f" % p,
                                             "n/a" if w is None else "%.3f" % w))
    with open(os.path.join(corpus, "sources.tsv"), "w") as f:
        f.write("name\tspeech\tsource as q reads it\n")
        for name, description, _, kind in sources:
            f.write("%s\t%s\t%s\n" % (name, kind or "no", description))


def hyperfine(commands, work, runs):
    """Median seconds of each command, run side by side by hyperfine."""
    out = os.path.join(work, "hyperfine.json")
    subprocess.run(["hyperfine", "-N", "--warmup", "1" if runs > 1 else "0", "--runs", str(runs),
                    "--export-json", out] + commands, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(out) as f:
        return [r["median"] for r in json.load(f)["results"]]


def peak_kib(command):
    result = subprocess.run(["/usr/bin/time", "-f", "%M"] + command, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, text=True)
    if result.returncode != 0:
        return None
    return int(result.stderr.strip().split("\n")[-1])


def sparse_wave(path, data_bytes):
    """A 16-bit 44.1 kHz stereo WAVE file of silence without writing its samples."""
    import struct
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", 36 + data_bytes) + b"WAVEfmt " +
                struct.pack("<IHHIIHH", 16, 1, 2, 44100, 176400, 4, 16))
        f.write(b"data" + struct.pack("<I", data_bytes))
        f.truncate(44 + data_bytes)


def supports_flat(work):
    probe = os.path.join(work, "probe.wav")
    write_wave(probe, 8000, 1, np.zeros(800))
    return subprocess.run([TOOL, "q", "--flat", probe, probe + ".msg"], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0


def time_tables(work, long_input, runs=3):
    """q and adpcm-xq on 75 s of real speech at 8 kHz; q and sox on 10 minutes of 44.1 kHz
    stereo; q's peak memory."""
    flat = supports_flat(work)
    speech = speech_input(work)
    out = os.path.join(work, "t.msg")
    named = [("aamsg q", [TOOL, "q", speech, out])]
    if flat:
        named.append(("aamsg q --flat", [TOOL, "q", "--flat", speech, out]))
    peer = os.path.exists(XQ)
    for options in (["-2", "-f"], ["-5"], ["-5", "-f"]) if peer else ():
        named.append(("adpcm-xq " + " ".join(options), xq_command(options, speech, out)))
    seconds = hyperfine([" ".join(c) for _, c in named], work, runs)
    if peer:  # looking 8 samples ahead takes minutes: one run
        seconds += hyperfine([" ".join(xq_command(["-8", "-f"], speech, out))], work, 1)
        named.append(("adpcm-xq -8 -f (one run)", None))
    if not flat:
        named.insert(1, ("aamsg q --flat", None))
        seconds.insert(1, None)
    lines = ["| 75 s of speech, 8 kHz 16-bit mono WAVE | time | against q |", "|---|---|---|"]
    for (label, _), t in zip(named, seconds):
        lines.append("| %s | %s | %s |" % (label, "n/a" if t is None else "%.0f ms" % (t * 1000),
                                           "n/a" if t is None else "%.2fx" % (t / seconds[0])))
    named = [("aamsg q", [TOOL, "q", long_input, out])]
    if flat:
        named.append(("aamsg q --flat", [TOOL, "q", "--flat", long_input, out]))
    named.append(("sox", ["sox", long_input, "-t", "ima", "-r", "8000", "-c", "1", out]))
    seconds = hyperfine([" ".join(c) for _, c in named], work, 1)  # minutes each: one run
    lines += ["", "| 10 minutes of 44.1 kHz 16-bit stereo WAVE (106 MB), one run | time | against sox |", "|---|---|---|"]
    for (label, _), t in zip(named, seconds):
        lines.append("| %s | %.0f ms | %.2fx |" % (label, t * 1000, t / seconds[-1]))
    lines += ["", "| peak resident memory of q | 1 MB | 100 MB | 1 GB |", "|---|---|---|---|"]
    sizes = [1000000, 100000000, 1000000000]
    for label, options in [("aamsg q", [])] + ([("aamsg q --flat", ["--flat"])] if flat else []):
        cells = []
        for size in sizes:
            path = os.path.join(work, "big.wav")
            sparse_wave(path, size)
            kib = peak_kib([TOOL, "q"] + options + [path, out])
            cells.append("failed" if kib is None else "%.1f MiB" % (kib / 1024))
        lines.append("| %s | %s |" % (label, " | ".join(cells)))
    return "\n".join(lines)


def noise_spectra(sources, work):
    """The spectrum of the error (decoded minus ideal) of q and q --flat, beside the signal's own,
    over the loudest quarter second of a real voice (a vowel)."""
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from scipy.signal import welch
    name, description, src, _ = next(s for s in sources if s[0] == "hts1a")
    ideal16 = os.path.join(work, "ideal16.wav")
    ref = ideal(src, ideal16)
    span = 2000
    energy = np.convolve(ref ** 2, np.ones(span), "valid")
    start = int(np.argmax(energy))
    curves = [("signal", ref)]
    for label, encode in [("q", encode_q), ("q --flat", encode_q_flat), ("e (greedy)", encode_e_ideal),
                          ("adpcm-xq -5 (shaped)", xq("-5"))]:
        msg = os.path.join(work, "noise.msg")
        try:
            encode(src, ideal16, msg, work)
        except (subprocess.CalledProcessError, FileNotFoundError):
            continue
        out = decode(msg, work)
        _, delay = snr_delay(ref, out)
        r, o = aligned(ref, out, delay)
        error = np.zeros(len(ref))
        error[max(0, -delay):max(0, -delay) + len(r)] = o - r
        curves.append(("error of " + label, error))
    plt.figure(figsize=(8, 4.5))
    for label, signal in curves:
        f, p = welch(signal[start:start + span], fs=8000, window="hann", nperseg=256)
        plt.plot(f, 10 * np.log10(p + 1e-12), label=label, linewidth=2 if label == "signal" else 1.2)
    plt.xlabel("frequency (Hz)")
    plt.ylabel("power (dB)")
    plt.title("%s: a vowel (%.2f-%.2f s) and what each encoder adds to it" % (name, start / 8000, (start + span) / 8000))
    plt.grid(alpha=0.3)
    plt.legend()
    plt.tight_layout()
    plt.savefig(os.path.join(IMAGES, "error-shapes.png"), dpi=80)
    plt.close()


def median_ms(command, runs=5):
    import time
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        times.append((time.perf_counter() - start) * 1000)
    return sorted(times)[len(times) // 2]


def speech_input(work):
    """75 s of a real voice at 8 kHz (codec2-examples' ve9qrp), the input of the time tables."""
    speech = os.path.join(work, "speech75.wav")
    if not os.path.exists(speech):
        run("sox", *raw8k("ve9qrp"), speech, "trim", "0", "75")
    return speech


def margins(values, peers):
    """The mean and the lowest of the differences, over the sources where both are known."""
    pairs = [(a, b) for a, b in zip(values, peers) if a is not None and b is not None]
    if not pairs:
        return "n/a"
    return "%+.2f, %+.2f dB" % (sum(a - b for a, b in pairs) / len(pairs), min(a - b for a, b in pairs))


def tradeoff_table(sources, work, settings, peer_rows):
    """Per search setting (shaped or flat): the mean plain SNR over the sources and its margin
    over adpcm-xq -8 -f, for the shaped ones the fwSNRseg margin over adpcm-xq -5 on the speech
    sources (mean and lowest each), and the time on 75 s of 8 kHz speech beside adpcm-xq's; a
    sentence instead where the benchmark program is not built or takes other arguments."""
    snrs = {k: [] for k in settings}
    weighted = {k: [] for k in settings}
    times = {k: [] for k in settings}
    speech = speech_input(work)
    try:
        for name, description, src, kind in sources:
            ref = ideal(src, os.path.join(work, "ideal16.wav"))
            prefix = os.path.join(work, "setting")
            run(TRADEOFF, src, prefix, *settings)
            for k in settings:
                value, fw = scores(ref, decode("%s-%s.msg" % (prefix, k), work), kind)
                snrs[k].append(value)
                weighted[k].append(fw)
        for _ in range(3):
            out = subprocess.run([TRADEOFF, speech, os.path.join(work, "long")] + settings,
                                 check=True, capture_output=True, text=True).stdout.split("\n")
            for line in out:
                if line.strip():
                    times[line.split()[0]].append(float(line.split()[1]))
    except (subprocess.CalledProcessError, FileNotFoundError, OSError, IndexError, ValueError, KeyError):
        print("no search-width table: %s missing or failed (make bench)" % TRADEOFF, file=sys.stderr)
        return "Not measured: the benchmark program `%s` is missing or takes other settings (`make bench`)." % \
            os.path.relpath(TRADEOFF, ROOT)
    peer = [row[3][XQ_COLUMN] for row in peer_rows]
    shaped_peer = [row[4][LABELS.index("xq -5")] for row in peer_rows]
    has_peer = os.path.exists(XQ) and all(v is not None for v in peer)
    xq_out = os.path.join(work, "xq.msg")
    xq_ms = {o: median_ms(xq_command(o.split(), speech, xq_out), 3) if has_peer else None
             for o in ("-5", "-5 -f")}

    lines = ["| search | paths : look ahead : merge shift | mean plain SNR | plain SNR over adpcm-xq -8 -f: "
             "mean, lowest | fwSNRseg over adpcm-xq -5 (speech): mean, lowest | 75 s of 8 kHz speech |",
             "|---|---|---|---|---|---|"]
    for k in settings:
        flat = k.endswith("f")
        mean = sum(snrs[k]) / len(snrs[k])
        t = sorted(times[k])[len(times[k]) // 2]
        versus = "-5 -f" if flat else "-5"
        against = "" if xq_ms[versus] is None else " (%.1fx adpcm-xq %s)" % (t / xq_ms[versus], versus)
        lines.append("| %s | %s | %.2f dB | %s | %s | %.0f ms%s |" % (
            "flat" if flat else "shaped", k.rstrip("f"), mean, margins(snrs[k], peer) if has_peer else "n/a",
            "" if flat else margins(weighted[k], shaped_peer) if has_peer else "n/a", t, against))
    for o, t in xq_ms.items():
        if t is not None:
            lines.append("| adpcm-xq %s | | | | | %.0f ms |" % (o, t))
    return "\n".join(lines)


# Searches far wider than the flat default, with the settings bench/search_eval.cpp takes: the
# program, a label and the arguments.
CEILING_SEARCHES = [
    (SEARCH_EVAL, "128 : 8 : 5 (`--flat`)", []),
    (SEARCH_CEILING, "1024 : 5 : 8", ["--paths", "1024", "--merge", "5", "--tries", "8"]),
    (SEARCH_CEILING, "4096 : 5 : 8", ["--paths", "4096", "--merge", "5", "--tries", "8"]),
]


def ceiling_table(sources, work, peer_rows):
    """How close the flat search comes to the best codes a search of its kind finds: on each
    source's ideal 8 kHz signal, searches far wider than the default (two processes at a time),
    each message scored like the others, and the margin over adpcm-xq -8 -f (mean and lowest)."""
    ideals = []
    for name, description, src, kind in sources:
        path = os.path.join(work, "ceiling-%s.wav" % name)
        ideals.append((path, ideal(src, path)))
    lines = ["| paths : merge shift : codes tried | mean plain SNR | over adpcm-xq -8 -f: mean, lowest | "
             "processor time |", "|---|---|---|---|"]
    peer = [row[3][XQ_COLUMN] for row in peer_rows]
    out = os.path.join(work, "ceiling")
    os.makedirs(out, exist_ok=True)
    halves = [[path for path, _ in ideals[i::2]] for i in range(2)]
    default_seconds = None  # the first search's, the default
    for program, label, options in CEILING_SEARCHES:
        try:
            jobs = [subprocess.Popen([program, "--flat", "--out", out] + options + half, stdout=subprocess.PIPE, text=True)
                    for half in halves]
            seconds = sum(float(job.communicate()[0].split("total")[-1].split()[0]) for job in jobs)
            if any(job.returncode != 0 for job in jobs):
                raise OSError(program)
        except (OSError, IndexError, ValueError):
            print("no ceiling table: %s missing or failed (make bench)" % program, file=sys.stderr)
            return "Not measured: `%s` is missing or failed (`make bench`)." % os.path.relpath(program, ROOT)
        default_seconds = default_seconds or seconds
        values = [snr_delay(ref, decode(os.path.join(out, os.path.basename(path)[:-4] + ".msg"), work))[0]
                  for path, ref in ideals]
        lines.append("| %s | %.2f dB | %s | %.0f s (%.0fx) |" % (label, sum(values) / len(values), margins(values, peer),
                                                              seconds, seconds / default_seconds))
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
            exact = 16000 * np.sin(2 * np.pi * freq * np.arange(len(decoded)) / 8000)
            row.append("%.1f dB" % plain_snr(exact[100:], decoded[100:]))
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
    ideal8k = os.path.join(work, "ideal.wav")
    run("sox", SAMPLE, "-r", "8000", "-b", "16", ideal8k, "remix", "1v1,2v1")
    for name, source, title in [
        ("original", SAMPLE, "thank-you.wav, 44.1 kHz stereo, as recorded"),
        ("ideal-8k", ideal8k, "converted to 8 kHz by sox (high quality)"),
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
    global XQ
    parser = argparse.ArgumentParser()
    parser.add_argument("--settings", default="16:3:8,32:3:8,64:3:8,128:3:8,64:3:7,64:3:6,20:2:5,32:3:8f,64:3:8f,96:3:8f,128:3:8f",
                        help="search settings (paths:lookahead:merge shift, f: flat) for the trade-off table")
    parser.add_argument("--only", default="", help="comparison, time, tradeoff or ceiling: print just that")
    parser.add_argument("--quick", action="store_true", help="a few sources; print the tables, write nothing")
    parser.add_argument("--corpus", default="", help="leave the ideal signals, adpcm-xq's messages and the scores here")
    parser.add_argument("--adpcm-xq", default="/work/shared/peers/adpcm-xq",
                        help="the peer encoder's sources (with its build.sh)")
    args = parser.parse_args()
    if not os.path.exists(TOOL):
        sys.exit("build aamsg first: make build")
    builder = os.path.join(args.adpcm_xq, "build.sh")
    if os.path.exists(builder):
        os.makedirs(os.path.dirname(XQ), exist_ok=True)
        run("sh", builder, XQ)
    else:
        print("no adpcm-xq at %s: its columns show n/a" % args.adpcm_xq, file=sys.stderr)
    os.makedirs(IMAGES, exist_ok=True)
    if args.corpus:
        os.makedirs(os.path.join(args.corpus, "ideal8k"), exist_ok=True)
        os.makedirs(os.path.join(args.corpus, "adpcm-xq"), exist_ok=True)
    with tempfile.TemporaryDirectory() as work:
        long_input = os.path.join(work, "10min.wav")
        if args.only in ("", "time", "tradeoff"):
            run("sox", "-n", "-r", "44100", "-c", "2", "-b", "16", long_input, "synth", "600", "sine", "200-3000",
                "synth", "600", "whitenoise", "mix", "vol", "0.5")
        if args.only == "time":
            print(time_tables(work, long_input))
            return
        sources = make_sources(work, args.quick)
        rows = measure_comparison(sources, work, args.corpus)
        if args.corpus:
            write_corpus(args.corpus, sources, rows)
        plain = score_table(rows, 0, False, flat_over_xq8, "q --flat over xq -8 -f")
        weighted = score_table(rows, 1, True, q_over_best_xq, "q over the best xq")
        perceived = pesq_table(rows) if PESQ else None
        if args.only == "comparison" or args.quick:
            print(plain + "\n\n" + weighted + ("\n\n" + perceived if perceived else ""))
            return
        settings = args.settings.split(",")
        if args.only == "tradeoff":
            print(tradeoff_table(sources, work, settings, rows))
            return
        if args.only == "ceiling":
            print(ceiling_table(sources, work, rows))
            return
        with open(DOC) as f:
            doc = f.read()
        doc = replace_section(doc, "comparison", plain)
        doc = replace_section(doc, "speech", weighted)
        if perceived and "<!-- pesq -->" in doc:
            doc = replace_section(doc, "pesq", perceived)
        doc = replace_section(doc, "time", time_tables(work, long_input))
        doc = replace_section(doc, "tradeoff", tradeoff_table(sources, work, settings, rows))
        doc = replace_section(doc, "ceiling", ceiling_table(sources, work, rows))
        doc = replace_section(doc, "tones", tone_tables(work))
        spectrograms(work)
        noise_spectra(sources, work)
        with open(DOC, "w") as f:
            f.write(doc)


main()
