#!/usr/bin/env bash
# The test command. Installs what the normal build needs (Debian packages), builds kelvara in
# build/ and runs every test of that build: unit, end-to-end, ABI, client and install tests.
#
#   bash scripts/test.sh          the normal build and its tests (a few minutes)
#   bash scripts/test.sh --all    also the sanitizer build and its tests, a short run of each
#                                 fuzz target and the Windows builds under Wine (what CI runs;
#                                 a quarter of an hour or more)
set -euo pipefail
cd "$(dirname "$0")/.."

all=0
for argument in "$@"; do
  case "$argument" in
    --all) all=1 ;;
    -h | --help) sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "ERROR - unknown argument \"$argument\" (only --all)"; exit 2 ;;
  esac
done

source scripts/setup.sh
build_kelvara build Release
ctest --test-dir build --output-on-failure -j"$(nproc)"
((all)) || exit 0

# The same suite built with AddressSanitizer and UndefinedBehaviorSanitizer. A sanitizer report
# aborts the program, so that a tool run under test never passes it off as exit status 1.
build_kelvara build-asan RelWithDebInfo -DKELVARA_SANITIZE=ON
ASAN_OPTIONS=abort_on_error=1:detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:abort_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j"$(nproc)"

# A short run of every fuzz target (scripts/fuzz.sh alone runs them for longer).
bash scripts/fuzz.sh 30
bash scripts/windows.sh  # Windows builds tested under Wine ("skipped" where MinGW-w64 and Wine cannot be installed)
