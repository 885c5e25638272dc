// The page: takes the chosen files (or a recording), hands them to workers, several at a time,
// shows progress in words, the outcome, and a player and a download for each file (a batch also
// as one .zip). It converts nothing itself: the workers run aamsg's own code.
"use strict";

const $ = (id) => document.getElementById(id);
const fileInput = $("file");
const modeSelect = $("mode");
const optionsBox = $("options");
const levelBox = $("opt-level");
const trimBox = $("opt-trim");
const convertButton = $("convert");
const recordButton = $("record");
const progressBar = $("progress");
const statusLine = $("status");
const note = $("note");
const resultList = $("results");
const nothingYet = $("nothing-yet");
const downloadAll = $("download-all");
const cancelButton = $("cancel");

// A message above this is refused before it is read: 16 MiB decode to 128 MiB of WAVE, which
// the tab holds. Audio files have no bound: the module reads them in pieces.
const MAX_MESSAGE_BYTES = 16 * 1024 * 1024;
const CANCELLED = -2;  // a job's code when Cancel stopped it
const MAX_THREADS = 8;  // as the threaded module's pool holds
const OPTION_LEVEL = 2;
const OPTION_TRIM = 4;
const LEVEL_DB = -22;
const MODE_NAMES = { q: "“best sound (q)”", e: "“exactly as the format's own encoder (e)”", d: "“WAVE file from a message file (d)”",
  i: "“only look at the files (i)”" };
// The progress in words changes at most this often: a screen reader takes about as long to
// speak one such sentence, so the announcements do not pile up. The bar moves with every step.
const ANNOUNCE_MS = 3000;
// Files named in the progress words at most; the rest are counted.
const NAMED_IN_PROGRESS = 3;

// A converter is a worker and the job it runs. The first starts with the page, so that the
// module loads while the page's other script (fflate, for the .zip) does; a batch starts one
// more per core it can use and ends them when it is done, which gives their memory back.
const converters = [startConverter()];
let nextJob = 1;
let sources = [];  // { name, file, kind } of each chosen file, or of the recording
let choice = 0;  // counts choices: a warning acknowledged and a result shown belong to one
let choosing = Promise.resolve();
let modeChanges = 0;
let acknowledged = -1;  // the choice whose warning "this is not a message file" was passed
let busy = false;
let batch = null;  // { count, done, lanes } of the conversion under way
const urls = {};

// Browsers give the microphone and offline use (a service worker) only to pages served over
// https or from this computer: elsewhere the page says so, and Record is not offered.
if (window.isSecureContext && "serviceWorker" in navigator) navigator.serviceWorker.register("sw.js").catch(() => {});
if (!window.isSecureContext || !navigator.mediaDevices) {
  $("record-row").hidden = true;
  $("insecure").hidden = false;
  $("insecure-host").textContent = location.host;
}

function startConverter() {
  const converter = { worker: null, waiting: null, file: null };
  startWorker(converter);
  return converter;
}

// The body's data-* attributes (ready, threaded, jobs, workers, choice, jobMemory, workerMemory,
// threadsStarted) are
// figures for the tests and the timing script to read; nothing on the page depends on them.
function startWorker(converter) {
  const worker = new Worker("worker.js");
  converter.worker = worker;
  worker.onmessage = (event) => {
    if (converter.worker === worker) heard(converter, event.data);
  };
  // An error the worker did not catch (its script did not load, or it ran out of memory) fails
  // only the job it had. The worker may be unusable after it: it is ended, and the converter's
  // next job starts a new one.
  worker.onerror = (event) => {
    event.preventDefault();
    if (converter.worker !== worker) return;
    worker.terminate();
    converter.worker = null;
    answer(converter, { code: 106, failed: event.message || "the converter stopped" });
  };
}

function heard(converter, data) {
  if (data.type === "ready") {
    // The time to first use: the first module is compiled and waiting.
    if (!document.body.dataset.ready) document.body.dataset.ready = String(Math.round(performance.now()));
    document.body.dataset.threaded = String(data.threaded);
  } else if (data.type === "idle") {
    document.body.dataset.workerMemory = String(data.memory);
  } else if (data.type === "progress" && converter.waiting && converter.file) {
    converter.file.percent = data.percent;
    showProgress();
  } else if (data.type === "done" && converter.waiting && data.id === converter.waiting.id) {
    if (data.memory) document.body.dataset.jobMemory = String(data.memory);
    if (data.threadsStarted !== undefined) document.body.dataset.threadsStarted = String(data.threadsStarted);
    answer(converter, data);
  }
}

function answer(converter, data) {
  const { waiting } = converter;
  if (!waiting) return;
  converter.waiting = null;
  waiting.resolve(data);
}

