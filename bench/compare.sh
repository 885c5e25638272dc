#!/usr/bin/env bash
# Times aamsg against sox and the peer encoder adpcm-xq doing the same job, side by side, median
# of several runs, and measures aamsg's peak memory on small and large inputs. Needs sox,
# hyperfine, espeak-ng and codec2-examples (Debian packages) and adpcm-xq's sources (ADPCM_XQ: the
# directory with its build.sh; its rows are left out without it); builds aamsg in Release first.
# The speech is 75 s of one real voice (ve9qrp) and a set of prompts (bench/prompt_mix.sh: voices
# in nine languages with pauses); for each, the ratios q / adpcm-xq -5 and q --flat / -5 -f.
#   bench/compare.sh [runs]
# SPEECH_ONLY=1 times the two speech inputs alone.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-7}
work=${BENCH_DIR:-build/bench-data}
mkdir -p "$work"
make -s build >/dev/null
tool=build/aamsg
xq_src=${ADPCM_XQ:-/work/shared/peers/adpcm-xq}
xq=""
if [ -f "$xq_src/build.sh" ]; then
  sh "$xq_src/build.sh" "$work/adpcm-xq" && xq=$work/adpcm-xq
fi

# A 60-minute message: 28.8 million samples, 14.4 MB of codes (random codes: the worst case
# for the codec's branches).
[ -f "$work/60min.msg" ] || head -c 14400000 /dev/urandom >"$work/60min.msg"
# A 10-minute 44.1 kHz 16-bit stereo recording: a swept tone with noise.
[ -f "$work/10min.wav" ] || sox -n -r 44100 -c 2 -b 16 "$work/10min.wav" synth 600 sine 200-3000 synth 600 whitenoise mix vol 0.5
# 75 s of a real voice at 8 kHz, 16-bit mono: an input adpcm-xq takes as it is.
[ -f "$work/speech75.wav" ] || sox -t raw -r 8000 -e signed -b 16 -c 1 /usr/share/codec2/raw/ve9qrp.raw "$work/speech75.wav" trim 0 75
# 106 s of prompts: synthetic and real voices, pauses of silence and of a quiet room.
[ -f "$work/prompts.wav" ] || bench/prompt_mix.sh "$work/prompts.wav"
# q --flat (the search without noise shaping) where this build has it.
sox -n -r 8000 -b 16 -c 1 "$work/probe.wav" synth 0.1 sine 440
flat=()
if "$tool" q --flat "$work/probe.wav" "$work/probe.msg" >/dev/null 2>&1; then flat=(--flat); fi

names=()
if [ -z "${SPEECH_ONLY:-}" ]; then
  echo "== decode: 60-minute message (14.4 MB) =="
  hyperfine -N --warmup 1 --runs "$runs" --export-json "$work/decode.json" \
    "$tool d $work/60min.msg $work/out-aamsg.wav" \
    "sox -t ima -r 8000 -c 1 $work/60min.msg -b 16 $work/out-sox.wav" >/dev/null
  echo "== encode: 10-minute 44.1 kHz stereo WAVE (106 MB) =="
  hyperfine -N --warmup 1 --runs "$runs" --export-json "$work/encode.json" \
    "$tool e $work/10min.wav $work/out-aamsg.msg" \
    "$tool q $work/10min.wav $work/out-aamsg-q.msg" \
    "sox $work/10min.wav -t ima -r 8000 -c 1 $work/out-sox.msg" \
    "sox $work/10min.wav -t ima $work/out-soxq.msg channels 1 rate -q 8000" >/dev/null
  names+=(decode encode)
