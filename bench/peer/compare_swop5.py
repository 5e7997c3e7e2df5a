#!/usr/bin/env python3
"""The agreement table of propbf's batch (JSON lines) and the R peer's factors (CSV: row, bf, se).

Usage: compare_swop5.py OURS.jsonl PEER.csv [M_POST] [M_PRIOR]   (defaults 4000, 1000000)
Per row: propbf's factor against the unconstrained model with its corrected 95% interval, the
peer's with its standard error, their ratio, and whether they agree: |ln ours - ln peer| at most
1.96 sqrt(s_ours^2 + s_peer^2), s_ours = ln(upper / lower) / (2 x 1.96), s_peer = se / bf (the
relative standard errors on the log scale). Also whether propbf's factor lies within the peer's
bf +- 1.96 se, and whether the peer's lies within propbf's interval. A row where none of the
peer's M_POST posterior draws (default 4000) fell inside has factor 0 and no usable s.e.: its
95% upper bound is 3 / M_POST over the peer's prior share, and the row agrees when propbf's
interval reaches below that bound. Prints a Markdown table and a summary line."""
import csv
import json
import math
import re
import sys


def main(ours_path, peer_path, m_post=4000, m_prior=1000000):
    ours = {}
    with open(ours_path) as lines:
        for line in lines:
            record = json.loads(line)
            row = int(re.search(r"row(\d+)\.toml$", record["path"]).group(1))
            if record["status"] != "ok":
                ours[row] = None
                continue
            h = record["result"]["hypotheses"][0]
            ours[row] = (h["bf_unconstrained"], h["bf_unconstrained_interval"])
    peer = {}
    with open(peer_path) as table:
        for entry in csv.DictReader(table):
            peer[int(entry["row"])] = (float(entry["bf"]), float(entry["se"]),
                                       int(entry["prior_count"]) / (int(entry["post_count"]) or 1))
    print("| row | propbf | 95% interval | R peer | s.e. | ratio | agree | ours in peer's +-1.96 s.e. | peer's in ours |")
    print("|---|---|---|---|---|---|---|---|---|")
    agree = within = held = compared = zero = 0
    for row in sorted(set(ours) & set(peer)):
        if ours[row] is None:
            print(f"| {row} | failed | | | | | | | |")
            continue
        bf, (lower, upper) = ours[row]
        peer_bf, se, _ = peer[row]
        if peer_bf == 0:
            # Rule of three: no draw inside in M_POST puts the posterior share below 3 / M_POST.
            bound = 3 / m_post / (float(next(csv.DictReader(open(peer_path)))["prior_count"]) / m_prior)
            ok = lower <= bound
            compared += 1
            agree += ok
            zero += 1
            print(f"| {row} | {bf:.4g} | [{lower:.4g}, {upper:.4g}] | 0 (no draw inside) | below {bound:.2g} | | "
                  f"{'yes' if ok else 'NO'} | | |")
            continue
        s_ours = math.log(upper / lower) / (2 * 1.96)
        s_peer = se / peer_bf
        ok = abs(math.log(bf / peer_bf)) <= 1.96 * math.hypot(s_ours, s_peer)
        inside = abs(bf - peer_bf) <= 1.96 * se
        holds = lower <= peer_bf <= upper
        held += holds
        compared += 1
        agree += ok
        within += inside
        print(f"| {row} | {bf:.4g} | [{lower:.4g}, {upper:.4g}] | {peer_bf:.4g} | {se:.3g} | {bf / peer_bf:.3f} | "
              f"{'yes' if ok else 'NO'} | {'yes' if inside else 'no'} | {'yes' if holds else 'no'} |")
    ratios = [ours[r][0] / peer[r][0] for r in set(ours) & set(peer) if ours[r] is not None and peer[r][0] > 0]
    geometric = math.exp(sum(math.log(x) for x in ratios) / len(ratios)) if ratios else float("nan")
    print(f"\n{compared} rows compared: {agree} agree, {within} within the peer's bf +- 1.96 s.e., the peer's "
          f"within propbf's interval in {held}; the peer had no posterior draw inside in {zero}; "
          f"geometric mean of the ratios {geometric:.3f}")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2], int(sys.argv[3]) if len(sys.argv) > 3 else 4000,
         int(sys.argv[4]) if len(sys.argv) > 4 else 1000000)
