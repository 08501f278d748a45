#!/usr/bin/env bash
# Fails when an #include in src/ points up the layer stack. A folder includes itself and the
# levels below its own; folders on one level are peers and do not include each other.
# src/main.cpp may include anything. Usage: check-layers.sh [source folder]
set -euo pipefail
src="${1:-$(dirname "$0")/../src}"

# Top first. A new folder gets its line here before its first include.
levels=(
  "cli"
  "listener dictation"
  "catalog hotkeys"
  "speech"
  "timing"
  "platform"
  "formats"
  "core async"
)
# Back ends sit outside the stack: they include their interfaces and what lies below them, and
# only main.cpp includes them.
declare -A backEnds=([platform/linux]="platform formats core async")

declare -A level=()
for i in "${!levels[@]}"; do
  for folder in ${levels[$i]}; do level[$folder]=$i; done
done

# The layer a path under src/ belongs to: a back end's folder, or the top folder.
layer() {
  local path="$1" end
  for end in "${!backEnds[@]}"; do
    [[ "$path" == "$end"/* ]] && { echo "$end"; return; }
  done
  echo "${path%%/*}"
}

allowed() {
  local from="$1" to="$2" below
  [[ "$from" == "$to" ]] && return 0
  if [[ -n "${backEnds[$from]+set}" ]]; then
    for below in ${backEnds[$from]}; do [[ "$to" == "$below" ]] && return 0; done
    return 1
  fi
  [[ -n "${level[$to]+set}" ]] || return 1
  ((level[$to] > level[$from]))
}

status=0
while IFS= read -r -d '' file; do
  relative="${file#"$src"/}"
  [[ "$relative" == */* ]] || continue  # main.cpp wires everything
  from=$(layer "$relative")
  if [[ -z "${level[$from]+set}" && -z "${backEnds[$from]+set}" ]]; then
    echo "$relative: folder '$from' has no place in the layer table of $0"
    status=1
    continue
  fi
  while IFS= read -r line; do
    number="${line%%:*}"
    target=$(sed -E 's/^[0-9]+:[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]+)".*/\1/' <<<"$line")
    [[ "$target" == */* ]] || continue  # a neighbour in the same folder
    to=$(layer "$target")
    if ! allowed "$from" "$to"; then
      echo "$relative:$number: includes \"$target\" ($from may not include $to)"
      status=1
    fi
  done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" || true)
done < <(find "$src" -type f \( -name '*.hpp' -o -name '*.cpp' -o -name '*.h' \) -print0)
exit $status
