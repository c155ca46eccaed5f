# Shared by the scripts: installs what the normal build needs on a Debian machine (build tools,
# GoogleTest, pkg-config, GDAL, NetCDF, pybind11 and numpy) and builds.
need=()
command -v cmake >/dev/null 2>&1 || need+=(cmake)
command -v g++ >/dev/null 2>&1 || need+=(g++)
command -v make >/dev/null 2>&1 || need+=(make)
command -v gfortran >/dev/null 2>&1 || need+=(gfortran)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
command -v pkg-config >/dev/null 2>&1 || need+=(pkg-config)
# Rasters (GDAL), expressions (muParser), NetCDF output (the NetCDF C library; ncdump, and
# xarray with netCDF4 to read the files back), the Python module (pybind11, numpy, pytest) and
# its pip install (pip, venv, setuptools, wheel): the build leaves out what it does not find, so
# a machine where they cannot be installed still builds and tests the rest.
optional=()
if command -v dpkg >/dev/null 2>&1; then
  for package in libgdal-dev gdal-bin libmuparser-dev libnetcdf-dev netcdf-bin pybind11-dev python3-dev \
                 python3-numpy python3-pytest python3-xarray python3-netcdf4 python3-pip \
                 python3-venv python3-setuptools python3-wheel; do
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
      echo "Could not install ${optional[*]}: the build goes on without them."
  fi
fi

build_kelvara() {  # build_kelvara <folder> <build type> [cmake options...]
  local folder=$1 type=$2
  shift 2
  cmake -S . -B "$folder" -DCMAKE_BUILD_TYPE="$type" "$@" >/dev/null
  cmake --build "$folder" -j"$(nproc)"
}

# The fuzz targets (scripts/fuzz.sh): clang with Debian's libFuzzer and sanitizer runtimes.
install_fuzz_tools() {
  local need=()
  command -v clang++-14 >/dev/null 2>&1 || need+=(clang-14)
  dpkg -s libclang-rt-14-dev >/dev/null 2>&1 || need+=(libclang-rt-14-dev)
  ((${#need[@]})) || return 0
  echo "Installing: ${need[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${need[@]}"
}
