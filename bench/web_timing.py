#!/usr/bin/python3
"""The web page's weight and speed in headless Chromium on this machine: page weight (each
file and all, gzipped), time to first use (from navigation until the WebAssembly module is
ready), and the time from the click on Convert to the download link for e and q (with the
page's default options, level and trim) on a 60-second 44.1 kHz stereo WAVE file and d on a
60-second message; and q of a batch of four such files, in one worker and in one per core, to
the .zip's link. Each without cross-origin isolation (one thread a file) and with it (a file's
search on a thread a core). Median of several runs.

    make web build && /usr/bin/python3 bench/web_timing.py [runs]
"""
import gzip
import math
import os
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import threading

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select, WebDriverWait

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "src", "web"))
import serve  # noqa: E402

PAGE = os.path.join(ROOT, "build-web")
runs = int(sys.argv[1]) if len(sys.argv) > 1 else 5

# A visit loads one of the two modules: the threaded one where the page is cross-origin isolated.
weights = {}
for name in sorted(os.listdir(PAGE)):
    with open(os.path.join(PAGE, name), "rb") as f:
        data = f.read()
    weights[name] = (len(data), len(gzip.compress(data, 9)))
    print("%-24s %8d bytes, %8d gzipped" % ((name,) + weights[name]))
for label, left_out in [("the page, one thread", "aamsg-threads."), ("the page, threaded", "aamsg.")]:
    kept = [w for name, w in weights.items() if not name.startswith(left_out)]
    print("%-24s %8d bytes, %8d gzipped" % (label, sum(w[0] for w in kept), sum(w[1] for w in kept)))

work = tempfile.mkdtemp(prefix="aamsg-web-bench-")
wav = os.path.join(work, "minute.wav")
subprocess.run(["sox", "-n", "-r", "44100", "-c", "2", "-b", "16", wav, "synth", "60", "sine", "200-3000", "synth", "60",
                "whitenoise", "mix", "vol", "0.5"], check=True)
large = os.path.join(work, "half-hour.wav")
subprocess.run(["sox", "-n", "-r", "48000", "-c", "2", "-b", "16", large, "synth", "1800", "sine", "200-3000", "vol", "0.5"],
               check=True)
msg = os.path.join(work, "minute.msg")
with open(msg, "wb") as f:
    f.write(os.urandom(240000))

options = webdriver.ChromeOptions()
options.binary_location = "/usr/bin/chromium"
for flag in ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--user-data-dir=" + os.path.join(work, "profile")]:
    options.add_argument(flag)
driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
# The service worker would make the page cross-origin isolated from its second load on: each
# part chooses that by its server's headers alone.
driver.execute_cdp_cmd("Network.enable", {})
driver.execute_cdp_cmd("Network.setBypassServiceWorker", {"bypass": True})


def first_use(origin):
    times = []
    for _ in range(runs):
        driver.execute_cdp_cmd("Network.setCacheDisabled", {"cacheDisabled": True})
        driver.get("about:blank")
        driver.get(origin)
        WebDriverWait(driver, 30).until(lambda d: d.execute_script("return document.body.dataset.ready"))
        times.append(float(driver.execute_script("return document.body.dataset.ready")))
    return statistics.median(times)


def timed(mode, paths, link):
    """Milliseconds from the click on Convert to the link, median of `runs`."""
    times = []
    for _ in range(runs):
        # The input takes several files: clear it, then wait for the page to take the new ones in.
        before = driver.execute_script("document.getElementById('file').value = ''; return document.body.dataset.choice || '0'")
        driver.find_element(By.ID, "file").send_keys("\n".join(paths))
        WebDriverWait(driver, 10).until(lambda d: d.execute_script("return document.body.dataset.choice || '0'") != before)
        Select(driver.find_element(By.ID, "mode")).select_by_value(mode)
        driver.execute_script("const old = document.getElementById(arguments[0]); if (old) delete old.dataset.milliseconds", link)
        driver.find_element(By.ID, "convert").click()
        WebDriverWait(driver, 300).until(lambda d: d.execute_script(
            "const l = document.getElementById(arguments[0]); return l && !l.hidden && l.dataset.milliseconds", link))
        times.append(float(driver.execute_script("return document.getElementById(arguments[0]).dataset.milliseconds", link)))
    return statistics.median(times)


batch = []
for k in range(4):
    batch.append(os.path.join(work, "minute-%d.wav" % k))
    shutil.copyfile(wav, batch[-1])
for isolated in (False, True):
    server = serve.serve(PAGE, 0, quiet=True, isolated=isolated)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    origin = "http://127.0.0.1:%d/" % server.server_address[1]
    print("%s:" % ("cross-origin isolated (COOP and COEP): a file's search on a thread a core" if isolated
                   else "without isolation: a file on one thread"))
    print("  time to first use: %.0f ms (median of %d, cache off)" % (first_use(origin), runs))
    print("  module: %s" % ("threaded" if driver.execute_script("return document.body.dataset.threaded") == "true" else "one thread"))
    for mode, path in [("e", wav), ("q", wav), ("d", msg)]:
        print("  %s of %s: %.0f ms from click to download link (median of %d)" % (
            mode, os.path.basename(path), timed(mode, [path], "download"), runs))
    for cores in sorted({1, os.cpu_count() or 1}):
        driver.execute_cdp_cmd("Emulation.setHardwareConcurrencyOverride", {"hardwareConcurrency": cores})
        milliseconds = timed("q", batch, "download-all")
        workers = driver.execute_script("return document.body.dataset.workers")
        print("  q of 4 x %s in %s worker(s): %.0f ms from click to .zip link (median of %d)" % (
            os.path.basename(wav), workers, milliseconds, runs))
    driver.execute_cdp_cmd("Emulation.setHardwareConcurrencyOverride", {"hardwareConcurrency": os.cpu_count() or 1})
    if not isolated:
        # A 30-minute 48 kHz stereo WAVE file, read in pieces: the module's memory stays small.
        driver.execute_script("document.body.dataset.jobMemory = ''")
        milliseconds = timed("e", [large], "download")
        print("  e of %s (%.0f MB): %.1f s from click to download link, the module's memory %.1f MB" % (
            os.path.basename(large), os.path.getsize(large) / 1e6, milliseconds / 1000,
            int(driver.execute_script("return document.body.dataset.jobMemory")) / 1e6))
    server.shutdown()
driver.quit()
shutil.rmtree(work, ignore_errors=True)
