#!/usr/bin/env bash
# Builds the kelvara tool and runs it on the bundled example flood case (examples/flood/): the
# maximum water level reached in either of the two runs, with the run that reached it. The
# shipped files are never touched: the run works on a fresh copy in out/demo/.
#
# Only the tool and the shared library it links are built (no tests, benchmarks or clients), so
# only cmake, g++ and make are needed, and GDAL (libgdal-dev, gdal-bin) for the picture of the
# flood at the end; a clean clone runs it in well under half a minute on two cores. The tool
# stays in build/kelvara.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
started=$SECONDS

# ---- 1. What the build needs, from Debian's packages when it is missing.
need=()
command -v cmake >/dev/null 2>&1 || need+=(cmake)
command -v g++ >/dev/null 2>&1 || need+=(g++)
command -v make >/dev/null 2>&1 || need+=(make)
# GDAL for the grid and its picture: the demo goes on without them where they cannot be had.
optional=()
if command -v dpkg >/dev/null 2>&1; then
  for package in libgdal-dev gdal-bin; do
    dpkg -s "$package" >/dev/null 2>&1 || optional+=("$package")
  done
fi
if ((${#need[@]} + ${#optional[@]})); then
  echo "Installing: ${need[*]} ${optional[*]}"
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update -qq
  if ((${#need[@]})); then
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${need[@]}"
  fi
  if ((${#optional[@]})); then
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${optional[@]}" ||
      echo "Could not install ${optional[*]}: the demo goes on without the picture."
  fi
fi

# ---- 2. Build the tool alone. Where GoogleTest is missing the tests are switched off, since
# they cannot even be configured without it; the test build switches them on again
# (-DKELVARA_BUILD_TESTS=ON).
configure=(-DCMAKE_BUILD_TYPE=Release)
[ -f /usr/include/gtest/gtest.h ] || configure+=(-DKELVARA_BUILD_TESTS=OFF)
echo "Building build/kelvara..."
cmake -S . -B build "${configure[@]}" >/dev/null
cmake --build build --target kelvara_tool -j"$(nproc)"
tool="$root/build/kelvara"

# ---- 3. Run it on a copy of the example case.
work="$root/out/demo"
rm -rf "$work"
mkdir -p "$work"
cp examples/flood/*.2dm examples/flood/*.dat "$work/"

run_kelvara() {  # run_kelvara <arguments...>: in $work, batch mode, stops the demo on a failure
  echo
  echo "Running in $work:"
  echo "  kelvara $*"
  local status=0
  (cd "$work" && "$tool" "$@" </dev/null) || status=$?
  if [ "$status" -ne 0 ]; then
    echo "demo: kelvara failed (exit status $status)" >&2
    exit 1
  fi
}

run_kelvara -b -max base_h.dat design_h.dat
result="$work/base_h(maxmax).dat"
if [ ! -s "$result" ]; then
  echo "demo: kelvara wrote no $result" >&2
  exit 1
fi

# ---- 4. Closing summary: a few facts read straight from the result's bytes (little-endian, as
# the format is): a 92-byte header, then per step the card 200, a status byte, the time, a flag
# per cell and a value per node; the end card 210 closes the file.
int_at() { od -An -v -t d4 --endian=little -j "$2" -N 4 "$1" | tr -d ' '; }
size=$(stat -c %s "$result")
nodes=$(int_at "$result" 36)
cells=$(int_at "$result" 44)
step=$((9 + cells + 4 * nodes))
echo
echo "Result: $result"
echo "  $size bytes: a 92-byte header, $(((size - 96) / step)) steps of $nodes nodes and $cells cells, the end card"
# First step (time 111111): the maximum level per node; second (222222): the run that gave it.
od -An -v -t f4 --endian=little -j $((92 + 9 + cells)) -N $((4 * nodes)) "$result" |
  awk '{ for (i = 1; i <= NF; i++) if ($i > top) top = $i }
       END { printf "  highest water level: %.3f m\n", top }'
od -An -v -t f4 --endian=little -j $((92 + step + 9 + cells)) -N $((4 * nodes)) "$result" |
  awk '{ for (i = 1; i <= NF; i++) n[$i + 0]++ }
       END { printf "  nodes whose maximum came from base: %d, from design: %d, never in a wet cell: %d\n",
                    n[1], n[2], n[0] }'

# ---- 5. The deepest water of either run as a GeoTIFF grid of 2 m cells, and a picture of it.
run_kelvara -b -max base_d.dat design_d.dat
grid="$work/base_d(maxmax)(grid2).tif"
picture="$work/base_d(maxmax)(grid2).png"
echo
echo "Running in $work:"
echo "  kelvara -b -grid2 \"base_d(maxmax).dat\""
status=0
gridlog=$(cd "$work" && "$tool" -b -grid2 "base_d(maxmax).dat" </dev/null) || status=$?
echo "$gridlog" | tail -n 3
if [ "$status" -ne 0 ] && grep -q "cannot write grids" <<<"$gridlog"; then
  echo "This build has no grids (GDAL was not found): no picture of the flood."
elif [ "$status" -ne 0 ]; then
  echo "$gridlog" >&2
  echo "demo: kelvara failed (exit status $status)" >&2
  exit 1
else
  echo
  echo "Grid of the deepest water (band 1; band 2: the run it came from): $grid"
  if command -v gdaldem >/dev/null 2>&1; then
    gdaldem color-relief -q -alpha -b 1 -of PNG --config GDAL_PAM_ENABLED NO "$grid" \
      "$root/examples/depth_ramp.txt" "$picture"
    echo "Picture of it (open it to see the flood): $picture"
  else
    echo "No picture: gdaldem (Debian package gdal-bin) is not installed."
  fi
fi

echo
echo "The tool is $tool; README.md tells what each output holds and how to open it in QGIS."
echo "Demo finished in $((SECONDS - started)) s."
