// Runs the conversions in the WebAssembly module, off the page's thread, one job at a time.
"use strict";
importScripts("aamsg.js");

// WebAssembly memory never shrinks: each job gets a fresh instance, and the one that ran it
// (grown to the job's size) is dropped, so the worker holds only the initial memory between jobs.
let spare = createAamsg();
spare.then(() => self.postMessage({ type: "ready" }), () => {});

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
    reply = convert(await instance, job);
  } catch (error) {
    // An abort (out of memory, most likely) or a module that did not load: the page words it.
    reply = { code: 106, failed: String(error), transfer: [] };
  }
  spare = createAamsg();
  const { transfer, ...data } = reply;
  self.postMessage({ type: "done", id: job.id, ...data }, transfer);
  spare.then((m) => self.postMessage({ type: "idle", memory: m.HEAPU8.length }), () => {});
};

// Mode "i" inspects the file without converting it. The sounds (what was given and, for e and
// q, the message as the phone plays it) come as the module words them, pictures and findings.
function convert(m, { mode, bytes, inputName, outputName, options, levelDb }) {
  const input = new Uint8Array(bytes);
  const at = m._malloc(Math.max(input.length, 1));
  m.HEAPU8.set(input, at);
  const inName = writeString(m, inputName);
  const outName = writeString(m, outputName);
  const code = mode === "i" ? m._aamsg_inspect(at, input.length, inName)
    : m._aamsg_convert(mode.charCodeAt(0), at, input.length, inName, outName, options, levelDb);
  // The heap may have grown during the call: read it afresh.
  const copy = (pointer, size) => m.HEAPU8.slice(pointer, pointer + size).buffer;
  const output = copy(m._aamsg_output(), m._aamsg_output_size());
  const preview = copy(m._aamsg_preview(), m._aamsg_preview_size());
  const sounds = m.UTF8ToString(m._aamsg_sounds());
  return {
    code, output, preview, transfer: [output, preview],
    message: m.UTF8ToString(m._aamsg_message()), ...(sounds ? JSON.parse(sounds) : {}),
    clipped: m._aamsg_clipped(), samples: m._aamsg_samples(),
    levelBefore: m._aamsg_level_before(), levelAfter: m._aamsg_level_after(), gain: m._aamsg_gain(),
    trimmedStart: m._aamsg_trimmed_start(), trimmedEnd: m._aamsg_trimmed_end(), memory: m.HEAPU8.length,
  };
}
