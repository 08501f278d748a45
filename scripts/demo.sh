#!/usr/bin/env bash
# Shows a few event lines of the real binary.
set -u
bin=${1:-build/earshot}
show() {
  printf '$ earshot %s\n' "$*"
  "$bin" "$@" </dev/null
  printf '  (exit status %d)\n\n' $?
}
show --find
show --keys --language en
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
