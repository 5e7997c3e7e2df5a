#!/usr/bin/env bash
# Builds the program and every test, then runs the tests.
#   BUILD_DIR   build folder (default: build)
#   PROPBF_SANITIZE=ON   AddressSanitizer + UndefinedBehaviorSanitizer build
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/ensure-tools.sh
build="${BUILD_DIR:-build}"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPROPBF_SANITIZE="${PROPBF_SANITIZE:-OFF}"
cmake --build "$build"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
