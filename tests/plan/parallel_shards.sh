#!/usr/bin/env bash
# A plan in four parts run side by side by GNU parallel, then merged: the same summary,
# byte for byte, as one run of the whole plan (docs/plan.md's recipe).
#   parallel_shards.sh PROPBF PLAN.toml
set -euo pipefail
propbf="$1"
plan="$2"
command -v parallel >/dev/null 2>&1 || { echo "GNU parallel is not installed"; exit 77; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp "$plan" "$work/plan.toml"
cd "$work"
parallel --will-cite "$propbf" plan plan.toml --threads 1 --shard {}/4 --jsonl part{}.jsonl ::: 1 2 3 4
"$propbf" plan merge part1.jsonl part2.jsonl part3.jsonl part4.jsonl --json merged.json > merged.txt
"$propbf" plan plan.toml --json single.json > single.txt
cmp merged.json single.json
cmp merged.txt single.txt
echo "four parts by GNU parallel, merged: the same bytes as one run"
