#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer and runs
# every test.
set -euo pipefail
cd "$(dirname "$0")/.."
./setup.sh
cmake -S . -B build-check -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORB_SANITIZE=ON
cmake --build build-check
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build-check --output-on-failure -j2
