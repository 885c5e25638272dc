#!/usr/bin/python3
"""The web page in headless Chromium, driven through chromium-driver and python3-selenium.

Serves build-web/ on 127.0.0.1 and checks: e and d give the command line's bytes on generated
files; a refused file shows the command line's message; q on a float 48 kHz stereo WAVE and on
an MP3 the browser decodes gives a message whose round trip clears a stated bound; recording
three seconds from Chromium's fake microphone, fed with speech, gives a message of about that
length that sounds like the speech; and nothing is requested from any other origin. Saves a
screenshot to docs/images/web.png.

    make web build && /usr/bin/python3 tests/web/test_page.py
"""
import base64
import json
import math
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from selenium import webdriver
from selenium.webdriver.chrome.service import Service as ChromeService
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select, WebDriverWait

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "src", "web"))
import serve  # noqa: E402

TOOL = os.path.join(ROOT, "build", "aamsg")
PAGE = os.path.join(ROOT, "build-web")
STEPS = [7, 8, 9, 10, 11, 12, 13, 14, 16, 17, 19, 21, 23, 25, 28, 31, 34, 37, 41, 45, 50, 55, 60, 66, 73, 80, 88,
         97, 107, 118, 130, 143, 157, 173, 190, 209, 230, 253, 279, 307, 337, 371, 408, 449, 494, 544, 598, 658,
         724, 796, 876, 963, 1060, 1166, 1282, 1411, 1552, 1707, 1878, 2066, 2272, 2499, 2749, 3024, 3327, 3660,
         4026, 4428, 4871, 5358, 5894, 6484, 7132, 7845, 8630, 9493, 10442, 11487, 12635, 13899, 15289, 16818,
         18500, 20350, 22385, 24623, 27086, 29794, 32767]
ADJUST = [-1, -1, -1, -1, 2, 4, 6, 8]


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


