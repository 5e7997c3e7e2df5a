#!/usr/bin/env python3
"""Rare stages: the thin tube `a > b > c; a < c + w` (14, 12, 10 of 20, uniform priors)
over many seeds, against its exact factor.

Runs `propbf evaluate` with seeds 1 ... N (two processes) and reports, per width w: the
mean factor against the unconstrained hypothesis and its z against the exact value
(mean minus exact over the standard error of the mean), how often the corrected and
independent intervals hold the exact factor, how many runs give a finite factor, how
many say `interval_trusted: false`, how many hold the exact value or say they are not
trusted, and how many levels the stages were split into. With --precision R it runs
precision mode from --niter and reports how many runs reached R and their sweeps.

Exact values: complexity (3 w^2 - 2 w^3) / 6 (the range of three ordered uniforms has
density 6 r (1 - r), and a > b > c is one of 3! orders); fit by quadrature (mpmath):
  f = int_0^1 p_b(b) int_{b - w}^{b} p_c(c) [F_a(c + w) - F_a(b)] dc db,
p and F the posterior Beta(15, 7), Beta(13, 9), Beta(11, 11) densities and distribution
functions.

    python3 bench/rare_coverage.py --binary build/propbf --seeds 200 --niter 20000 --width 0.02
"""
import argparse
import concurrent.futures
import json
import math
import os
import statistics
import subprocess
import tempfile

import mpmath

SUCCESSES = (14, 12, 10)
TRIALS = 20


def exact(width):
    mpmath.mp.dps = 20
    (ka, kb, kc) = SUCCESSES
    pa = (ka + 1, TRIALS - ka + 1)
    pb = (kb + 1, TRIALS - kb + 1)
    pc = (kc + 1, TRIALS - kc + 1)

    def density(shape, x):
        return mpmath.betainc(shape[0], shape[1], 0, 1, regularized=False) ** -1 * x ** (shape[0] - 1) * (1 - x) ** (shape[1] - 1)

    def cdf(shape, x):
        return mpmath.betainc(shape[0], shape[1], 0, min(max(x, 0), 1), regularized=True)

    def inner(b):
        lo = max(0, b - width)
        return mpmath.quad(lambda c: density(pc, c) * (cdf(pa, c + width) - cdf(pa, b)), [lo, b])

    fit = mpmath.quad(lambda b: density(pb, b) * inner(b), mpmath.linspace(0, 1, 21))
    complexity = (3 * width**2 - 2 * width**3) / 6
    return float(complexity), float(fit)


def run(binary, width, seed, niter, precision):
    with tempfile.TemporaryDirectory() as folder:
        problem = os.path.join(folder, "tube.toml")
        with open(problem, "w") as f:
            f.write('[items]\nnames = ["a", "b", "c"]\nsuccesses = [%d, %d, %d]\ntrials = [20, 20, 20]\n' % SUCCESSES)
            f.write('[hypotheses]\nH1 = "a > b > c; a < c + %r"\n' % width)
        out = os.path.join(folder, "out.json")
        command = [binary, "evaluate", problem, "--seed", str(seed), "--niter", str(niter), "--threads", "1",
                   "--json", out]
        if precision:
            command += ["--precision", str(precision)]
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
        with open(out) as f:
            return json.load(f)["hypotheses"][0]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", default="build/propbf")
    parser.add_argument("--seeds", type=int, default=200)
    parser.add_argument("--first-seed", type=int, default=1)
    parser.add_argument("--niter", type=int, default=20000)
    parser.add_argument("--width", type=float, default=0.02)
    parser.add_argument("--precision", type=float, default=None)
    args = parser.parse_args()
    complexity, fit = exact(args.width)
    factor = fit / complexity
    complement = factor / ((1 - fit) / (1 - complexity))
    seeds = range(args.first_seed, args.first_seed + args.seeds)
    with concurrent.futures.ThreadPoolExecutor(2) as pool:
        results = list(pool.map(lambda s: run(args.binary, args.width, s, args.niter, args.precision), seeds))
    def holds(interval, value):
        return interval[0] is not None and interval[0] <= value <= interval[1]
    finite = [r for r in results if r["bf_unconstrained"] is not None and math.isfinite(r["bf_unconstrained"])
              and r["bf_unconstrained"] > 0]
    values = [r["bf_unconstrained"] for r in finite]
    n = len(results)
    mean = statistics.mean(values) if values else float("nan")
    sd = statistics.stdev(values) if len(values) > 1 else float("nan")
    z = (mean - factor) / (sd / math.sqrt(len(values))) if len(values) > 1 else float("nan")
    corrected = sum(holds(r["bf_unconstrained_interval"], factor) for r in results)
    corrected_c = sum(holds(r["bf_complement_interval"], complement) for r in results)
    independent = sum(holds(r["bf_unconstrained_interval_independent"], factor) for r in results)
    untrusted = sum(not r["interval_trusted"] for r in results)
    good = sum(r in finite and (holds(r["bf_unconstrained_interval"], factor) or not r["interval_trusted"])
               for r in results)
    levels = sorted({(s.get("complexity_levels", 1), s.get("fit_levels", 1)) for r in results for s in r["stages"]})
    print(f"tube w = {args.width}, niter {args.niter}, seeds {args.first_seed}..{args.first_seed + n - 1}")
    print(f"exact: complexity {complexity:.8g}, fit {fit:.8g}, factor {factor:.6g}, vs complement {complement:.6g}")
    print(f"finite factors {len(finite)}/{n}; mean {mean:.6g} (sd {sd:.4g}, relative {sd / factor:.4f}), z {z:+.2f}")
    print(f"corrected interval holds {corrected}/{n} (vs complement {corrected_c}/{n}); independent {independent}/{n}")
    print(f"not trusted {untrusted}/{n}; finite and (held or not trusted) {good}/{n}")
    print(f"levels (complexity, fit) per stage seen: {levels}")
    if args.precision:
        reached = sum(bool(r["precision"]["reached"]) for r in results)
        sweeps = sorted(r["niter"] for r in results)
        print(f"precision {args.precision}: reached {reached}/{n}; sweeps per stage median {sweeps[n // 2]} "
              f"(min {sweeps[0]}, max {sweeps[-1]})")


if __name__ == "__main__":
    main()
