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
