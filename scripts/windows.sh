#!/usr/bin/env bash
# Windows builds: cross-compiles kelvara.exe and kelvara.dll for 64-bit and 32-bit Windows with
# MinGW-w64 (build-win64/, build-win32/), checks the DLL's export table and runs each test suite
# under Wine. Installs the compilers and Wine with apt-get when they are missing; where that is
# not possible it prints a "skipped" line and succeeds. KELVARA_SKIP_WINDOWS=1 skips it all.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS

skip() {
  echo "Windows builds and tests: skipped ($*)."
  exit 0
}
[ "${KELVARA_SKIP_WINDOWS:-0}" = 1 ] && skip "KELVARA_SKIP_WINDOWS=1"

wine64=/usr/lib/wine/wine64
wine32=/usr/lib/wine/wine
wineserver=/usr/lib/wine/wineserver

# ---- Packages: the -posix compilers (the others have no std::thread, which GoogleTest needs),
# GoogleTest's sources, 64-bit Wine, and 32-bit Wine from the i386 architecture.
need=()
command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 || need+=(g++-mingw-w64-x86-64-posix)
command -v i686-w64-mingw32-g++-posix >/dev/null 2>&1 || need+=(g++-mingw-w64-i686-posix)
[ -x "$wine64" ] || need+=(wine wine64)
[ -f /usr/src/googletest/googletest/CMakeLists.txt ] || need+=(googletest)
need32=0
dpkg -s wine32:i386 >/dev/null 2>&1 || need32=1
if ((${#need[@]})) || ((need32)); then
  command -v apt-get >/dev/null 2>&1 || skip "no apt-get to install MinGW-w64 and Wine"
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null 2>&1 || skip "installing MinGW-w64 and Wine needs root"
    sudo=sudo
  fi
  if ((need32)) && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386 || true
  fi
  echo "Installing: ${need[*]} $( ((need32)) && echo wine32:i386)"
  $sudo apt-get update -qq || skip "apt-get update failed"
  if ((${#need[@]})); then
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${need[@]}" >/dev/null ||
      skip "apt-get could not install ${need[*]}"
  fi
  if ((need32)); then
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq wine32:i386 >/dev/null ||
      echo "32-bit Wine (wine32:i386) could not be installed."
  fi
fi

# ---- The Wine prefix, and Wine's background processes started before any build or test: the
# tests are discovered at build time by running them, and ctest waits forever on background
# processes that inherit its output.
export WINEPREFIX="$PWD/build-wine" WINEDEBUG=-all
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "Creating the Wine prefix $WINEPREFIX ..."
  WINEARCH=win64 "$wine64" wineboot -i </dev/null >/dev/null 2>&1 || true
fi
# One persistent server for the whole run: a server that ends when it has been idle for a moment
# can go just as the next program connects ("recvmsg: Connection reset by peer").
"$wineserver" -k >/dev/null 2>&1 || true
"$wineserver" -p
trap '"$wineserver" -k >/dev/null 2>&1 || true' EXIT
"$wine64" cmd /c exit </dev/null >/dev/null 2>&1 || skip "64-bit Wine does not start"

# 32-bit Windows programs need the 32-bit loader, which needs a kernel that runs i386 programs.
run32=1
if ! "$wine32" --version </dev/null >/dev/null 2>&1; then
  run32=0
elif ! "$wine32" cmd /c exit </dev/null >/dev/null 2>&1; then
  run32=0
fi

# ---- Every routine of cmake/exports.txt in the DLL's export table under its name and its alias
# _NAME@bytes, exported data under its name, and nothing else; the table in the order Windows
# searches it.
check_exports() {  # check_exports <build folder> <objdump>
  local expected actual
  expected=$(awk '!/^[[:space:]]*(#|$)/ {
      print $1
      if ($2 ~ /^[0-9]+$/) print "_" $1 "@" 4 * $2
    }' cmake/exports.txt | sort)
  actual=$("$2" -p "$1/kelvara.dll" |
    awk '/\[Ordinal\/Name Pointer\] Table/ {on = 1; next} on && NF == 0 {on = 0} on {print $NF}' | sort)
  if [ "$expected" != "$actual" ]; then
    echo "kelvara.dll in $1: the export table differs from cmake/exports.txt"
    diff <(echo "$expected") <(echo "$actual") || true
    return 1
  fi
  echo "kelvara.dll in $1: $(echo "$actual" | grep -c '^_') routines under both names," \
       "$(echo "$actual" | wc -l) names in all"
  # The table as Windows searches it: strictly ascending, every name found by binary search.
  cmake -DOBJDUMP="$2" -DDLL="$1/kelvara.dll" -DLIST=cmake/exports.txt \
    -P tests/windows/check_export_table.cmake
}

build_windows() {  # build_windows <folder> <toolchain> <loader> <run tests: 1/0>
  local folder=$1 toolchain=$2 loader=$3 run=$4 discovery=POST_BUILD
  ((run)) || discovery=PRE_TEST  # nothing can run the tests at build time
  cmake -S . -B "$folder" -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="cmake/$toolchain" \
    -DCMAKE_CROSSCOMPILING_EMULATOR="$loader" \
    -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=$discovery >/dev/null
  cmake --build "$folder" -j"$(nproc)"
}

build_windows build-win64 toolchain-mingw64.cmake "$wine64" 1
check_exports build-win64 x86_64-w64-mingw32-objdump
# Under Wine a test program now and then fails to start at all (no output, a few milliseconds):
# a test that fails is run once more, so that only a failure that repeats counts.
ctest --test-dir build-win64 --output-on-failure -j"$(nproc)" --repeat until-pass:2

build_windows build-win32 toolchain-mingw32.cmake "$wine32" "$run32"
check_exports build-win32 i686-w64-mingw32-objdump
if ((run32)); then
  ctest --test-dir build-win32 --output-on-failure -j"$(nproc)" --repeat until-pass:2
else
  # The checks that run no Windows program (ctest itself would run the test programs to list
  # their tests): the export list against the header; the name table was checked above.
  cmake -DHEADER=include/kelvara.h -DLIST=cmake/exports.txt -P tests/windows/check_exports.cmake
  echo "32-bit Windows tests: skipped (this machine cannot run 32-bit programs, so 32-bit Wine" \
       "does not start); build-win32 was built and its exports checked."
fi

echo "Windows builds and tests took $((SECONDS - started)) s."
