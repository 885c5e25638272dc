// aamsg in browsers, workers and bundlers: the module's .wasm is fetched from beside this file.
export { Status, AamsgError, DEFAULT_LEVEL_DB, MIN_LEVEL_DB, MAX_LEVEL_DB, convert, inspect, statusText, version } from "./core.js";
