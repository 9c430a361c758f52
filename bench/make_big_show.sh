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
{
    echo "[Main]"
    echo "OrbVersion=1.0"
    echo "MinorVersion=13"
    echo "opt_scr_width=1920"
    echo "opt_scr_height=1080"
    echo "opt_repeat=stop"
    echo "opt_slidescount=$count"
    k=1
    while [ "$k" -le "$count" ]; do
        echo "opt_synchpos$k=$((k * 4000))"
        k=$((k + 1))
    done
    echo "opt_fx_enable=1"
    echo "opt_fx_time=1000"
    echo "opt_fx_eff3=2"
    echo "opt_bstyle=1"
    echo "opt_bname=0"
    echo "opt_usemusic=0"
    k=1
    while [ "$k" -le "$count" ]; do
        # Alternate the direction of the pan.
        if [ $((k % 2)) -eq 0 ]; then pan="-10,6"; else pan="10,-6"; fi
        cat <<SLIDE
[slide$k]
UsePersonal=1
Pers_Effect=1
Effect_Class=2
EffectTime=1000
object Picture: image
  ImageName=slide-$k.jpg
  FitMode=Cover
  object kp1: KeyPoint
    Time=0
    Origin=SlideBegin
    ScaleX=100
    ScaleY=100
    Position=0,0
  end
  object kp2: KeyPoint
    Time=0
    Origin=SlideEnd
    ScaleX=125
    ScaleY=125
    Position=$pan
  end
end
SLIDE
        k=$((k + 1))
    done
} >"$project"

set --
k=1
while [ "$k" -le "$count" ]; do
    set -- "$@" "slide-$k.jpg=$media/big-$(((k - 1) % 3 + 1)).jpg"
    k=$((k + 1))
done
"$build/orbtool" pack -o "$out" --player /dev/null "$project" "$@"
