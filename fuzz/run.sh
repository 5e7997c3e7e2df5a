#!/usr/bin/env bash
# Builds the fuzz targets with clang (AddressSanitizer + UndefinedBehaviorSanitizer) and
# runs each for a bounded time from its seed corpus. Any finding (crash, sanitizer
# report, broken property, leak, timeout) makes the script fail; the input that caused
# it is left in $BUILD_DIR/findings.
#   BUILD_DIR          build folder (default: build-fuzz)
#   FUZZ_SECONDS       seconds per target (default: 60)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build-fuzz}"
seconds="${FUZZ_SECONDS:-60}"
cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Release \
  -DPROPBF_FUZZ=ON -DPROPBF_TESTS=OFF -DPROPBF_BENCH=OFF -DPROPBF_WERROR="${PROPBF_WERROR:-OFF}"
cmake --build "$build" --target fuzz_read_input fuzz_run fuzz_evaluate_problem fuzz_csv_data fuzz_polytope_file
findings="$(cd "$build" && pwd)/findings"
mkdir -p "$findings"
for target in read_input run evaluate_problem csv_data polytope_file; do
  corpus="$build/corpus-$target"
  mkdir -p "$corpus"
  echo "--- fuzz_$target: ${seconds} s"
  # fuzz_run's whole runs (replications and sort) take some 100 ms, its other inputs a
  # few: choosing quick inputs more often keeps it at a few hundred inputs a second.
  options=()
  if [ "$target" = run ]; then options+=(-entropic_scale_per_exec_time=1); fi
  # -close_fd_mask=2: the program's fatal reports on standard error are not shown;
  # the fuzzer's and the sanitizers' own reports still are.
  "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 "${options[@]}" \
    -close_fd_mask=2 -print_final_stats=1 -artifact_prefix="$findings/$target-" \
    "$corpus" "fuzz/corpus/$target" 2>&1 | grep -v '^#[0-9]' || {
    echo "fuzz_$target: finding, see $findings" >&2
    exit 1
  }
done
