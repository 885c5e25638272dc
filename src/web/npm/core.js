// The package's functions over the WebAssembly module: each call runs in an instance of its own
// (created from the module compiled once), so that calls may overlap and the memory a large
// file took is given back when the call ends. The module's conversions are the library's own.
import createAamsg from "./aamsg-module.mjs";

/** What a conversion or an inspection came to: aamsg_status of aamsg.h. */
export const Status = Object.freeze({
  OK: 0,
  CANNOT_OPEN_INPUT: 1,
  CANNOT_OPEN_OUTPUT: 2,
  OUTPUT_IS_INPUT: 3,
  WRITE_FAILED: 4,
  READ_FAILED: 5,
  NOT_AUDIO: 6,
  NOT_PCM_WAVE: 7,
  CORRUPTED: 8,
  TOO_LONG: 9,
  OUT_OF_MEMORY: 10,
  INTERNAL: 11,
  CANCELLED: 12,
  INVALID_ARGUMENT: 13,
  NO_AUDIO_STREAM: 14,
});

// aamsg.h's levels, in dB of full scale.
export const DEFAULT_LEVEL_DB = -22;
export const MIN_LEVEL_DB = -60;
export const MAX_LEVEL_DB = -3;

/** A conversion or inspection that failed, as the Python module's aamsg.Error. */
export class AamsgError extends Error {
  constructor(status, text, report = null, output = new Uint8Array(0)) {
    const detail = report && typeof report.detail === "string" ? report.detail : "";
    super(detail ? `${text}: ${detail} (status ${status})` : `${text} (status ${status})`);
    this.name = "AamsgError";
    this.status = status;
    this.text = text;
    this.detail = detail;
    this.report = report;
    this.output = output;
  }
}

let compiled = null;  // the WebAssembly module, compiled at the first call
let compile = null;

/** Sets how the .wasm is compiled: node.js reads it from its folder. */
export function compileWith(how) {
  compile = how;
}

async function instance(progress) {
  if (!compiled) {
    compiled = (compile || (() => WebAssembly.compileStreaming(fetch(new URL("./aamsg-module.wasm", import.meta.url)))))();
  }
  const module = await compiled;
  const m = await createAamsg({
    instantiateWasm: (imports, receive) => {
      WebAssembly.instantiate(module, imports).then((made) => receive(made));
      return {};
    },
  });
  // A true answer stops the call, which then fails with CANCELLED; an exception too, and is
  // thrown again once the module has returned.
  m.raised = null;
  m.onProgress = progress ? (percent) => {
    try {
      return Boolean(progress(percent));
    } catch (error) {
      m.raised = error;
      return true;
    }
  } : null;
  return m;
}

function bytesOf(input) {
  if (input instanceof Uint8Array) return input;
  if (input instanceof ArrayBuffer) return new Uint8Array(input);
  if (ArrayBuffer.isView(input)) return new Uint8Array(input.buffer, input.byteOffset, input.byteLength);
  throw new TypeError("the input must be a Uint8Array, an ArrayBuffer or another view of bytes");
}

function text(m, value) {
  const size = m.lengthBytesUTF8(value) + 1;
  const at = m._malloc(size);
  m.stringToUTF8(value, at, size);
  return at;
}

function place(m, bytes) {
  const at = m._malloc(Math.max(1, bytes.length));
  m.HEAPU8.set(bytes, at);
  return at;
}

const MODES = { e: "e", d: "d", q: "q" };
const OPTION_FLAT = 1;
const OPTION_LEVEL = 2;
const OPTION_TRIM = 4;

// The module's option bits and level from the package's options.
function optionsOf({ mode = "q", level = false, trim = false, flat = false, threads = 0 }) {
  if (!MODES[mode]) throw new AamsgError(Status.INVALID_ARGUMENT, `the mode must be "e", "d" or "q", not ${JSON.stringify(mode)}`);
  if (!Number.isInteger(threads) || threads < 0) throw new AamsgError(Status.INVALID_ARGUMENT, "threads must be a whole number, 0 or more");
  let levelDb = DEFAULT_LEVEL_DB;
  if (typeof level === "number") levelDb = level;
  else if (level !== true && level !== false && level !== null && level !== undefined) {
    throw new AamsgError(Status.INVALID_ARGUMENT, "level must be true, false or a number of dB");
  }
  const bits = (flat ? OPTION_FLAT : 0) | (level !== false && level !== null && level !== undefined ? OPTION_LEVEL : 0) | (trim ? OPTION_TRIM : 0);
  return { mode, bits, levelDb };
}

/**
 * Converts the bytes of a file: "e" a PCM WAVE file exactly as the format's historical encoder,
 * "d" a message to a WAVE file, "q" (the default) any audio file to the message that sounds
 * best. Resolves to { output, report }; rejects with AamsgError (its `output` holds what was
 * converted before the failure, as for a file cut short).
 */
export async function convert(input, options = {}) {
  const bytes = bytesOf(input);
  const { mode, bits, levelDb } = optionsOf(options);
  const m = await instance(options.progress);
  const at = place(m, bytes);
  // The names only go into the module's console message, which this package does not give.
  m._aamsg_convert(mode.charCodeAt(0), at, bytes.length, text(m, "input"), text(m, "output"), bits, levelDb);
  const status = m._aamsg_job_status();
  const output = m.HEAPU8.slice(m._aamsg_output(), m._aamsg_output() + m._aamsg_output_size());
  const report = JSON.parse(m.UTF8ToString(m._aamsg_report_json()));
  if (m.raised) throw m.raised;
  if (status !== Status.OK) throw new AamsgError(status, m.UTF8ToString(m._aamsg_words_of(status)), report, output);
  return { output, report };
}

/**
 * Measures the bytes of a file: an audio file as q reads it, anything else as a message as the
 * phone plays it. Resolves to the inspection (aamsg_inspection's fields, its findings in words
 * with the file's numbers, and a picture of the sound); rejects with AamsgError.
 */
export async function inspect(input, options = {}) {
  const bytes = bytesOf(input);
  const m = await instance(options.progress);
  const at = place(m, bytes);
  m._aamsg_inspect(at, bytes.length, text(m, "input"));
  const status = m._aamsg_job_status();
  const sounds = m.UTF8ToString(m._aamsg_sounds());
  const inspection = sounds ? JSON.parse(sounds).sound : null;
  if (m.raised) throw m.raised;
  if (status !== Status.OK) throw new AamsgError(status, m.UTF8ToString(m._aamsg_words_of(status)), inspection);
  return inspection;
}

/** A status in the library's words ("the input is corrupted"). */
export async function statusText(status) {
  const m = await instance(null);
  return m.UTF8ToString(m._aamsg_words_of(status));
}

/** This package's version: the library's. */
export const version = "@VERSION@";
