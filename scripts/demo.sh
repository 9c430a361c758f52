#!/usr/bin/env bash
# Builds the player and the bundled demo show, then plays it. The build paints
# the demo's media (examples/demo, orbdemomedia) and packs
# examples/demo/Project.orb with them into build/demo/demo-show, a player
# file. The show is played by the engine on a virtual clock into a video file,
# build/demo/demo-show.y4m, with its music beside it as
# build/demo/demo-show.wav; any video player shows the file.
set -euo pipefail
cd "$(dirname "$0")/.."
./setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
show=build/demo/demo-show
video=build/demo/demo-show.y4m
echo "== $show: $(stat -c %s "$show") bytes, player included"
echo "== $show -log (the published show opens its own package)"
"$show" -log
echo "== orbtool render $show --size 640x360 --fps 25 -o $video"
./build/orbtool render "$show" --size 640x360 --fps 25 -o "$video"
echo "== the demo show played into $video ($(stat -c %s "$video") bytes)"
