#!/usr/bin/env bash
# "python3 -m pip install . --no-build-isolation" as a user runs it, in a virtual environment
# that sees the system's packages (numpy, setuptools, wheel from Debian), with nothing
# downloaded (--no-index): the package imports there and reads a dataset. The sources are
# copied first (pip builds in the source folder); the extension comes from the test's own build
# folder (KELVARA_CMAKE_BUILD_DIR), so that nothing is compiled again.
#   check_pip_install.sh <source folder> <build folder> <python>
set -euo pipefail
source=$1 build=$2 python=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
unset PYTHONPATH
export PYTHONDONTWRITEBYTECODE=1 PIP_DISABLE_PIP_VERSION_CHECK=1

mkdir "$scratch/src"
(cd "$source" && tar --exclude='./build*' --exclude='./.git' --exclude='./out' -cf - .) |
  (cd "$scratch/src" && tar -xf -)
"$python" -m venv --system-site-packages "$scratch/venv"
(cd "$scratch/src" && KELVARA_CMAKE_BUILD_DIR="$build" \
  "$scratch/venv/bin/python" -m pip install --no-build-isolation --no-index . \
  >"$scratch/pip.txt" 2>&1) || { cat "$scratch/pip.txt"; exit 1; }
cd "$scratch"
"$scratch/venv/bin/python" - "$scratch/venv" "$source/examples/flood/base_d.dat" <<'PY'
import sys
import kelvara
assert kelvara.__file__.startswith(sys.argv[1]), kelvara.__file__
with kelvara.open(sys.argv[2]) as run:
    steps = list(run)
assert len(steps) == 14 and steps[-1].time == 99999.0, [s.time for s in steps]
print("pip installed kelvara in", sys.argv[1], "and it read", len(steps), "steps")
PY
