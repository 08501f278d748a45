#!/usr/bin/env bash
# Shows a few event lines of the real binary.
set -u
bin=${1:-build/earshot}
show() {
  printf '$ earshot %s\n' "$*"
  "$bin" "$@" </dev/null
  printf '  (exit status %d)\n\n' $?
}

# Everything started here is ended on the way out, whatever happens on the way.
scratch=$(mktemp -d)
started=()
cleanup() {
  local pid
  for pid in "${started[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${started[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

# A private Xvfb; sets `xvfb_display` (such as ":3"), or leaves it empty when none starts.
start_xvfb() {
  xvfb_display=""
  command -v Xvfb >/dev/null || return 1
  local fifo number
  fifo=$scratch/displayfd.${#started[@]}
  mkfifo "$fifo" || return 1
  Xvfb -displayfd 3 -nolisten tcp -screen 0 640x480x24 3>"$fifo" >/dev/null 2>&1 &
  started+=($!)
  number=$(timeout 10 head -n1 "$fifo")
  rm -f "$fifo"
  [ -n "$number" ] && xvfb_display=":$number"
}

# The survey needs a display: without one, a private Xvfb stands in for the session.
if [ -z "${DISPLAY:-}" ] && start_xvfb; then
  export DISPLAY=$xvfb_display
  printf '(a private Xvfb on %s stands in for the desktop)\n\n' "$DISPLAY"
fi

show --find
show --keys --language en
show --keys
# Looks up an application on this machine (answers "not-found" when none matches).
show --find terminal --language en

# File transcription of a bundled recording (Debian's pocketsphinx-testdata, installed by the
# install script), or of a sentence synthesized with flite when that is missing.
recording=/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-0880.wav
if [ ! -r "$recording" ]; then
  recording=$scratch/spoken.wav
  flite -voice slt -t "open the calendar and play some music" -o "$recording"
fi
show --file "$recording" --language en

if ! command -v pulseaudio >/dev/null || ! command -v paplay >/dev/null; then
  echo "(no PulseAudio: the dictation and the hold are left out)"
  exit 0
fi

# A private sound server whose null sink stands in for the microphone.
pa=$scratch/pulse
mkdir -p "$pa/home" "$pa/run"
printf 'autospawn = no\n' >"$pa/client.conf"
export PULSE_SERVER="unix:$pa/run/native" PULSE_CLIENTCONFIG="$pa/client.conf"
HOME="$pa/home" XDG_RUNTIME_DIR="$pa/run" PULSE_RUNTIME_PATH="$pa/run" DISPLAY="" \
  pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --use-pid-file=no \
  -L "module-native-protocol-unix socket=$pa/run/native auth-anonymous=1" \
  -L "module-null-sink sink_name=mic" >/dev/null 2>&1 &
started+=($!)
for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
pactl set-default-source mic.monitor >/dev/null 2>&1
# A fresh null sink is slow to serve its first low-latency reader; keep one reading.
parec -d mic.monitor >/dev/null 2>&1 &
started+=($!)
sleep 0.5

# A short dictation: the recording played into the microphone in real time, then "stop".
printf '$ earshot --dictate --language en    (the recording plays, then "stop")\n'
{ sleep 1; paplay -d mic "$recording"; sleep 0.8; echo stop; sleep 2; } |
  timeout 60 "$bin" --dictate --language en | grep -v '"level"'
printf '  (exit status %d; "level" lines left out)\n\n' "${PIPESTATUS[1]}"

# One hold of the push-to-talk chord, always on a private X server of its own: xdotool presses
# option-space, a sentence synthesized with flite plays into the microphone, the chord is released,
# and once the hold's last event is out the listener is told to "quit".
if ! command -v xdotool >/dev/null || ! start_xvfb; then
  echo "(no Xvfb or no xdotool: the hold is left out)"
  exit 0
fi
hold_display=$xvfb_display
sentence=$scratch/sentence.wav
flite -voice slt -t "open the calculator" -o "$sentence"
out=$scratch/hold.out
: >"$out"
# Waits up to $2 seconds for a line of the listener's matching $1.
seen() {
  local i
  for ((i = 0; i < $2 * 20; i++)); do
    grep -q "$1" "$out" && return 0
    sleep 0.05
  done
  return 1
}
press() { DISPLAY=$hold_display xdotool "$@" >/dev/null 2>&1; }
# The chord is pressed on the private X server, so X11 hot keys even inside a Wayland session.
printf '$ earshot --language en    (option-space held with xdotool while "open the calculator" plays;\n'
printf '                            released; then "quit")\n'
{
  if seen '"event":"ready"' 20; then
    press keydown alt+space
    seen '"event":"down"' 5
    paplay -d mic "$sentence"
    sleep 0.3
    press keyup alt+space
    seen '"event":"\(final\|error\|cancelled\)"' 20
  fi
  echo quit
} | DISPLAY=$hold_display EARSHOT_HOTKEYS=x11 timeout 60 "$bin" --language en | tee "$out" | {
  # Levels come with every captured buffer: the first one above silence is shown, the others
  # only counted.
  levels=0 shown=""
  while IFS= read -r line; do
    case $line in
      *'"event":"level"'*)
        levels=$((levels + 1))
        [ -n "$shown" ] && continue
        case $line in *'"value":0.0}'*) continue ;; esac
        shown=yes
        ;;
    esac
    printf '%s\n' "$line"
  done
  [ $levels -gt 1 ] && printf '  (%d "level" lines, one shown)\n' $levels
}
printf '  (exit status %d)\n' "${PIPESTATUS[1]}"
