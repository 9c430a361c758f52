#!/usr/bin/env bash
# Builds the player and shows the bundled demo. The player cannot draw a show
# yet; until it can, this publishes the demo project as a player file, lists its
# package, lets the player open it, and prints the project's sections.
set -euo pipefail
cd "$(dirname "$0")/.."
./setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
out=build/demo
mkdir -p "$out"
echo "== orbtool pack: publishing examples/demo/Project.orb as $out/demo-show"
./build/orbtool pack -o "$out/demo-show" examples/demo/Project.orb
echo "== orbtool ls $out/demo-show"
./build/orbtool ls "$out/demo-show"
echo "== $out/demo-show -log (the published show opens its own package)"
"$out/demo-show" -log
echo "== orbtool ini examples/demo/Project.orb (its sections)"
./build/orbtool ini examples/demo/Project.orb
