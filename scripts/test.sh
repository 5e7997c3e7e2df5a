#!/usr/bin/env bash
# Builds the program and every test, then runs the tests. Every option the suite needs is
# set here, so a build folder configured by another script (run-example.sh turns the
# tests off) is switched back; a run in which no test is found fails.
#   BUILD_DIR             build folder (default: build)
#   CXX                   the compiler, on a build folder's first configuration (g++ or clang++)
#   PROPBF_WERROR=ON      warnings are errors (CI)
#   PROPBF_ASSERTIONS=ON  assert() stays on in the optimised build
#   PROPBF_SANITIZE=ON    AddressSanitizer + UndefinedBehaviorSanitizer build
#   PROPBF_TSAN=ON        ThreadSanitizer build (needs CXX=clang++); runs the tests labelled
#                         `threads` unless TEST_LABEL says otherwise
#   TEST_LABEL            run only the tests with this ctest label (e.g. threads, slow)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/ensure-tools.sh
build="${BUILD_DIR:-build}"
tsan="${PROPBF_TSAN:-OFF}"
label="${TEST_LABEL:-}"
bench=ON
if [ "$tsan" = ON ]; then
  label="${label:-threads}"
  bench=OFF  # the benchmarks are not what the sanitizer is for
fi
compiler=()
if [ -n "${CXX:-}" ]; then compiler=(-DCMAKE_CXX_COMPILER="$CXX"); fi
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPROPBF_TESTS=ON -DPROPBF_BENCH="$bench" \
  -DPROPBF_FUZZ=OFF -DPROPBF_SANITIZE="${PROPBF_SANITIZE:-OFF}" -DPROPBF_TSAN="$tsan" \
  -DPROPBF_WERROR="${PROPBF_WERROR:-OFF}" -DPROPBF_ASSERTIONS="${PROPBF_ASSERTIONS:-OFF}" "${compiler[@]}"
cmake --build "$build"
selection=()
if [ -n "$label" ]; then selection=(-L "$label"); fi
ctest --test-dir "$build" --output-on-failure --no-tests=error -j "$(nproc)" "${selection[@]}"
