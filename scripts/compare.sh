#!/usr/bin/env bash
# Runs every operation of the bundled example (examples/flood) and of a small generated
# benchmark case through two builds of kelvara, with KELVARA_THREADS=1 and 2, and compares what
# each run leaves: its exit status, its console text and the bytes of every file it writes.
#
#   scripts/compare.sh OLD_BUILD NEW_BUILD
#
# OLD_BUILD and NEW_BUILD are build folders holding the kelvara executable. The benchmark case
# is written by NEW_BUILD/bench/generate_bench (or OLD_BUILD's) with KELVARA_COMPARE_NODES nodes
# (default 20000). Exit status 0 when every run of the two builds agrees. (A build from before an
# operation existed ends its command lines with an error: those runs differ.)
set -euo pipefail
cd "$(dirname "$0")/.."

if (($# != 2)); then
  echo "usage: scripts/compare.sh OLD_BUILD NEW_BUILD" >&2
  exit 2
fi
old=$(cd "$1" && pwd)
new=$(cd "$2" && pwd)
for build in "$old" "$new"; do
  [ -x "$build/kelvara" ] || { echo "no kelvara in $build" >&2; exit 2; }
done
generator=$new/bench/generate_bench
[ -x "$generator" ] || generator=$old/bench/generate_bench
nodes=${KELVARA_COMPARE_NODES:-20000}

work=$(mktemp -d "${TMPDIR:-/tmp}/kelvara-compare-XXXXXX")
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/cases/example" "$work/cases/bench"
cp examples/flood/*.dat examples/flood/*.2dm "$work/cases/example/"
"$generator" "$work/cases/bench" --nodes "$nodes" --steps 12 >/dev/null

# One command line per line; the example and the benchmark case have the same file names.
commands=(
  "-con base_d.dat design_d.dat"
  "-con base_V.dat design_V.dat"
  "-k5 base_h.dat"
  "-k99999 base_V.dat"
  "-r5 base_d.dat"
  "-r99999 base_h.dat"
  "-trim1 base_d.dat"
  "-trim0.5 base_V.dat"
  "-va base_V.dat"
  "-times base_h.dat"
  "-max base_h.dat design_h.dat"
  "-max base_d.dat"
  "-max base_V.dat design_V.dat"
  "-max -t5 base_d.dat design_d.dat"
  "-dur0.1 base_d.dat"
  "-dur0.5 base_V.dat"
  "-dur0.2 base_h.dat"
  "-dif base_d.dat design_d.dat"
  "-dif base_h.dat design_h.dat"
  "-dif base_V.dat design_V.dat"
  "-dif -nowetdry base_d.dat design_d.dat"
  "-dif -t5 base_d.dat design_d.dat out.dat"
  "-ddur0.1 -t10 base_h.dat design_h.dat"
  "-ddur0.05 -t6 base_d.dat design_d.dat"
  "-k5 missing_h.dat"
  "-con base_d.dat base_V.dat"
  "-va base_d.dat"
  "-arrival0.3 base_d.dat"
  "-arrival0.5 base_V.dat"
  "-hazard base_d.dat"
  "-hazard0.5 base_d.dat"
  "-grid5 -t5 base_d.dat"
)

# Runs one command line with one build in a fresh copy of the case; leaves in $3 the status,
# the console text and every file the run wrote.
run_one() {
  local build=$1 case=$2 result=$3 threads=$4
  shift 4
  local folder=$result.work
  rm -rf "$folder" "$result"
  mkdir -p "$folder" "$result"
  cp "$work/cases/$case"/* "$folder/"
  local status=0
  (cd "$folder" && KELVARA_THREADS=$threads "$build/kelvara" -b "$@" </dev/null \
     >"$result/console.txt" 2>&1) || status=$?
  echo "$status" >"$result/status"
  for f in "$folder"/* "$folder"/.[!.]*; do
    [ -e "$f" ] || continue
    local name
    name=$(basename "$f")
    [ -e "$work/cases/$case/$name" ] && cmp -s "$f" "$work/cases/$case/$name" && continue
    mv "$f" "$result/file-$name"
  done
  rm -rf "$folder"
}

same=0
different=0
for case in example bench; do
  for threads in 1 2; do
    for command in "${commands[@]}"; do
      # shellcheck disable=SC2086
      run_one "$old" "$case" "$work/old" "$threads" $command
      # shellcheck disable=SC2086
      run_one "$new" "$case" "$work/new" "$threads" $command
      if diff -r "$work/old" "$work/new" >/dev/null; then
        same=$((same + 1))
      else
        different=$((different + 1))
        echo "DIFFERENT: $case, KELVARA_THREADS=$threads, kelvara -b $command"
        diff -r "$work/old" "$work/new" | head -20 || true
      fi
    done
  done
done
echo "compare: $same runs the same, $different different"
((different == 0))
