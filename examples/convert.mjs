// One conversion through the aamsg npm package, with the tool's arguments: prints the report and
// the status, as convert.c and convert.py do.
//
//   npm install aamsg-1.2.0.tgz      # make npm builds it into build-npm/
//   node convert.mjs q --level --trim greeting.wav greeting.msg
//
// Exits with the status's number: 0 when the conversion succeeded; a failure's words also go to
// standard error.
import { readFile, writeFile } from "node:fs/promises";
import process from "node:process";
import { AamsgError, Status, convert, statusText, version } from "aamsg";

function usage() {
  process.stderr.write("usage: convert.mjs e|d|q [--level[=DB]] [--trim] [--flat] INFILE OUTFILE\n");
  return Status.INVALID_ARGUMENT;
}

// The options of convert() and the two file names; null if they do not parse.
function parse(args) {
  const options = {};
  const files = [];
  for (const arg of args) {
    if (arg === "--trim" || arg === "--flat") options[arg.slice(2)] = true;
    else if (arg === "--level") options.level = true;
    else if (arg.startsWith("--level=")) {
      const text = arg.slice("--level=".length);
      const level = Number(text);
      if (text.trim() === "" || !Number.isFinite(level)) return null;  // the library checks the range
      options.level = level;
    } else if (!arg.startsWith("--") && files.length < 2) files.push(arg);
    else return null;
  }
  return files.length === 2 ? { options, files } : null;
}

const snake = (name) => name.replace(/[A-Z]/g, (letter) => "_" + letter.toLowerCase());

function printReport(report) {
  for (const [name, value] of Object.entries(report)) {
    if (name === "findings") console.log("findings:" + value.map((finding) => " " + finding.name).join(""));
    else if (typeof value === "string") console.log(`${snake(name)}: ${value}`);
    else if (typeof value === "boolean") console.log(`${snake(name)}: ${value ? 1 : 0}`);
    else if (/Db$|Seconds$/.test(name) && name !== "seconds") console.log(`${snake(name)}: ${value.toFixed(name.startsWith("trimmed") ? 3 : 2)}`);
    else console.log(`${snake(name)}: ${value}`);
  }
}

async function main(argv) {
  if (argv.length < 3 || argv[0].length !== 1) return usage();
  const parsed = parse(argv.slice(1));
  if (!parsed) return usage();
  const { options, files: [infile, outfile] } = parsed;
  // The tool takes the mode in either case.
  options.mode = argv[0].toLowerCase();
  let report, status;
  try {
    const converted = await convert(await readFile(infile), options);
    await writeFile(outfile, converted.output);
    ({ report } = converted);
    status = Status.OK;
  } catch (error) {
    if (!(error instanceof AamsgError)) throw error;
    if (error.status === Status.INVALID_ARGUMENT) return usage();  // a mode or level refused
    // What a file cut short held is converted, as the tool does.
    if (error.status === Status.CORRUPTED) await writeFile(outfile, error.output);
    ({ report, status } = error);
    process.stderr.write(`convert.mjs: ${error.text}\n`);
  }
  console.log(`aamsg ${version}`);
  printReport(report);
  console.log(`status: ${status} (${await statusText(status)})`);
  return status;
}

process.exitCode = await main(process.argv.slice(2));
