#!/usr/bin/env bash
# Makes the benchmark clip: 1080p30 H.264 with B-frames and a key frame every
# 2 s, from FFmpeg's own test pattern. Usage: bench/make_video_clip.sh OUT.mp4 [SECONDS]
set -euo pipefail
out=${1:?usage: make_video_clip.sh OUT.mp4 [SECONDS]}
seconds=${2:-20}
ffmpeg -hide_banner -loglevel error -y -f lavfi -i "testsrc2=size=1920x1080:rate=30" \
  -t "$seconds" -c:v libx264 -preset veryfast -pix_fmt yuv420p \
  -x264-params "keyint=60:min-keyint=60:scenecut=0:bframes=3" "$out"