// `input` is the chosen File, which the module reads in pieces where it lies, or (a message to
// decode) its bytes.
function run(converter, mode, input, inputName, outputName, options) {
  if (!converter.worker) startWorker(converter);
  return new Promise((resolve) => {
    const id = nextJob++;
    converter.waiting = { id, resolve };
    document.body.dataset.jobs = String(id);
    // A batch spreads its files over workers; a single file spreads its search over threads,
    // where the page is cross-origin isolated and the worker's module has them.
    const threads = batch && batch.count === 1 ? Math.min(navigator.hardwareConcurrency || 1, MAX_THREADS) : 1;
    const job = { id, mode, inputName, outputName, options, levelDb: LEVEL_DB, threads };
    if (input instanceof ArrayBuffer) converter.worker.postMessage({ ...job, bytes: input }, [input]);
    else converter.worker.postMessage({ ...job, file: input });
  });
}

function blobUrl(key, bytes, type) {
  if (urls[key]) URL.revokeObjectURL(urls[key]);
  urls[key] = URL.createObjectURL(new Blob([bytes], { type }));
  return urls[key];
}

// What a file becomes. Where that would be the file's own name (a WAVE file decoded anyway, a
// recording named .msg) a word sets it apart, so that the download does not take the input's
// place beside it.
function outputNameFor(name, mode) {
  const base = name.replace(/\.[^./\\]*$/, "");
  const extension = mode === "d" ? ".wav" : ".msg";
  if ((base + extension).toLowerCase() !== name.toLowerCase()) return base + extension;
  return `${base} (${mode === "d" ? "decoded" : "encoded"})${extension}`;
}

// What marks a file as audio in its first bytes: a container's signature (at an offset), or
// frames of a stream without a container, which must follow one another as their headers say,
// since two bytes alone could begin a message too. Such a file is never taken for a message.
const SIGNATURES = [[0, "RIFF", "WAVE"], [0, "RF64", "WAVE"], [0, "BW64", "WAVE"], [0, "riff", "W64"],
  [0, "FORM", "AIFF"], [0, "caff", "CAF"], [0, ".snd", "AU"], [0, "Creative Voice File", "VOC"],
  [0, "fLaC", "FLAC"], [0, "OggS", "Ogg"], [0, "ID3", "MP3"], [4, "ftyp", "M4A"], [4, "moov", "M4A"],
  [4, "mdat", "M4A"], [4, "wide", "M4A"], [0, "#!AMR", "AMR"], [0, "\x1aE\xdf\xa3", "WebM"],
  [0, "0&\xb2u\x8ef\xcf\x11\xa6\xd9\x00\xaa\x00b\xcel", "WMA"]];
const HEAD_BYTES = 8192;  // enough for two frames of every stream below

const MPEG_KBITS = [[0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448],
  [0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384],
  [0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320],
  [0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256],
  [0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160]];
const AC3_WORDS = [[64, 69, 96], [80, 87, 120], [96, 104, 144], [112, 121, 168], [128, 139, 192], [160, 174, 240],
  [192, 208, 288], [224, 243, 336], [256, 278, 384], [320, 348, 480], [384, 417, 576], [448, 487, 672],
  [512, 557, 768], [640, 696, 960], [768, 835, 1152], [896, 975, 1344], [1024, 1114, 1536], [1152, 1253, 1728],
  [1280, 1393, 1920]];

// The length of the frame whose header is at `at`, or 0 where none is: MPEG audio (MP3, MP2),
// AAC in ADTS, AC-3.
function frameLength(head, at) {
  const [a, b, c, d, e, f] = head.subarray(at, at + 7);
  if (at + 7 > head.length) return 0;
  if (a === 0x0b && b === 0x77) {  // AC-3: sample rate code and frame size code
    const rate = e >> 6, size = e & 63;
    return rate < 3 && size < 38 ? 2 * AC3_WORDS[size >> 1][rate] + (rate === 1 ? 2 * (size & 1) : 0) : 0;
  }
  if (a !== 0xff || (b & 0xe0) !== 0xe0) return 0;
  const version = (b >> 3) & 3, layer = (b >> 1) & 3;
  if ((b & 0xf6) === 0xf0) {  // ADTS: the frame's length is in its header
    const length = ((d & 3) << 11) | (e << 3) | (f >> 5);
    return length >= 7 && ((c >> 2) & 15) < 13 ? length : 0;
  }
  const bitrate = c >> 4, rateIndex = (c >> 2) & 3, padding = (c >> 1) & 1;
  if (version === 1 || layer === 0 || bitrate === 0 || bitrate === 15 || rateIndex === 3) return 0;
  const rate = [44100, 48000, 32000][rateIndex] / (version === 3 ? 1 : version === 2 ? 2 : 4);
  const kbits = MPEG_KBITS[version === 3 ? 3 - layer : layer === 3 ? 3 : 4][bitrate];
  if (layer === 3) return Math.floor((12000 * kbits) / rate + padding) * 4;
  return Math.floor(((layer === 1 && version !== 3 ? 72000 : 144000) * kbits) / rate) + padding;
}

function framesFollow(head) {
  const first = frameLength(head, 0);
  return first > 0 && frameLength(head, first) > 0;
}

