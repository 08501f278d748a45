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
