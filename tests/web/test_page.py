#!/usr/bin/python3
"""The web page in headless Chromium, driven through chromium-driver and python3-selenium.

Each test serves build-web/ on 127.0.0.1 and opens it in a browser of its own, and checks: e and
d give the command line's bytes, one file or a dropped batch in one .zip; a batch runs in
parallel workers and lists its files in their order, each with a player and its name in the
.zip, with progress in words while it works; refusals and advice; a batch of every format q
reads gives the command line's bytes (within the measured bounds of tests/web/formats.js); a
file that starts like audio is never taken for a message; q on a float 48 kHz stereo WAVE and on
an MP3 gives a message whose round trip clears a stated bound;
recording from Chromium's fake microphone, fed with speech; no request leaves the origin; the
page works offline; axe-core finds no violation in either colour scheme; results are cleared
when what made them changes; each file's picture is drawn, with its words for screen readers and
its findings in the command line's words (also without converting, and for a message); names
can be edited and stay apart; Cancel stops a batch and keeps what is done; served over plain
http on another name, the page says what needs https and offers no Record. Apart from the page, the search built for WebAssembly SIMD gives,
under node, the scalar build's codes. Saves a screenshot to docs/images/web.png.

    make web build && /usr/bin/python3 tests/web/test_page.py [-k NAME]
"""
import base64
import io
import json
import math
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import zipfile

from selenium import webdriver
from selenium.webdriver.chrome.service import Service as ChromeService
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import Select, WebDriverWait

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "src", "web"))
import serve  # noqa: E402

TOOL = os.path.join(ROOT, "build", "aamsg")
PAGE = os.path.join(ROOT, "build-web")
AXE = os.path.join(ROOT, "build-web-deps", "node_modules", "axe-core", "axe.min.js")
FORMATS = os.path.join(ROOT, "tests", "web", "formats.js")
CLI_OPTIONS = ["--level", "--trim"]  # the command line's q with the page's default options
STEPS = [7, 8, 9, 10, 11, 12, 13, 14, 16, 17, 19, 21, 23, 25, 28, 31, 34, 37, 41, 45, 50, 55, 60, 66, 73, 80, 88,
         97, 107, 118, 130, 143, 157, 173, 190, 209, 230, 253, 279, 307, 337, 371, 408, 449, 494, 544, 598, 658,
         724, 796, 876, 963, 1060, 1166, 1282, 1411, 1552, 1707, 1878, 2066, 2272, 2499, 2749, 3024, 3327, 3660,
         4026, 4428, 4871, 5358, 5894, 6484, 7132, 7845, 8630, 9493, 10442, 11487, 12635, 13899, 15289, 16818,
         18500, 20350, 22385, 24623, 27086, 29794, 32767]
ADJUST = [-1, -1, -1, -1, 2, 4, 6, 8]

# Runs before the page's own scripts when a test opens the page with `cores`: the page sees
# ?cores=N as navigator.hardwareConcurrency, and `watch` follows its workers: the most jobs they
# held at once; while `holding`, the answers wait for release(), which gives them in reverse
# order (so that jobs overlap, and finish out of the order of their files); and the worker
# given the file named `dieOn` ends as one does that runs out of memory, with an error event.
HARNESS = """
const cores = new URLSearchParams(location.search).get('cores');
if (cores !== null) Object.defineProperty(Navigator.prototype, 'hardwareConcurrency', { get: () => Number(cores) });
const watch = window.watch = { holding: false, held: [], busy: 0, most: 0, dieOn: null };
const RealWorker = window.Worker;
window.Worker = function (url, options) {
  const worker = new RealWorker(url, options);
  const handlers = {};
  for (const type of ['message', 'error']) {
    Object.defineProperty(worker, 'on' + type, { set: (f) => { handlers[type] = f; }, get: () => handlers[type] });
  }
  worker.addEventListener('error', (event) => handlers.error(event));
  worker.addEventListener('message', (event) => {
    if (event.data.type !== 'done') return handlers.message(event);
    const answer = () => { watch.busy--; handlers.message(event); };
    if (watch.holding) watch.held.push(answer); else answer();
  });
  const post = worker.postMessage.bind(worker);
  worker.postMessage = (job, transfer) => {
    watch.most = Math.max(watch.most, ++watch.busy);
    if (job.inputName !== watch.dieOn) return post(job, transfer);
    worker.terminate();
    setTimeout(() => { watch.busy--; handlers.error(new ErrorEvent('error', { message: 'Out of memory' })); });
  };
  return worker;
};
window.release = () => { watch.holding = false; watch.held.reverse().forEach((answer) => answer()); };
"""


def decode_message(data):
    """The message format's decoder, written out independently of the C++ one."""
    predictor, index, out = 0, 0, []
    for byte in data:
        for code in (byte >> 4, byte & 15):
            step = STEPS[index]
            delta = step >> 3
            if code & 4: delta += step
            if code & 2: delta += step >> 1
            if code & 1: delta += step >> 2
            predictor = max(-32767, min(32767, predictor - delta if code & 8 else predictor + delta))
            index = max(0, min(88, index + ADJUST[code & 7]))
            out.append(predictor)
    return out


def chunk(cid, body):
    return cid + struct.pack("<I", len(body)) + body + (b"\0" if len(body) % 2 else b"")


def wave(channels, rate, bits, samples, extra_fmt=b"", before_data=b"", tag=1):
    width = 4 if tag == 3 else (1 if bits <= 8 else 2)
    if tag == 3:
        data = struct.pack("<%df" % len(samples), *samples)
    elif width == 1:
        data = bytes(samples)
    else:
        data = struct.pack("<%dh" % len(samples), *samples)
    fmt = struct.pack("<HHIIHH", tag, channels, rate, rate * channels * width, channels * width, bits) + extra_fmt
    body = b"WAVE" + chunk(b"fmt ", fmt) + before_data + chunk(b"data", data)
    return b"RIFF" + struct.pack("<I", len(body)) + body


def tones(t):
    return 0.3 * math.sin(2 * math.pi * 440 * t) + 0.2 * math.sin(2 * math.pi * 1250 * t) * math.sin(2 * math.pi * 1.7 * t)


def snr(reference, decoded, max_delay=200):
    best = -1e9
    for d in range(-max_delay, max_delay + 1, 1):
        signal = noise = 0.0
        for i in range(2000, min(len(decoded), len(reference)) - 2000, 3):
            j = i + d
            if 0 <= j < len(reference):
                signal += reference[j] ** 2
                noise += (reference[j] - decoded[i]) ** 2
        if noise > 0:
            best = max(best, 10 * math.log10(signal / noise))
    return best


def read(path):
    with open(path, "rb") as f:
        return f.read()


def luminance(rgb):
    channels = [c / 255 for c in rgb]
    linear = [c / 12.92 if c <= 0.03928 else ((c + 0.055) / 1.055) ** 2.4 for c in channels]
    return 0.2126 * linear[0] + 0.7152 * linear[1] + 0.0722 * linear[2]


