#!/usr/bin/env bash
# regenwetter2012 against swop5, all 90 rows as one batch of propbf evaluate beside the R peer:
# exports the rows (the peer's export script), runs them as a batch whose complexity is computed
# once (--complexity-niter) and reused by every row, runs the peer with its prior count made
# once (swop5_peer.R), and prints the agreement table (compare_swop5.py).
# Usage: swop5_batch.sh PATH/TO/propbf OUTDIR [NITER] [COMPLEXITY_NITER] [M_PRIOR] [M_POST]
#        (defaults 1000, 10000, 1000000, 4000; PEER=0 skips the peer and reuses OUTDIR/peer.csv)
# THREADS (default 1) changes no number, only the wall time.
# Needs the R peer installed (../shared/peer/install.sh) and its scripts in PEER_DIR
# (default ../shared/peer/multinomial beside the checkout).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$(realpath "$1"); out=$(realpath -m "$2")
niter=${3:-1000}; cniter=${4:-10000}; m_prior=${5:-1000000}; m_post=${6:-4000}
peer_dir=${PEER_DIR:-$here/../../../shared/peer/multinomial}
mkdir -p "$out/rows"
Rscript "$peer_dir/export_swop5.R" "$out/rows" $(seq 1 90)
mv "$out/rows/swop5.csv" "$out/swop5.csv"
sed -i 's|matrix = "swop5.csv"|matrix = "../swop5.csv"|' "$out"/rows/*.toml
# Row order 1 ... 90 (the folder's names sort as text).
for r in $(seq 1 90); do echo "$out/rows/regenwetter_row$r.toml"; done > "$out/rows.txt"
/usr/bin/time -f "%U %S %e %M" -o "$out/time.txt" "$bin" evaluate --list "$out/rows.txt" --threads "${THREADS:-1}" \
  --niter "$niter" --complexity-niter "$cniter" --jsonl "$out/ours.jsonl" --save-complexity "$out/complexity.json" --no-polytope-rows
echo "propbf: user, system, wall seconds, peak kB: $(cat "$out/time.txt")"
if [ "${PEER:-1}" != 0 ]; then
  /usr/bin/time -f "%U %S %e" -o "$out/peer_time.txt" Rscript "$here/swop5_peer.R" "$out/peer.csv" "$m_prior" "$m_post"
  echo "R peer: user, system, wall seconds: $(cat "$out/peer_time.txt")"
fi
python3 "$here/compare_swop5.py" "$out/ours.jsonl" "$out/peer.csv" "$m_post" "$m_prior"
