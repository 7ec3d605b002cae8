#!/usr/bin/env bash
# Runs every benchmark program of a release build folder, one after another.
set -euo pipefail
dir=${1:-build/release}
found=0
while IFS= read -r b; do
  found=1
  echo "== $(basename "$b")"
  "$b" --benchmark_counters_tabular=true
done < <(find "$dir/bench" -type f -name 'bench_*' -perm -u+x | sort)
[ "$found" = 1 ] || echo "no benchmarks built"
