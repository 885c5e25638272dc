// Runs the conversions in the WebAssembly module, off the page's thread.
"use strict";
importScripts("aamsg.js");
const ready = createAamsg();
ready.then(() => self.postMessage({ type: "ready" }));

function writeString(m, text) {
  const size = m.lengthBytesUTF8(text) + 1;
  const at = m._malloc(size);
  m.stringToUTF8(text, at, size);
  return at;
}

self.onmessage = async (event) => {
  try {
    await convert(event.data);
  } catch (error) {
    // Never silent: the page shows what went wrong.
    self.postMessage({ type: "done", code: 106, message: "Internal error: " + error, output: null, preview: null });
  }
};

async function convert({ mode, bytes, inputName, outputName }) {
  const m = await ready;
  const input = new Uint8Array(bytes);
  const at = m._malloc(Math.max(input.length, 1));
  m.HEAPU8.set(input, at);
  const inName = writeString(m, inputName);
  const outName = writeString(m, outputName);
  const code = m._aamsg_convert(mode.charCodeAt(0), at, input.length, inName, outName);
  // The heap may have grown during the call: read it afresh.
  const copy = (pointer, size) => m.HEAPU8.slice(pointer, pointer + size).buffer;
  const output = copy(m._aamsg_output(), m._aamsg_output_size());
  const preview = copy(m._aamsg_preview(), m._aamsg_preview_size());
  const message = m.UTF8ToString(m._aamsg_message());
  const clipped = m._aamsg_clipped();
  const samples = m._aamsg_samples();
  m._free(at);
  m._free(inName);
  m._free(outName);
  self.postMessage({ type: "done", code, message, output, preview, clipped, samples }, [output, preview]);
}
