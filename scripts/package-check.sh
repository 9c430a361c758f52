#!/usr/bin/env bash
# Proves the Debian package on a system that has never seen this project:
# makes the .deb in a build folder (cpack -G DEB), installs it with apt into a
# fresh Debian 12 chroot, which must pull every library the programs need,
# then plays the build's demo show there without a display and renders it
# with the installed orbtool. Run as root:
#
#   scripts/package-check.sh BUILD [BASE.tar]
#
# BASE.tar is a minimal Debian 12 root (debootstrap --variant=minbase
# bookworm, packed with tar -C ROOT -cf BASE.tar .). Without it the script
# makes one with debootstrap and keeps it as BUILD/package-check-base.tar for
# the next run. The package is installed without its recommendations, so
# that its Depends alone must carry the programs. The record, the captured
# frame and the logs land in BUILD/package-check; set ORB_CHECK_KEEP=1 to
# keep the chroot folder as well.
set -euo pipefail

if (($# < 1 || $# > 2)); then
  echo "usage: $0 BUILD [BASE.tar]" >&2
  exit 2
fi
if [[ $(id -u) -ne 0 ]]; then
  echo "package-check: run as root (chroot, mount)" >&2
  exit 2
fi
build=$(realpath "$1")
base=""
if (($# == 2)); then
  base=$(realpath "$2")
  [[ -f "$base" ]] || { echo "package-check: no base tarball $2" >&2; exit 2; }
fi
show="$build/demo/demo-show"
[[ -f "$build/CMakeCache.txt" ]] || { echo "package-check: $build is no build folder" >&2; exit 2; }

step() { echo "== $*"; }

step "cpack -G DEB in $build"
rm -f "$build"/orblume-player_*.deb
results="$build/package-check"
rm -rf "$results"
mkdir -p "$results"
(cd "$build" && cpack -G DEB) >"$results/cpack.log" 2>&1 || { cat "$results/cpack.log" >&2; exit 1; }
deb=$(ls "$build"/orblume-player_*.deb)
[[ -f "$show" ]] || { echo "package-check: $show is missing (build the demo_show target)" >&2; exit 1; }
echo "   $(basename "$deb"): $(stat -c %s "$deb") bytes"
dpkg-deb -f "$deb" Depends | sed 's/^/   Depends: /'

work=$(mktemp -d /tmp/orb-package-check.XXXXXX)
root="$work/root"
mounted=()

# Unmounts what we mounted, newest first, and removes the chroot only when
# nothing is mounted inside it any more: a recursive delete through a bound
# /dev would delete the host's device nodes.
cleanup() {
  local status=$?
  local i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount "${mounted[i]}" 2>/dev/null || umount -l "${mounted[i]}" || true
  done
  if grep -q " $root/" /proc/mounts; then
    echo "package-check: mounts left under $root; not removing $work" >&2
  elif [[ "${ORB_CHECK_KEEP:-}" == 1 ]]; then
    echo "   chroot kept in $root"
  else
    rm -rf --one-file-system "$work"
  fi
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir -p "$root"
if [[ -z "$base" ]]; then
  base="$build/package-check-base.tar"
  if [[ ! -f "$base" ]]; then
    command -v debootstrap >/dev/null || { echo "package-check: apt-get install debootstrap" >&2; exit 1; }
    step "debootstrap --variant=minbase bookworm (kept as $base)"
    debootstrap --variant=minbase bookworm "$root" http://deb.debian.org/debian >"$results/debootstrap.log"
    tar -C "$root" -cf "$base" .
    rm -rf --one-file-system "$root" && mkdir "$root"
  fi
fi
step "unpacking $base"
tar -C "$root" -xf "$base"

mount -t proc proc "$root/proc"
mounted+=("$root/proc")
mount --bind /dev "$root/dev"
mounted+=("$root/dev")
# apt writes its terminal log through a pseudo-terminal.
if [[ -d "$root/dev/pts" ]]; then
  mount --bind /dev/pts "$root/dev/pts"
  mounted+=("$root/dev/pts")
fi

cp /etc/resolv.conf "$root/etc/resolv.conf"
if compgen -G "/etc/apt/sources.list.d/*.sources" >/dev/null; then
  cp /etc/apt/sources.list.d/*.sources "$root/etc/apt/sources.list.d/"
  # The same archive listed twice makes apt warn on every call.
  rm -f "$root/etc/apt/sources.list"
fi
# Nothing installed here may start a service.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod 755 "$root/usr/sbin/policy-rc.d"

check="$root/check"
mkdir -p "$check"
cp "$deb" "$show" "$check/"
cat >"$check/demo-headless.txt" <<'SCRIPT'
wait 3000
capture /check/demo-frame.png
key Right
wait 1500
key Escape
SCRIPT

in_root() {
  chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive "$@"
}

step "apt-get install ./$(basename "$deb") in a fresh Debian 12"
in_root apt-get update -q >"$results/apt-update.log" 2>&1 || { cat "$results/apt-update.log" >&2; exit 1; }
in_root sh -c "cd /check && apt-get install -y -q --no-install-recommends ./$(basename "$deb")" \
  >"$results/apt-install.log" 2>&1 || {
  cat "$results/apt-install.log" >&2
  exit 1
}
grep -E '^(Need to get|After this operation|[0-9]+ upgraded)' "$results/apt-install.log" | sed 's/^/   /'
for program in /usr/bin/orbviewer /usr/bin/orbtool /check/demo-show; do
  if in_root ldd "$program" | grep 'not found'; then
    echo "package-check: $program misses libraries" >&2
    exit 1
  fi
done
in_root dpkg -L orblume-player | grep -E '^/usr/bin/orb' | sed 's/^/   /'

step "demo-show -headless demo-headless.txt -record demo.jsonl"
in_root sh -c 'cd /check && ./demo-show -headless demo-headless.txt -record demo.jsonl'
lines=$(wc -l <"$check/demo.jsonl")
tail -n 1 "$check/demo.jsonl" | grep -Eq '"kind": ?"exit".*"code": ?0' || {
  echo "package-check: the record does not end with exit code 0" >&2
  exit 1
}
[[ -s "$check/demo-frame.png" ]] || { echo "package-check: no frame captured" >&2; exit 1; }
echo "   record: $lines lines, ends with $(tail -n 1 "$check/demo.jsonl"); frame: $(stat -c %s "$check/demo-frame.png") bytes"

step "/usr/bin/orbtool render demo-show --size 320x180 --fps 5 -o out.y4m"
in_root sh -c 'cd /check && orbtool render demo-show --size 320x180 --fps 5 -o out.y4m'
head -c 64 "$check/out.y4m" | head -n 1 | grep -q '^YUV4MPEG2 W320 H180' || {
  echo "package-check: out.y4m is no 320x180 YUV4MPEG2 stream" >&2
  exit 1
}
# 4:2:0 frames of 320x180 behind a "FRAME" line each, after one header line.
header=$(head -n 1 "$check/out.y4m" | wc -c)
frame=$((6 + 320 * 180 * 3 / 2))
body=$(($(stat -c %s "$check/out.y4m") - header))
if ((body <= 0 || body % frame != 0)); then
  echo "package-check: out.y4m does not hold whole 320x180 frames" >&2
  exit 1
fi
echo "   out.y4m: $((body / frame)) frames; out.wav: $(stat -c %s "$check/out.wav") bytes"

step "desktop and MIME databases pick up the package (shared-mime-info, desktop-file-utils)"
in_root apt-get install -y -q --no-install-recommends shared-mime-info desktop-file-utils \
  >"$results/apt-mime.log" 2>&1 || { cat "$results/apt-mime.log" >&2; exit 1; }
in_root test -f /usr/share/mime/application/x-orblume-show.xml
in_root test -f /usr/share/mime/application/x-orblume-project.xml
in_root grep -q 'application/x-orblume-show=orblume-player.desktop' /usr/share/applications/mimeinfo.cache
echo "   x-orblume-project and x-orblume-show known, both open with orblume-player.desktop"

cp "$check/demo.jsonl" "$check/demo-frame.png" "$results/"
step "package check passed (record and frame in $results)"
