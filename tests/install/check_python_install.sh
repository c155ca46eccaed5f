#!/usr/bin/env bash
# Where "cmake --install" puts the Python package, as users install it: under a prefix of their
# own it prints the PYTHONPATH line, with which the package imports; under ~/.local (a HOME of
# the test's own) the interpreter imports it with no PYTHONPATH at all; under /usr/local (staged
# with DESTDIR, so that the machine's own folder is left alone) it lands in a folder that is on
# the interpreter's path, and no PYTHONPATH line is printed for either.
#   check_python_install.sh <build folder> <python>
set -euo pipefail
build=$1 python=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
unset PYTHONPATH PYTHONUSERBASE PYTHONNOUSERSITE
export PYTHONDONTWRITEBYTECODE=1
cd "$scratch"  # no kelvara folder of the sources in reach

imported_from() {  # imported_from <environment...>: the file of the package imported
  env "$@" "$python" -c "import kelvara; assert callable(kelvara.open); print(kelvara.__file__)"
}

# A prefix of its own: the line to use is printed, and it works.
cmake --install "$build" --prefix "$scratch/opt" --component python >"$scratch/out.txt"
line=$(grep -o 'export PYTHONPATH=.*' "$scratch/out.txt") ||
  { cat "$scratch/out.txt"; echo "no PYTHONPATH line printed for $scratch/opt"; exit 1; }
folder=${line#export PYTHONPATH=}
folder=${folder//\"/}
where=$(imported_from PYTHONPATH="$folder")
case "$where" in "$scratch/opt/"*) ;; *) echo "imported $where, not the one in $folder"; exit 1 ;; esac

# ~/.local: found through the user's site folder alone.
mkdir "$scratch/home"
HOME="$scratch/home" cmake --install "$build" --prefix "$scratch/home/.local" \
  --component python >"$scratch/out.txt"
if grep -q PYTHONPATH "$scratch/out.txt"; then
  cat "$scratch/out.txt"; echo "a PYTHONPATH line for ~/.local"; exit 1
fi
where=$(imported_from HOME="$scratch/home")
case "$where" in
  "$scratch/home/.local/lib/"*) ;;
  *) echo "with HOME=$scratch/home the package came from $where"; exit 1 ;;
esac

# /usr/local: the folder it lands in is one the interpreter searches.
DESTDIR="$scratch/stage" cmake --install "$build" --prefix /usr/local --component python \
  >"$scratch/out.txt"
if grep -q PYTHONPATH "$scratch/out.txt"; then
  cat "$scratch/out.txt"; echo "a PYTHONPATH line for /usr/local"; exit 1
fi
init=$(cd "$scratch/stage" && find . -path '*/kelvara/__init__.py' | head -n 1)
[ -n "$init" ] || { echo "nothing installed under /usr/local"; exit 1; }
landed=$(dirname "$(dirname "${init#.}")")
HOME="$scratch/home" "$python" -c "import sys; sys.exit(0 if sys.argv[1] in sys.path else 1)" \
  "$landed" || { echo "$landed is not on the path of $python"; exit 1; }
echo "the Python package imports from a prefix of its own ($folder), ~/.local and /usr/local ($landed)"
