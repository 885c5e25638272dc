// Runs the conversions in the WebAssembly module, off the page's thread, one job at a time. In a
// page that is cross-origin isolated, the threaded module, whose search runs on as many threads
// as the job asks for (its pool of workers is made with each instance).
"use strict";
let THREADED = self.crossOriginIsolated === true;
try {
  importScripts(THREADED ? "aamsg-threads.js" : "aamsg.js");
} catch (error) {
  // Offline before the threaded module was ever fetched: the one the service worker keeps.
  if (!THREADED) throw error;
  THREADED = false;
  importScripts("aamsg.js");
}
// The pool's workers load the module's script by this name (the worker's own is this file).
const create = () => createAamsg(THREADED ? { mainScriptUrlOrBlob: "aamsg-threads.js" } : {});

// WebAssembly memory never shrinks: each job gets a fresh instance, and the one that ran it
// (grown to the job's size) is dropped, its threads' workers ended, so the worker holds only the
// initial memory between jobs.
let spare = create();
spare.then(() => self.postMessage({ type: "ready", threaded: THREADED }), () => {});

function writeString(m, text) {
  const size = m.lengthBytesUTF8(text) + 1;
  const at = m._malloc(size);
  m.stringToUTF8(text, at, size);
  return at;
}

self.onmessage = async (event) => {
  const job = event.data;
  const instance = spare;
  let reply;
  try {
    const m = await instance;
    m._aamsg_set_threads(THREADED ? job.threads : 1);
    // For the tests and the timing script: the threads the job started.
    let started = 0;
    if (m.PThread) {
      const take = m.PThread.getNewWorker;
      m.PThread.getNewWorker = () => { started++; return take.call(m.PThread); };
    }
    reply = { ...convert(m, job), threadsStarted: started };
    if (m.PThread) m.PThread.terminateAllThreads();
  } catch (error) {
    // An abort (out of memory, most likely) or a module that did not load: the page words it.
    reply = { code: 106, failed: String(error), transfer: [] };
  }
  spare = create();
  const { transfer, ...data } = reply;
  self.postMessage({ type: "done", id: job.id, ...data }, transfer);
  spare.then((m) => self.postMessage({ type: "idle", memory: m.HEAPU8.length }), () => {});
};

const DESCRIBE = 8;  // the module's option: inspect the input and the message too

// Chromium answers each FileReaderSync call in about a millisecond, whatever its size, and the
// library reads 16 to 64 kB at a time (about a thousand calls for a minute of CD audio): the mounted
// file is read in pieces of PIECE bytes, and the library's reads are served from the last one.
const PIECE = 1 << 20;
function readInPieces(m) {
  const ops = m.FS.filesystems.WORKERFS.stream_ops;
  const reader = new FileReaderSync();
  let held = { blob: null, start: 0, bytes: new Uint8Array(0) };
  ops.read = (stream, buffer, offset, length, position) => {
    const blob = stream.node.contents;
    if (position >= blob.size) return 0;
    const end = Math.min(position + length, blob.size);
    if (held.blob !== blob || position < held.start || end > held.start + held.bytes.length) {
      const next = blob.slice(position, Math.min(blob.size, position + Math.max(PIECE, length)));
      held = { blob, start: position, bytes: new Uint8Array(reader.readAsArrayBuffer(next)) };
    }
    // A file that shrank since it was chosen gives what it still holds.
    const got = held.bytes.subarray(position - held.start, end - held.start);
    buffer.set(got, offset);
    return got.length;
  };
}

// Mode "i" inspects the file without converting it. A File is mounted in the module's file system
// and read in pieces as the library asks (FileReaderSync); bytes are converted in memory. The
// sounds (what was given and, for e and q, the message as the phone plays it) come as the module
// words them, pictures and findings.
function convert(m, { mode, file, bytes, inputName, outputName, options, levelDb }) {
  const inName = writeString(m, inputName);
  const outName = writeString(m, outputName);
  let code;
  if (file) {
    m.FS.mkdir("/input");
    readInPieces(m);
    m.FS.mount(m.FS.filesystems.WORKERFS, { blobs: [{ name: "file", data: file }] }, "/input");
    const inPath = writeString(m, "/input/file");
    code = mode === "i" ? m._aamsg_inspect_path(inPath, inName)
      : m._aamsg_convert_path(mode.charCodeAt(0), inPath, writeString(m, "/output"), inName, outName, options | DESCRIBE, levelDb);
  } else {
    const input = new Uint8Array(bytes);
    const at = m._malloc(Math.max(input.length, 1));
    m.HEAPU8.set(input, at);
    code = m._aamsg_convert(mode.charCodeAt(0), at, input.length, inName, outName, options | DESCRIBE, levelDb);
  }
  // The heap may have grown during the call, on another thread too: reading a string through the
  // module brings its view of the heap up to date.
  const message = m.UTF8ToString(m._aamsg_message());
  const copy = (pointer, size) => m.HEAPU8.slice(pointer, pointer + size).buffer;
  const output = copy(m._aamsg_output(), m._aamsg_output_size());
  const preview = copy(m._aamsg_preview(), m._aamsg_preview_size());
  const sounds = m.UTF8ToString(m._aamsg_sounds());
  return {
    code, output, preview, transfer: [output, preview],
    message, ...(sounds ? JSON.parse(sounds) : {}),
    clipped: m._aamsg_clipped(), samples: m._aamsg_samples(),
    levelBefore: m._aamsg_level_before(), levelAfter: m._aamsg_level_after(), gain: m._aamsg_gain(),
    trimmedStart: m._aamsg_trimmed_start(), trimmedEnd: m._aamsg_trimmed_end(), memory: m.HEAPU8.length,
  };
}
