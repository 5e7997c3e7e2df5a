#!/usr/bin/env bash
# Builds the program and every test, then runs the tests. Every option the suite needs is
# set here, so a build folder configured by another script (run-example.sh turns the
# tests off) is switched back; a run in which no test is found fails.
#   BUILD_DIR   build folder (default: build)
#   PROPBF_SANITIZE=ON   AddressSanitizer + UndefinedBehaviorSanitizer build
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/ensure-tools.sh
build="${BUILD_DIR:-build}"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPROPBF_TESTS=ON -DPROPBF_BENCH=ON \
  -DPROPBF_FUZZ=OFF -DPROPBF_SANITIZE="${PROPBF_SANITIZE:-OFF}"
cmake --build "$build"
ctest --test-dir "$build" --output-on-failure --no-tests=error -j "$(nproc)"
