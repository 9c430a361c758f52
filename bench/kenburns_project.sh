#!/bin/sh
# Writes the project of a Ken Burns show for the speed and memory
# measurements to standard output: COUNT slides, slide k ending at
# k x SLIDE_MS, each cross-fading in over FADE_MS and showing the picture
# NAME-k.jpg, which covers the 1920 x 1080 frame and zooms from 100 to 125 %
# over its time on screen. PAN "alternate" also moves it, by (10,-6) and
# (-10,6) on alternate slides; "none" (the default) zooms about the centre.
#
#   bench/kenburns_project.sh COUNT SLIDE_MS FADE_MS NAME [PAN]
set -eu
if [ $# -lt 4 ] || [ $# -gt 5 ]; then
    echo "usage: $0 COUNT SLIDE_MS FADE_MS NAME [alternate|none]" >&2
    exit 2
fi
count=$1
slide_ms=$2
fade_ms=$3
name=$4
pan_mode=${5:-none}

echo "[Main]"
echo "OrbVersion=1.0"
echo "MinorVersion=13"
echo "opt_scr_width=1920"
echo "opt_scr_height=1080"
echo "opt_repeat=stop"
echo "opt_slidescount=$count"
k=1
while [ "$k" -le "$count" ]; do
    echo "opt_synchpos$k=$((k * slide_ms))"
    k=$((k + 1))
done
echo "opt_fx_enable=1"
echo "opt_fx_time=$fade_ms"
echo "opt_fx_eff3=2"
echo "opt_bstyle=1"
echo "opt_bname=0"
echo "opt_usemusic=0"
k=1
while [ "$k" -le "$count" ]; do
    pan="0,0"
    if [ "$pan_mode" = alternate ]; then
        if [ $((k % 2)) -eq 0 ]; then pan="-10,6"; else pan="10,-6"; fi
    fi
    cat <<SLIDE
[slide$k]
UsePersonal=1
Pers_Effect=1
Effect_Class=2
EffectTime=$fade_ms
object Picture: image
  ImageName=$name-$k.jpg
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
