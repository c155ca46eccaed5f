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

build_kelvara() {  # build_kelvara <folder> <build type>
  cmake -S . -B "$1" -DCMAKE_BUILD_TYPE="$2" >/dev/null
  cmake --build "$1" -j"$(nproc)"
}
