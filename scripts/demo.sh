#!/usr/bin/env bash
# Shows a few event lines of the real binary.
set -u
bin=${1:-build/earshot}
show() {
  printf '$ earshot %s\n' "$*"
  "$bin" "$@" </dev/null
  printf '  (exit status %d)\n\n' $?
}

# The survey needs a display: without one, a private Xvfb stands in for the session.
xvfb_pid=""
stop_xvfb() { [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null; }
trap stop_xvfb EXIT
if [ -z "${DISPLAY:-}" ] && command -v Xvfb >/dev/null; then
  fifo=$(mktemp -u) && mkfifo "$fifo" && {
    Xvfb -displayfd 3 -nolisten tcp -screen 0 640x480x24 3>"$fifo" >/dev/null 2>&1 &
    xvfb_pid=$!
    number=$(timeout 10 head -n1 "$fifo")
    rm -f "$fifo"
    if [ -n "$number" ]; then
      export DISPLAY=":$number"
      printf '(a private Xvfb on %s stands in for the desktop)\n\n' "$DISPLAY"
    fi
  }
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
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
  recording=$tmp/spoken.wav
  flite -voice slt -t "open the calendar and play some music" -o "$recording"
fi
show --file "$recording" --language en

# A short dictation: a private sound server whose null sink stands in for the microphone, the same
# recording played into it in real time, then "stop" on standard input.
if command -v pulseaudio >/dev/null && command -v paplay >/dev/null; then
  pa=$(mktemp -d)
  mkdir -p "$pa/home" "$pa/run"
  printf 'autospawn = no\n' >"$pa/client.conf"
  export PULSE_SERVER="unix:$pa/run/native" PULSE_CLIENTCONFIG="$pa/client.conf"
  HOME="$pa/home" XDG_RUNTIME_DIR="$pa/run" PULSE_RUNTIME_PATH="$pa/run" \
    pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --use-pid-file=no \
    -L "module-native-protocol-unix socket=$pa/run/native auth-anonymous=1" \
    -L "module-null-sink sink_name=mic" >/dev/null 2>&1 &
  pa_pid=$!
  for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
  pactl set-default-source mic.monitor >/dev/null 2>&1
  # A fresh null sink is slow to serve its first low-latency reader; keep one reading.
  parec -d mic.monitor >/dev/null 2>&1 &
  parec_pid=$!
  sleep 0.5
  printf '$ earshot --dictate --language en    (the recording plays, then "stop")\n'
  { sleep 1; paplay -d mic "$recording"; sleep 0.8; echo stop; sleep 2; } |
    "$bin" --dictate --language en | grep -v '"level"'
  printf '  (exit status %d; "level" lines left out)\n' "${PIPESTATUS[1]}"
  kill "$parec_pid" "$pa_pid" 2>/dev/null
  wait "$pa_pid" 2>/dev/null
  rm -rf "$pa"
fi
