// The web page's module reads every format itself, as the command line does.
//
// Runs the module the page serves (build-web/aamsg.js and .wasm) under node, on a file of every
// format (tests/web/formats.js makes them with sox, ffmpeg, lame and flac), with the page's q
// (level and trim on), and compares each message with what build/aamsg q --level --trim writes
// for the same file: the same bytes, but for the formats whose decoders compute in floats, where
// at most the table's count of bytes may differ.
//
//   make web build && node --test tests/web/test_formats.js
'use strict';
const assert = require('node:assert');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const test = require('node:test');
const { makeFormats, bytesDiffering } = require('./formats.js');

const ROOT = path.resolve(__dirname, '..', '..');
const PAGE = path.join(ROOT, 'build-web');
const TOOL = path.join(ROOT, 'build', 'aamsg');
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'aamsg-formats-'));
test.after(() => fs.rmSync(work, { recursive: true, force: true }));

// node's fetch does not read files: the module's one request, for its .wasm, is answered from disk.
globalThis.fetch = async (url) => new Response(fs.readFileSync(url), { headers: { 'Content-Type': 'application/wasm' } });
const createAamsg = require(path.join(PAGE, 'aamsg.js'));

// q as the page's worker calls it: level to -22 dB (2) and trim (4), a fresh module a job.
async function moduleBest(file) {
  const m = await createAamsg({ locateFile: (name) => path.join(PAGE, name) });
  const input = fs.readFileSync(file);
  const at = m._malloc(input.length);
  m.HEAPU8.set(input, at);
  const text = (s) => {
    const size = m.lengthBytesUTF8(s) + 1;
    const p = m._malloc(size);
    m.stringToUTF8(s, p, size);
    return p;
  };
  const code = m._aamsg_convert('q'.charCodeAt(0), at, input.length, text(path.basename(file)), text('out.msg'), 2 | 4, -22);
  return { code, message: m.UTF8ToString(m._aamsg_message()),
           output: Buffer.from(m.HEAPU8.subarray(m._aamsg_output(), m._aamsg_output() + m._aamsg_output_size())) };
}

function commandLineBest(file) {
  execFileSync(TOOL, ['q', '--level', '--trim', file, file + '.msg'], { stdio: ['ignore', 'ignore', 'inherit'] });
  return fs.readFileSync(file + '.msg');
}

for (const { file, path: made, differs } of makeFormats(work)) {
  test(`q on ${file}`, async (t) => {
    const ours = await moduleBest(made);
    assert.strictEqual(ours.code, 0, ours.message);
    const theirs = commandLineBest(made);
    const count = bytesDiffering(ours.output, theirs);
    t.diagnostic(`${count} of ${theirs.length} bytes differ`);
    assert.ok(count <= differs, `${file}: ${count} of ${theirs.length} bytes differ from the command line's (at most ${differs})`);
  });
}
