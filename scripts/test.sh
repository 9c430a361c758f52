#!/usr/bin/env bash
# Checks the formatting of changed files and the layering, then builds
# everything twice and runs every test on each build: with AddressSanitizer
# and UndefinedBehaviorSanitizer (Debug, build-check), and optimised as the
# programs ship (build, the demo's build). The fuzz targets replay their
# corpora among the tests.
set -euo pipefail
cd "$(dirname "$0")/.."
./setup.sh
start=$SECONDS
stage() { echo "== $1 ($((SECONDS - start)) s)"; }

. scripts/build-env.sh

stage "formatting and layering"
scripts/check-format.sh
scripts/check-layers.sh

stage "sanitizer build"
cmake -S . -B build-check -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORB_SANITIZE=ON "${launcher[@]}"
cmake --build build-check
stage "sanitizer tests"
(
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  ctest --test-dir build-check --output-on-failure -j2
)

stage "optimised build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}"
cmake --build build
stage "optimised tests"
ctest --test-dir build --output-on-failure -j2
stage "done"
