#!/usr/bin/env bash
# Runs every benchmark and prints its figures. Each entry stands alone.
set -u
build=${BUILD:-build}

# Hot keys: a key event at the X server to the press callback (starts its own Xvfb).
if command -v Xvfb >/dev/null; then
  "$build/bench/bench_hotkey_latency" 1000 || echo "hot-key latency: failed"
else
  echo "hot-key latency: skipped (no Xvfb)"
fi
