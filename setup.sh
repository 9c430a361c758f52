#!/usr/bin/env bash
# Installs the Debian packages this project builds with. Safe to run again:
# it asks apt only when something is missing.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config git ccache
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev
  libpixman-1-dev
  libsdl2-dev
  xvfb xauth libx11-dev libxtst-dev
  libegl-dev libgl-dev libopengl-dev libgl1-mesa-dri libegl-mesa0
  libjpeg62-turbo-dev
  libpng-dev
  libexif-dev
  libmpg123-dev
  libvorbis-dev
  libavformat-dev
  libavcodec-dev
  libswresample-dev
  libswscale-dev
  libavutil-dev
  libmp3lame-dev
  libfreetype-dev
  libfontconfig-dev
  libcups2-dev
  fonts-dejavu-core fonts-dejavu-extra
  clang libclang-rt-dev clang-format
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]} == 0)); then
  echo "setup: all ${#packages[@]} packages present"
  exit 0
fi

echo "setup: installing ${missing[*]}"
sudo=""
if [[ $(id -u) -ne 0 ]]; then
  command -v sudo >/dev/null || { echo "setup: run as root or install sudo" >&2; exit 1; }
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
