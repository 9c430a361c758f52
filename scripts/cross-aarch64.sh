#!/usr/bin/env bash
# Cross-builds the player for 64-bit ARM Linux (aarch64) and runs its unit
# tests under qemu-user. Not part of CI: it installs Debian's cross compiler,
# qemu-user and the arm64 libraries (multiarch, as root), and the build and
# the emulated tests take a long while on a small machine.
#
# Usage: scripts/cross-aarch64.sh [BUILD_DIR]      (default: build-aarch64)
#   ORB_CROSS_INSTALL=0  skip the package step (they are installed already)
#   ORB_JOBS=N           parallel jobs of the build and the tests (default 2)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-aarch64}
jobs=${ORB_JOBS:-2}

# The libraries of setup.sh that the build links against, for arm64. Debian's
# -dev packages are Multi-Arch: same and install beside the host's (apt may
# first upgrade a host package whose arm64 twin must have the same version).
# Benchmarks are not built, so libbenchmark-dev is left out.
arm64_dev=(
  libgtest-dev libgmock-dev zlib1g-dev libpixman-1-dev libsdl2-dev libx11-dev libxtst-dev
  libegl-dev libgl-dev libopengl-dev libjpeg62-turbo-dev libpng-dev libexif-dev libmpg123-dev libvorbis-dev
  libavformat-dev libavcodec-dev libswresample-dev libswscale-dev libavutil-dev libmp3lame-dev
  libfreetype-dev libfontconfig-dev libcups2-dev
)
host_tools=(g++-aarch64-linux-gnu qemu-user cmake ninja-build ccache pkg-config)

install_packages() {
  local sudo="" missing=() p status
  [[ $(id -u) -eq 0 ]] || sudo="sudo"
  if ! dpkg --print-foreign-architectures | grep -qx arm64; then
    $sudo dpkg --add-architecture arm64
    $sudo apt-get update -q
  fi
  local host
  host=$(dpkg --print-architecture)
  for p in "${host_tools[@]/%/:$host}" "${arm64_dev[@]/%/:arm64}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$p")
  done
  ((${#missing[@]} == 0)) && return
  echo "cross-aarch64: installing ${missing[*]}"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# Left out of the emulated run. qemu-user runs one program; without binfmt_misc
# (not available in containers) a test cannot start another arm64 program:
#   _Launch.          re-run the test program itself as a child on a virtual
#                     X server or SDL's dummy driver (the window tests)
#   OrbTool*, Orbtool*, OrbViewerProgram, OrbViewerWindow, DemoMedia,
#   DemoShow.Tool*    run the built orbtool, orbviewer and orbdemomedia
exclude='_Launch\.|^Orb[Tt]ool|^OrbViewerProgram\.|^OrbViewerWindow\.|^DemoMedia\.|^DemoShow\.Tool'

if [[ "${ORB_CROSS_INSTALL:-1}" != 0 ]]; then
  install_packages
fi

seconds() { date +%s; }
start=$(seconds)
cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/aarch64-linux-gnu.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache \
  -DORB_BENCH=OFF -DORB_TESTS=ON
nice -n 10 ninja -C "$build" -j "$jobs"
built=$(seconds)
echo "cross-aarch64: build took $((built - start)) s"

file "$build/tests/orb_tests" | grep -q 'ARM aarch64' || { echo "cross-aarch64: orb_tests is not an arm64 program" >&2; exit 1; }
status=0
nice -n 10 ctest --test-dir "$build" -j "$jobs" --output-on-failure -E "$exclude" || status=$?
echo "cross-aarch64: tests under qemu took $(($(seconds) - built)) s (excluded: $exclude)"
exit $status
