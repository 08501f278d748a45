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