// What a file is, from its first bytes (and its name for formats without a signature): audio
// goes to e or q, anything else is taken for a message, which has no header.
function kindOf(head, name) {
  const text = (at, n) => String.fromCharCode(...head.subarray(at, at + n));
  const signature = SIGNATURES.find(([at, bytes]) => text(at, bytes.length) === bytes);
  if (signature) return { audio: true, label: signature[2], signed: true };
  if (framesFollow(head)) {
    const label = head[0] === 0x0b ? "AC-3" : (head[1] & 6) === 0 ? "AAC" : "MP3";
    return { audio: true, label, signed: true };
  }
  return { audio: /\.(wav|wave|w64|aif|aiff|aifc|caf|au|snd|voc|flac|ogg|oga|opus|mp3|mp2|m4a|mp4|mov|3gp|aac|amr|awb|webm|mkv|mka|wma|asf|ac3)$/i.test(name) };
}

function say(text, failed = false) {
  statusLine.textContent = text;
  statusLine.classList.toggle("failed", failed);
}

// Results belong to the input, mode and options that made them: any change drops them.
function clearResult() {
  for (const key of Object.keys(urls)) {
    if (key === "recording") continue;
    URL.revokeObjectURL(urls[key]);
    delete urls[key];
  }
  downloadAll.hidden = true;
  downloadAll.removeAttribute("href");
  shown = [];
  pictures.clear();
  resultList.replaceChildren();
  resultList.hidden = true;
  nothingYet.hidden = false;
  progressBar.value = 0;
  note.textContent = "";
  convertButton.textContent = "Convert";
}

function showOptions() {
  optionsBox.disabled = busy || modeSelect.value !== "q";
}

async function choose(files) {
  const modeChangesBefore = modeChanges;
  const chosen = [];
  for (const file of files) {
    const head = new Uint8Array(await file.slice(0, HEAD_BYTES).arrayBuffer());
    chosen.push({ name: file.name, file, kind: kindOf(head, file.name) });
  }
  sources = chosen;
  choice++;
  clearResult();
  say("");
  // The mode follows the files unless the user picked one meanwhile: messages are decoded;
  // recordings are encoded with e or q, as the user chose.
  if (chosen.length > 0 && modeChanges === modeChangesBefore) {
    if (modeSelect.value === "i") { /* looking stays looking */ } else if (chosen.every((s) => !s.kind.audio)) modeSelect.value = "d";
    else if (modeSelect.value === "d") modeSelect.value = "q";
  }
  showOptions();
  document.body.dataset.choice = String(choice);
}

function chooseFiles(files) {
  choosing = choose(files).catch((error) => say("The file cannot be read: " + error.message, true));
}

// A 16-bit PCM WAVE file of a recording's samples (floats from -1 to 1).
function waveFile(rate, samples) {
  const data = samples.length * 2;
  const buffer = new ArrayBuffer(44 + data);
  const v = new DataView(buffer);
  const text = (at, s) => { for (let i = 0; i < 4; i++) v.setUint8(at + i, s.charCodeAt(i)); };
  text(0, "RIFF"); v.setUint32(4, 36 + data, true); text(8, "WAVE");
  text(12, "fmt "); v.setUint32(16, 16, true); v.setUint16(20, 1, true);
  v.setUint16(22, 1, true); v.setUint32(24, rate, true);
  v.setUint32(28, rate * 2, true); v.setUint16(32, 2, true);
  v.setUint16(34, 16, true); text(36, "data"); v.setUint32(40, data, true);
  for (let i = 0; i < samples.length; i++) {
    v.setInt16(44 + 2 * i, Math.max(-32768, Math.min(32767, Math.round(samples[i] * 32767))), true);
  }
  return buffer;
}

function megabytes(size) {
  return (size / 1e6).toFixed(1) + " MB";
}

function stopped(source) {
  return `The converter stopped on ${source.name} (${megabytes(source.file.size)}): this browser may not have the memory for it. The aamsg command converts it.`;
}

async function convertOne(converter, source, mode, options) {
  const outputName = outputNameFor(source.name, mode);
  const named = { name: source.name, outputName, inputSize: source.file.size, hint: "" };
  if (source.file.size === 0) {
    const verb = { d: "decode", i: "look at" }[mode] || "encode";
    return { ...named, code: -1, message: `${source.name} is empty: there is nothing to ${verb}.` };
  }
  if (mode === "d" && source.file.size > MAX_MESSAGE_BYTES) {
    return { ...named, code: -1, message: `${source.name} is too large (${megabytes(source.file.size)}): this page takes message files up to 16 MB (about 70 minutes). The aamsg command converts files of any size.` };
  }
  // A message is decoded from memory (its WAVE file, eight times its size, is held there anyway);
  // anything else is read where it lies.
  const input = mode === "d" ? await source.file.arrayBuffer() : source.file;
  if (batch.cancelled) return { ...named, code: CANCELLED };  // Cancel came while it was read
  const result = await run(converter, mode, input, source.name, outputName, options);
  // The module fails on a file that went away as on any read that fails, or stops outright.
  if (result.code === 106) result.message = stopped(source);
  if ([102, 105, 106].includes(result.code) && !(await readable(source.file))) result.message = gone(source);
  if (result.code !== 0) result.hint = await hintFor(converter, source, mode, result, outputName);
  return { ...named, ...result };
}

