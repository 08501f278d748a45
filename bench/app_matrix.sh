#!/usr/bin/env bash
# Spoken application commands over a matrix of voices and rooms, in English and Brazilian
# Portuguese. Commands and unrelated sentences are synthesized with flite's 16 kHz voices and
# espeak-ng's English and pt-br voices (variants +m1 +f2 +m3 +f4, two speeds), then played
# through rooms with sox (clean, pink noise at 20 dB and 10 dB SNR, reverberation) and made 48 kHz
# stereo, as a microphone gives them. Half of the voices tune the grammar's settings ("tuning"),
# the others are kept aside ("held"); every condition is reported on its own.
#
# Usage: bench/app_matrix.sh [build folder] [garbage,filler,dither ...]
#   QUICK=1     the tuning half only (for a grid of settings)
#   ONLY=en|pt  one language
#   SAMPLE=k    every k-th sentence only
#   VERBOSE=1   every miss
# Synthesized files are kept in <build>/app-matrix and reused.
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-${BUILD:-build}}
shift || true
matrix=$(realpath "$build/bench/bench_app_matrix")
for tool in flite espeak-ng sox; do
  command -v "$tool" >/dev/null || { echo "app matrix: skipped (no $tool)"; exit 0; }
done

. bench/app_catalog.sh
cache="$build/app-matrix"
mkdir -p "$cache"

# desktop-file ID | what is said ("" ID: an unrelated sentence). Acronyms are written as the
# English voices should say them.
english=(
  "firefox|open firefox" "firefox|firefox" "gimp|launch gimp" "gimp|open gimp"
  "org.inkscape.Inkscape|start inkscape" "org.inkscape.Inkscape|inkscape"
  "libreoffice-writer|open libreoffice writer" "libreoffice-calc|libreoffice calc"
  "code|open visual studio code" "code|open v s code" "com.obsproject.Studio|open o b s studio"
  "org.gnome.Calculator|open the calculator" "org.gnome.Terminal|terminal"
  "org.gnome.Terminal|open terminal" "thunderbird|launch thunderbird"
  "vlc|open v l c media player" "spotify|open spotify" "blender|blender"
  "audacity|start audacity" "org.kde.krita|open krita" "steam|open steam" "discord|discord"
  "slack|open slack" "Zoom|zoom" "org.telegram.desktop|open telegram" "chromium|chromium"
  "google-chrome|open chrome" "gnome-control-center|open settings" "org.gnome.Calendar|calendar"
  "org.gnome.Rhythmbox3|open rhythmbox" "org.kde.kdenlive|launch kdenlive"
  "org.gnome.Shotwell|shotwell" "transmission-gtk|open transmission"
  "org.gnome.TextEditor|open text editor" "org.gnome.Nautilus|open files"
  "|what time is it" "|the weather is really nice today" "|please call my mother tomorrow"
  "|how are you doing this morning" "|turn off the lights in the kitchen"
  "|I need to buy some milk and bread" "|remind me about the meeting at noon"
  "|my favorite color is blue" "|where did I leave my keys" "|the train leaves at seven"
)
portuguese=(
  "firefox|abrir o firefox" "google-chrome|abrir o navegador" "google-chrome|abre o chrome"
  "org.gnome.Calculator|abre a calculadora" "org.gnome.Calculator|calculadora"
  "org.gnome.Terminal|abrir o terminal" "org.gnome.Terminal|terminal"
  "org.gnome.Nautilus|abrir arquivos" "gnome-control-center|abre as configurações"
  "gnome-control-center|abrir configurações por favor" "org.gnome.TextEditor|abrir o editor de texto"
  "spotify|abre o spotify" "spotify|abrir o spotify por favor" "org.telegram.desktop|abrir o telegram"
  "org.gnome.Calendar|abre a agenda" "gimp|abrir o gimp" "org.inkscape.Inkscape|iniciar o inkscape"
  "discord|abre o discord" "blender|abrir o blender" "steam|abrir o steam"
  "thunderbird|abre o thunderbird" "vlc|abrir o vlc" "org.kde.krita|abrir o krita" "Zoom|abre o zoom"
  "libreoffice-writer|abrir o libreoffice writer" "audacity|abre o audacity" "slack|abrir o slack"
  "transmission-gtk|abrir o transmission" "org.gnome.Calendar|abrir o calendário"
  "org.gnome.Terminal|abre o terminal por favor"
  "|que horas são" "|o tempo está bonito hoje" "|ligue para minha mãe amanhã"
  "|como você está nesta manhã" "|apague as luzes da cozinha" "|preciso comprar leite e pão"
  "|onde deixei minhas chaves" "|o trem sai às sete horas"
)
# voice | half. flite:<voice>, espeak:<voice>[+variant]@<words per minute>.
english_voices=(
  "flite:slt|tuning" "flite:awb|tuning" "espeak:en-us@175|tuning" "espeak:en-us+m1@175|tuning"
  "espeak:en-us+f2@160|tuning"
  "flite:rms|held" "espeak:en-us@140|held" "espeak:en-us+m3@175|held" "espeak:en-us+f4@150|held"
)
portuguese_voices=(
  "espeak:pt-br@175|tuning" "espeak:pt-br+m1@160|tuning" "espeak:pt-br+f2@175|tuning"
  "espeak:pt-br@140|held" "espeak:pt-br+m3@175|held" "espeak:pt-br+f4@160|held"
)
rooms=(clean n20 n10 reverb)

