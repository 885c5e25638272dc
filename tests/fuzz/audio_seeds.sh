#!/usr/bin/env bash
# Adds to the fuzzer's corpus a short file of every format q reads, made by sox, ffmpeg and lame
# (those present), each after the byte that chooses q (see fuzz_convert.cpp).
#   tests/fuzz/audio_seeds.sh CORPUS_DIR
set -u
corpus=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sox -n -r 8000 -c 2 "$work/src.wav" synth 0.05 sine 440 sine 660 2>/dev/null || exit 0
while IFS='|' read -r name command; do
  [ -n "$name" ] || continue
  command=${command//SRC/$work/src.wav}
  command=${command//DST/$work/$name}
  if eval "$command" >/dev/null 2>&1; then
    { printf '\002'; cat "$work/$name"; } >"$corpus/seed-$name"
  fi
done <<'LIST'
pcm.aiff|sox SRC DST
float.aifc|sox SRC -e floating-point DST
pcm.caf|sox SRC DST
pcm.w64|sox SRC DST
pcm.voc|sox SRC DST
ulaw.au|sox SRC -e u-law DST
gsm.wav|sox SRC -c 1 -e gsm-full-rate DST
msadpcm.wav|sox SRC -e ms-adpcm DST
imaadpcm.wav|sox SRC -e ima-adpcm DST
rf64.wav|ffmpeg -v error -i SRC -rf64 always DST
flac.flac|sox SRC DST
vorbis.ogg|sox SRC DST
amrnb.amr|sox SRC -c 1 -t amr-nb DST
lame.mp3|lame --quiet -b 32 SRC DST
mp2.mp2|ffmpeg -v error -i SRC -c:a mp2 -f mp2 DST
opus.opus|ffmpeg -v error -i SRC -c:a libopus -f opus DST
aac.m4a|ffmpeg -v error -i SRC -c:a aac -movflags +faststart -f mp4 DST
alac.m4a|ffmpeg -v error -i SRC -c:a alac -movflags +faststart -f mp4 DST
aac.3gp|ffmpeg -v error -i SRC -ac 1 -c:a aac -f 3gp DST
adts.aac|ffmpeg -v error -i SRC -c:a aac -f adts DST
opus.webm|ffmpeg -v error -i SRC -c:a libopus -f webm DST
vorbis.mkv|ffmpeg -v error -i SRC -c:a libvorbis -f matroska DST
wmav2.wma|ffmpeg -v error -i SRC -c:a wmav2 -f asf DST
ac3.ac3|ffmpeg -v error -i SRC -c:a ac3 -f ac3 DST
LIST
