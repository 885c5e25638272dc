// aamsg: auto-attendant message files from any recording, and back (aamsg.h, as WebAssembly).

/** What a conversion or an inspection came to: aamsg_status of aamsg.h. */
export declare const Status: Readonly<{
  OK: 0; CANNOT_OPEN_INPUT: 1; CANNOT_OPEN_OUTPUT: 2; OUTPUT_IS_INPUT: 3; WRITE_FAILED: 4; READ_FAILED: 5;
  NOT_AUDIO: 6; NOT_PCM_WAVE: 7; CORRUPTED: 8; TOO_LONG: 9; OUT_OF_MEMORY: 10; INTERNAL: 11; CANCELLED: 12;
  INVALID_ARGUMENT: 13; NO_AUDIO_STREAM: 14;
}>;
export type Status = (typeof Status)[keyof typeof Status];

/** The speech level q brings a prompt to by default, and the levels it can be asked for (dB of full scale). */
export declare const DEFAULT_LEVEL_DB: -22;
export declare const MIN_LEVEL_DB: -60;
export declare const MAX_LEVEL_DB: -3;
/** The library's version, "MAJOR.MINOR.PATCH". */
export declare const version: string;

/** Told each whole percent, 0 to 100; a true answer (or an exception) stops the call with CANCELLED. */
export type Progress = (percent: number) => boolean | void;

export interface Options {
  /** "e": a PCM WAVE file exactly as the format's historical encoder; "d": a message to a WAVE file; "q" (default): any audio file to the best-sounding message. */
  mode?: "e" | "d" | "q";
  /** q: bring the active speech level to DEFAULT_LEVEL_DB (true) or to this many dB (MIN_LEVEL_DB to MAX_LEVEL_DB). */
  level?: boolean | number;
  /** q: remove the silence before and after the speech. */
  trim?: boolean;
  /** q: the codes of least plain error, without shaping the noise (for music on hold). */
  flat?: boolean;
  /** q: threads for the code search; the WebAssembly module searches on one, and the codes never depend on it. */
  threads?: number;
  progress?: Progress;
}

/** One thing wrong with a prompt's sound. */
export interface Finding {
  /** "no_speech", "noise_only", "too_quiet", "too_loud", "clipped", "silence_start", "silence_end", "noisy", "dc_offset", "large_gain" */
  name: string;
  /** its AAMSG_FINDING_* flag */
  flag: number;
  /** what it is judged by, in its own unit (dB, seconds, samples, a share of full scale); null for no_speech */
  threshold: number | null;
  /** what is wrong and what to do about it */
  text: string;
}

/** What a conversion did: aamsg_report of aamsg.h (q's fields are 0 for e and d). */
export interface Report {
  finished: boolean;
  seconds: number;
  samples: number;
  clipped: number;
  notNumbers: number;
  levelMeasured: boolean;
  speechFound: boolean;
  levelBeforeDb: number;
  levelAfterDb: number;
  gainDb: number;
  trimmedStartSeconds: number;
  trimmedEndSeconds: number;
  greedyCodes: boolean;
  /** on a failure, what exactly was wrong, in a short English sentence; "" on success */
  detail: string;
  /** words without the input's numbers */
  findings: Finding[];
}

/** What a file's sound says: aamsg_inspection of aamsg.h. Levels in dB of full scale; -200 is digital silence. */
export interface Inspection {
  isMessage: boolean;
  format: string;
  rate: number;
  channels: number;
  seconds: number;
  speechFound: boolean;
  levelDb: number;
  activity: number;
  peakDb: number;
  clippedSamples: number;
  clippedPlaces: number;
  silenceStartSeconds: number;
  silenceEndSeconds: number;
  noiseFloorDb: number;
  speechToNoiseDb: number;
  dcOffset: number;
  gainDb: number;
  /** words with the file's numbers */
  findings: Finding[];
  /** for drawing the waveform: columns of `run` samples, each one's lowest and highest sample (-1 to 1), and the columns where a clipped place ends */
  picture: { run: number; low: number[]; high: number[]; clipped: number[] };
}

export declare class AamsgError extends Error {
  status: Status;
  /** the library's words for the status */
  text: string;
  /** what exactly was wrong (a conversion's report.detail), or "" */
  detail: string;
  /** convert: the Report; inspect: the Inspection as far as the file went (CORRUPTED), else null */
  report: Report | Inspection | null;
  /** convert: what was converted before the failure */
  output: Uint8Array;
}

export type Bytes = Uint8Array | ArrayBuffer | ArrayBufferView;

/** Converts the bytes of a file; rejects with AamsgError. */
export declare function convert(input: Bytes, options?: Options): Promise<{ output: Uint8Array; report: Report }>;
/** Measures the bytes of a file: audio as q reads it, anything else as a message; rejects with AamsgError. */
export declare function inspect(input: Bytes, options?: { progress?: Progress }): Promise<Inspection>;
/** A status in the library's words ("the input is corrupted"). */
export declare function statusText(status: Status): Promise<string>;