fi
if [ -n "$xq" ]; then
  for input in speech75 prompts; do
    echo "== encode: $input, 8 kHz 16-bit mono WAVE =="
    speech=("$tool q $work/$input.wav $work/out-q.msg")
    [ ${#flat[@]} -eq 0 ] || speech+=("$tool q --flat $work/$input.wav $work/out-q.msg")
    for options in "-2 -f" "-5" "-5 -f"; do
      speech+=("$xq -q -y -r -b0 -i $options $work/$input.wav $work/out-xq.msg")
    done
    hyperfine -N --warmup 1 --runs "$runs" --export-json "$work/$input.json" "${speech[@]}" >/dev/null
    names+=("$input")
  done
  if [ -z "${SPEECH_ONLY:-}" ]; then
    # Looking 8 samples ahead takes about a minute and a half: one run.
    hyperfine -N --runs 1 --export-json "$work/speech8.json" \
      "$xq -q -y -r -b0 -i -8 -f $work/speech75.wav $work/out-xq.msg" >/dev/null
    names+=(speech8)
  fi
fi

python3 - "$work" "${names[@]}" <<'PY'
import json, sys
work = sys.argv[1]
base = None
def label(command):  # "q", "flat", or adpcm-xq's options ("-5 -f")
    words = command.split()
    if "adpcm-xq" in command:
        return " ".join(w for w in words[words.index("-i") + 1:] if w.startswith("-"))
    return "flat" if "--flat" in words else "q"
for name in sys.argv[2:]:
    results = json.load(open(f"{work}/{name}.json"))["results"]
    if name != "speech8":  # one more row of the first speech table, against its q
        base = results[0]["median"]
        print(f"{name}:")
    for r in results:
        print(f"  {r['median']*1000:9.1f} ms median  ({r['median']/base:5.2f}x aamsg)  {r['command']}")
    # The goal: q no slower than adpcm-xq -5, q --flat no slower than -5 -f, side by side.
    if name in ("speech75", "prompts"):
        by = {label(r["command"]): r["median"] for r in results}
        print(f"  ratio q / adpcm-xq -5: {by['q'] / by['-5']:.2f}")
        if "flat" in by:
            print(f"  ratio q --flat / adpcm-xq -5 -f: {by['flat'] / by['-5 -f']:.2f}")
PY

# The instruction set the search runs here.
if [ -x build-bench/bench/aamsg_search_eval ]; then
  echo "search's instruction set: $(build-bench/bench/aamsg_search_eval "$work/probe.wav" | sed -n 's/^total .* (\(.*\))$/\1/p')"
fi
[ -z "${SPEECH_ONLY:-}" ] || exit 0
echo "== peak resident memory (KiB) =="
head -c 1000000 /dev/urandom >"$work/1mb.msg"
truncate -s 1000000000 "$work/1gb.msg"  # sparse: zero codes, decodes like any other bytes
python3 - "$work" <<'PY'
import struct, sys
work = sys.argv[1]
# A 1 GB 16-bit stereo WAVE file without writing 1 GB: a header, then a sparse tail.
def wave(path, data_bytes):
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", 36 + data_bytes) + b"WAVEfmt " + struct.pack("<IHHIIHH", 16, 1, 2, 44100, 176400, 4, 16))
        f.write(b"data" + struct.pack("<I", data_bytes))
        f.truncate(44 + data_bytes)
wave(f"{work}/1mb.wav", 1000000)
wave(f"{work}/100mb.wav", 100000000)
wave(f"{work}/1gb.wav", 1000000000)
PY
for f in 1mb.msg 1gb.msg; do
  printf '  decode %-8s %s\n' "$f" "$(/usr/bin/time -f %M "$tool" d "$work/$f" /dev/null 2>&1 >/dev/null)"
done
for f in 1mb.wav 1gb.wav; do
  printf '  encode %-8s %s\n' "$f" "$(/usr/bin/time -f %M "$tool" e "$work/$f" /dev/null 2>&1 >/dev/null)"
done
for f in 1mb.wav 100mb.wav 1gb.wav; do
  printf '  q %-6s %-9s %s\n' "${flat[*]:-}" "$f" "$(/usr/bin/time -f %M "$tool" q "${flat[@]}" "$work/$f" /dev/null 2>&1 >/dev/null)"
done
