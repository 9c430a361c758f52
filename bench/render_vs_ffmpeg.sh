#!/bin/bash
# Renders the demo show with orbtool render (software device) and the same
# pictures with comparable motion through an ffmpeg filter graph, and prints
# both times and the ratio.
#
#   bench/render_vs_ffmpeg.sh BUILD [WxH] [FPS]
#
# BUILD is a (Release) build folder holding orbtool and demo/demo-show.
#
# What is compared:
# - ours: `orbtool render demo-show --size WxH --fps FPS` over the whole
#   show (ten slides, 60 s), frames written as one YUV4MPEG2 stream that goes
#   to /dev/null (a link named .y4m), the music beside it as WAV. The show
#   draws more than the ffmpeg graph: texts with shadows, a logo, an animated
#   picture and transitions of several kinds besides cross-fades.
# - ffmpeg: ten of the demo's landscape pictures (the same JPEG files), each
#   decoded once, scaled to cover twice the output size, then zoompan makes
#   7.2 s of Ken Burns motion (zoom 100 to 125 % about the centre, the same
#   range as the show's photographs) at the same size and rate, and xfade
#   chains them with 1.2 s cross-fades (the show's usual transition time):
#   61.2 s of video in yuv420p to the null muxer, so no encoding is counted.
# Both are timed as CPU time (user + sys) of the whole process, because the
# machine is shared; wall time and the load average are printed beside.
set -euo pipefail
if [ $# -lt 1 ]; then
    echo "usage: $0 BUILD [WxH] [FPS]" >&2
    exit 2
fi
build=$1
size=${2:-1280x720}
fps=${3:-30}
w=${size%x*}
h=${size#*x}
media="$build/demo/media"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ln -s /dev/null "$work/frames.y4m"

pictures=(alpine-lake sunset-bay green-hills misty-morning evening-ridge tall-pines square-pond desert-dunes
          night-lake valley-noon)
slide_s=7.2
fade_s=1.2
frames=$(awk -v s="$slide_s" -v f="$fps" 'BEGIN { printf "%d", s * f + 0.5 }')

inputs=()
graph=""
k=0
for p in "${pictures[@]}"; do
    inputs+=(-i "$media/$p.jpg")
    graph+="[$k:v]scale=$((2 * w)):$((2 * h)):force_original_aspect_ratio=increase,crop=$((2 * w)):$((2 * h)),"
    graph+="zoompan=z='1+0.25*on/$frames':x='iw/2-iw/zoom/2':y='ih/2-ih/zoom/2':d=$frames:s=${w}x${h}:fps=$fps,"
    graph+="format=yuv420p,setsar=1[v$k];"
    k=$((k + 1))
done
previous="v0"
for ((k = 1; k < ${#pictures[@]}; k++)); do
    offset=$(awk -v k="$k" -v s="$slide_s" -v f="$fade_s" 'BEGIN { printf "%.3f", k * (s - f) }')
    graph+="[$previous][v$k]xfade=transition=fade:duration=$fade_s:offset=$offset[x$k];"
    previous="x$k"
done
graph=${graph%;}

timed() {
    # Prints "user sys wall maxrss_kb" of the command on the last line of $work/time.
    /usr/bin/time -f "%U %S %e %M" -o "$work/time" "$@" >"$work/out" 2>&1 || {
        cat "$work/out" >&2
        exit 1
    }
    tail -1 "$work/time"
}

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
read -r ou os ow om < <(timed "$build/orbtool" render "$build/demo/demo-show" --size "$size" --fps "$fps" \
    --device soft -o "$work/frames.y4m")
ours_frames=$(grep -o '^[0-9]* frames' "$work/out" | cut -d' ' -f1)
read -r fu fs fw fm < <(timed ffmpeg -nostdin -hide_banner -loglevel error "${inputs[@]}" \
    -filter_complex "$graph" -map "[$previous]" -f null -)
# The frames ffmpeg made: 10 slides of 7.2 s less 9 overlaps of 1.2 s.
ff_frames=$(awk -v n="${#pictures[@]}" -v s="$slide_s" -v f="$fade_s" -v r="$fps" \
    'BEGIN { printf "%d", (n * s - (n - 1) * f) * r + 0.5 }')
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
awk -v of="$ours_frames" -v ou="$ou" -v os="$os" -v ow="$ow" -v om="$om" \
    -v ff="$ff_frames" -v fu="$fu" -v fs="$fs" -v fw="$fw" -v fm="$fm" -v size="$size" -v fps="$fps" 'BEGIN {
    oc = ou + os; fc = fu + fs
    printf "orbtool render: %d frames %s at %d fps: cpu %.1f s (user %.1f, sys %.1f), wall %.1f s, peak %d MB: %.1f frames per cpu second\n",
        of, size, fps, oc, ou, os, ow, om / 1024, of / oc
    printf "ffmpeg zoompan+xfade: %d frames: cpu %.1f s (user %.1f, sys %.1f), wall %.1f s, peak %d MB: %.1f frames per cpu second\n",
        ff, fc, fu, fs, fw, fm / 1024, ff / fc
    printf "ratio (ours per frame faster by): %.2fx\n", (fc / ff) / (oc / of)
}'
