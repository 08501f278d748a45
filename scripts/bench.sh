#!/usr/bin/env bash
# Runs every benchmark against the release build and prints its figures.
set -euo pipefail
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
