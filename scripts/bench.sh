#!/usr/bin/env bash
# Runs every benchmark against the release build and prints its figures.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD:-build}

echo "== emit: event lines per second (items_per_second), one and four threads"
"$build/bench/bench_emit" --benchmark_min_time=1