async function readable(file) {
  try {
    await file.slice(0, 1).arrayBuffer();
    return true;
  } catch {
    return false;
  }
}

function gone(source) {
  return `${source.name} cannot be read: it was changed or removed after it was chosen.`;
}

// Advice on a failure, only where it holds: q is suggested after e only if q reads the file.
async function hintFor(converter, source, mode, result, outputName) {
  if (mode === "i") return "";
  if (mode !== "d" && !source.kind.audio) {
    return `${source.name} looks like a message file: choose ${MODE_NAMES.d} to hear it.`;
  }
  if (mode === "e" && (result.code === 201 || result.code === 202)) {
    const probe = await run(converter, "q", source.file, source.name, outputName, 0);
    if (probe.code === 0) return `Choose ${MODE_NAMES.q}: it reads this file.`;
  }
  return "";
}

function seconds(value) {
  return value.toFixed(1) + " seconds";
}

function kilobytes(size) {
  return size >= 1e6 ? megabytes(size) : (size / 1e3).toFixed(1) + " kB";
}

// What a success made: the sound's length and the file's size.
function summary(result, mode) {
  if (mode === "i") {
    const { sound } = result;
    const findings = sound.findings.length;
    return `${result.name}, ${sound.isMessage ? "a message" : sound.format}, ${seconds(sound.seconds)}, `
      + (findings === 0 ? "no findings" : `${findings} finding${findings > 1 ? "s" : ""}`);
  }
  const length = mode === "d" ? (result.inputSize * 2) / 8000 : (result.output.byteLength * 2) / 8000;
  return `${result.outputName}, ${seconds(length)}, ${kilobytes(result.output.byteLength)}`;
}

function measurements(result) {
  const lines = [];
  const db = (value) => (value > 0 ? "+" : "") + value.toFixed(1) + " dB";
  if (Number.isFinite(result.levelBefore) && Number.isFinite(result.levelAfter)) {
    lines.push(`Level: ${db(result.levelBefore)} before, ${db(result.levelAfter)} after (gain ${db(result.gain)}).`);
  }
  if (result.trimmedStart > 0 || result.trimmedEnd > 0) {
    lines.push(`Trimmed ${result.trimmedStart.toFixed(2)} s at the start and ${result.trimmedEnd.toFixed(2)} s at the end.`);
  }
  if (result.clipped > 0) {
    lines.push(`${result.clipped} of ${result.samples} samples were louder than the format holds and were clipped.`);
  }
  return lines.join(" ");
}

// The names the files take in the .zip, in the order of the files: a name already taken (in
// any case: Windows and macOS unpack "Hello.msg" over "hello.msg") gets " (2)", " (3)"… before
// its extension. The rows and their downloads use the same names.
function nameApart(results) {
  const taken = new Set();
  for (const result of results) {
    let name = result.outputName;
    for (let k = 2; taken.has(name.toLowerCase()); k++) name = result.outputName.replace(/(\.[^.]*)$/, ` (${k})$1`);
    taken.add(name.toLowerCase());
    result.outputName = name;
  }
}

// A file's download and, for d, its player too: the WAVE file is what the phone plays.
function links(key, result, mode) {
  const file = blobUrl(key, result.output, mode === "d" ? "audio/wav" : "application/octet-stream");
  return { file, sound: mode === "d" ? file : blobUrl(key + "-preview", result.preview, "audio/wav") };
}