def contrast(a, b):
    """WCAG's contrast ratio of two CSS rgb() colours."""
    la, lb = (luminance([int(v) for v in re.findall(r"[\d.]+", c)[:3]]) for c in (a, b))
    return (max(la, lb) + 0.05) / (min(la, lb) + 0.05)


class Page(unittest.TestCase):
    """A server and a browser of the test's own: no state passes from one test to another."""

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="aamsg-web-")
        self.addCleanup(shutil.rmtree, self.work, ignore_errors=True)
        self.server = serve.serve(PAGE, 0, quiet=True)
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        self.addCleanup(self.server.server_close)
        self.addCleanup(self.server.shutdown)
        self.origin = "http://127.0.0.1:%d" % self.server.server_address[1]
        self.driver = None

    def open(self, microphone=None, cores=None):
        """Starts the browser on the page; `microphone`: a WAVE file the fake microphone plays;
        `cores`: the processors the page is told of, with HARNESS watching its workers."""
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for flag in ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage", "--disable-quic",
                     "--no-first-run", "--disable-background-networking", "--disable-component-update", "--disable-sync",
                     "--disable-features=OptimizationHints,MediaRouter", "--window-size=900,1300",
                     "--host-resolver-rules=MAP intranet.example 127.0.0.1",
                     "--use-fake-device-for-media-stream", "--use-fake-ui-for-media-stream",
                     "--user-data-dir=" + os.path.join(self.work, "profile")]:
            options.add_argument(flag)
        if microphone:
            options.add_argument("--use-file-for-fake-audio-capture=" + microphone)
        options.set_capability("goog:loggingPrefs", {"performance": "ALL"})
        self.driver = webdriver.Chrome(service=ChromeService(executable_path="/usr/bin/chromedriver"), options=options)
        self.addCleanup(self.driver.quit)
        self.driver.set_script_timeout(60)
        if cores is not None:
            self.driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument", {"source": HARNESS})
        self.navigate(cores)
        return self.driver

    def navigate(self, cores=None):
        self.driver.get(self.origin + "/" + ("" if cores is None else "?cores=%d" % cores))
        WebDriverWait(self.driver, 30).until(lambda d: self.js("return document.body.dataset.ready"))

    def file(self, name, data):
        path = os.path.join(self.work, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def element(self, id_):
        return self.driver.find_element(By.ID, id_)

    def choose(self, *paths):
        """Picks files in the file input and waits until the page has taken them in."""
        # Chromedriver adds to the files a multiple input holds; a person's pick replaces them.
        before = self.js("document.getElementById('file').value = ''; return Number(document.body.dataset.choice || 0)")
        self.element("file").send_keys("\n".join(paths))
        WebDriverWait(self.driver, 10).until(lambda d: self.js("return Number(document.body.dataset.choice || 0)") > before)

    def mode(self, value=None):
        select = Select(self.element("mode"))
        if value:
            select.select_by_value(value)
        return select.first_selected_option.get_attribute("value")

    def convert(self, path, mode):
        """Runs one conversion in the page; returns its status text and the downloaded bytes."""
        self.choose(path)
        self.mode(mode)
        self.element("convert").click()
        return self.outcome()

    def outcome(self, link="download", seconds=60):
        WebDriverWait(self.driver, seconds).until(
            lambda d: self.element("status").text not in ("", "Recording…") and not self.js(
                "return document.getElementById('convert').disabled || document.getElementById('status').textContent.startsWith('Converting')"))
        status = self.element("status").text
        if not status.startswith("OK") or not link:
            return status, None
        return status, self.fetch(self.element(link).get_attribute("href"))

    def fetch(self, href):
        self.assertTrue(href.startswith("blob:"))
        encoded = self.driver.execute_async_script("""
            const done = arguments[arguments.length - 1];
            fetch(arguments[0]).then(r => r.arrayBuffer()).then(b => {
              let s = ''; const u = new Uint8Array(b);
              for (let i = 0; i < u.length; i += 8192) s += String.fromCharCode.apply(null, u.subarray(i, i + 8192));
              done(btoa(s));
            });""", href)
        return base64.b64decode(encoded)

    def cli(self, mode, path, *options):
        out = path + "." + mode + ".out"
        subprocess.run([TOOL, mode, *options, path, out], check=True, stdout=subprocess.DEVNULL)
        return read(out)

    def rows(self):
        """The batch's list, row by row: its text and, for a success, the download's name and
        address and the length of the player's sound (once every player has read it)."""
        WebDriverWait(self.driver, 10).until(lambda d: self.js(
            "return [...document.querySelectorAll('#results audio')].every((a) => a.readyState >= 1)"))
        return self.js("""return [...document.querySelectorAll('#results > li')].map((li) => {
            const link = li.querySelector('a'), player = li.querySelector('audio');
            return { text: li.querySelector('p').textContent, name: link && link.download, href: link && link.href,
                     seconds: player && player.duration };
          })""")

    def result_cleared(self):
        return self.js("""return !document.getElementById('download') && document.getElementById('download-all').hidden
              && !document.querySelector('#results li') && !document.getElementById('nothing-yet').hidden""")

    def test_exact_modes_give_the_command_lines_bytes(self):
        self.open()
        ramp = [int(20000 * math.sin(i * 0.05) * math.sin(i * 0.0013)) for i in range(30000)]
        files = {
            "mono16-8k.wav": wave(1, 8000, 16, ramp[:16001]),
            "stereo16-44k.wav": wave(2, 44100, 16, ramp),
            "mono8-11k.wav": wave(1, 11025, 8, [128 + v // 300 for v in ramp[:20000]]),
            "stereo8-22k.wav": wave(2, 22050, 8, [128 + v // 300 for v in ramp]),
            "list-and-long-fmt-16k.wav": wave(1, 16000, 16, ramp, extra_fmt=b"\0\0", before_data=chunk(b"LIST", b"INFOx" * 5)),
        }
        for name, data in files.items():
            path = self.file(name, data)
            status, message = self.convert(path, "e")
            self.assertTrue(status.startswith("OK"), name)
            self.assertEqual(message, self.cli("e", path), name)
            status, decoded = self.convert(self.file(name + ".msg", message), "d")
            self.assertTrue(status.startswith("OK"), name)
            self.assertEqual(decoded, self.cli("d", os.path.join(self.work, name + ".msg")), name)
        self.assertEqual(self.element("download").get_attribute("download"), "list-and-long-fmt-16k.wav.wav")

    def test_refused_file_shows_the_command_lines_message(self):
        self.open()
        status, _ = self.convert(self.file("greeting.wav", wave(2, 48000, 32, [0.1] * 2000, tag=3)), "e")
        self.assertEqual(status, "greeting.wav should be a WAVE PCM file")

    def test_best_mode_on_float_wave_and_mp3(self):
        self.open()
        self.element("opt-level").click()  # the bound is for the sound as it is
        frames = [tones(i / 48000) for i in range(4 * 48000)]
        stereo = [v for f in frames for v in (f, f)]
        reference = [32768 * tones(k / 8000) for k in range(4 * 8000)]
        float_path = self.file("float48.wav", wave(2, 48000, 32, stereo, tag=3))
        mp3_path = os.path.join(self.work, "phone.mp3")
        subprocess.run(["ffmpeg", "-v", "error", "-y", "-i", float_path, "-c:a", "libmp3lame", "-b:a", "128k", mp3_path],
                       check=True)
        # Measured: 25.6 dB from the float file, 22.6 dB from the MP3 (decoded by the module).
        for path, bound in [(float_path, 19.0), (mp3_path, 17.0)]:
            status, message = self.convert(path, "q")
            self.assertTrue(status.startswith("OK"), path)
            self.assertGreater(snr(reference, decode_message(message)), bound, path)

    def test_recording_from_the_microphone(self):
        source = os.path.join(self.work, "speech-source.wav")
        subprocess.run(["espeak-ng", "-v", "en-us", "-s", "140", "-w", source,
                        "Thank you for calling. Please hold. Your call is important to us. Thank you for calling."],
                       check=True)
        speech_path = os.path.join(self.work, "speech.wav")
        subprocess.run(["sox", source, "-r", "48000", "-b", "16", speech_path], check=True)
        d = self.open(microphone=speech_path)
        self.mode("e")
        started = time.monotonic()
        self.element("record").click()
        WebDriverWait(d, 10).until(lambda d: self.element("record").get_attribute("aria-pressed") == "true")
        time.sleep(3)
        self.element("record").click()
        held = time.monotonic() - started  # the button was down at most this long
        status, message = self.outcome()
        self.assertTrue(status.startswith("OK"), status)
        self.assertEqual(self.mode(), "e")  # recording leaves the mode the user chose
        seconds = len(message) * 2 / 8000
        self.assertGreater(seconds, 2.8)
        self.assertLess(seconds, held + 0.2)
        # The decoded recording's loudness follows the speech's: the best correlation of their
        # 20 ms envelopes over every offset (the fake device loops the file from any point).
        speech = subprocess.run(["sox", speech_path, "-t", "s16", "-r", "8000", "-c", "1", "-"], check=True,
                                capture_output=True).stdout
        speech = list(struct.unpack("<%dh" % (len(speech) // 2), speech))
        envelope = lambda s: [math.sqrt(sum(x * x for x in s[i:i + 160]) / 160) for i in range(0, len(s) - 160, 160)]
        a, b = envelope(decode_message(message)), envelope(speech + speech)
        best = max(correlation(a, b[k:k + len(a)]) for k in range(0, len(b) - len(a)))
        self.assertGreater(best, 0.6)

    def test_no_request_leaves_the_origin(self):
        d = self.open()
        status, _ = self.convert(self.file("tone.wav", wave(1, 8000, 16, [1000, -1000] * 400)), "q")
        self.assertTrue(status.startswith("OK"))
        urls = []
        for entry in d.get_log("performance"):
            message = json.loads(entry["message"])["message"]
            if message["method"] == "Network.requestWillBeSent":
                urls.append(message["params"]["request"]["url"])
        self.assertTrue(urls)
        # Requests that reach a network: http, https and web sockets (the browser's own chrome://
        # pages and data: and blob: URLs stay inside it).
        network = [u for u in urls if u.split(":", 1)[0] in ("http", "https", "ws", "wss")]
        foreign = [u for u in network if not u.startswith(self.origin + "/")]
        self.assertEqual(foreign, [])

    def test_works_offline_after_the_first_visit(self):
        d = self.open(cores=2)
        cached = d.execute_async_script("""
            const done = arguments[arguments.length - 1];
            navigator.serviceWorker.ready.then(async () => {
              const all = async () => (await Promise.all(['aamsg.wasm', 'fflate.js'].map((f) => caches.match(f)))).every(Boolean);
              for (let i = 0; i < 50 && !(await all()); i++) await new Promise(r => setTimeout(r, 100));
              done(await all());
            });""")
        self.assertTrue(cached)
        self.server.shutdown()
        self.server.server_close()
        d.refresh()
        WebDriverWait(d, 30).until(lambda d: self.js("return document.body.dataset.ready"))
        path = self.file("offline.wav", wave(1, 8000, 16, [1000, -1000] * 400))
        status, message = self.convert(path, "e")
        self.assertTrue(status.startswith("OK"))
        self.assertEqual(message, self.cli("e", path))
        # A batch starts a second worker, which has to load from the cache as well.
        other = self.file("other.wav", wave(1, 8000, 16, [500, -500] * 400))
        self.choose(path, other)
        self.element("convert").click()
        status, packed = self.outcome(link="download-all")
        self.assertEqual((status, self.js("return document.body.dataset.workers")), ("OK: 2 files converted", "2"))
        with zipfile.ZipFile(io.BytesIO(packed)) as archive:
            self.assertEqual(archive.read("other.msg"), self.cli("e", other))

    def axe(self):
        with open(AXE, encoding="utf-8") as f:
            self.js(f.read())
        return self.driver.execute_async_script("""
            const done = arguments[arguments.length - 1];
            axe.run(document).then((r) => done(r.violations.map((v) => v.id + ': ' + v.nodes.map((n) => n.target).join(' '))));""")

    def scheme(self, name):
        self.driver.execute_cdp_cmd("Emulation.setEmulatedMedia", {"features": [{"name": "prefers-color-scheme", "value": name}]})

    def test_accessibility_in_both_colour_schemes(self):
        self.open()
        good = [self.file("a%d.wav" % i, wave(1, 8000, 16, [3000, -3000] * 2000)) for i in range(2)]
        bad = self.file("notes.txt", b"not audio at all")
        empty = self.file("empty.wav", b"")
        steps = [("before a conversion", None), ("after a batch", lambda: self.choose(*good, bad, empty)),
                 ("after a failure", lambda: self.choose(bad))]
        for step, prepare in steps:
            if prepare:
                prepare()
                self.mode("q")
                self.element("convert").click()
                self.outcome()
                self.assertNotIn("undefined", self.element("results").text)
            for scheme in ("light", "dark"):
                self.scheme(scheme)
                self.assertEqual(self.axe(), [], "%s, %s" % (step, scheme))

    def test_level_and_trim_on_by_default_with_what_was_measured(self):
        self.open()
        self.assertTrue(self.element("options").is_displayed())
        self.assertTrue(self.element("opt-level").is_selected() and self.element("opt-trim").is_selected())
        # A quiet 8 kHz greeting between silences: q brings it to -22 dB and cuts the silences.
        quiet = [int(600 * math.sin(i * 0.07) * (1 + math.sin(i * 0.002))) for i in range(16000)]
        path = self.file("quiet.wav", wave(1, 8000, 16, [0] * 6000 + quiet + [0] * 6000))
        status, message = self.convert(path, "q")
        self.assertTrue(status.startswith("OK"), status)
        shown = re.fullmatch(r"Level: (-\d+\.\d) dB before, (-\d+\.\d) dB after \(gain \+\d+\.\d dB\)\. "
                             r"Trimmed (\d\.\d\d) s at the start and (\d\.\d\d) s at the end\.", self.element("note").text)
        self.assertTrue(shown, self.element("note").text)
        before, after, start, end = (float(v) for v in shown.groups())
        self.assertLess(before, -30)
        self.assertLess(abs(after + 22), 1)  # the limiter may leave it a little under
        self.assertLess(abs(start - 0.75), 0.25)  # 0.75 s of silence each side, less what the trim keeps
        self.assertLess(abs(end - 0.75), 0.25)
        self.assertEqual(message, self.cli("q", path, *CLI_OPTIONS))
        for mode in ("e", "d"):
            self.mode(mode)
            self.assertFalse(self.element("opt-level").is_enabled(), mode)  # q's alone

    def test_mode_follows_the_file_and_d_warns_on_audio(self):
        self.open()
        message = self.file("greeting.msg", bytes(range(16, 200)) * 10)
        recording = self.file("greeting.wav", wave(1, 8000, 16, [2000, -2000] * 1500))
        # Messages that start as an MPEG frame or an AC-3 frame would, with no frame after it.
        for start in (b"", b"\xff\xfb\x90\x64", b"\x0b\x77\x00\x00\x10"):
            self.choose(self.file("greeting%d.bin" % len(start), start + read(message)))
            self.assertEqual(self.mode(), "d", start)
        self.choose(recording)
        self.assertEqual(self.mode(), "q")
        self.mode("e")
        self.choose(recording)
        self.assertEqual(self.mode(), "e")  # the user's choice between e and q stays
        # Files that real tools made, under a name that says nothing: each starts like audio, by a
        # container's signature or by frames that follow one another.
        formats = {row["file"]: row["path"] for row in self.formats()}
        starts = [("WAVE", "tones.wav"), ("WAVE", "rf64.wav"), ("W64", "w64.w64"), ("AIFF", "aiff.aiff"),
                  ("CAF", "caf.caf"), ("AU", "au.au"), ("VOC", "voc.voc"), ("FLAC", "flac.flac"), ("Ogg", "vorbis.ogg"),
                  ("MP3", "tagged.mp3"), ("MP3", "lame.mp3"), ("MP3", "mp2.mp2"), ("AAC", "adts.aac"), ("AC-3", "ac3.ac3"),
                  ("M4A", "aac.m4a"), ("M4A", "amrnb3gp.3gp"), ("AMR", "amrnb.amr"), ("WebM", "opuswebm.webm"),
                  ("WMA", "wmav2.wma")]
        for label, made in starts:
            path = self.file("x.bin", read(formats[made]))
            self.choose(path)
            self.assertNotEqual(self.mode(), "d", made)
            self.mode("d")
            jobs = self.js("return document.body.dataset.jobs")
            self.element("convert").click()
            status, _ = self.outcome()
            self.assertRegex(status, "^x[.]bin starts like an? %s file" % label, made)
            self.assertEqual(self.js("return document.body.dataset.jobs"), jobs, made)  # nothing decoded
            self.assertEqual(self.element("convert").text, "Decode anyway")
        self.element("convert").click()  # the command line's d, on purpose
        status, decoded = self.outcome()
        self.assertTrue(status.startswith("OK"), status)
        self.assertEqual(decoded, self.cli("d", path))
        status, _ = self.convert(self.file("empty.msg", b""), "d")
        self.assertEqual(status, "empty.msg is empty: there is nothing to decode.")
        self.assertTrue(self.result_cleared())

    def test_every_format_gives_the_command_lines_bytes(self):
        self.open()
        table = self.formats()
        self.choose(*(row["path"] for row in table))
        self.assertEqual(self.mode(), "q")
        self.element("convert").click()
        status, packed = self.outcome(link="download-all", seconds=300)
        self.assertEqual(status, "OK: %d files converted" % len(table))
        with zipfile.ZipFile(io.BytesIO(packed)) as archive:
            self.assertEqual(archive.namelist(), [os.path.splitext(row["file"])[0] + ".msg" for row in table])
            for row in table:
                ours = archive.read(os.path.splitext(row["file"])[0] + ".msg")
                theirs = self.cli("q", row["path"], *CLI_OPTIONS)
                differ = abs(len(ours) - len(theirs)) + sum(a != b for a, b in zip(ours, theirs))
                self.assertLessEqual(differ, row["differs"], row["file"])

    def formats(self):
        """A file of every format q reads, made by real tools once a test (tests/web/formats.js)."""
        folder = os.path.join(self.work, "formats")
        os.makedirs(folder, exist_ok=True)
        return json.loads(subprocess.run(["node", FORMATS, folder], check=True, capture_output=True).stdout)

    def test_one_conversion_at_a_time_and_results_tied_to_their_mode(self):
        self.open()
        path = self.file("tone.wav", wave(1, 8000, 16, [int(8000 * math.sin(i / 3)) for i in range(40000)]))
        self.choose(path)
        self.mode("q")
        jobs = int(self.js("return document.body.dataset.jobs || 0"))
        disabled_at_once = self.js("""const b = document.getElementById('convert');
            b.click(); const disabled = b.disabled; b.click(); b.dispatchEvent(new MouseEvent('dblclick'));
            return disabled""")
        self.assertTrue(disabled_at_once)
        status, best = self.outcome()
        self.assertTrue(status.startswith("OK: tone.msg"), status)
        self.assertEqual(int(self.js("return document.body.dataset.jobs")), jobs + 1)
        self.mode("e")
        self.assertTrue(self.result_cleared())
        self.element("convert").click()
        status, exact = self.outcome()
        self.assertTrue(status.startswith("OK: tone.msg"), status)
        self.assertEqual(exact, self.cli("e", path))
        self.assertNotEqual(exact, best)

    def test_a_new_file_mode_option_or_failure_clears_the_result(self):
        self.open()
        good = self.file("good.wav", wave(1, 8000, 16, [2000, -2000] * 1000))
        refused = self.file("float.wav", wave(1, 8000, 32, [0.1] * 2000, tag=3))
        changes = [("a failure", lambda: self.convert(refused, "e")),
                   ("a mode change", lambda: self.mode("e")),
                   ("another file", lambda: self.choose(refused)),
                   ("an option", lambda: self.element("opt-trim").click())]
        for change, act in changes:
            self.convert(good, "q")
            self.assertFalse(self.result_cleared(), change)
            act()
            self.assertTrue(self.result_cleared(), change)

    def test_large_files_are_refused_and_memory_is_released(self):
        self.open()
        status, _ = self.convert(self.file("huge.msg", bytes(16 * 1024 * 1024 + 2)), "d")
        self.assertIn("huge.msg is too large (16.8 MB): this page takes message files up to 16 MB", status)
        self.assertNotRegex(status, "RuntimeError|Aborted|ASSERTIONS")
        self.assertEqual(self.element("progress").get_attribute("value"), "0")
        self.assertTrue(self.result_cleared())
        # An hour's message decodes to 115 MB inside the module; the worker then drops that memory.
        self.choose(self.file("hour.msg", bytes(range(256)) * (8000 * 3600 // 2 // 256)))
        self.mode("d")
        self.element("convert").click()
        status, _ = self.outcome(link=None)  # not fetched: only the memory matters here
        self.assertTrue(status.startswith("OK: hour.wav, 3600.0 seconds"), status)
        self.assertGreater(int(self.js("return document.body.dataset.jobMemory")), 115_000_000)
        WebDriverWait(self.driver, 10).until(lambda d: self.js("return document.body.dataset.workerMemory"))
        self.assertLessEqual(int(self.js("return document.body.dataset.workerMemory")), 32 * 1024 * 1024)

    def test_a_large_recording_converts_in_bounded_memory(self):
        """A 150 MB WAVE file (14 minutes, 44.1 kHz stereo) is read where it lies, in pieces: the
        command line's bytes, its picture, and a module that never held the file."""
        self.open()
        path = os.path.join(self.work, "long.wav")
        subprocess.run(["sox", "-n", "-r", "44100", "-c", "2", "-b", "16", path, "synth", "860", "sine", "300-900",
                        "sine", "1250", "tremolo", "3", "60", "vol", "0.3"], check=True)
        self.assertGreater(os.path.getsize(path), 150_000_000)
        status, message = self.convert(path, "e")
        self.assertTrue(status.startswith("OK: long.msg, 860.0 seconds"), status)
        self.assertEqual(message, self.cli("e", path))
        self.assertLess(int(self.js("return document.body.dataset.jobMemory")), 64 * 1024 * 1024)
        self.assertEqual(len(self.painted()), 2)

    def test_advice_only_where_it_holds(self):
        self.open()
        riff_garbage = b"RIFF\x20\0\0\0WAVEjunk" + bytes(range(24))
        cases = [  # file, mode, what the status and the note must hold and must not
            ("float.wav", wave(1, 8000, 32, [0.1] * 2000, tag=3), "e", "best sound (q)", None),
            ("broken.wav", riff_garbage, "e", None, "(q)"),
            ("greeting.msg", bytes(range(40, 240)), "e", "WAVE file from a message file (d)", "(q)"),
            ("notes.txt", b"hello, not audio", "q", "WMA, AMR or AC-3", None),
        ]
        for name, data, mode, wanted, unwanted in cases:
            self.choose(self.file(name, data))
            self.mode(mode)
            self.element("convert").click()
            status, _ = self.outcome()
            advice = status + " " + self.element("note").text
            self.assertFalse(status.startswith("OK"), name)
            if wanted:
                self.assertIn(wanted, advice, name)
            if unwanted:
                self.assertNotIn(unwanted, self.element("note").text, name)
            self.assertEqual(self.element("progress").get_attribute("value"), "0", name)
        self.assertIn("MP3", self.element("formats").text)  # listed before anything fails
        self.assertIn("WMA", self.element("formats").text)

    def test_focus_moves_to_the_result_and_players_have_names(self):
        self.open()
        path = self.file("hello.wav", wave(1, 8000, 16, [3000, -3000] * 8000))
        status, _ = self.convert(path, "e")
        self.assertEqual(status, "OK: hello.msg, 2.0 seconds, 8.0 kB")
        self.assertEqual(self.js("return document.activeElement.id"), "download")
        self.assertEqual(self.element("preview").get_attribute("aria-label"), "hello.msg, as the phone will play it")
        status, _ = self.convert(self.file("float.wav", wave(1, 8000, 32, [0.1] * 2000, tag=3)), "e")
        self.assertEqual(self.js("return document.activeElement.id"), "status")
        name = self.js("""const ids = (arguments[0].getAttribute('aria-labelledby') || '').split(' ');
            return ids.map((id) => (document.getElementById(id) || {}).textContent || '').join(' ').trim()""",
                       self.element("recording"))
        self.assertTrue(name)

    def test_contrast_of_error_text_borders_and_focus_ring(self):
        self.open()
        self.convert(self.file("float.wav", wave(1, 8000, 32, [0.1] * 2000, tag=3)), "e")  # an error shown
        self.js("document.getElementById('download-all').hidden = false")
        for scheme in ("light", "dark"):
            self.scheme(scheme)
            background = self.js("return getComputedStyle(document.body).backgroundColor")
            error = self.js("return getComputedStyle(document.getElementById('status')).color")
            border = self.js("return getComputedStyle(document.getElementById('download-all')).borderTopColor")
            ActionChains(self.driver).send_keys(Keys.TAB).perform()  # the keyboard's focus ring
            ring = self.js("return getComputedStyle(document.activeElement).outlineColor")
            self.assertGreaterEqual(contrast(error, background), 4.5, scheme)
            self.assertGreaterEqual(contrast(border, background), 3.0, scheme)
            self.assertGreaterEqual(contrast(ring, background), 3.0, scheme)
            # The picture's marks against its lanes, and the lanes' trimmed shade.
            colours = self.js("""const probe = document.createElement('span');
                document.body.append(probe);
                const of = (name) => { probe.style.color = `var(${name})`; return getComputedStyle(probe).color; };
                const found = Object.fromEntries(['--wave', '--error', '--text', '--lane', '--shade'].map((n) => [n, of(n)]));
                probe.remove();
                return found;""")
            for mark in ("--wave", "--error", "--text"):
                for ground in ("--lane", "--shade"):
                    self.assertGreaterEqual(contrast(colours[mark], colours[ground]), 3.0, (scheme, mark, ground))

    def test_batch_lists_its_files_in_order_with_players_and_their_names_in_the_zip(self):
        self.open(cores=3)
        source = self.file("source.wav", wave(1, 8000, 16, [int(9000 * tones(i / 8000)) for i in range(16000)]))
        for name, codec in [("greeting.mp3", "libmp3lame"), ("greeting.flac", "flac"), ("Greeting.ogg", "libvorbis")]:
            subprocess.run(["ffmpeg", "-v", "error", "-y", "-i", source, "-c:a", codec, os.path.join(self.work, name)],
                           check=True)
        self.file("notes.txt", b"not audio at all")
        self.file("gone.wav", read(source))  # removed once chosen
        self.file("lost.wav", read(source))  # its worker dies
        # (file, what its row holds): a success's name in the .zip (set apart in any case, as Windows
        # unpacks it), or a failure's message.
        rows = [("greeting.mp3", "greeting.msg"), ("greeting.flac", "greeting (2).msg"),
                ("notes.txt", "should be an audio file"), ("Greeting.ogg", "Greeting (3).msg"),
                ("gone.wav", "cannot be read"), ("lost.wav", "The converter stopped on lost.wav")]
        self.choose(*(os.path.join(self.work, name) for name, _ in rows))
        os.remove(os.path.join(self.work, "gone.wav"))
        self.js("watch.holding = true; watch.dieOn = 'lost.wav'")
        self.element("convert").click()
        # Three workers, a file each; they hold their answers, and the page says what runs.
        WebDriverWait(self.driver, 20).until(lambda d: re.fullmatch(
            r"Converting 6 files, 0 done: greeting\.mp3 \d+%, greeting\.flac \d+%, notes\.txt \d+%", self.element("status").text))
        self.assertEqual(self.js("return [watch.busy, document.body.dataset.workers]"), [3, "3"])
        self.js("release()")  # the third file's answer first
        status, _ = self.outcome(link=None)
        self.assertEqual(status, "3 of 6 files converted; 3 failed (see the list below)")
        self.assertEqual(self.element("progress").get_attribute("value"), "100")
        self.assertEqual(self.js("return watch.most"), 3)
        packed = self.fetch(self.element("download-all").get_attribute("href"))
        with zipfile.ZipFile(io.BytesIO(packed)) as archive:
            self.assertEqual(archive.namelist(), [held for _, held in rows if held.endswith(".msg")])
            for (name, held), row in zip(rows, self.rows(), strict=True):
                self.assertTrue(row["text"].startswith(name + ": ") and held in row["text"], row["text"])
                self.assertEqual(row["name"], held if held.endswith(".msg") else None, name)
                if row["name"]:
                    message = archive.read(held)
                    self.assertEqual(self.fetch(row["href"]), message, name)
                    self.assertAlmostEqual(row["seconds"], len(message) * 2 / 8000, places=3, msg=name)

    def test_batch_runs_a_worker_per_core_but_no_more_than_files(self):
        self.open(cores=1)
        paths = [self.file("a%d.wav" % i, wave(1, 8000, 16, [2000, -2000] * 800)) for i in range(3)]
        cases = [  # the cores the page is told of, files, the workers it runs, its words while they work
            (1, 2, 1, r"Converting 2 files, 0 done: a0\.wav \d+%"),
            (0, 2, 1, r"Converting 2 files, 0 done: a0\.wav \d+%"),  # a browser that does not tell
            (8, 3, 3, r"Converting 3 files, 0 done: a0\.wav \d+%, a1\.wav \d+%, a2\.wav \d+%"),
            (8, 1, 1, r"Converting a0\.wav: \d+%"),
        ]
        for cores, files, workers, words in cases:
            self.navigate(cores)
            self.choose(*paths[:files])
            self.mode("e")
            self.js("watch.holding = true")
            self.element("convert").click()
            WebDriverWait(self.driver, 20).until(lambda d: re.fullmatch(words, self.element("status").text))
            self.js("release()")
            status, _ = self.outcome(link=None)
            self.assertTrue(status.startswith("OK"), status)
            self.assertEqual(self.js("return [watch.most, Number(document.body.dataset.workers)]"), [workers, workers],
                             (cores, files))

    def test_decode_anyway_names_the_wave_apart_from_its_input(self):
        self.open()
        audio = self.file("greeting44.wav", wave(1, 44100, 16, [2000, -2000] * 2000))
        message = self.file("greeting44.msg", bytes(range(16, 200)) * 10)
        for paths, names in [([audio], ["greeting44 (decoded).wav"]),
                             ([audio, message], ["greeting44 (decoded).wav", "greeting44.wav"])]:
            self.choose(*paths)
            self.mode("d")
            self.element("convert").click()
            self.outcome()  # the warning that the file is audio
            self.element("convert").click()  # "Decode anyway"
            status, data = self.outcome(link="download" if len(paths) == 1 else "download-all")
            if len(paths) == 1:
                shown, decoded = [self.element("download").get_attribute("download")], {names[0]: data}
            else:
                shown = [row["name"] for row in self.rows()]
                with zipfile.ZipFile(io.BytesIO(data)) as archive:
                    decoded = {name: archive.read(name) for name in archive.namelist()}
            self.assertEqual(shown, names)
            self.assertEqual(decoded, {name: self.cli("d", path) for name, path in zip(names, paths)})

    def test_batch_dropped_on_the_page_gives_one_zip_of_the_command_lines_bytes(self):
        self.open()
        # 8 kHz inputs, so that no resampler stands between the page's q and the command line's.
        names = {"welcome.wav": 0.05, "closed.wav": 0.09, "hold.wav": 0.13}
        paths = {name: self.file(name, wave(1, 8000, 16, [int(9000 * math.sin(i * w) * math.sin(i * 0.001))
                                                         for i in range(12000)])) for name, w in names.items()}
        files = [{"name": name, "data": base64.b64encode(read(path)).decode()} for name, path in paths.items()]
        self.js("""const dropped = new DataTransfer();
            for (const f of arguments[0]) dropped.items.add(new File([Uint8Array.from(atob(f.data), (c) => c.charCodeAt(0))], f.name));
            document.querySelector('h1').dispatchEvent(new DragEvent('drop', { dataTransfer: dropped, bubbles: true, cancelable: true }));""",
                files)
        WebDriverWait(self.driver, 10).until(lambda d: self.js("return document.getElementById('file').files.length") == 3)
        self.mode("q")
        self.element("convert").click()
        status, packed = self.outcome(link="download-all")
        self.assertEqual(status, "OK: 3 files converted")
        self.assertEqual(self.js("return document.activeElement.id"), "download-all")
        with zipfile.ZipFile(io.BytesIO(packed)) as archive:
            self.assertEqual(sorted(archive.namelist()), sorted(n.replace(".wav", ".msg") for n in names))
            for name, path in paths.items():
                self.assertEqual(archive.read(name.replace(".wav", ".msg")), self.cli("q", path, *CLI_OPTIONS), name)
        # The whole page, not only the part the window shows.
        size = self.driver.execute_cdp_cmd("Page.getLayoutMetrics", {})["cssContentSize"]
        shot = self.driver.execute_cdp_cmd("Page.captureScreenshot", {"format": "png", "captureBeyondViewport": True,
                                                                        "clip": {**size, "x": 0, "y": 0, "scale": 1}})
        with open(os.path.join(ROOT, "docs", "images", "web.png"), "wb") as f:
            f.write(base64.b64decode(shot["data"]))

    def painted(self, index=0):
        """The pixels of the picture in row `index` in the wave's colour and in the clip marks'
        colour, lane by lane, once it is drawn."""
        WebDriverWait(self.driver, 10).until(lambda d: self.js(
            "const f = document.querySelectorAll('#results figure')[arguments[0]]; return f && f.dataset.drawn", index))
        return self.js("""const canvas = document.querySelectorAll('#results figure canvas')[arguments[0]];
            const g = canvas.getContext('2d'), style = getComputedStyle(document.documentElement);
            const rgb = (name) => { const c = document.createElement('canvas').getContext('2d');
              c.fillStyle = style.getPropertyValue(name).trim(); c.fillRect(0, 0, 1, 1); return [...c.getImageData(0, 0, 1, 1).data].slice(0, 3); };
            const wave = rgb('--wave'), clip = rgb('--error'), ratio = window.devicePixelRatio || 1;
            const lanes = [];
            for (let top = 0; top + 56 * ratio <= canvas.height - 24 * ratio; top += 64 * ratio) {
              const d = g.getImageData(0, top, canvas.width, 56 * ratio).data;
              let w = 0, c = 0;
              for (let i = 0; i < d.length; i += 4) {
                if (d[i] === wave[0] && d[i + 1] === wave[1] && d[i + 2] === wave[2]) w++;
                if (d[i] === clip[0] && d[i + 1] === clip[1] && d[i + 2] === clip[2]) c++;
              }
              lanes.push([w, c]);
            }
            return lanes;""", index)

    def findings(self, index=0):
        return self.js("return [...document.querySelectorAll('#results .findings')[arguments[0]].children].map((li) => li.textContent)",
                       index)

    def test_picture_and_findings_in_the_command_lines_words(self):
        self.open()
        # Loud bursts, clipped flat at three places, between 1.5 s silences.
        loud = [int(32767 * 0.35 * math.sin(i * 0.35)) if (i // 2400) % 5 < 3 else 0 for i in range(16000)]
        for at in (3000, 7000, 12000):
            loud[at:at + 6] = [32767] * 6
        path = self.file("loud.wav", wave(1, 8000, 16, [0] * 12000 + loud + [0] * 12000))
        inspected = json.loads(subprocess.run([TOOL, "i", "--json", path], check=True, capture_output=True).stdout)
        said = [finding["text"] for finding in inspected["files"][0]["findings"]]
        self.assertEqual(len(said), 4, said)  # clipped, too loud, long silences at both ends
        # Looking only: the library's words, as the command line has them; no file is made.
        self.choose(path)
        self.mode("i")
        self.element("convert").click()
        status, _ = self.outcome(link=None)
        self.assertEqual(status, "OK: loud.wav, WAVE 16-bit PCM, 5.0 seconds, 4 findings")
        self.assertEqual(self.findings(), said)
        self.assertFalse(self.js("return !!document.querySelector('#results a, #results audio')"))
        [(wave_pixels, clip_pixels)] = self.painted()
        self.assertGreater(wave_pixels, 2000)
        self.assertGreater(clip_pixels, 0)
        # q with the level and the trim: what they dealt with is no longer said; the clipping is,
        # and the picture has the message under the recording, its words for screen readers.
        self.mode("q")
        status, message = self.convert(path, "q")
        self.assertEqual(message, self.cli("q", path, *CLI_OPTIONS))
        self.assertEqual(self.findings(), [text for text in said if "clipped" in text])
        lanes = self.painted()
        self.assertEqual(len(lanes), 2)
        self.assertTrue(all(w > 1000 for w, _ in lanes), lanes)
        label = self.js("return document.querySelector('#results canvas').getAttribute('aria-label')")
        self.assertRegex(label, r"^The waveform of loud\.wav, 5\.0 seconds: speech at −\d+\.\d dB, the telephone level being "
                                r"−22\.0 dB, clipped in 3 places; the trim removed 1\.\d\d s at the start and 1\.\d\d s at the end\. "
                                r"As the phone plays it, 2\.\d seconds: speech at −2\d\.\d dB")
        # A message dropped on the page: its picture and findings, as it is decoded.
        status, _ = self.convert(self.file("silent.msg", bytes([0x08]) * 4000), "d")
        self.assertTrue(status.startswith("OK: silent.wav"), status)
        self.assertEqual(self.findings(), [json.loads(subprocess.run([TOOL, "i", "--json", os.path.join(self.work, "silent.msg")],
                                                                    check=True, capture_output=True).stdout)["files"][0]["findings"][0]["text"]])
        self.assertEqual(len(self.painted()), 1)

    @staticmethod
    def rename(field, text):
        """Types over a name field as a person does, and leaves it."""
        field.send_keys(Keys.CONTROL, "a", Keys.NULL, text or Keys.DELETE, Keys.TAB)

    def test_names_can_be_edited_and_stay_apart(self):
        self.open()
        paths = [self.file(name, wave(1, 8000, 16, [2000, -2000] * 1500)) for name in ("a.wav", "b.wav")]
        status, _ = self.convert(paths[0], "e")
        self.rename(self.element("name"), "Main menu/day")
        self.assertEqual(self.element("download").get_attribute("download"), "Main menuday.msg")
        self.assertEqual(self.element("download").text, "Download Main menuday.msg")
        self.choose(*paths)
        self.element("convert").click()
        self.outcome(link=None)
        fields = self.driver.find_elements(By.CSS_SELECTOR, "#results input[type=text]")
        self.rename(fields[1], "A.MSG")  # the other file's name, in another case
        self.assertEqual(fields[1].get_attribute("value"), "b.msg")
        self.assertIn("A.MSG is the name of another file here", self.element("note").text)
        self.rename(fields[1], "")
        self.assertEqual(fields[1].get_attribute("value"), "b.msg")
        self.assertIn("A file needs a name: it stays b.msg", self.element("note").text)
        self.rename(fields[1], "closed")
        with zipfile.ZipFile(io.BytesIO(self.fetch(self.element("download-all").get_attribute("href")))) as archive:
            self.assertEqual(archive.namelist(), ["a.msg", "closed.msg"])
        self.assertEqual([row["name"] for row in self.rows()], ["a.msg", "closed.msg"])

    def test_cancel_stops_a_conversion_and_keeps_what_is_done(self):
        self.open(cores=1)
        short = self.file("short.wav", wave(1, 8000, 16, [2000, -2000] * 1000))
        # Four minutes of noise at 8 kHz: the search never narrows on it, so it takes far longer
        # than the page's 3 s between progress words (a slow tone converts in about that).
        noise = random.Random(29)
        long_ = self.file("long.wav", wave(1, 8000, 16, [noise.randint(-8000, 8000) for _ in range(8000 * 240)]))
        self.assertTrue(self.js("return document.getElementById('cancel').hidden"))
        self.choose(short, long_, long_)
        self.mode("q")
        self.element("convert").click()
        WebDriverWait(self.driver, 30).until(lambda d: re.match(r"Converting 3 files, 1 done: long\.wav [1-9]", self.element("status").text))
        cancel = self.element("cancel")
        self.assertTrue(cancel.is_displayed())
        self.assertEqual(self.js("return document.activeElement.id"), "cancel")  # where Convert's focus was
        started = time.monotonic()
        cancel.send_keys(Keys.ENTER)  # by keyboard
        WebDriverWait(self.driver, 2).until(lambda d: self.element("status").text.startswith("Cancelled"))
        self.assertLess(time.monotonic() - started, 1.5)
        self.assertEqual(self.element("status").text, "Cancelled: 1 of 3 files converted (see the list below)")
        self.assertTrue(self.element("convert").is_enabled())
        self.assertFalse(cancel.is_displayed())
        self.assertEqual([row["name"] for row in self.rows()], ["short.msg"])
        # A single file, and the page converts again after it.
        self.choose(long_)
        self.element("convert").click()
        WebDriverWait(self.driver, 30).until(lambda d: re.match(r"Converting long\.wav: [1-9]", self.element("status").text))
        self.element("cancel").click()
        WebDriverWait(self.driver, 2).until(lambda d: self.element("status").text == "Cancelled: nothing was converted.")
        self.assertTrue(self.result_cleared())
        status, message = self.convert(short, "q")
        self.assertEqual(message, self.cli("q", short, *CLI_OPTIONS))

    def test_plain_http_on_another_name_says_what_needs_https(self):
        """Served over http on a name other than localhost: Record is not offered, the page says
        why, no script fails, and converting works."""
        self.open()
        self.driver.get("http://intranet.example:%d/" % self.server.server_address[1])
        WebDriverWait(self.driver, 30).until(lambda d: self.js("return document.body.dataset.ready"))
        self.assertFalse(self.js("return window.isSecureContext"))
        self.assertFalse(self.element("record-row").is_displayed())
        self.assertIn("intranet.example", self.element("insecure").text)
        self.assertIn("only on pages served over https or from this computer (localhost)", self.element("insecure").text)
        path = self.file("a.wav", wave(1, 8000, 16, [2000, -2000] * 1500))
        status, message = self.convert(path, "e")
        self.assertEqual(message, self.cli("e", path))
        self.assertFalse(self.js("return !!navigator.serviceWorker && !!navigator.serviceWorker.controller"))

    def test_isolated_page_searches_on_threads_with_the_same_bytes(self):
        """Served with COOP and COEP (as serve.py does), the page is cross-origin isolated and its
        worker runs the threaded module: one file's search on every core gives the command
        line's bytes, and a batch still gives each file its own worker. Served without them,
        the service worker adds them from the second load on."""
        self.open()
        self.assertEqual(self.js("return [window.crossOriginIsolated, document.body.dataset.threaded]"), [False, "false"])
        WebDriverWait(self.driver, 30).until(lambda d: self.js("return !!navigator.serviceWorker.controller"))
        self.navigate()
        self.assertEqual(self.js("return [window.crossOriginIsolated, document.body.dataset.threaded]"), [True, "true"])
        isolated = serve.serve(PAGE, 0, quiet=True, isolated=True)
        threading.Thread(target=isolated.serve_forever, daemon=True).start()
        self.addCleanup(isolated.server_close)
        self.addCleanup(isolated.shutdown)
        self.driver.get("http://127.0.0.1:%d/" % isolated.server_address[1])
        WebDriverWait(self.driver, 30).until(lambda d: self.js("return document.body.dataset.ready"))
        self.assertEqual(self.js("return [window.crossOriginIsolated, document.body.dataset.threaded]"), [True, "true"])
        speech = [int(9000 * tones(i / 44100)) for i in range(44100 * 20)]
        path = self.file("twenty.wav", wave(2, 44100, 16, [v for v in speech for _ in (0, 1)]))
        status, message = self.convert(path, "q")
        self.assertTrue(status.startswith("OK"), status)
        self.assertEqual(message, self.cli("q", path, *CLI_OPTIONS))
        # The input's thread and a search thread a core (this machine's: the worker's own count).
        cores = self.js("return navigator.hardwareConcurrency")
        self.assertEqual(int(self.js("return document.body.dataset.threadsStarted")), 1 + min(cores, 8), cores)
        paths = [self.file("b%d.wav" % i, wave(1, 8000, 16, speech[:16000 * (i + 1)])) for i in range(2)]
        self.choose(*paths)
        self.element("convert").click()
        status, packed = self.outcome(link="download-all")
        with zipfile.ZipFile(io.BytesIO(packed)) as archive:
            for i, path in enumerate(paths):
                self.assertEqual(archive.read("b%d.msg" % i), self.cli("q", path, *CLI_OPTIONS))

    def test_nothing_stands_in_the_results_before_a_conversion(self):
        self.open()
        self.assertTrue(self.element("nothing-yet").is_displayed())
        self.assertFalse(self.js("return !!document.querySelector('section:nth-of-type(3) audio')"))
        status, _ = self.convert(self.file("a.wav", wave(1, 8000, 16, [2000, -2000] * 1500)), "e")
        self.assertFalse(self.element("nothing-yet").is_displayed())


class SearchUnderNode(unittest.TestCase):
    """The search built for WebAssembly SIMD, run by node, gives the scalar build's codes."""

    def test_webassembly_simd_gives_the_scalar_codes(self):
        work = tempfile.mkdtemp(prefix="aamsg-codes-")
        self.addCleanup(shutil.rmtree, work)
        rng = random.Random(5)
        signals = {
            "tone": [round(12000 * math.sin(2 * math.pi * 300 * i / 8000)) for i in range(6000)],
            "chirp": [round(16000 * math.sin(2 * math.pi * (100 + 0.15 * i) * i / 8000)) for i in range(6000)],
            "square": [32767 if i % 40 < 20 else -32768 for i in range(4000)],
            "noise": [max(-32768, min(32767, round(rng.gauss(0, 6000)))) for i in range(6000)],
            "clicks": [30000 if i % 997 == 0 else 0 for i in range(4000)],
            "short": [100, -200, 300],
        }
        paths = []
        for name, samples in signals.items():
            paths.append(os.path.join(work, name + ".raw"))
            with open(paths[-1], "wb") as f:
                f.write(struct.pack("<%dh" % len(samples), *samples))
        native = subprocess.run([os.path.join(ROOT, "build", "tests", "aamsg_search_codes"), "--isa", "scalar", *paths],
                                check=True, capture_output=True, text=True).stdout.splitlines()
        wasm = subprocess.run(["node", "--no-experimental-fetch", os.path.join(ROOT, "build-wasm", "aamsg_search_codes.js"), *paths],
                              check=True, capture_output=True, text=True).stdout.splitlines()
        self.assertEqual(native[-1], "isa scalar")
        self.assertEqual(wasm[-1], "isa simd128")
        self.assertEqual(wasm[:-1], native[:-1])


def correlation(a, b):
    n = min(len(a), len(b))
    ma, mb = sum(a[:n]) / n, sum(b[:n]) / n
    cov = sum((a[i] - ma) * (b[i] - mb) for i in range(n))
    va = math.sqrt(sum((a[i] - ma) ** 2 for i in range(n)))
    vb = math.sqrt(sum((b[i] - mb) ** 2 for i in range(n)))
    return cov / (va * vb) if va and vb else 0.0


if __name__ == "__main__":
    unittest.main(verbosity=2)
