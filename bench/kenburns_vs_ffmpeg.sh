#!/bin/bash
# Ken Burns slides on equal work: orbtool render (software device) against an
# ffmpeg filter graph on the same pictures, in the same run, and both ratios.
#
#   bench/kenburns_vs_ffmpeg.sh BUILD [--mp4] [WxH ...]
#
# BUILD is a (Release) build folder holding orbtool and bench/orbbigpictures.
# Without a size both 1920x1080 and 1280x720 are measured. --mp4 also
# renders the show to MP4 both ways with the same H.264 settings (CRF 20,
# preset medium, 4 encoder threads, 4:2:0) and prints the encoding cost per
# frame (our MP4 render less our YUV4MPEG2 render, in CPU time) and the ratio.
#
# The work, the same on both sides:
# - ten 4000 x 3000 JPEG photographs, painted by orbbigpictures (kept in
#   BUILD/bench/kenburns-media, so a second run reuses them);
# - each picture covers the frame and zooms from 100 to 125 % about its
#   centre over the 7.2 s it is on screen (6 s slides joined by 1.2 s
#   cross-fades), 30 frames a second;
# - frames are converted to 4:2:0 and thrown away: ours go as one YUV4MPEG2
#   stream to /dev/null, ffmpeg's (scale to cover twice the output, zoompan,
#   xfade, yuv420p) to the null muxer. Nothing is encoded.
# Each side is timed as a whole process: CPU time (user + sys) and wall time.
# The frame counts differ a little (our show fades in from black at the start
# and ffmpeg's first picture is there at once), so figures are per frame.
#
# A wall-time figure means something only where two cores really run side by
# side: the script first times one checksum run and two together, and prints
# the ratio (1.0: two cores; 2.0: one).
set -euo pipefail
if [ $# -lt 1 ]; then
    echo "usage: $0 BUILD [WxH ...]" >&2
    exit 2
fi
build=$1
shift
mp4=0
if [ "${1:-}" = --mp4 ]; then
    mp4=1
    shift
fi
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1920x1080 1280x720)
for tool in "$build/orbtool" "$build/bench/orbbigpictures"; do
    if [ ! -x "$tool" ]; then
        echo "$0: $tool is missing" >&2
        exit 2
    fi
done
command -v ffmpeg >/dev/null || {
    echo "$0: ffmpeg is missing (apt-get install ffmpeg)" >&2
    exit 2
}

count=10
slide_ms=6000
fade_ms=1200
fps=30
media="$build/bench/kenburns-media"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The pictures: painted once, the same bytes every time.
if [ ! -f "$media/big-$count.jpg" ]; then
    mkdir -p "$media"
    "$build/bench/orbbigpictures" "$media" "$count" 4000x3000 >/dev/null
fi

# The show: slide k ends at k x 6 s; every slide cross-fades in for 1.2 s
# (the first from the black background) and is on screen 7.2 s, over which
# its picture zooms from 100 to 125 % about the centre.
"$(dirname "$0")/kenburns_project.sh" "$count" "$slide_ms" "$fade_ms" photo >"$work/Project.orb"
entries=()
for ((k = 1; k <= count; k++)); do entries+=("photo-$k.jpg=$media/big-$k.jpg"); done
"$build/orbtool" pack -o "$work/kenburns.orbshow" --player /dev/null "$work/Project.orb" "${entries[@]}" \
    >/dev/null
ln -s /dev/null "$work/frames.y4m"

timed() {
    # Prints "user sys wall maxrss_kb" of the command.
    /usr/bin/time -f "%U %S %e %M" -o "$work/time" "$@" >"$work/out" 2>&1 || {
        cat "$work/out" >&2
        exit 1
    }
    tail -1 "$work/time"
}

# Two cores or one: the same checksum alone and twice at once.
checksum() { head -c 400M /dev/zero | sha256sum >/dev/null; }
start=$(date +%s.%N)
checksum
one=$(awk -v s="$start" -v e="$(date +%s.%N)" 'BEGIN { print e - s }')
start=$(date +%s.%N)
checksum &
checksum
wait
two=$(awk -v s="$start" -v e="$(date +%s.%N)" 'BEGIN { print e - s }')
awk -v a="$one" -v b="$two" 'BEGIN {
    printf "cores: one checksum run %.2f s, two side by side %.2f s: %.2f times one (1.0: two cores run at once, 2.0: one)\n",
        a, b, b / a }'
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"

