#!/bin/sh
# Makes a show of N slides of 24-megapixel (6000 x 4000) JPEG pictures for
# the speed and memory measurements, and packs it with orbtool pack.
#
#   bench/make_big_show.sh BUILD N OUT
#
# BUILD is a build folder holding orbtool and bench/orbbigpictures. Three
# distinct pictures are painted once (kept in OUT.media/) and reused, but
# each slide has its own entry name, so every slide decodes its own picture.
# Every slide lasts 4 s with slow Ken Burns motion (a zoom from 100 to 125 %
# with a pan), and slides cross-fade into each other for 1 s.
set -eu
if [ $# -ne 3 ]; then
    echo "usage: $0 BUILD N OUT" >&2
    exit 2
fi
build=$1
count=$2
out=$3
media="$out.media"
mkdir -p "$media"
[ -f "$media/big-3.jpg" ] || "$build/bench/orbbigpictures" "$media" 3 >/dev/null

project="$media/Project.orb"
"$(dirname "$0")/kenburns_project.sh" "$count" 4000 1000 slide alternate >"$project"

set --
k=1
while [ "$k" -le "$count" ]; do
    set -- "$@" "slide-$k.jpg=$media/big-$(((k - 1) % 3 + 1)).jpg"
    k=$((k + 1))
done
"$build/orbtool" pack -o "$out" --player /dev/null "$project" "$@"
