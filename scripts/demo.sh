#!/usr/bin/env bash
# Builds the player and the bundled demo show. The build paints the demo's
# media (examples/demo, orbdemomedia) and packs examples/demo/Project.orb with
# them into build/demo/demo-show, a player file. The player cannot draw a show
# yet; until it can, this lists the show's package, lets the player open it,
# and prints the project's sections and slide times.
set -euo pipefail
cd "$(dirname "$0")/.."
./setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
show=build/demo/demo-show
echo "== media painted by orbdemomedia into build/demo/media (name, bytes)"
cat build/demo/media.txt
echo "== orbtool ls $show (name, method, position, stored size)"
./build/orbtool ls "$show"
echo "== $show: $(stat -c %s "$show") bytes, player included"
echo "== $show -log (the published show opens its own package)"
"$show" -log
echo "== orbtool ini examples/demo/Project.orb (its sections)"
./build/orbtool ini examples/demo/Project.orb
