// The page: picks the input, hands it to the worker, shows progress, the outcome, the player and
// the download. It converts nothing itself: the worker runs aamsg's own code.
"use strict";

const $ = (id) => document.getElementById(id);
const fileInput = $("file");
const modeSelect = $("mode");
const convertButton = $("convert");
const recordButton = $("record");
const progressBar = $("progress");
const statusLine = $("status");
const note = $("note");
const preview = $("preview");
const download = $("download");

const worker = new Worker("worker.js");
let pending = null;  // the running conversion's resolve
let recorded = null;  // { name, bytes } of the last recording
const urls = {};

if ("serviceWorker" in navigator) navigator.serviceWorker.register("sw.js").catch(() => {});

worker.onerror = (event) => {
  if (!pending) return;
  const resolve = pending;
  pending = null;
  resolve({ code: 106, message: "Internal error: " + (event.message || "the converter stopped") });
};

worker.onmessage = (event) => {
  const data = event.data;
  if (data.type === "ready") {
    // For measuring the time to first use: the module is compiled and waiting.
    document.body.dataset.ready = String(Math.round(performance.now()));
  } else if (data.type === "progress") {
    progressBar.value = data.percent;
  } else if (data.type === "done" && pending) {
    const resolve = pending;
    pending = null;
    resolve(data);
  }
};

function run(mode, bytes, inputName, outputName) {
  return new Promise((resolve) => {
    pending = resolve;
    progressBar.value = 0;
    worker.postMessage({ mode, bytes, inputName, outputName }, [bytes]);
  });
}

function blobUrl(key, bytes, type) {
  if (urls[key]) URL.revokeObjectURL(urls[key]);
  urls[key] = URL.createObjectURL(new Blob([bytes], { type }));
  return urls[key];
}

function outputNameFor(name, mode) {
  const base = name.replace(/\.[^./\\]*$/, "");
  return base + (mode === "d" ? ".wav" : ".msg");
}

// A 32-bit float WAVE file of interleaved samples: what q reads from the browser's decoder and
// from the microphone. 16 bits for a recording to play back.
function waveFile(channels, rate, samples, float) {
  const bytesPer = float ? 4 : 2;
  const data = samples.length * bytesPer;
  const buffer = new ArrayBuffer(44 + data);
  const v = new DataView(buffer);
  const text = (at, s) => { for (let i = 0; i < 4; i++) v.setUint8(at + i, s.charCodeAt(i)); };
  text(0, "RIFF"); v.setUint32(4, 36 + data, true); text(8, "WAVE");
  text(12, "fmt "); v.setUint32(16, 16, true); v.setUint16(20, float ? 3 : 1, true);
  v.setUint16(22, channels, true); v.setUint32(24, rate, true);
  v.setUint32(28, rate * channels * bytesPer, true); v.setUint16(32, channels * bytesPer, true);
  v.setUint16(34, bytesPer * 8, true); text(36, "data"); v.setUint32(40, data, true);
  for (let i = 0; i < samples.length; i++) {
    if (float) v.setFloat32(44 + 4 * i, samples[i], true);
    else v.setInt16(44 + 2 * i, Math.max(-32768, Math.min(32767, Math.round(samples[i] * 32767))), true);
  }
  return buffer;
}

// Formats the module does not read (MP3, AAC, Ogg, Opus, FLAC): the browser decodes them, at
// 48000 per second, and q takes it from there.
async function decodeInBrowser(bytes) {
  const context = new OfflineAudioContext(1, 1, 48000);
  const audio = await context.decodeAudioData(bytes);
  const interleaved = new Float32Array(audio.length * audio.numberOfChannels);
  for (let c = 0; c < audio.numberOfChannels; c++) {
    const channel = audio.getChannelData(c);
    for (let i = 0; i < audio.length; i++) interleaved[i * audio.numberOfChannels + c] = channel[i];
  }
  return waveFile(audio.numberOfChannels, audio.sampleRate, interleaved, true);
}