// A name the user typed, as a file can take it: no folders, no characters Windows refuses, the
// extension kept; "" when nothing is left.
function cleanName(typed, extension) {
  let name = typed.replace(/[\\/:*?"<>|\u0000-\u001f]/g, "").trim().replace(/^\.+/, "");
  if (!name) return "";
  if (!name.toLowerCase().endsWith(extension)) name += extension;
  return name;
}

// Another file's name already (in any case), among the shown results.
function nameTaken(name, except) {
  return shown.some((r) => r !== except && r.code === 0 && r.outputName.toLowerCase() === name.toLowerCase());
}

// The batch's .zip, of the names as they stand.
function packAll(mode) {
  const done = shown.filter((r) => r.code === 0);
  if (shown.length < 2 || done.length === 0) return;
  const name = mode === "d" ? "decoded.zip" : "messages.zip";
  const files = Object.fromEntries(done.map((result) => [result.outputName, new Uint8Array(result.output)]));
  downloadAll.href = blobUrl("download-all", fflate.zipSync(files), "application/zip");
  downloadAll.download = name;
  downloadAll.textContent = `Download all ${done.length} as ${name}`;
  downloadAll.hidden = false;
}

// The output's name, which the user may change before the download and the .zip: names stay
// apart, and one left empty or taken goes back, with a word why.
function nameField(result, link, mode, single) {
  const label = document.createElement("label");
  label.className = "name";
  label.textContent = "Save as";
  const field = document.createElement("input");
  field.type = "text";
  field.value = result.outputName;
  field.spellcheck = false;
  if (single) field.id = "name";
  else field.setAttribute("aria-label", `Save ${result.name}'s ${mode === "d" ? "WAVE file" : "message"} as`);
  field.addEventListener("change", () => {
    const extension = mode === "d" ? ".wav" : ".msg";
    const name = cleanName(field.value, extension);
    if (!name || nameTaken(name, result)) {
      note.textContent = name ? `${name} is the name of another file here: the name stays ${result.outputName}.`
        : `A file needs a name: it stays ${result.outputName}.`;
      field.value = result.outputName;
      return;
    }
    result.outputName = name;
    field.value = name;
    link.download = name;
    link.textContent = `Download ${name}`;
    packAll(mode);
  });
  label.append(field);
  return label;
}

// ---- The picture of a file: its waveform, and for e and q that of the message as the phone
// plays it under it, on one time line: the parts the trim removed shaded, the clipped places
// marked, and the speech level of each against the telephone level. The columns, the numbers
// and the findings' words are the library's inspection of each sound.

const LANE = 56;  // CSS pixels a waveform takes
const GAP = 8;
const SCALE_DB = -60;  // the level strip runs from here to 0 dB

function colour(name) {
  return getComputedStyle(document.documentElement).getPropertyValue(name).trim();
}

function db(value) {
  return (value > 0 ? "+" : value < 0 ? "−" : "") + Math.abs(value).toFixed(1) + " dB";
}

// One lane: `sound` drawn from x0 over `span` pixels, each pixel the lowest to highest sample
// of the columns it covers.
function drawLane(g, sound, top, x0, span, width, trimmed) {
  const middle = top + LANE / 2;
  g.fillStyle = colour("--lane");
  g.fillRect(0, top, width, LANE);
  if (trimmed) {
    g.fillStyle = colour("--shade");
    g.fillRect(0, top, trimmed.start, LANE);
    g.fillRect(width - trimmed.end, top, trimmed.end, LANE);
  }
  const { low: lows, high: highs, run, clipped } = sound.picture;
  const columns = lows.length;
  if (columns === 0 || sound.seconds <= 0) return;
  const perPixel = (sound.seconds * sound.rate) / run / span;  // columns a pixel covers
  g.fillStyle = colour("--wave");
  for (let x = 0; x < span; x++) {
    const first = Math.min(columns - 1, Math.floor(x * perPixel));
    const last = Math.min(columns - 1, Math.max(first, Math.ceil((x + 1) * perPixel) - 1));
    let low = 1, high = -1;
    for (let c = first; c <= last; c++) {
      low = Math.min(low, lows[c]);
      high = Math.max(high, highs[c]);
    }
    const y = middle - (high * LANE) / 2;
    g.fillRect(x0 + x, y, 1, Math.max(1, (high - low) * LANE / 2));
  }
  g.fillStyle = colour("--error");
  for (const c of clipped) g.fillRect(x0 + Math.floor(c / perPixel) - 1, top, 3, LANE);
}

// The level strip: SCALE_DB to 0 dB, the telephone level a line, each sound's level a dot.
function drawLevels(g, sounds, top, width) {
  const at = (value) => Math.max(0, Math.min(1, (value - SCALE_DB) / -SCALE_DB)) * width;
  g.fillStyle = colour("--lane");
  g.fillRect(0, top + 8, width, 6);
  g.fillStyle = colour("--text");
  g.fillRect(at(LEVEL_DB) - 1, top + 2, 2, 18);
  sounds.forEach((sound, k) => {
    if (!sound.speechFound) return;
    g.fillStyle = k === 0 ? colour("--wave") : colour("--accent");
    g.beginPath();
    g.arc(at(sound.levelDb), top + 11, k === 0 ? 6 : 4, 0, 2 * Math.PI);
    g.fill();
  });
}

// The picture's words, for screen readers and for anyone: the lengths, the levels against the
// telephone level, the clipping and the trim.
function pictureWords(result, sounds, trimmed) {
  const said = (sound) => (!sound.speechFound ? "no speech found" : `speech at ${db(sound.levelDb)}, the telephone level being ${db(LEVEL_DB)}`)
    + (sound.clippedPlaces > 0 ? `, clipped in ${sound.clippedPlaces} place${sound.clippedPlaces > 1 ? "s" : ""}` : "");
  const words = [`The waveform of ${result.name}, ${seconds(sounds[0].seconds)}: ${said(sounds[0])}`
    + (trimmed ? `; the trim removed ${trimmed.start.toFixed(2)} s at the start and ${trimmed.end.toFixed(2)} s at the end` : "")];
  if (sounds.length > 1) words.push(`As the phone plays it, ${seconds(sounds[1].seconds)}: ${said(sounds[1])}`);
  return words.join(". ") + ".";
}

function picture(result, mode) {
  const sounds = [result.sound, result.phone].filter(Boolean);
  if (sounds.length === 0) return [];
  const figure = document.createElement("figure");
  const canvas = document.createElement("canvas");
  canvas.setAttribute("role", "img");
  const trim = mode === "q" && (result.trimmedStart > 0 || result.trimmedEnd > 0) ? { start: result.trimmedStart, end: result.trimmedEnd } : null;
  canvas.setAttribute("aria-label", pictureWords(result, sounds, trim));
  const caption = document.createElement("figcaption");
  caption.textContent = (sounds.length > 1 ? "Above: the recording" + (trim ? " (shaded: removed by the trim)" : "")
    + ". Below: the message as the phone plays it. " : mode === "d" ? "The message as the phone plays it. " : "The recording. ")
    + (sounds.some((sound) => sound.clippedPlaces > 0) ? "Red: where it is clipped. " : "") + "The strip: the speech level" + (sounds.length > 1 ? " of each (dots)" : " (dot)")
    + ` against the telephone level, ${db(LEVEL_DB)} (line), from ${SCALE_DB} dB to 0 dB.`;
  const draw = () => {
    const width = Math.max(200, figure.clientWidth || 600);
    const height = sounds.length * (LANE + GAP) + 24;
    const ratio = window.devicePixelRatio || 1;
    canvas.width = Math.round(width * ratio);
    canvas.height = Math.round(height * ratio);
    canvas.style.height = height + "px";
    const g = canvas.getContext("2d");
    g.setTransform(ratio, 0, 0, ratio, 0, 0);
    g.clearRect(0, 0, width, height);
    // One time line, the recording's: the message lies under what the trim kept of it.
    const total = sounds[0].seconds || 1;
    const pixels = (s) => (s / total) * width;
    drawLane(g, sounds[0], 0, 0, width, width, trim && { start: pixels(trim.start), end: pixels(trim.end) });
    if (sounds.length > 1) {
      const x0 = trim ? Math.round(pixels(trim.start)) : 0;  // whole pixels: crisp columns
      drawLane(g, sounds[1], LANE + GAP, x0, Math.max(1, Math.round(Math.min(width - x0, pixels(sounds[1].seconds)))), width, null);
    }
    drawLevels(g, sounds, sounds.length * (LANE + GAP), width);
    figure.dataset.drawn = String(width);
  };
  pictures.add(draw);
  requestAnimationFrame(draw);
  figure.append(canvas, caption);
  const findings = document.createElement("ul");
  findings.className = "findings";
  findings.setAttribute("aria-label", `What the sound of ${result.name} says`);
  const list = sounds[0].findings.length > 0 ? sounds[0].findings.map((finding) => finding.text) : ["Findings: none."];
  findings.append(...list.map((text) => Object.assign(document.createElement("li"), { textContent: text })));
  if (sounds[0].findings.length === 0) findings.classList.add("none");
  return [figure, findings];
}

// The pictures on the page, drawn again in the other colour scheme and at another width.
const pictures = new Set();
const redraw = () => pictures.forEach((draw) => draw());
matchMedia("(prefers-color-scheme: dark)").addEventListener("change", redraw);
addEventListener("resize", redraw);

// A file in the list: what became of it, and for a success its picture and findings, a player,
// its name and its download. A single file's controls have the ids the page's status refers to.
function row(result, index, mode, single) {
  const item = document.createElement("li");
  if (!single) {
    const text = document.createElement("p");
    text.textContent = result.code !== 0 ? `${result.name}: ${result.message.trim()} ${result.hint}`.trim()
      : `${result.name}: OK, ${summary(result, mode)}. ${measurements(result)}`.trim();
    item.append(text);
  }
  if (result.code !== 0) {
    item.classList.add("failed");
    return item;
  }
  item.append(...picture(result, mode));
  if (mode === "i") return item;  // nothing was made
  const { file, sound } = links(`row-${index}`, result, mode);
  const player = document.createElement("audio");
  player.controls = true;
  player.preload = "metadata";
  player.src = sound;
  player.setAttribute("aria-label", `${result.outputName}, as the phone will play it`);
  const link = document.createElement("a");
  link.className = "download";
  link.href = file;
  link.download = result.outputName;
  link.textContent = `Download ${result.outputName}`;
  if (single) {
    player.id = "preview";
    link.id = "download";
  }
  const controls = document.createElement("div");
  controls.className = "row";
  controls.append(player, nameField(result, link, mode, single), link);
  item.append(controls);
  return item;
}

let shown = [];  // the results on the page

function show(results, mode, startedAt, cancelled, count) {
  const done = results.filter((r) => r.code === 0);
  const single = count === 1;
  let focus = statusLine;
  nameApart(done);
  shown = results;
  resultList.replaceChildren(...results.filter((r) => !single || r.code === 0).map((result, index) => row(result, index, mode, single)));
  resultList.hidden = resultList.children.length === 0;
  nothingYet.hidden = !resultList.hidden;
  const failed = results.length - done.length;
  const did = mode === "i" ? "looked at" : "converted";
  if (cancelled) {
    say(single ? "Cancelled: nothing was converted." : `Cancelled: ${done.length} of ${count} files ${did}`
      + (results.length > 0 ? " (see the list below)" : ""), true);
  } else if (single && failed === 0) {
    say("OK: " + summary(done[0], mode));
    note.textContent = measurements(done[0]);
  } else if (single) {
    say(results[0].message.trim(), true);
    note.textContent = results[0].hint;
  } else {
    say(failed === 0 ? `OK: ${results.length} files ${did}` : `${done.length} of ${results.length} files ${did}; ${failed} failed (see the list below)`,
      failed > 0);
  }
  if (single && done.length === 1) focus = $("download") || statusLine;
  if (!single && done.length > 0 && mode !== "i") {
    packAll(mode);
    focus = downloadAll;
  }
  progressBar.value = done.length > 0 || (!single && !cancelled) ? 100 : 0;
  // For measuring: from the click on Convert to the result.
  focus.dataset.milliseconds = String(Math.round(performance.now() - startedAt));
  focus.focus();
}

function setBusy(on) {
  busy = on;
  // Cancel stands where Convert's focus was, so that a keyboard reaches it at once.
  const focused = document.activeElement === convertButton || document.activeElement === cancelButton;
  for (const control of [convertButton, fileInput, modeSelect]) control.disabled = on;
  if (!capture) recordButton.disabled = on;
  cancelButton.hidden = !on;
  if (on && focused) cancelButton.focus();
  showOptions();
}

// The files in progress, in the order of the files.
function running() {
  return batch.lanes.filter((c) => c.file).map((c) => c.file).sort((a, b) => a.index - b.index);
}

function showProgress() {
  const percents = running().reduce((sum, file) => sum + file.percent, 0);
  progressBar.value = Math.round((100 * batch.done + percents) / batch.count);
}

// "Converting greeting.ogg: 40%", or for a batch "Converting 5 files, 2 done: greeting.ogg 40%,
// hold.wav 10%".
function progressWords() {
  const files = running();
  const verb = batch.mode === "i" ? "Looking at" : "Converting";
  if (batch.count === 1) return files.length > 0 ? `${verb} ${files[0].name}: ${files[0].percent}%` : statusLine.textContent;
  const named = files.slice(0, NAMED_IN_PROGRESS).map((file) => `${file.name} ${file.percent}%`);
  if (files.length > NAMED_IN_PROGRESS) named.push(`${files.length - NAMED_IN_PROGRESS} more`);
  return `${verb} ${batch.count} files, ${batch.done} done` + (named.length > 0 ? ": " + named.join(", ") : "");
}

function announce() {
  const words = progressWords();
  if (statusLine.textContent !== words) say(words);
}

// The files go to as many workers as the machine has cores (but no more workers than files),
// each taking the next file when it is done with one; the results keep the order of the files.
async function convertEach(mode, options) {
  const files = sources;  // a recording stopped meanwhile chooses anew, for the next conversion
  const count = files.length;
  const workers = Math.max(1, Math.min(count, navigator.hardwareConcurrency || 1));
  while (converters.length < workers) converters.push(startConverter());
  document.body.dataset.workers = String(workers);
  batch = { count, done: 0, lanes: converters.slice(0, workers), cancelled: false, mode };
  const results = new Array(count);
  let next = 0;
  const lane = async (converter) => {
    while (next < count && !batch.cancelled) {
      const index = next++;
      const source = files[index];
      converter.file = { index, name: source.name, percent: 0 };
      try {
        results[index] = await convertOne(converter, source, mode, options);
      } catch (error) {
        // The file changed or went away since it was chosen, or the tab had no memory left for
        // it: it fails alone, and the batch goes on.
        const unreadable = error.name === "NotReadableError" || error.name === "NotFoundError";
        const message = unreadable ? gone(source) : stopped(source);
        results[index] = { name: source.name, code: -1, message, hint: "" };
      }
      converter.file = null;
      batch.done++;
      showProgress();
    }
  };
  const announcing = setInterval(announce, ANNOUNCE_MS);
  try {
    await Promise.all(batch.lanes.map(lane));
  } finally {
    clearInterval(announcing);
    for (const converter of converters.splice(1)) if (converter.worker) converter.worker.terminate();
  }
  // What Cancel stopped, or never started, is left out; what was done stays.
  return { results: results.filter((r) => r && r.code !== CANCELLED), cancelled: batch.cancelled };
}

// Cancel: the workers that run a job are ended at once (a conversion in the module cannot be
// asked to stop between its steps without shared memory), their files count as not converted,
// and no other file starts; the files done stay.
function cancel() {
  if (!batch || batch.cancelled) return;
  batch.cancelled = true;
  for (const converter of batch.lanes) {
    if (!converter.waiting) continue;
    converter.worker.terminate();
    converter.worker = null;
    answer(converter, { code: CANCELLED });
  }
}

async function convertAll(startedAt) {
  await choosing;
  const mode = modeSelect.value;
  const options = mode === "q" ? (levelBox.checked ? OPTION_LEVEL : 0) | (trimBox.checked ? OPTION_TRIM : 0) : 0;
  if (sources.length === 0) {
    say("Choose a file, or record one, first.", true);
    statusLine.focus();
    return;
  }
  const audio = sources.filter((s) => s.kind.audio);
  if (mode === "d" && audio.length > 0 && acknowledged !== choice) {
    acknowledged = choice;
    const [first] = audio;
    const article = /^([AEIOU]|M[P4])/.test(first.kind.label) ? "an" : "a";
    const which = audio.length > 1 ? `${audio.length} of the files look like audio files, not message files`
      : `${first.name} ${first.kind.signed ? `starts like ${article} ${first.kind.label} file` : "is named like an audio file"}, not a message file`;
    say(`${which}: decoding gives noise. Choose ${MODE_NAMES.q}, or press “Decode anyway”.`, true);
    convertButton.textContent = "Decode anyway";
    statusLine.focus();
    return;
  }
  const startedFor = choice;
  clearResult();
  const verb = mode === "i" ? "Looking at" : "Converting";
  say(sources.length === 1 ? `${verb} ${sources[0].name}…` : `${verb} ${sources.length} files…`);
  const { results, cancelled } = await convertEach(mode, options);
  if (startedFor === choice && mode === modeSelect.value) {
    show(results, mode, startedAt, cancelled, sources.length);
  } else {
    // A recording stopped meanwhile: these results are not what is chosen now.
    clearResult();
    say("");
  }
}

function convert() {
  if (busy) return;
  const clickedAt = performance.now();  // the result's data-milliseconds counts from here
  setBusy(true);
  convertAll(clickedAt).catch((error) => {
    say("The page failed: " + error.message, true);
    progressBar.value = 0;
  }).finally(() => {
    setBusy(false);
    if (document.activeElement === document.body) statusLine.focus();
  });
}

convertButton.addEventListener("click", convert);
cancelButton.addEventListener("click", cancel);
fileInput.addEventListener("change", () => chooseFiles([...fileInput.files]));
modeSelect.addEventListener("change", () => {
  modeChanges++;
  clearResult();
  say("");
  showOptions();
});
for (const box of [levelBox, trimBox]) box.addEventListener("change", () => { clearResult(); say(""); });

// Files dropped anywhere on the page are chosen as if picked in the file input.
document.addEventListener("dragover", (event) => {
  if (!event.dataTransfer || !event.dataTransfer.types.includes("Files")) return;
  event.preventDefault();
  event.dataTransfer.dropEffect = busy ? "none" : "copy";
  document.body.classList.add("dragging");
});
document.addEventListener("dragleave", (event) => {
  if (!event.relatedTarget) document.body.classList.remove("dragging");
});
document.addEventListener("drop", (event) => {
  event.preventDefault();
  document.body.classList.remove("dragging");
  const files = event.dataTransfer ? event.dataTransfer.files : [];
  if (files.length === 0) return;
  if (busy) {
    say("Wait for this conversion to end, then drop the files again.");
    return;
  }
  fileInput.files = files;
  chooseFiles([...files]);
});

// Recording: the microphone through an AudioWorklet, float samples at the device's rate, a level
// meter and the time; stopping makes the recording the input and converts it with the chosen mode.
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
    $("mic-level").value = peak;
    const elapsed = Math.floor(count / context.sampleRate);
    $("elapsed").textContent = `${Math.floor(elapsed / 60)}:${String(elapsed % 60).padStart(2, "0")}`;
  };
  context.createMediaStreamSource(stream).connect(node);
  capture = { stream, context, node, chunks, count: () => count };
  recordButton.textContent = "Stop";
  recordButton.setAttribute("aria-pressed", "true");
  say("Recording…");
}

// A recording is named by the time it was made, as a file name can hold it everywhere.
function recordingName(date) {
  const two = (n) => String(n).padStart(2, "0");
  return `recording ${date.getFullYear()}-${two(date.getMonth() + 1)}-${two(date.getDate())} `
    + `${two(date.getHours())}.${two(date.getMinutes())}.${two(date.getSeconds())}.wav`;
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
  $("mic-level").value = 0;
  const samples = new Float32Array(count());
  let at = 0;
  for (const chunk of chunks) { samples.set(chunk, at); at += chunk.length; }
  // 16-bit PCM, which e reads too; q loses nothing audible to it.
  const wave = waveFile(context.sampleRate, samples);
  $("recording").src = blobUrl("recording", wave, "audio/wav");
  $("recording-box").hidden = false;
  fileInput.value = "";
  chooseFiles([new File([wave], recordingName(new Date()), { type: "audio/wav" })]);
  convert();
}

recordButton.addEventListener("click", async () => {
  try {
    if (capture) await stopRecording(); else await startRecording();
  } catch (error) {
    say("The microphone cannot be used: " + error.message, true);
  }
});
