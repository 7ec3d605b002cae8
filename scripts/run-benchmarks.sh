#!/usr/bin/env bash
# Runs every benchmark program of a release build folder, one after another.
# Each benchmark reports its cold run apart and the median and spread of the
# warm ones (VELMORA_BENCH_REPETITIONS of them, at least 5), after the load.
set -euo pipefail
dir=${1:-build/release}
found=0
while IFS= read -r b; do
  found=1
  echo "== $(basename "$b") ($(uptime))"
  "$b" --benchmark_counters_tabular=true
done < <(find "$dir/bench" -type f -name 'bench_*' -perm -u+x | sort)
[ "$found" = 1 ] || echo "no benchmarks built"
# The real program under a virtual X server of its own, beside the engine's
# figures it runs again in the same script.
acceptance=$dir/bench-acceptance/velmora_bench_acceptance
if [ -x "$acceptance" ]; then
  echo "== the program under Xvfb ($(uptime))"
  xvfb-run -a -s "-screen 0 1920x1080x24" python3 "$(dirname "$0")/../bench/acceptance/run_bench.py" "$dir"
fi