function show(result, mode, outputName, startedAt) {
  const ok = result.code === 0;
  statusLine.textContent = ok ? "OK" : result.message.trim();
  statusLine.classList.toggle("failed", !ok);
  const notes = [];
  if (!ok && mode === "e" && (result.code === 201 || result.code === 202)) {
    notes.push("Choose “best sound (q)”: it reads this file.");
  }
  if (ok && result.clipped > 0) notes.push(`${result.clipped} of ${result.samples} samples were louder than the format holds and were clipped.`);
  note.textContent = notes.join(" ");
  if (!ok) return;
  progressBar.value = 100;
  download.href = blobUrl("download", result.output, mode === "d" ? "audio/wav" : "application/octet-stream");
  download.download = outputName;
  download.textContent = `Download ${outputName}`;
  download.hidden = false;
  download.dataset.milliseconds = String(Math.round(performance.now() - startedAt));
  preview.src = blobUrl("preview", mode === "d" ? result.output : result.preview, "audio/wav");
}

async function convert(source, startedAt = performance.now()) {
  const mode = modeSelect.value;
  if (!source) {
    statusLine.textContent = "Choose a file, or record one, first.";
    return;
  }
  convertButton.disabled = true;
  download.hidden = true;
  statusLine.textContent = "Converting…";
  statusLine.classList.remove("failed");
  note.textContent = "";
  const outputName = outputNameFor(source.name, mode);
  try {
    let result = await run(mode, source.bytes.slice(0), source.name, outputName);
    if (mode === "q" && result.code === 201) {
      try {
        result = await run(mode, await decodeInBrowser(source.bytes.slice(0)), source.name, outputName);
      } catch (error) {
        // Neither the module nor the browser reads it: the module's message stands.
      }
    }
    show(result, mode, outputName, startedAt);
  } catch (error) {
    statusLine.textContent = "Internal error: " + error;
    statusLine.classList.add("failed");
  } finally {
    convertButton.disabled = false;
  }
}

async function chosenSource() {
  const file = fileInput.files[0];
  if (file) return { name: file.name, bytes: await file.arrayBuffer() };
  return recorded;
}

convertButton.addEventListener("click", async () => {
  const clickedAt = performance.now();  // the download link's data-milliseconds counts from here
  await convert(await chosenSource(), clickedAt);
});
fileInput.addEventListener("change", () => {
  recorded = null;
  download.hidden = true;
  statusLine.textContent = "";
  note.textContent = "";
  if (fileInput.files[0] && /\.msg$/i.test(fileInput.files[0].name)) modeSelect.value = "d";
});

// Recording: the microphone through an AudioWorklet, float samples at the device's rate, a level
// meter and the time; stopping converts the recording with q.
let capture = null;

async function startRecording() {
  const stream = await navigator.mediaDevices.getUserMedia({
    audio: { echoCancellation: false, noiseSuppression: false, autoGainControl: false } });
  const context = new AudioContext();
  await context.audioWorklet.addModule("recorder.js");
  const node = new AudioWorkletNode(context, "recorder");
  const chunks = [];
  let count = 0;
  node.port.onmessage = (event) => {
    const chunk = event.data;
    chunks.push(chunk);
    count += chunk.length;
    let peak = 0;
    for (const s of chunk) peak = Math.max(peak, Math.abs(s));
    $("level").value = peak;
    const seconds = Math.floor(count / context.sampleRate);
    $("elapsed").textContent = `${Math.floor(seconds / 60)}:${String(seconds % 60).padStart(2, "0")}`;
  };
  context.createMediaStreamSource(stream).connect(node);
  capture = { stream, context, node, chunks, count: () => count };
  recordButton.textContent = "Stop";
  recordButton.setAttribute("aria-pressed", "true");
  statusLine.textContent = "Recording…";
}

async function stopRecording() {
  const { stream, context, node, chunks, count } = capture;
  capture = null;
  node.port.onmessage = null;
  stream.getTracks().forEach((track) => track.stop());
  node.disconnect();
  await context.close();
  recordButton.textContent = "Record";
  recordButton.setAttribute("aria-pressed", "false");
  $("level").value = 0;
  const samples = new Float32Array(count());
  let at = 0;
  for (const chunk of chunks) { samples.set(chunk, at); at += chunk.length; }
  recorded = { name: "recording.wav", bytes: waveFile(1, context.sampleRate, samples, true) };
  $("recording").src = blobUrl("recording", waveFile(1, context.sampleRate, samples, false), "audio/wav");
  $("recording-box").hidden = false;
  fileInput.value = "";
  modeSelect.value = "q";
  await convert(recorded);
}

recordButton.addEventListener("click", async () => {
  try {
    if (capture) await stopRecording(); else await startRecording();
  } catch (error) {
    statusLine.textContent = "The microphone cannot be used: " + error.message;
    statusLine.classList.add("failed");
  }
});
