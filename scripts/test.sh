#!/usr/bin/env bash
# Installs what the build needs (Debian packages), builds kelvara and runs every test: the unit,
# ABI and end-to-end suite in a normal build and again under the sanitizers, then each fuzz
# target for 30 seconds.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
build_kelvara build Release
ctest --test-dir build --output-on-failure -j"$(nproc)"

# The same suite built with AddressSanitizer and UndefinedBehaviorSanitizer. A sanitizer report
# aborts the program, so that a tool run under test never passes it off as exit status 1.
build_kelvara build-asan RelWithDebInfo -DKELVARA_SANITIZE=ON
ASAN_OPTIONS=abort_on_error=1:detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:abort_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j"$(nproc)"

# A short run of every fuzz target (scripts/fuzz.sh alone runs them for longer).
bash scripts/fuzz.sh 30
bash scripts/windows.sh  # Windows builds tested under Wine ("skipped" where MinGW-w64 and Wine cannot be installed)
