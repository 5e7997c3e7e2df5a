#!/usr/bin/env bash
# Builds the program, runs it on examples/input.txt in a fresh folder and shows the report.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/ensure-tools.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DPROPBF_TESTS=OFF -DPROPBF_BENCH=OFF \
  -DPROPBF_WERROR="${PROPBF_WERROR:-OFF}" >/dev/null
cmake --build build --target propbf >/dev/null
work="$(mktemp -d)"
cp examples/input.txt "$work/"
(cd "$work" && "$OLDPWD/build/propbf")
echo "--- output.txt ($work/output.txt)"
cat "$work/output.txt"
