#!/usr/bin/env bash
# Builds the player and shows the bundled demo. Until a show can play, this packs
# the demo project into a player file and lists what the package holds.
set -euo pipefail
cd "$(dirname "$0")/.."
./setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
echo "== sections of examples/demo/Project.orb (orbtool ini):"
./build/orbtool ini examples/demo/Project.orb