slide_s=$(awk -v s="$slide_ms" -v f="$fade_ms" 'BEGIN { print (s + f) / 1000 }')
fade_s=$(awk -v f="$fade_ms" 'BEGIN { print f / 1000 }')
zoom_frames=$(awk -v s="$slide_s" -v f="$fps" 'BEGIN { printf "%d", s * f + 0.5 }')
for size in "${sizes[@]}"; do
    w=${size%x*}
    h=${size#*x}
    inputs=()
    graph=""
    for ((k = 0; k < count; k++)); do
        inputs+=(-i "$media/big-$((k + 1)).jpg")
        graph+="[$k:v]scale=$((2 * w)):$((2 * h)):force_original_aspect_ratio=increase,crop=$((2 * w)):$((2 * h)),"
        graph+="zoompan=z='1+0.25*on/$zoom_frames':x='iw/2-iw/zoom/2':y='ih/2-ih/zoom/2':d=$zoom_frames:s=${w}x${h}:fps=$fps,"
        graph+="format=yuv420p,setsar=1[v$k];"
    done
    previous="v0"
    for ((k = 1; k < count; k++)); do
        offset=$(awk -v k="$k" -v s="$slide_s" -v f="$fade_s" 'BEGIN { printf "%.3f", k * (s - f) }')
        graph+="[$previous][v$k]xfade=transition=fade:duration=$fade_s:offset=$offset[x$k];"
        previous="x$k"
    done
    graph=${graph%;}

    read -r ou os ow om < <(timed "$build/orbtool" render "$work/kenburns.orbshow" --size "$size" \
        --fps "$fps" --device soft --quiet -o "$work/frames.y4m")
    ours_frames=$(grep -o '^[0-9]* frames' "$work/out" | cut -d' ' -f1)
    read -r fu fs fw fm < <(timed ffmpeg -nostdin -hide_banner -loglevel error "${inputs[@]}" \
        -filter_complex "$graph" -map "[$previous]" -f null -)
    ff_frames=$(awk -v n="$count" -v s="$slide_s" -v f="$fade_s" -v r="$fps" \
        'BEGIN { printf "%d", (n * s - (n - 1) * f) * r + 0.5 }')
    awk -v of="$ours_frames" -v ou="$ou" -v os="$os" -v ow="$ow" -v om="$om" \
        -v ff="$ff_frames" -v fu="$fu" -v fs="$fs" -v fw="$fw" -v fm="$fm" -v size="$size" -v fps="$fps" 'BEGIN {
        oc = ou + os; fc = fu + fs
        printf "%s orbtool render: %d frames: cpu %.1f s (user %.1f, sys %.1f), wall %.1f s, peak %d MB: %.1f frames per cpu second, %.1f per wall second\n",
            size, of, oc, ou, os, ow, om / 1024, of / oc, of / ow
        printf "%s ffmpeg zoompan+xfade: %d frames: cpu %.1f s (user %.1f, sys %.1f), wall %.1f s, peak %d MB: %.1f frames per cpu second, %.1f per wall second\n",
            size, ff, fc, fu, fs, fw, fm / 1024, ff / fc, ff / fw
        printf "%s ratio: %.2fx ffmpeg per cpu second, %.2fx per wall second\n", size, (of / oc) / (ff / fc),
            (of / ow) / (ff / fw)
    }'
    [ $mp4 = 1 ] || continue
    read -r mu ms mw mm < <(timed "$build/orbtool" render "$work/kenburns.orbshow" --size "$size" \
        --fps "$fps" --device soft --crf 20 --preset medium --quiet -o "$work/ours.mp4")
    read -r gu gs gw gm < <(timed ffmpeg -nostdin -hide_banner -loglevel error "${inputs[@]}" \
        -filter_complex "$graph" -map "[$previous]" -c:v libx264 -crf 20 -preset medium -threads 4 \
        -pix_fmt yuv420p -movflags +faststart -y "$work/ffmpeg.mp4")
    awk -v of="$ours_frames" -v oc="$(awk -v u="$ou" -v s="$os" 'BEGIN { print u + s }')" \
        -v mu="$mu" -v ms="$ms" -v mw="$mw" -v mm="$mm" -v ff="$ff_frames" -v gu="$gu" -v gs="$gs" -v gw="$gw" \
        -v gm="$gm" -v size="$size" 'BEGIN {
        mc = mu + ms; gc = gu + gs
        printf "%s orbtool render to MP4: cpu %.1f s, wall %.1f s, peak %d MB: %.1f frames per cpu second, %.1f per wall second\n",
            size, mc, mw, mm / 1024, of / mc, of / mw
        printf "%s ffmpeg to MP4: cpu %.1f s, wall %.1f s, peak %d MB: %.1f frames per cpu second, %.1f per wall second\n",
            size, gc, gw, gm / 1024, ff / gc, ff / gw
        printf "%s encoding: %.1f ms cpu per frame (MP4 render less YUV4MPEG2 render)\n", size, (mc - oc) * 1000 / of
        printf "%s MP4 ratio: %.2fx ffmpeg per cpu second, %.2fx per wall second\n", size, (of / mc) / (ff / gc),
            (of / mw) / (ff / gw)
    }'
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
