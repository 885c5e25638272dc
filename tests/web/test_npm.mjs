// The npm package as a user installs it: its tarball (make npm) installed into a scratch project
// with npm, no registry involved; examples/convert.mjs run there gives the command line's bytes,
// and the report and status the Python example prints, for every mode, q's options and the
// failures; a progress callback that answers true cancels; the TypeScript declarations check a
// program that uses them, and refuse one that misuses them (tsc, Debian's node-typescript).
import assert from "node:assert";
import { execFileSync, spawnSync } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import test from "node:test";
import { fileURLToPath } from "node:url";

const ROOT = path.resolve(path.dirname(fileURLToPath(import.meta.url)), "..", "..");
const TOOL = path.join(ROOT, "build", "aamsg");
const [TARBALL] = fs.readdirSync(path.join(ROOT, "build-npm")).filter((name) => /^aamsg-.*\.tgz$/.test(name));
const work = fs.mkdtempSync(path.join(os.tmpdir(), "aamsg-npm-"));
test.after(() => fs.rmSync(work, { recursive: true, force: true }));

const project = path.join(work, "project");
fs.mkdirSync(project);
fs.writeFileSync(path.join(project, "package.json"), JSON.stringify({ name: "scratch", private: true, type: "module" }));
execFileSync("npm", ["install", "--offline", "--no-audit", "--no-fund", "--silent", path.join(ROOT, "build-npm", TARBALL)],
  { cwd: project, stdio: ["ignore", "ignore", "inherit"] });
fs.copyFileSync(path.join(ROOT, "examples", "convert.mjs"), path.join(project, "convert.mjs"));

const file = (name, bytes) => {
  fs.writeFileSync(path.join(work, name), bytes);
  return path.join(work, name);
};
const run = (command, args, env = {}) => spawnSync(command, args, { cwd: project, env: { ...process.env, ...env } });

// Inputs made by real tools: the bundled recording, an MP3 of it (lame), a message of it, a file
// cut short, and bytes that are no audio.
const wav = path.join(ROOT, "samples", "thank-you.wav");
const mp3 = path.join(work, "thank-you.mp3");
execFileSync("lame", ["--quiet", "-b", "64", wav, mp3]);
const msg = path.join(work, "thank-you.msg");
execFileSync(TOOL, ["e", wav, msg], { stdio: "ignore" });
const whole = fs.readFileSync(wav);
const cut = file("cut.wav", whole.subarray(0, Math.floor(whole.length / 2) + 1));
const text = file("notes.txt", Buffer.from("hello, not audio"));

test("convert.mjs through the installed package gives the tool's bytes and the Python example's report", () => {
  const cases = [  // arguments, the status
    [["e", wav], 0], [["d", msg], 0], [["q", wav], 0], [["q", "--level", "--trim", mp3], 0], [["q", "--level=-30", "--flat", wav], 0],
    [["Q", "--trim", wav], 0], [["e", mp3], 6], [["q", text], 6], [["e", cut], 8], [["q", cut], 8],
  ];
  for (const [args, status] of cases) {
    const label = args.join(" ");
    const ours = path.join(work, "ours.out"), theirs = path.join(work, "theirs.out"), python = path.join(work, "python.out");
    for (const out of [ours, theirs, python]) fs.rmSync(out, { force: true });
    const node = run("node", ["convert.mjs", ...args, ours]);
    assert.strictEqual(node.status, status, `${label}: ${node.stderr}`);
    assert.strictEqual(node.stderr.length > 0, status !== 0, `${label}: words on standard error only after a failure`);
    const tool = spawnSync(TOOL, [...args, theirs]);
    assert.strictEqual(tool.status === 0, status === 0, label);
    // What a file cut short holds is converted, as the tool does; any other failure writes nothing.
    if (status === 0 || status === 8) {
      assert.deepStrictEqual(fs.readFileSync(ours), fs.readFileSync(theirs), `${label}: the tool's bytes`);
    } else {
      assert.ok(!fs.existsSync(ours), `${label}: no output after a failure`);
    }
    const py = run("python3", [path.join(ROOT, "examples", "convert.py"), ...args, python],
      { AAMSG_LIBRARY: path.join(ROOT, "build", "libaamsg.so.0"), PYTHONPATH: path.join(ROOT, "python") });
    assert.strictEqual(node.stdout.toString(), py.stdout.toString(), `${label}: the Python example's report and status`);
  }
  for (const refused of [["x", wav], ["q", "--level=loud", wav], ["q", "--level=-70", wav], ["q", wav]]) {
    const node = run("node", ["convert.mjs", ...refused, ...(refused.length > 2 ? [path.join(work, "never.out")] : [])]);
    assert.strictEqual(node.status, 13, refused.join(" "));
    assert.match(node.stderr.toString(), /^usage: convert\.mjs/);
  }
});

