#!/usr/bin/env bash
# Benchmarks at real size (never part of the test suite). Builds kelvara and the programs of
# bench/ in Release, writes a synthetic flood case and reports:
#   table   every operation timed against its I/O limit, with its peak memory (default)
#   memory  peak memory of every operation for 10 and for 300 steps (200,000 nodes)
#   large   a dataset over 4 GiB written and read back (250,000 nodes, 2 x 1,000 vector steps)
#   all     the three in turn
# Usage: scripts/bench.sh [table|memory|large|all]
# Environment:
#   KELVARA_BENCH_DATA   folder for the generated cases (default out/bench; up to 11 GB for
#                        "large", 4.7 GB for "table")
#   KELVARA_BENCH_NODES  nodes of the table's case (default 1000000)
#   KELVARA_BENCH_RUNS   timed runs per operation, the median is reported (default 5)
#   KELVARA_BENCH_BUILD  build folder (default build-bench)
#   KELVARA_BENCH_KEEP   1 keeps the generated cases for another run (default: removed)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
mode=${1:-table}
case "$mode" in table|memory|large|all) ;; *) echo "usage: scripts/bench.sh [table|memory|large|all]" >&2; exit 2 ;; esac

data=${KELVARA_BENCH_DATA:-$root/out/bench}
nodes=${KELVARA_BENCH_NODES:-1000000}
runs=${KELVARA_BENCH_RUNS:-5}
build=${KELVARA_BENCH_BUILD:-$root/build-bench}

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)" --target kelvara_tool generate_bench bench_driver bench_mesh >/dev/null
driver=("$build/bench/bench_driver" --tool "$build/kelvara")

# generate <folder> <generate_bench options...>: writes the case unless the folder already
# holds one made with the same options.
generate() {
  local folder=$1
  shift
  if [ "$(cat "$folder/.case" 2>/dev/null)" != "$*" ]; then
    rm -rf "$folder"
    "$build/bench/generate_bench" "$folder" "$@"
    echo "$*" >"$folder/.case"
  fi
}

cleanup() {
  if [ "${KELVARA_BENCH_KEEP:-0}" != 1 ]; then rm -rf "$data/case" "$data/steps10" "$data/steps300" "$data/large"; fi
}
trap cleanup EXIT

echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'),"\
     "$(awk '/MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo) memory;"\
     "load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo

if [ "$mode" = table ] || [ "$mode" = all ]; then
  generate "$data/case" --nodes "$nodes" --steps 100
  "${driver[@]}" table "$data/case" --runs "$runs"
  echo
fi
if [ "$mode" = memory ] || [ "$mode" = all ]; then
  generate "$data/steps10" --nodes 200000 --steps 10
  generate "$data/steps300" --nodes 200000 --steps 300
  "${driver[@]}" memory "$data/steps10" "$data/steps300"
  echo
fi
if [ "$mode" = large ] || [ "$mode" = all ]; then
  generate "$data/large" --nodes 250000 --steps 1000 --datasets V
  "${driver[@]}" large "$data/large"
fi
