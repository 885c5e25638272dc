// aamsg in Node: the module's .wasm is read from this package's folder.
import { readFile } from "node:fs/promises";
import { compileWith } from "./core.js";

compileWith(async () => WebAssembly.compile(await readFile(new URL("./aamsg-module.wasm", import.meta.url))));

export { Status, AamsgError, DEFAULT_LEVEL_DB, MIN_LEVEL_DB, MAX_LEVEL_DB, convert, inspect, statusText, version } from "./core.js";
