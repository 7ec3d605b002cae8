#!/usr/bin/env bash
# Runs every benchmark program of a release build folder, one after another.
set -euo pipefail
dir=${1:-build/release}
found=0
for b in "$dir"/bench/bench_*; do
  [ -x "$b" ] || continue
  found=1
  echo "== $(basename "$b")"
  "$b" --benchmark_counters_tabular=true
done
[ "$found" = 1 ] || echo "no benchmarks built"
