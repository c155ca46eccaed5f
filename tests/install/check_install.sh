#!/usr/bin/env bash
# The README's install lines, as a user runs them: install the build to a fresh prefix, compile a
# C program with the flags pkg-config gives for the installed kelvara.pc and an rpath to its
# library folder, run it with no LD_LIBRARY_PATH; the installed tool's --version against the
# version in kelvara.pc; and the flags and the tool again after the installed tree has moved
# (kelvara.pc finds the prefix from its own place, the tool its library through $ORIGIN).
#   check_install.sh <build folder> <libdir below the prefix> <C compiler> <program.c>
set -euo pipefail
build=$1 libdir=$2 cc=$3 program=$4
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/opt/kelvara

cmake --install "$build" --prefix "$prefix" >/dev/null
export PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig"
unset LD_LIBRARY_PATH
"$cc" -o "$scratch/use_installed" "$program" $(pkg-config --cflags --libs kelvara) \
  -Wl,-rpath,"$(pkg-config --variable=libdir kelvara)"
"$scratch/use_installed"

version=$("$prefix/bin/kelvara" --version)
if [ "$version" != "kelvara $(pkg-config --modversion kelvara)" ]; then
  echo "kelvara --version says \"$version\", kelvara.pc $(pkg-config --modversion kelvara)"
  exit 1
fi

mv "$scratch/opt" "$scratch/elsewhere"
export PKG_CONFIG_PATH="$scratch/elsewhere/kelvara/$libdir/pkgconfig"
for flag in $(pkg-config --cflags --libs kelvara); do
  case "$flag" in
    -I* | -L*)
      [ -d "${flag:2}" ] || { echo "after the move pkg-config gives $flag, no folder"; exit 1; } ;;
  esac
done
moved=$("$scratch/elsewhere/kelvara/bin/kelvara" --version) ||
  { echo "the installed tool does not start after its tree has moved"; exit 1; }
[ "$moved" = "$version" ] || { echo "after the move the tool says \"$moved\""; exit 1; }
echo "$version installed in $prefix and used through pkg-config"