say() {  # voice text out.wav
  local voice=$1
  case "$voice" in
    flite:*) flite -voice "${voice#flite:}" -t "$2" -o "$3" ;;
    espeak:*)
      local name=${voice#espeak:}
      espeak-ng -v "${name%@*}" -s "${name#*@}" -w "$3" "$2" 2>/dev/null
      ;;
  esac
}

rms() { sox -V1 "$1" -n stat 2>&1 | awk '/RMS +amplitude/ {print $3}'; }

# The room a dry recording goes through, then 48 kHz stereo.
room() {  # dry.wav room out.wav
  local dry=$1 kind=$2 out=$3
  case "$kind" in
    clean) sox -V1 -R "$dry" -r 48000 -c 2 -b 16 "$out" ;;
    reverb) sox -V1 -R "$dry" -r 48000 -c 2 -b 16 "$out" pad 0 0.4 reverb 60 50 80 ;;
    n20 | n10)
      local snr=${kind#n} speech noise gain rate length
      rate=$(soxi -r "$dry")
      length=$(soxi -D "$dry")
      speech=$(rms "$dry")
      sox -V1 -R -n -r "$rate" -c 1 -b 16 "$out.noise.wav" synth "$length" pinknoise vol 0.5
      noise=$(rms "$out.noise.wav")
      gain=$(awk -v s="$speech" -v n="$noise" -v r="$snr" 'BEGIN { print s / n / (10 ^ (r / 20)) }')
      sox -V1 -R -m "$dry" -v "$gain" "$out.noise.wav" -r 48000 -c 2 -b 16 "$out"
      rm -f "$out.noise.wav"
      ;;
  esac
}

manifest="$machine/manifest"
: >"$manifest"
add() {  # language voices-array-name sentences-array-name
  local language=$1
  local -n voices=$2 sentences=$3
  local entry voice half i id text dry tag
  for entry in "${voices[@]}"; do
    voice=${entry%|*}
    half=${entry#*|}
    [ "${QUICK:-0}" = 1 ] && [ "$half" != tuning ] && continue
    tag=$(echo "$voice" | tr ':@+' '-_-')
    i=0
    for sentence in "${sentences[@]}"; do
      if [ $((i % ${SAMPLE:-1})) != 0 ]; then
        i=$((i + 1))
        continue
      fi
      id=${sentence%%|*}
      text=${sentence#*|}
      dry="$cache/$language-$tag-$i.wav"
      [ -s "$dry" ] || say "$voice" "$text" "$dry"
      for kind in "${rooms[@]}"; do
        local wet="$cache/$language-$tag-$i-$kind.wav"
        [ -s "$wet" ] || room "$dry" "$kind" "$wet"
        printf '%s\t%s\t%s\t%s\t%s\t%s\n' "$wet" "$language" "$tag $kind" "$half" "$id" "$text" \
          >>"$manifest"
      done
      i=$((i + 1))
    done
  done
}
[ "${ONLY:-en}" = en ] && add en english_voices english
[ "${ONLY:-pt}" = pt ] && add pt portuguese_voices portuguese

echo "== application commands over voices and rooms: $(wc -l <"$manifest") files, 32 desktop entries"
"$matrix" "$manifest" "$@"

# Real speech, as isolated words against a catalog of those words and distractors: one Brazilian
# speaker (CC0 recordings, tests/data/pt-br-kws) and KTuberling's Portuguese words (8 kHz).
[ "${ONLY:-pt}" = pt ] && [ "${QUICK:-0}" != 1 ] || exit 0
words="$machine/words"
mkdir -p "$words/applications"
export XDG_DATA_HOME="$words"
entry() { printf '[Desktop Entry]\nType=Application\nName=%s\nExec=true\n' "$2" >"$words/applications/$1.desktop"; }
real="$machine/real"
: >"$real"
kws=tests/data/pt-br-kws
if [ -d "$kws" ]; then
  for word in azul verde vermelho amarelo preto branco roxo cinza laranja marrom; do entry "$word" "$word"; done
  for folder in "$kws"/*/; do
    word=$(basename "$folder")
    for wav in "$folder"*.wav; do
      out="$cache/kws-$(basename "$wav")"
      [ -s "$out" ] || sox -V1 "$wav" -r 48000 -c 2 -b 16 "$out"
      printf '%s\tpt\tkws speaker\treal\t%s\t%s\n' "$out" "$word" "$word" >>"$real"
    done
  done
  echo "== real speech: one speaker, azul / verde / vermelho against 10 colour names"
  "$matrix" "$real" "$@"
fi
tuberling=/usr/share/ktuberling/sounds/pt
if [ -d "$tuberling" ]; then
  rm -f "$words"/applications/*.desktop
  : >"$real"
  for wav in "$tuberling"/*.wav; do
    word=$(basename "$wav" .wav)
    entry "$word" "${word//-/ }"
    out="$cache/tuberling-$word.wav"
    [ -s "$out" ] || sox -V1 "$wav" -r 48000 -c 2 -b 16 "$out"
    printf '%s\tpt\tktuberling 8 kHz\treal\t%s\t%s\n' "$out" "$word" "$word" >>"$real"
  done
  echo "== real speech: KTuberling's 13 Portuguese words (8 kHz) against each other"
  "$matrix" "$real" "$@"
fi