class Page(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="aamsg-web-")
        cls.server = serve.serve(PAGE, 0, quiet=True)
        threading.Thread(target=cls.server.serve_forever, daemon=True).start()
        cls.origin = "http://127.0.0.1:%d" % cls.server.server_address[1]
        speech = os.path.join(cls.work, "speech-source.wav")
        subprocess.run(["espeak-ng", "-v", "en-us", "-s", "140", "-w", speech,
                        "Thank you for calling. Please hold. Your call is important to us. Thank you for calling."],
                       check=True)
        cls.speech = os.path.join(cls.work, "speech.wav")
        subprocess.run(["sox", speech, "-r", "48000", "-b", "16", cls.speech], check=True)
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for flag in ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage", "--disable-quic",
                     "--no-first-run", "--disable-background-networking", "--disable-component-update", "--disable-sync",
                     "--disable-features=OptimizationHints,MediaRouter", "--window-size=900,1300",
                     "--use-fake-device-for-media-stream", "--use-fake-ui-for-media-stream",
                     "--use-file-for-fake-audio-capture=" + cls.speech, "--user-data-dir=" + os.path.join(cls.work, "profile")]:
            options.add_argument(flag)
        options.set_capability("goog:loggingPrefs", {"performance": "ALL"})
        cls.driver = webdriver.Chrome(service=ChromeService(executable_path="/usr/bin/chromedriver"),
                                      options=options)
        cls.driver.set_script_timeout(60)
        cls.driver.get(cls.origin + "/")
        WebDriverWait(cls.driver, 30).until(lambda d: d.execute_script("return document.readyState") == "complete")

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        cls.server.shutdown()  # again, if the offline test has not
        shutil.rmtree(cls.work, ignore_errors=True)

    def file(self, name, data):
        path = os.path.join(self.work, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def convert(self, path, mode):
        """Runs one conversion in the page; returns its status text and the downloaded bytes."""
        d = self.driver
        d.find_element(By.ID, "file").send_keys(path)
        Select(d.find_element(By.ID, "mode")).select_by_value(mode)
        d.execute_script("document.getElementById('status').textContent = ''")
        d.find_element(By.ID, "convert").click()
        return self.outcome()

    def outcome(self):
        d = self.driver
        WebDriverWait(d, 60).until(lambda d: d.find_element(By.ID, "status").text not in ("", "Converting…", "Recording…")
                                   and not d.find_element(By.ID, "convert").get_property("disabled"))
        status = d.find_element(By.ID, "status").text
        if status != "OK":
            return status, None
        href = d.find_element(By.ID, "download").get_attribute("href")
        self.assertTrue(href.startswith("blob:"))
        encoded = d.execute_async_script("""
            const done = arguments[arguments.length - 1];
            fetch(arguments[0]).then(r => r.arrayBuffer()).then(b => {
              let s = ''; const u = new Uint8Array(b);
              for (let i = 0; i < u.length; i += 8192) s += String.fromCharCode.apply(null, u.subarray(i, i + 8192));
              done(btoa(s));
            });""", href)
        return status, base64.b64decode(encoded)

    def cli(self, mode, path):
        out = path + "." + mode + ".out"
        subprocess.run([TOOL, mode, path, out], check=True, stdout=subprocess.DEVNULL)
        with open(out, "rb") as f:
            return f.read()

    def test_1_exact_modes_give_the_command_lines_bytes(self):
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
            self.assertEqual(status, "OK", name)
            self.assertEqual(message, self.cli("e", path), name)
            status, decoded = self.convert(self.file(name + ".msg", message), "d")
            self.assertEqual(status, "OK", name)
            self.assertEqual(decoded, self.cli("d", os.path.join(self.work, name + ".msg")), name)
        self.assertEqual(self.driver.find_element(By.ID, "download").get_attribute("download"), "list-and-long-fmt-16k.wav.wav")

    def test_2_refused_file_shows_the_command_lines_message(self):
        path = self.file("greeting.wav", wave(2, 48000, 32, [0.1] * 2000, tag=3))
        status, _ = self.convert(path, "e")
        self.assertEqual(status, "greeting.wav should be a WAVE PCM file")
        self.assertIn("q", self.driver.find_element(By.ID, "note").text)

    def test_3_best_mode_on_float_wave_and_mp3(self):
        frames = [tones(i / 48000) for i in range(4 * 48000)]
        stereo = [v for f in frames for v in (f, f)]
        reference = [32768 * tones(k / 8000) for k in range(4 * 8000)]
        float_path = self.file("float48.wav", wave(2, 48000, 32, stereo, tag=3))
        mp3_path = os.path.join(self.work, "phone.mp3")
        subprocess.run(["ffmpeg", "-v", "error", "-y", "-i", float_path, "-c:a", "libmp3lame", "-b:a", "128k", mp3_path],
                       check=True)
        # Measured: 22.9 dB from the float file, 21.5 dB from the MP3 (decoded by the browser).
        for path, bound in [(float_path, 19.0), (mp3_path, 17.0)]:
            status, message = self.convert(path, "q")
            self.assertEqual(status, "OK", path)
            self.assertGreater(snr(reference, decode_message(message)), bound, path)

    def test_4_recording_from_the_microphone(self):
        d = self.driver
        d.execute_script("document.getElementById('file').value = ''")
        started = time.monotonic()
        d.find_element(By.ID, "record").click()
        WebDriverWait(d, 10).until(lambda d: d.find_element(By.ID, "record").get_attribute("aria-pressed") == "true")
        time.sleep(3)
        d.find_element(By.ID, "record").click()
        held = time.monotonic() - started  # the button was down at most this long
        status, message = self.outcome()
        self.assertEqual(status, "OK")
        seconds = len(message) * 2 / 8000
        self.assertGreater(seconds, 2.8)
        self.assertLess(seconds, held + 0.2)
        # The decoded recording's loudness follows the speech's: the best correlation of their
        # 20 ms envelopes over every offset (the fake device loops the file from any point).
        speech = subprocess.run(["sox", self.speech, "-t", "s16", "-r", "8000", "-c", "1", "-"], check=True,
                                capture_output=True).stdout
        speech = list(struct.unpack("<%dh" % (len(speech) // 2), speech))
        envelope = lambda s: [math.sqrt(sum(x * x for x in s[i:i + 160]) / 160) for i in range(0, len(s) - 160, 160)]
        a, b = envelope(decode_message(message)), envelope(speech + speech)
        best = max(correlation(a, b[k:k + len(a)]) for k in range(0, len(b) - len(a)))
        self.assertGreater(best, 0.6)
        self.driver.save_screenshot(os.path.join(ROOT, "docs", "images", "web.png"))

    def test_5_no_request_leaves_the_origin(self):
        urls = []
        for entry in self.driver.get_log("performance"):
            message = json.loads(entry["message"])["message"]
            if message["method"] == "Network.requestWillBeSent":
                urls.append(message["params"]["request"]["url"])
        self.assertTrue(urls)
        # Requests that reach a network: http, https and web sockets (the browser's own chrome://
        # pages and data: and blob: URLs stay inside it).
        network = [u for u in urls if u.split(":", 1)[0] in ("http", "https", "ws", "wss")]
        foreign = [u for u in network if not u.startswith(self.origin + "/")]
        self.assertEqual(foreign, [])


    def test_6_works_offline_after_the_first_visit(self):
        d = self.driver
        cached = d.execute_async_script("""
            const done = arguments[arguments.length - 1];
            navigator.serviceWorker.ready.then(async () => {
              for (let i = 0; i < 50 && !(await caches.match('aamsg.wasm')); i++) await new Promise(r => setTimeout(r, 100));
              done(!!(await caches.match('aamsg.wasm')));
            });""")
        self.assertTrue(cached)
        self.server.shutdown()
        self.server.server_close()
        d.refresh()
        WebDriverWait(d, 30).until(lambda d: d.execute_script("return document.body.dataset.ready"))
        status, message = self.convert(self.file("offline.wav", wave(1, 8000, 16, [1000, -1000] * 400)), "e")
        self.assertEqual(status, "OK")
        self.assertEqual(message, self.cli("e", os.path.join(self.work, "offline.wav")))


def correlation(a, b):
    n = min(len(a), len(b))
    ma, mb = sum(a[:n]) / n, sum(b[:n]) / n
    cov = sum((a[i] - ma) * (b[i] - mb) for i in range(n))
    va = math.sqrt(sum((a[i] - ma) ** 2 for i in range(n)))
    vb = math.sqrt(sum((b[i] - mb) ** 2 for i in range(n)))
    return cov / (va * vb) if va and vb else 0.0


if __name__ == "__main__":
    unittest.main(verbosity=2)
