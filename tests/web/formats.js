// A file of every format q reads, made by sox, ffmpeg, lame and flac, for the page's tests under
// node (test_formats.js) and in Chromium (test_page.py, through `node formats.js FOLDER`, which
// makes them in FOLDER and prints the table as JSON).
//
// `differs` is how many bytes of the module's message may differ from the command line's for
// the same file, with the page's options (level and trim). Every format decoded in integers
// (PCM, FLAC, ALAC, the older WAVE encodings, MP2 and MP3, AAC, AC-3) gives the very bytes, and
// so, as measured, do the Vorbis and WMA decoders, which compute in floats. The Opus and AMR
// decoders' floats come out otherwise in their last bits than from Debian's builds (whose x86
// vector code sums in another order): that moves the measured level by a hair, and the search
// then takes another path of codes as good as the first (the two messages, decoded, lie 21 to
// 43 dB apart, about as far as either lies from the sound). Each bound is what was measured, and
// a tenth more.
'use strict';
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');

const ROOT = path.resolve(__dirname, '..', '..');
// Written by a small program over VisualOn's encoder when the build has it (libvo-amrwbenc-dev).
const AMRWB_ENCODE = path.join(ROOT, 'build', 'tests', 'amrwb_encode');

// Sources without sox's dither, the same each run: two seconds of tones that come and go.
const TONES = ['synth', '2', 'sine', '300-900', 'sine', '1130', 'tremolo', '3', '60'];
const SOURCES = {
  'tones.wav': ['-r', '48000', '-c', '2', '-b', '16'],
  'u8.wav': ['-r', '11025', '-c', '1', '-b', '8', '-e', 'unsigned'],
  's24.wav': ['-r', '44100', '-c', '6', '-b', '24'],
  'f32.wav': ['-r', '22050', '-c', '2', '-b', '32', '-e', 'floating-point'],
};

const FORMATS = [
  // file (each of its own name, as the page's batch names them), made from, by (SRC and DST
  // stand for the files), bytes that may differ
  ['tones.wav', null, null, 0],
  ['u8.wav', null, null, 0],
  ['s24.wav', null, null, 0],
  ['f32.wav', null, null, 0],
  ['rf64.wav', 'tones.wav', 'ffmpeg -v error -i SRC -rf64 always DST', 0],
  ['w64.w64', 's24.wav', 'sox -D -V1 SRC DST', 0],
  ['aiff.aiff', 'tones.wav', 'sox -D -V1 SRC DST', 0],
  ['f32c.aifc', 'f32.wav', 'sox -D -V1 SRC DST', 0],
  ['caf.caf', 's24.wav', 'sox -D -V1 SRC DST', 0],
  ['au.au', 'u8.wav', 'sox -D -V1 SRC -e signed DST', 0],
  ['voc.voc', 'tones.wav', 'sox -D -V1 SRC DST', 0],
  ['flac.flac', 'tones.wav', 'flac --totally-silent -o DST SRC', 0],
  ['flac24.flac', 's24.wav', 'flac --totally-silent -o DST SRC', 0],
  ['alac.m4a', 'tones.wav', 'ffmpeg -v error -i SRC -c:a alac DST', 0],
  ['ulaw.wav', 'tones.wav', 'sox -D -V1 SRC -e u-law DST', 0],
  ['alaw.wav', 'tones.wav', 'sox -D -V1 SRC -e a-law DST', 0],
  ['gsm.wav', 'tones.wav', 'sox -D -V1 SRC -r 8000 -c 1 -e gsm-full-rate DST', 0],
  ['msadpcm.wav', 'tones.wav', 'sox -D -V1 SRC -e ms-adpcm DST', 0],
  ['imaadpcm.wav', 'tones.wav', 'sox -D -V1 SRC -e ima-adpcm DST', 0],
  ['ima4.aifc', 'tones.wav', 'ffmpeg -v error -i SRC -c:a adpcm_ima_qt -f aiff DST', 0],
  ['lame.mp3', 'tones.wav', 'lame --quiet -b 64 SRC DST', 0],
  ['tagged.mp3', 'tones.wav', 'ffmpeg -v error -i SRC -c:a libmp3lame -b:a 64k -metadata title=Hold DST', 0],
  ['mp2.mp2', 'tones.wav', 'ffmpeg -v error -i SRC -c:a mp2 DST', 0],
  ['aac.m4a', 'tones.wav', 'ffmpeg -v error -i SRC -c:a aac -b:a 64k DST', 0],
  ['mov.mov', 'tones.wav', 'ffmpeg -v error -i SRC -c:a aac DST', 0],
  ['adts.aac', 'tones.wav', 'ffmpeg -v error -i SRC -c:a aac DST', 0],
  ['video.mp4', 'tones.wav',
    'ffmpeg -v error -f lavfi -i testsrc=size=64x48:rate=5 -i SRC -shortest -map 0:v -map 1:a -c:v mpeg4 -c:a aac DST', 0],
  ['ac3.ac3', 'tones.wav', 'ffmpeg -v error -i SRC -c:a ac3 DST', 0],
  ['vorbis.ogg', 'tones.wav', 'sox -D -V1 SRC DST', 0],
  ['vorbismkv.mkv', 'tones.wav', 'ffmpeg -v error -i SRC -c:a libvorbis DST', 0],
  ['opus.opus', 'tones.wav', 'ffmpeg -v error -i SRC -c:a libopus -b:a 32k DST', 2350],
  ['opuswebm.webm', 'tones.wav', 'ffmpeg -v error -i SRC -c:a libopus DST', 115],
  ['wmav1.wma', 'tones.wav', 'ffmpeg -v error -i SRC -c:a wmav1 DST', 0],
  ['wmav2.wma', 'tones.wav', 'ffmpeg -v error -i SRC -c:a wmav2 DST', 0],
  ['amrnb.amr', 'tones.wav', 'sox -D -V1 SRC -r 8000 -c 1 -t amr-nb DST', 4270],
  ['amrnb3gp.3gp', 'amrnb.amr', 'ffmpeg -v error -i SRC -c copy DST', 4270],
  ['amrwb.awb', 'tones.wav', `sox -D -V1 SRC -r 16000 -c 1 -t raw -b 16 -e signed DST.raw && ${AMRWB_ENCODE} DST.raw DST && rm DST.raw`, 4310],
  ['amrwb3gp.3gp', 'amrwb.awb', 'ffmpeg -v error -i SRC -c copy DST', 4310],
];

// Makes every file in `folder` (once) and gives the table: { file, path, differs }.
function makeFormats(folder) {
  const table = [];
  for (const [file, from, by, differs] of FORMATS) {
    if (by && by.includes(AMRWB_ENCODE) && !fs.existsSync(AMRWB_ENCODE)) continue;
    const destination = path.join(folder, file);
    if (!fs.existsSync(destination)) {
      if (!by) execFileSync('sox', ['-D', '-n', ...SOURCES[file], destination, ...TONES]);
      else execFileSync('sh', ['-c', by.replaceAll('SRC', `'${path.join(folder, from)}'`).replaceAll('DST', `'${destination}'`)]);
    }
    table.push({ file, path: destination, differs });
  }
  return table;
}

// Bytes of `a` that are not those of `b` at the same place, the longer one's tail included.
function bytesDiffering(a, b) {
  let count = Math.abs(a.length - b.length);
  for (let i = 0; i < Math.min(a.length, b.length); i++) count += a[i] !== b[i] ? 1 : 0;
  return count;
}

module.exports = { makeFormats, bytesDiffering };

if (require.main === module) process.stdout.write(JSON.stringify(makeFormats(process.argv[2])));
