#!/usr/bin/env bash
# Runs every benchmark against the release build and prints its figures.
set -uo pipefail
cd "$(dirname "$0")/.."
build=${BUILD:-build}

echo "== emit: event lines per second (items_per_second), one and four threads"
"$build/bench/bench_emit" --benchmark_min_time=1

echo
echo "== catalog: one resolution over 2,000 bundles and 500 desktop entries (goal: under 2 ms)"
"$build/bench/bench_resolution" --benchmark_min_time=0.5

echo
echo "== catalog: --find as a whole process over 2,000 bundles and 500 desktop entries,"
echo "   against cat of the same files (goal: ratio at most 1.5)"
(
  machine=$(mktemp -d)
  trap 'rm -rf "$machine"' EXIT
  "$build/bench/earshot_make_catalog" "$machine/root" >/dev/null
  find "$machine/root" -type f >"$machine/files"
  export HOME="$machine/root/home" XDG_DATA_HOME="$machine/root/data" XDG_DATA_DIRS="$machine/none"
  hyperfine --style basic --warmup 3 --min-runs 20 --export-csv "$machine/times.csv" \
    -n find "$(realpath "$build/earshot") --find 'studio quantum 1001x'" \
    -n cat "xargs -d '\\n' -a '$machine/files' cat >/dev/null"
  awk -F, '$1 == "find" { find = $2 } $1 == "cat" { cat = $2 }
    END { printf "find %.1f ms, cat %.1f ms, ratio %.2f\n", find * 1000, cat * 1000, find / cat }' "$machine/times.csv"
)

echo
echo "== hot keys: a key event at the X server to the press callback on the main thread"
# Starts its own Xvfb.
if command -v Xvfb >/dev/null; then
  "$build/bench/bench_hotkey_latency" 1000 || echo "hot-key latency: failed"
else
  echo "hot-key latency: skipped (no Xvfb)"
fi

echo
echo "== listening mode: the real binary, 50 holds driven with XTest on a private Xvfb and PulseAudio"
echo "   daemon, a flite sentence played into the microphone during every other hold"
if command -v Xvfb >/dev/null && command -v pulseaudio >/dev/null; then
  "$build/bench/bench_listen_holds" 50 10 || echo "listening holds: failed"
else
  echo "listening holds: skipped (no Xvfb or no PulseAudio)"
fi

echo
echo "== listening mode: threads created per second of a hold, and the \"held\" of short taps right"
echo "   after \"ready\" and with a frozen sound server"
if command -v Xvfb >/dev/null && command -v pulseaudio >/dev/null; then
  "$build/bench/bench_listen_stalls" 5 10 || echo "listening stalls: failed"
else
  echo "listening stalls: skipped (no Xvfb or no PulseAudio)"
fi

echo "== portal: the stand-in's press and release to \"down\" and \"up\", 40 holds on a private bus"
echo "   with xdg-desktop-portal (goal: under 5 ms beyond the portal's own delivery)"
"$build/bench/bench_portal_holds" 40 || echo "portal holds: failed"
echo "   the same while the first bind waits for the desktop's answer (host press and release)"
"$build/bench/bench_portal_holds" 20 --pending || echo "portal holds during a bind: failed"

echo
echo "== portal on KDE: the chord pressed and released through KWin's fake-input protocol to"
echo "   \"down\" and \"up\", 40 holds (KWin's virtual back end, xdg-desktop-portal-kde)"
if [ -x /usr/bin/kwin_wayland ]; then
  "$build/bench/bench_portal_holds" --kwin 40 || echo "portal holds on KWin: failed"
else
  echo "portal holds on KWin: skipped (no kwin-wayland: scripts/install-deps.sh --kwin)"
fi
# --- Capture path: one 2048-frame buffer of 48 kHz stereo folded, metered and converted to 16 kHz.
capture_path() {
  echo
  echo "== capture path (goal: at least 500 times faster than real time)"
  local json
  json=$("$build/bench/bench_capture" --benchmark_format=json 2>/dev/null) || { echo "bench_capture failed"; return; }
  printf '%s\n' "$json" | awk -F': *' '
    /"cpu_time"/ { gsub(/,/, "", $2); ns = $2 }
    /"realtime"/ { gsub(/,/, "", $2); rate = $2 }
    END { printf "per buffer: %.1f us of CPU for 42.7 ms of audio = %.0fx real time\n\n", ns / 1000, rate }'

}

