#!/usr/bin/env bash
# Whole runs of propbf on generated problems of growing size, and a markdown table of
# the results on standard output (progress on standard error).
#
#   bash bench/whole_run.sh > table.md
#
# For J in {5, 10, 20, 40} and T in {5, 10, 20}, with niter = 100000:
#   * the program itself, under /usr/bin/time -v: wall-clock seconds, peak resident
#     memory and draw-terms per second, where draw-terms = the sum over both phases and
#     all stages of niter x J x (t - 1) x (J - 1);
#   * the literal sampler against the program's own, side by side in one process
#     (bench_sampler_bench --side-by-side: the whole analysis with each sampler, outputs
#     compared byte for byte). A literal run at niter = 100000 takes minutes for the
#     larger problems, so this comparison uses a smaller niter where needed: the largest
#     of 100000, 50000, 20000, 10000, 5000, 2000, 1000 for which the literal run is
#     expected to stay within LITERAL_BUDGET seconds; the table shows the niter used.
# Then the reference comparison J = 20, T = 20, niter = 20000, side by side, and the
# machine's bound for one chain of rounded double additions (bench_sampler_bench).
#
# Environment:
#   BUILD_DIR        build folder (default: build); configured and built here (Release)
#   REPEATS          runs of the program per problem, the fastest counts (default: 2)
#   LITERAL_BUDGET   seconds a literal run may take, estimated (default: 10)
#   SIZES_J, SIZES_T override the problem sizes (default: "5 10 20 40", "5 10 20")
#   NITER            sweeps per stage of the program runs (default: 100000)
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
build="${BUILD_DIR:-build}"
repeats="${REPEATS:-2}"
budget="${LITERAL_BUDGET:-10}"
sizes_j="${SIZES_J:-5 10 20 40}"
sizes_t="${SIZES_T:-5 10 20}"
niter="${NITER:-100000}"

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target propbf bench_sampler_bench >/dev/null
program="$root/$build/propbf"
bench="$root/$build/bench/bench_sampler_bench"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# generate J T NITER FILE: dense coefficients in [-1, 1], a start strictly inside every
# restriction (slack 0.1), observations 0 and 1. Fixed seed per size.
generate() {
  awk -v J="$1" -v T="$2" -v N="$3" 'BEGIN {
    srand(1000 * J + T)
    print "generated problem, J = " J ", T = " T
    print J, T, N
    print "restrictions: coefficients, then the constant"
    for (j = 1; j <= J; j++) p[j] = 0.2 + 0.6 * rand()
    for (t = 1; t <= T; t++) {
      s = 0; line = ""
      for (j = 1; j <= J; j++) { c = int(200 * rand() - 100) / 100; s += c * sprintf("%.4f", p[j]); line = line c " " }
      print line sprintf("%.4f", s - 0.1)
    }
    print "starting values"
    line = ""; for (j = 1; j <= J; j++) line = line sprintf("%.4f ", p[j]); print line
    print "observations"
    line = ""; for (j = 1; j <= J; j++) line = line (rand() < 0.5 ? 0 : 1) " "; print line
  }' > "$4"
}

draw_terms() {  # J T NITER: both phases, all stages
  awk -v J="$1" -v T="$2" -v N="$3" 'BEGIN { printf "%.0f", 2 * N * J * (J - 1) * T * (T - 1) / 2 }'
}

# time_program FOLDER: runs propbf there under /usr/bin/time -v; prints "seconds kbytes"
# (wall-clock seconds measured around it, to the millisecond; peak RSS from time -v).
time_program() {
  local start end
  start="$(date +%s.%N)"
  (cd "$1" && /usr/bin/time -v "$program" > console.txt 2> time.txt) || {
    echo "propbf failed in $1" >&2
    exit 1
  }
  end="$(date +%s.%N)"
  awk -F': ' -v s="$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')" '
    /Maximum resident set size/ { kb = $2 }
    END { printf "%.3f %d\n", s, kb }' "$1/time.txt"
}

# A literal run's draw-terms per second, estimated from the reference problem below;
# used only to pick the niter of the side-by-side runs.
literal_rate=4.0e8

echo "| J | T | niter | seconds | peak RSS (MB) | draw-terms | draw-terms/s | side-by-side niter | literal s | fast s | speedup | same bytes |"
echo "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|:---:|"
for J in $sizes_j; do
  for T in $sizes_t; do
    dir="$work/j${J}t${T}"
    mkdir -p "$dir/run" "$dir/pair"
    generate "$J" "$T" "$niter" "$dir/run/input.txt"
    best=""
    rss=0
    for ((i = 0; i < repeats; i++)); do
      read -r s kb < <(time_program "$dir/run")
      if [[ -z "$best" ]] || awk -v a="$s" -v b="$best" 'BEGIN { exit !(a < b) }'; then best="$s"; fi
      ((kb > rss)) && rss="$kb"
    done
    terms="$(draw_terms "$J" "$T" "$niter")"
    rate="$(awk -v d="$terms" -v s="$best" 'BEGIN { printf "%.3g", (s > 0 ? d / s : 0) }')"

    pair_niter=""
    for n in 100000 50000 20000 10000 5000 2000 1000; do
      if awk -v d="$(draw_terms "$J" "$T" "$n")" -v r="$literal_rate" -v b="$budget" 'BEGIN { exit !(d / r <= b) }'; then
        pair_niter="$n"
        break
      fi
    done
    [[ -z "$pair_niter" ]] && pair_niter=1000
    generate "$J" "$T" "$pair_niter" "$dir/pair/input.txt"
    read -r lit fast speedup _ same < <("$bench" --side-by-side "$dir/pair" 2>&1 >/dev/null | tail -n 1)

    printf '| %d | %d | %d | %s | %.1f | %.3g | %s | %d | %s | %s | %s | %s |\n' \
      "$J" "$T" "$niter" "$best" "$(awk -v k="$rss" 'BEGIN { print k / 1024 }')" "$terms" "$rate" \
      "$pair_niter" "$lit" "$fast" "$speedup" "$same"
    echo "J=$J T=$T done" >&2
  done
done

echo
echo "Reference problem J = 20, T = 20, niter = 20000, both samplers side by side in one process:"
echo
mkdir -p "$work/reference"
generate 20 20 20000 "$work/reference/input.txt"
echo "| literal s | fast s | speedup | draw-terms | literal draw-terms/s | fast draw-terms/s | same bytes |"
echo "|---:|---:|---:|---:|---:|---:|:---:|"
for ((i = 0; i < repeats; i++)); do
  read -r lit fast speedup terms same < <("$bench" --side-by-side "$work/reference" 2>&1 >/dev/null | tail -n 1)
  awk -v l="$lit" -v f="$fast" -v x="$speedup" -v d="$terms" -v s="$same" \
    'BEGIN { printf "| %s | %s | %s | %.4g | %.3g | %.3g | %s |\n", l, f, x, d, d / l, d / f, s }'
done

echo
chain="$("$bench" --benchmark_filter='BM_ChainOfRoundedAdditions' --benchmark_min_time=1 2>/dev/null |
  awk '/BM_ChainOfRoundedAdditions/ { for (i = 1; i <= NF; i++) if ($i ~ /^additions=/) { sub("additions=", "", $i); sub("/s", "", $i); print $i } }')"
echo "One chain of rounded double additions (float sum + exact product, rounded to double, then to float): $chain additions per second."
