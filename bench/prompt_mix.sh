#!/usr/bin/env bash
# Writes a set of prompts as one 8 kHz 16-bit mono WAVE file (an input adpcm-xq takes as it is):
# phrases of espeak-ng's voices in nine languages and of codec2-examples' real voices, in turn,
# with the pauses between phrases that prompts have, some digitally silent and some holding a
# room's low noise and hum. About 106 s; the same bytes every run. Needs sox, espeak-ng and
# codec2-examples (Debian).
#   bench/prompt_mix.sh OUTPUT.wav
set -euo pipefail
out=${1:?usage: prompt_mix.sh OUTPUT.wav}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
raw=/usr/share/codec2/raw
to8k=(-r 8000 -c 1 -b 16 -e signed)

speak() {  # voice, text
  espeak-ng -v "$1" -s 150 -w "$work/voice.wav" "$2"
  sox -R "$work/voice.wav" "${to8k[@]}" "$work/phrase-$((n++)).wav"
}
real() {  # recording (8 kHz raw unless a rate is given), rate, seconds kept
  sox -R -t raw -r "${2:-8000}" -e signed -b 16 -c 1 "$raw/$1.raw" "${to8k[@]}" "$work/phrase-$((n++)).wav" ${3:+trim 0 "$3"}
}

n=0
speak en-us "Thank you for calling. All our agents are busy. Please stay on the line."
real hts1a
speak de "Vielen Dank für Ihren Anruf. Bitte bleiben Sie in der Leitung."
real kristoff
speak fr+f2 "Merci de votre appel. Veuillez patienter, nous allons vous mettre en relation."
real cq_ref
speak es "Gracias por llamar. Para ventas, pulse uno. Para soporte, pulse dos."
real hts2 16000
speak it "Grazie per aver chiamato. I nostri uffici sono aperti dal lunedì al venerdì."
real big_dog
speak nl "Bedankt voor uw oproep. Een ogenblik geduld, wij verbinden u door."
real morig
speak pt+f4 "Obrigado por ligar. Por favor aguarde enquanto transferimos a sua chamada."
real forig
speak ru "Спасибо за звонок. Пожалуйста, оставайтесь на линии."
real vk5qi 8000 6
speak en-gb+m3 "Our office hours are Monday to Friday, nine to five. Press zero for the operator."
real mmt1
real f2400
speak en-us+f3 "To leave a message, please wait for the tone."

# Pauses: digital silence, and a quiet room (brown noise about 60 dB under full scale, a faint
# 50 Hz hum), of 0.4 to 1.6 s.
for i in $(seq 0 $((n - 1))); do
  seconds=$(printf '0.%d' $((4 + (i * 7) % 12)))
  [ $(((i * 7) % 12)) -lt 6 ] || seconds=1.$(((i * 7) % 12 - 6))
  if [ $((i % 2)) -eq 0 ]; then
    sox -R -n "${to8k[@]}" "$work/pause-$i.wav" trim 0 "$seconds"
  else
    sox -R -n "${to8k[@]}" "$work/pause-$i.wav" synth "$seconds" brownnoise vol 0.003 synth "$seconds" sine mix 50 vol 0.5
  fi
done
parts=()
for i in $(seq 0 $((n - 1))); do parts+=("$work/pause-$i.wav" "$work/phrase-$i.wav"); done
sox -R "${parts[@]}" "$work/pause-0.wav" "$out"
