#!/usr/bin/env bash
# The program's default against OMP_NUM_THREADS=1 with COPIES copies running at once
# (default 2: two copies on a two-CPU machine leave no CPU free), on the bundled example
# and a J 10 problem. Prints, per problem, the median wall time of a copy for each
# configuration and the ratio default / one thread (below 1: the default is faster).
#
#   bash bench/contended.sh                 # two copies at once
#   COPIES=1 bash bench/contended.sh        # one copy at a time: the idle-machine figures
#   BASELINE=/path/to/old/propbf bash bench/contended.sh   # a third column: another binary's default
#
# Rounds interleave the configurations (their order alternates), so that a change in the
# machine's load falls on all of them alike. Every copy's output.txt must equal the
# first run's. Environment: PROPBF (default build/propbf), ROUNDS (default 20), COPIES.
set -euo pipefail
cd "$(dirname "$0")/.."
program="$(realpath "${PROPBF:-build/propbf}")"
baseline="${BASELINE:+$(realpath "$BASELINE")}"
rounds="${ROUNDS:-20}"
copies="${COPIES:-2}"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# The J 10 problem of bench/plain_vs_program_bench.cpp: an ordering, a contrast of pairs,
# a threshold, a weighted contrast and a sum.
cat > "$work/j10.txt" <<'EOF'
ten items, five mixed restrictions
10 5 20000
r
1 -1 0 0 0 0 0 0 0 0 0
0 0 1 1 -1 -1 0 0 0 0 0
0 0 0 0 0 0 1 0 0 0 0.3
0 0 0 0 0 0 0 0.5 0.5 -1 -0.1
1 1 1 -1 -1 0 0 0 0 0 0.2
start
0.8 0.6 0.7 0.6 0.3 0.4 0.5 0.6 0.6 0.5
x
1 0 1 1 0 0 1 1 0 1
EOF
cp examples/input.txt "$work/example.txt"

configs=(default one)
[ -n "$baseline" ] && configs+=(baseline)

# run_copies PROBLEM CONFIG: COPIES copies at once; appends each copy's wall ms to
# $work/PROBLEM.CONFIG.ms.
run_copies() {
  local problem="$1" config="$2" c
  for ((c = 0; c < copies; c++)); do
    local dir="$work/run.$c"
    rm -rf "$dir" && mkdir -p "$dir" && cp "$work/$problem.txt" "$dir/input.txt"
  done
  for ((c = 0; c < copies; c++)); do
    (
      cd "$work/run.$c"
      start=$EPOCHREALTIME
      case "$config" in
        default) "$program" ;;
        one) OMP_NUM_THREADS=1 "$program" ;;
        baseline) "$baseline" ;;
      esac > /dev/null 2>&1 < /dev/null
      end=$EPOCHREALTIME
      echo "$start $end" > wall
    ) &
  done
  wait
  for ((c = 0; c < copies; c++)); do
    awk '{ printf "%.3f\n", ($2 - $1) * 1000 }' "$work/run.$c/wall" >> "$work/$problem.$config.ms"
    if [ -e "$work/$problem.expected" ]; then
      cmp -s "$work/run.$c/output.txt" "$work/$problem.expected" || { echo "$problem $config: output differs" >&2; exit 1; }
    else
      cp "$work/run.$c/output.txt" "$work/$problem.expected"
    fi
  done
}

median() { sort -g "$1" | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "copies at once: $copies, rounds: $rounds, load average: $(cut -d' ' -f1-3 /proc/loadavg)"
header="| problem |"
for config in "${configs[@]}"; do header+=" $config median ms |"; done
header+=" default / one |"
[ -n "$baseline" ] && header+=" default / baseline |"
echo "$header"
echo "|---|$(printf -- '---:|%.0s' "${configs[@]}")---:|$([ -n "$baseline" ] && echo -n ---:\|)"
for problem in example j10; do
  for ((r = 0; r < rounds; r++)); do
    if ((r % 2 == 0)); then order=("${configs[@]}"); else order=(); for ((i = ${#configs[@]} - 1; i >= 0; i--)); do order+=("${configs[i]}"); done; fi
    for config in "${order[@]}"; do run_copies "$problem" "$config"; done
  done
  line="| $problem |"
  declare -A m=()
  for config in "${configs[@]}"; do
    m[$config]="$(median "$work/$problem.$config.ms")"
    line+=" ${m[$config]} |"
  done
  line+=" $(awk -v a="${m[default]}" -v b="${m[one]}" 'BEGIN { printf "%.3f", a / b }') |"
  [ -n "$baseline" ] && line+=" $(awk -v a="${m[default]}" -v b="${m[baseline]}" 'BEGIN { printf "%.3f", a / b }') |"
  echo "$line"
  unset m
done
