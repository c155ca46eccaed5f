# Shared by the scripts: installs missing build tools on a Debian machine and builds.
need=()
command -v cmake >/dev/null 2>&1 || need+=(cmake)
command -v g++ >/dev/null 2>&1 || need+=(g++)
command -v make >/dev/null 2>&1 || need+=(make)
command -v gfortran >/dev/null 2>&1 || need+=(gfortran)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
if ((${#need[@]})); then
  echo "Installing: ${need[*]}"
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${need[@]}"
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