# --- File transcription against PocketSphinx's own continuous decoder on the same recordings:
# whole-process time (best of three rounds over all recordings) and word error rates.
file_transcription() {
  echo "== --file vs pocketsphinx_continuous -infile (goals: time ratio <= 1.2, WER no worse than +2 points)"
  local data=/usr/share/pocketsphinx/test/data/librivox
  local files=() refs=()
  while read -r line; do
    files+=("$data/$(sed -n 's/.*(\(.*\))$/\1/p' <<<"$line").wav")
    refs+=("$(sed -e 's/([^)]*)$//' -e 's/<\/\?s>//g' <<<"$line")")
  done <"$data/transcription"
  # And a few synthesized sentences (16 kHz mono, which both tools read).
  local synth
  synth=$(mktemp -d)
  trap 'rm -rf "$synth"' RETURN
  local sentences=("open the calendar and play some music" "please call my sister tomorrow morning"
    "the weather is nice today" "turn off the lights in the kitchen")
  for i in "${!sentences[@]}"; do
    flite -voice slt -t "${sentences[$i]}" -o "$synth/$i.wav" && files+=("$synth/$i.wav") &&
      refs+=("${sentences[$i]}")
  done

  ours() { "$build/earshot" --file "$1" --language en </dev/null | sed -n 's/.*"text":"\([^"]*\)".*/\1/p'; }
  theirs() { pocketsphinx_continuous -infile "$1" -logfn /dev/null 2>/dev/null | tr '\n' ' '; }

  local tool best total start end
  calc() { awk "BEGIN { printf \"%.6f\", $1 }"; }
  declare -A seconds
  for tool in ours theirs; do
    best=""
    for round in 1 2 3; do
      start=$(date +%s.%N)
      for f in "${files[@]}"; do "$tool" "$f" >/dev/null; done
      end=$(date +%s.%N)
      total=$(calc "$end - $start")
      if [ -z "$best" ] || [ "$(calc "$total < $best")" != 0.000000 ]; then best=$total; fi
    done
    seconds[$tool]=$best
  done

  local errors_ours=0 errors_theirs=0 words=0 i e n
  for i in "${!files[@]}"; do
    read -r e n < <("$build/bench/bench_word_errors" "${refs[$i]}" "$(ours "${files[$i]}")")
    errors_ours=$((errors_ours + e)); words=$((words + n))
    read -r e n < <("$build/bench/bench_word_errors" "${refs[$i]}" "$(theirs "${files[$i]}")")
    errors_theirs=$((errors_theirs + e))
  done
  printf 'recordings: %d, 5 read from a book and %d synthesized (%d words)\n' "${#files[@]}" \
    "$((${#files[@]} - 5))" "$words"
  printf 'earshot --file:          %.2f s\n' "${seconds[ours]}"
  printf 'pocketsphinx_continuous: %.2f s\n' "${seconds[theirs]}"
  printf 'time ratio: %.2f\n' "$(calc "${seconds[ours]} / ${seconds[theirs]}")"
  printf 'word error rate: earshot %.1f%%, pocketsphinx_continuous %.1f%%\n\n' \
    "$(calc "100 * $errors_ours / $words")" "$(calc "100 * $errors_theirs / $words")"
}

# --- File mode memory: peak resident memory and time of --file on long recordings made here (none
# is kept in the tree), against the figures of the build that held the whole file decoded.
file_memory() {
  echo "== --file peak memory and time on long recordings (goal: under 250 MB whatever the length)"
  local long
  long=$(mktemp -d)
  trap 'rm -rf "$long"' RETURN
  local data=/usr/share/pocketsphinx/test/data/librivox
  "$build/bench/bench_long_recording" silence 20 48000 2 "$long/silence.wav" || return
  "$build/bench/bench_long_recording" speech 20 "$long/speech20.wav" "$data"/*.wav || return
  "$build/bench/bench_long_recording" speech 4 "$long/speech4.wav" "$data"/*.wav || return
  measure() {
    local kb seconds cpu
    read -r kb seconds cpu < <("$build/bench/bench_peak_memory" "$build/earshot" --file "$long/$1" --language en)
    printf '%-58s %5.0f MB peak, %6.1f s, %6.1f s of CPU   (before: %s)\n' "$2" "$(calc "$kb / 1024")" \
      "$seconds" "$cpu" "$3"
  }
  calc() { awk "BEGIN { printf \"%.6f\", $1 }"; }
  measure silence.wav "20 min of silence, 48 kHz stereo" "1865 MB, 8.0 s"
  measure speech4.wav "4 min of speech, 16 kHz mono" "408 MB, 113 s"
  # Recognition runs at about twice real time: this one ends at the 180 s limit either way.
  measure speech20.wav "20 min of speech, 16 kHz mono (ends at the 180 s limit)" "1645 MB, 180 s"
}

# --- The recognizer's second passes on and off: word error rate through the file path and the
# end of a take's input to its last final.
second_passes() {
  echo "== recognizer second passes (-fwdflat, -bestpath): word errors and end of input to final"
  "$build/bench/bench_sphinx_passes" 3 || echo "bench_sphinx_passes failed"
  echo
}

# --- Dictation as a host sees it: "stop" written to "final" read over five flite sentences on a
# private daemon, and the resident memory of the process after its take.
dictation_stop() {
  echo "== --dictate: \"stop\" to \"final\" (goal: the 0.28 s tail plus at most 0.15 s), memory after a take (goal: at most 130 MB)"
  if command -v pulseaudio >/dev/null && command -v flite >/dev/null; then
    "$build/bench/bench_dictation_stop" "$build/earshot" || echo "bench_dictation_stop failed"
  else
    echo "dictation stop: skipped (no pulseaudio or flite)"
  fi
  echo
}

capture_path
second_passes
dictation_stop
file_transcription
file_memory

# --- Application names: the grammar for 2,500 applications, end of input to final with it, and
# spoken commands through --file --app-names then --find, with and without the flag.
echo "== application grammar"
"$build/bench/bench_app_grammar" || echo "bench_app_grammar failed"
echo
bench/app_names.sh "$build"
bench/app_matrix.sh "$build"

# --- The listener under many holds of random timing on a private Xvfb and sound server (the soak
# test with its full count): every hold closes once, and resident memory stays flat.
echo
echo "== listener soak: ${EARSHOT_SOAK_HOLDS:-1000} holds (goal: at most 130 MB after them, flat)"
if command -v Xvfb >/dev/null && command -v xdotool >/dev/null; then
  soak=$(EARSHOT_SOAK_HOLDS=${EARSHOT_SOAK_HOLDS:-1000} "$build/tests/earshot_soak_tests" 2>&1)
  status=$?
  sed -n 's/^soak: //p' <<<"$soak"
  [ "$status" -eq 0 ] || { echo "listener soak: failed"; tail -n 30 <<<"$soak"; }
else
  echo "listener soak: skipped (no Xvfb or xdotool)"
fi
