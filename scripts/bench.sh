#!/usr/bin/env bash
# Runs every benchmark program of a build directory. Usage: scripts/bench.sh build/release
set -euo pipefail
dir=${1:-build/release}
shopt -s nullglob
found=0
for b in "$dir"/bench/vesk_*Bench; do
    found=1
    echo "== $(basename "$b")"
    "$b" --benchmark_counters_tabular=true
done
[ $found -eq 1 ] || echo "no benchmarks built in $dir/bench"
