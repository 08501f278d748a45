#!/usr/bin/env bash
# The layer check on a planted tree: each row is a file and one include; the check must name
# exactly the rows marked "up" and fail because of them.
set -uo pipefail
check="$(dirname "$0")/../../scripts/check-layers.sh"
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT

rows=(
  "ok   speech/A.cpp            platform/Audio.hpp"
  "ok   platform/linux/B.cpp    formats/PropertyList.hpp"
  "ok   platform/linux/C.cpp    platform/linux/D.hpp"
  "ok   cli/E.cpp               core/Language.hpp"
  "ok   main.cpp                platform/linux/LinuxPlatform.hpp"
  "up   platform/F.hpp          speech/SpeechInput.hpp"
  "up   catalog/G.cpp           hotkeys/VoiceHotKey.hpp"
  "up   speech/H.cpp            platform/linux/LinuxAudio.hpp"
  "up   core/I.hpp              async/Co.hpp"
  "up   formats/J.cpp           platform/Audio.hpp"
  "up   newfolder/K.cpp         core/Language.hpp"
)
expected=0
for row in "${rows[@]}"; do
  read -r kind file target <<<"$row"
  mkdir -p "$tree/$(dirname "$file")"
  printf '#include <vector>\n#include "%s"\n' "$target" >"$tree/$file"
  [[ $kind == up ]] && expected=$((expected + 1))
done

output=$("$check" "$tree")
status=$?
echo "$output"
found=$(grep -c . <<<"$output")
if ((status == 0 || found != expected)); then
  echo "expected $expected findings and a failure, got $found (status $status)"
  exit 1
fi
for row in "${rows[@]}"; do
  read -r kind file target <<<"$row"
  if [[ $kind == up ]] && ! grep -q "^$file" <<<"$output"; then
    echo "not named: $file"
    exit 1
  fi
done
