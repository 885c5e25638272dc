#!/usr/bin/env bash
# Times a batch of prompts converted by one `aamsg q --out-dir` run against a shell loop of
# single runs, side by side (hyperfine, median of several runs): 20 one-minute recordings at
# 44.1 kHz stereo, plain and with --level --trim. Needs sox, espeak-ng and hyperfine (Debian).
#   bench/batch.sh [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
work=${BENCH_DIR:-build/bench-batch}
mkdir -p "$work/in" "$work/out"
make -s build >/dev/null
tool=$PWD/build/aamsg

# A minute of speech with pauses, as prompts are recorded: one spoken sentence repeated, with a
# second of silence before and after, at 44.1 kHz stereo, each file at its own level.
if [ ! -f "$work/in/prompt-20.wav" ]; then
  espeak-ng -v en-us -s 150 -w "$work/sentence.wav" \
    "Thank you for calling. All our agents are busy. Please hold and your call will be answered in turn."
  for i in $(seq 1 20); do
    sox "$work/sentence.wav" -r 44100 -c 2 -b 16 "$work/in/prompt-$i.wav" repeat 9 trim 0 58 pad 1 1 vol "0.$((i % 9 + 1))"
  done
fi

loop() { for f in "$work"/in/*.wav; do "$tool" q "$@" "$f" "$work/out/$(basename "${f%.wav}").msg" >/dev/null; done; }
export -f loop
export tool work
hyperfine --shell=bash --runs "$runs" --warmup 1 --export-markdown "$work/batch.md" \
  -n "batch: aamsg q --out-dir (20 files)" "$tool q --out-dir=$work/out $work/in/*.wav >/dev/null" \
  -n "shell loop of single runs" "loop" \
  -n "batch with --level --trim" "$tool q --level --trim --out-dir=$work/out $work/in/*.wav >/dev/null" \
  -n "shell loop with --level --trim" "loop --level --trim"
cat "$work/batch.md"
