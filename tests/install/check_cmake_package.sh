#!/usr/bin/env bash
# The CMake package of an installed kelvara: install the build to a fresh prefix, configure and
# build a tiny project that says find_package(kelvara) and links kelvara::kelvara, run its
# program (CMake gives it the rpath of the library it linked); then the same after the installed
# tree has moved (the package finds its prefix from its own place).
#   check_cmake_package.sh <build folder> <generator> <C compiler>
set -euo pipefail
build=$1 generator=$2 cc=$3
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
unset LD_LIBRARY_PATH

cmake --install "$build" --prefix "$scratch/opt/kelvara" >/dev/null
use() {  # use <prefix> <build folder>
  cmake -S "$here/cmake_project" -B "$2" -G "$generator" -DCMAKE_C_COMPILER="$cc" \
        -DCMAKE_PREFIX_PATH="$1" >"$scratch/configure.txt" 2>&1 ||
    { cat "$scratch/configure.txt"; exit 1; }
  cmake --build "$2" >"$scratch/build.txt" 2>&1 || { cat "$scratch/build.txt"; exit 1; }
  "$2/use_installed"
}
use "$scratch/opt/kelvara" "$scratch/project"
mv "$scratch/opt" "$scratch/elsewhere"
use "$scratch/elsewhere/kelvara" "$scratch/project_moved"
echo "find_package(kelvara) works from an installed tree, and after it has moved"