test("the package's own calls: progress, cancel, inspect, statuses", () => {
  const script = `
    import { readFileSync } from "node:fs";
    import { convert, inspect, Status, AamsgError } from "aamsg";
    const wav = readFileSync(${JSON.stringify(wav)});
    const marks = [];
    await convert(wav, { progress: (p) => { marks.push(p); } });
    let cancelled = null;
    try { await convert(wav, { progress: (p) => p >= 30 }); } catch (e) { cancelled = e; }
    const both = await Promise.all([convert(wav, { mode: "e" }), convert(new Uint8Array(wav), { mode: "e" })]);
    const sound = await inspect(wav.buffer.slice(wav.byteOffset, wav.byteOffset + wav.length));
    const message = await inspect(readFileSync(${JSON.stringify(msg)}));
    let bad = null;
    try { await convert(wav, { mode: "z" }); } catch (e) { bad = e; }
    console.log(JSON.stringify({ marks, cancelled: cancelled instanceof AamsgError && cancelled.status === Status.CANCELLED,
      same: Buffer.compare(both[0].output, both[1].output) === 0, sound: [sound.format, sound.channels, sound.picture.low.length > 500],
      message: [message.isMessage, message.format, message.rate], bad: bad && bad.status }));`;
  fs.writeFileSync(path.join(project, "calls.mjs"), script);
  const done = run("node", ["calls.mjs"]);
  assert.strictEqual(done.status, 0, done.stderr.toString());
  const seen = JSON.parse(done.stdout);
  assert.deepStrictEqual(seen.marks, Array.from({ length: 101 }, (_, i) => i));
  assert.ok(seen.cancelled && seen.same);
  const inspected = JSON.parse(execFileSync(TOOL, ["i", "--json", wav]))["files"][0];
  assert.deepStrictEqual(seen.sound, [inspected.format, inspected.channels, true]);
  assert.deepStrictEqual(seen.message, [true, "message", 8000]);
  assert.strictEqual(seen.bad, 13);
});

test("the TypeScript declarations", { skip: !fs.existsSync("/usr/bin/tsc") && "tsc is not installed (Debian: node-typescript)" }, () => {
  const good = `import { convert, inspect, Status, AamsgError, type Report } from "aamsg";
    const { output, report }: { output: Uint8Array; report: Report } = await convert(new Uint8Array(4), { mode: "q", level: -20, trim: true, progress: (p: number) => p > 50 });
    const status: Status = Status.CORRUPTED;
    const levels: number[] = (await inspect(output)).findings.map((f) => f.threshold ?? 0);
    try { await convert(new ArrayBuffer(8)); } catch (e) { if (e instanceof AamsgError && e.status === status) console.log(e.text, e.output.length, report.gainDb, levels); }
    export {};`;
  const tsc = (source) => {
    fs.writeFileSync(path.join(project, "use.ts"), source);
    return run("tsc", ["--noEmit", "--strict", "--target", "es2022", "--module", "nodenext", "--moduleResolution", "nodenext",
      "--lib", "es2022,dom", "use.ts"]);
  };
  const checked = tsc(good);
  assert.strictEqual(checked.status, 0, checked.stdout.toString());
  for (const misuse of [`{ mode: "x" }`, `{ level: "loud" }`, `{ trim: 1 }`]) {
    const refused = tsc(`import { convert } from "aamsg"; await convert(new Uint8Array(4), ${misuse}); export {};`);
    assert.notStrictEqual(refused.status, 0, misuse);
  }
});
