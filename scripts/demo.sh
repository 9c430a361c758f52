#!/usr/bin/env bash
# Builds the player and the bundled demo show, then plays it. The build paints
# the demo's media (examples/demo, orbdemomedia) and packs
# examples/demo/Project.orb with them into build/demo/demo-show, a player
# file. With a display the show plays in its window (Escape ends it).
# Without one the player plays its first seconds on the headless host (a
# record of what it did in build/demo/demo-headless.jsonl, a frame in
# build/demo/demo-frame.png), and the whole show is rendered on a virtual
# clock into build/demo/demo-show.y4m with its music beside it as
# build/demo/demo-show.wav; any video player shows them.
set -euo pipefail
cd "$(dirname "$0")/.."
./setup.sh
. scripts/build-env.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}"
cmake --build build
show=build/demo/demo-show
echo "== $show: $(stat -c %s "$show") bytes, player included"
if [[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" && "${ORB_DEMO_HEADLESS:-}" != 1 ]]; then
  echo "== playing $show in a window: arrows step slides, Space pauses, Escape ends"
  exec "$show"
fi

echo "== no display: $show on the headless host"
script=build/demo/demo-headless.txt
cat > "$script" <<SCRIPT
wait 3000
capture build/demo/demo-frame.png
key Right
wait 1500
key Escape
SCRIPT
"$show" -headless "$script" -record build/demo/demo-headless.jsonl
echo "   record: build/demo/demo-headless.jsonl ($(wc -l < build/demo/demo-headless.jsonl) lines)," \
     "frame: build/demo/demo-frame.png"
video=build/demo/demo-show.y4m
echo "== orbtool render $show --size 640x360 --fps 25 -o $video"
./build/orbtool render "$show" --size 640x360 --fps 25 -o "$video"
echo "== the demo show played into $video ($(stat -c %s "$video") bytes) and ${video%.y4m}.wav"
