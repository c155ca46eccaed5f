#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang and runs each for a bounded time.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
#
# SECONDS per target (default 600); TARGET names such as fuzz_dataset (default: all). The seeds
# in fuzz/corpus/<target> are only read; what a run learns is kept in build-fuzz/corpus/<target>
# for the next run, and an input that crashes a target is saved in build-fuzz/artifacts/.
# Reproduce one with: build-fuzz/fuzz/<target> <file>. KELVARA_FUZZ_BUILD names another folder.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
install_fuzz_tools

seconds=${1:-600}
shift || true
build=${KELVARA_FUZZ_BUILD:-build-fuzz}

CC=clang-14 CXX=clang++-14 cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKELVARA_FUZZ=ON -DKELVARA_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target kelvara_fuzz

targets=("$@")
if ((${#targets[@]} == 0)); then
  for source in fuzz/fuzz_*.cpp; do targets+=("$(basename "$source" .cpp)"); done
fi

passed=0
failed=0
mkdir -p "$build/artifacts"
for target in "${targets[@]}"; do
  mkdir -p "$build/corpus/$target"
  dict=()
  [ -f "fuzz/$target.dict" ] && dict=(-dict="fuzz/$target.dict")
  log="$build/$target.log"
  echo "Fuzzing $target for ${seconds}s..."
  # A slow input is not a fault: only an input that runs for a minute counts as a hang.
  if "$build/fuzz/$target" -max_total_time="$seconds" -timeout=60 -rss_limit_mb=2048 \
      -print_final_stats=1 "${dict[@]}" -artifact_prefix="$build/artifacts/$target-" \
      "$build/corpus/$target" "fuzz/corpus/$target" >"$log" 2>&1 </dev/null; then
    passed=$((passed + 1))
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "  $target: ${runs:-?} inputs, no fault"
  else
    failed=$((failed + 1))
    tail -n 60 "$log"
    echo "  $target: FAULT (log: $log; inputs: $build/artifacts/$target-*)"
  fi
done
echo "fuzz: $passed passed, $failed failed"
((failed == 0))
