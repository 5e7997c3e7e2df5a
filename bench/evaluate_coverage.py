#!/usr/bin/env python3
"""Coverage of the two intervals of `propbf evaluate` on problems with exact answers.

Runs `propbf evaluate` on each problem below with seeds 1 ... N and counts how often the
exact Bayes factors (against the unconstrained hypothesis and against the complement)
lie inside the autocorrelation-aware interval (`bf_*_interval`) and inside the interval
that treats the sweeps as independent (`bf_*_interval_independent`). Writes the table
as Markdown (docs/evaluate-coverage.md by default).

With --precision R it runs precision mode instead (from --niter, doubling each run's
sweeps per stage until both corrected intervals are within R of their factor) and
rewrites only the section "## Precision mode" of the file, keeping the fixed-niter part.

    python3 bench/evaluate_coverage.py --binary build/propbf --seeds 200 --niter 5000
    python3 bench/evaluate_coverage.py --seeds 100 --niter 5000 --precision 0.05
"""
import argparse
import concurrent.futures
import json
import math
import os
import subprocess
import tempfile


def regularized_beta(a, b, x):
    """I_x(a, b) for whole a, b >= 1: P(at least a successes in a + b - 1 trials)."""
    n = a + b - 1
    return sum(math.comb(n, k) * x**k * (1 - x) ** (n - k) for k in range(a, n + 1))


def beta_density(a, b, x):
    return x ** (a - 1) * (1 - x) ** (b - 1) / (math.gamma(a) * math.gamma(b) / math.gamma(a + b))


def band_share(a1, b1, a2, b2, width, above):
    """P(|p - q| < width, p > above) for p ~ Beta(a1, b1), q ~ Beta(a2, b2): Simpson's rule."""
    steps = 20000
    h = (1 - above) / steps
    total = 0.0
    for i in range(steps + 1):
        x = above + i * h
        inner = regularized_beta(a2, b2, min(1.0, x + width)) - regularized_beta(a2, b2, max(0.0, x - width))
        weight = 1 if i in (0, steps) else (4 if i % 2 else 2)
        total += weight * beta_density(a1, b1, x) * inner
    return total * h / 3


def wedge_share(a1, b1, a2, b2, ratio, above):
    """P(q < p < ratio q, p > above) for p ~ Beta(a1, b1), q ~ Beta(a2, b2): Simpson's rule."""
    steps = 20000
    h = (1 - above) / steps
    total = 0.0
    for i in range(steps + 1):
        x = above + i * h
        inner = regularized_beta(a2, b2, x) - regularized_beta(a2, b2, x / ratio)
        weight = 1 if i in (0, steps) else (4 if i % 2 else 2)
        total += weight * beta_density(a1, b1, x) * inner
    return total * h / 3


def toml_problem(names, successes, trials, hypothesis):
    quoted = ", ".join('"%s"' % n for n in names)
    return ('[items]\nnames = [%s]\nsuccesses = [%s]\ntrials = [%s]\n[hypotheses]\nH = "%s"\n'
            % (quoted, ", ".join(map(str, successes)), ", ".join(map(str, trials)), hypothesis))


# (label, problem text, exact complexity, exact fit, how the exact values follow)
PROBLEMS = [
    ("one item: a > 0.3, 7 of 10",
     toml_problem(["a"], [7], [10], "a > 0.3"),
     0.7, 1 - regularized_beta(8, 4, 0.3),
     "complexity 1 - 0.3; fit 1 - I_0.3(8, 4)"),
    ("ordering of four, no data",
     toml_problem(["a", "b", "c", "d"], [0, 0, 0, 0], [0, 0, 0, 0], "a > b > c > d"),
     1 / 24, 1 / 24, "complexity = fit = 1/4!"),
    ("ordering of three, 1/1, 0/0, 0/1",
     toml_problem(["a", "b", "c"], [1, 0, 0], [1, 0, 1], "a > b > c"),
     1 / 6, 11 / 30, "complexity 1/3!; fit: integral of 2a (2b - b^2) over b < a = 11/30"),
    ("narrow band: -0.05 < a - b < 0.05, a > 0.5; 6/10, 5/10",
     toml_problem(["a", "b"], [6, 5], [10, 10], "a - b < 0.05; a - b > -0.05; a > 0.5"),
     band_share(1, 1, 1, 1, 0.05, 0.5), band_share(7, 5, 6, 6, 0.05, 0.5),
     "1-D integral of the density of a times the chance of b in the band (Simpson, 20000 steps)"),
    ("narrow band: -0.01 < a - b < 0.01, a > 0.7; 14/20, 13/20",
     toml_problem(["a", "b"], [14, 13], [20, 20], "a - b > -0.01, a - b < 0.01, a > 0.7"),
     band_share(1, 1, 1, 1, 0.01, 0.7), band_share(15, 7, 14, 8, 0.01, 0.7),
     "complexity 0.3 * 2w - w^2 / 2; fit as above (Simpson, 20000 steps; a quadrature with mpmath agrees to 1e-12)"),
    ("narrow band: -0.001 < a - b < 0.001, a > 0.7; 14/20, 13/20",
     toml_problem(["a", "b"], [14, 13], [20, 20], "a - b > -0.001, a - b < 0.001, a > 0.7"),
     band_share(1, 1, 1, 1, 0.001, 0.7), band_share(15, 7, 14, 8, 0.001, 0.7),
     "as the band above"),
    ("thin wedge: b < a < 1.02 b, a > 0.7; 14/20, 13/20",
     toml_problem(["a", "b"], [14, 13], [20, 20], "a > b, a < 1.02*b, a > 0.7"),
     wedge_share(1, 1, 1, 1, 1.02, 0.7), wedge_share(15, 7, 14, 8, 1.02, 0.7),
     "complexity (1 - 1/1.02) (1 - 0.7^2) / 2 = 0.005; fit: 1-D integral of the density of a times the chance of "
     "b in (a / 1.02, a) (Simpson, 20000 steps)"),
    ("thin tube: c < b < a < c + 0.02, a > 0.5; no data",
     toml_problem(["a", "b", "c"], [0, 0, 0], [0, 0, 0], "a - c < 0.02, a > b, b > c, a > 0.5"),
     None, None, "fit = complexity: both factors 1"),
]


# Thin regions no move follows: the runs should say their intervals are not trusted. Left
# out of the totals.
UNFOLLOWED = {"thin tube: c < b < a < c + 0.02, a > 0.5; no data"}


def chosen_problems(args):
    """PROBLEMS, or those numbered (from 1) in --problems."""
    if not args.problems:
        return PROBLEMS
    return [PROBLEMS[int(i) - 1] for i in args.problems.split(",")]


def made_by(args):
    """The command line that made a table."""
    text = "python3 bench/evaluate_coverage.py --seeds %d --niter %d" % (args.seeds, args.niter)
    if args.problems:
        text += " --problems %s" % args.problems
    if args.precision is not None:
        text += " --precision %g" % args.precision
    return text


def totals_row(rows, n, blanks_before, blanks_between, blanks_after):
    """The bold row of the four coverage totals over the rows (label, counts), the unfollowed aside."""
    counted = [counts for label, counts in rows if label not in UNFOLLOWED]
    totals = [sum(c[i] for c in counted) for i in range(4)]
    total = n * len(counted)
    cells = ["**%d/%d (%.1f%%)**" % (t, total, 100 * t / total) for t in totals]
    label = "**all**" if len(counted) == len(rows) else "**all, the tube aside**"
    parts = [label] + [""] * blanks_before + cells[:2] + [""] * blanks_between + cells[2:] + [""] * blanks_after
    return "|" + "|".join(" %s " % part if part else " " for part in parts) + "|"


def run_one(binary, problem_path, niter, seed, precision=None):
    with tempfile.TemporaryDirectory() as folder:
        out = os.path.join(folder, "r.json")
        command = [binary, "evaluate", problem_path, "--json", out, "--niter", str(niter), "--seed", str(seed),
                   "--threads", "1"]
        if precision is not None:
            command += ["--precision", str(precision)]
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
        with open(out) as f:
            return json.load(f)["hypotheses"][0]


def inside(interval, truth):
    return interval[0] is not None and interval[1] is not None and interval[0] <= truth <= interval[1]


def coverage_runs(args, binary, precision=None):
    """Per problem: (label, complexity, fit, bf_u, bf_c, derivation, results of the seeds, counts of the four
    intervals holding the exact factor: corrected and independent, against unconstrained and complement)."""
    with tempfile.TemporaryDirectory() as folder:
        for label, text, complexity, fit, derivation in chosen_problems(args):
            path = os.path.join(folder, "problem.toml")
            with open(path, "w") as f:
                f.write(text)
            if complexity is None:  # no data: fit = complexity, both factors 1
                bf_u = bf_c = 1.0
            else:
                bf_u = fit / complexity
                bf_c = bf_u / ((1 - fit) / (1 - complexity))
            with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
                results = list(pool.map(lambda s: run_one(binary, path, args.niter, s, precision),
                                        range(1, args.seeds + 1)))
            counts = [
                sum(inside(h["bf_unconstrained_interval"], bf_u) for h in results),
                sum(inside(h["bf_unconstrained_interval_independent"], bf_u) for h in results),
                sum(inside(h["bf_complement_interval"], bf_c) for h in results),
                sum(inside(h["bf_complement_interval_independent"], bf_c) for h in results),
                # runs marked interval_trusted = false, and runs whose corrected interval against the
                # unconstrained hypothesis held the exact factor or that said it could not be trusted
                sum(not h["interval_trusted"] for h in results),
                sum(inside(h["bf_unconstrained_interval"], bf_u) or not h["interval_trusted"] for h in results),
            ]
            yield label, complexity, fit, bf_u, bf_c, derivation, results, counts


PRECISION_HEADING = "## Precision mode"


def precision_section(args, binary):
    """The lines of the precision-mode section: coverage of the intervals and the sweeps used."""
    n = args.seeds
    rows = []
    for label, _, _, bf_u, bf_c, _, results, counts in coverage_runs(args, binary, args.precision):
        # The larger relative error of the two estimates, against the target.
        errors = sorted(max(abs(h["bf_unconstrained"] / bf_u - 1), abs(h["bf_complement"] / bf_c - 1))
                        for h in results)
        sweeps = sorted(h["niter"] for h in results)
        reached = sum(h["precision"]["reached"] for h in results)
        rows.append((label, bf_u, bf_c, counts, sweeps, reached, errors))
        print(label, counts, sweeps[len(sweeps) // 2], flush=True)
    lines = [
        PRECISION_HEADING,
        "",
        "Made by `%s` (seeds 1 ... %d):" % (made_by(args), n),
        "each run starts at %d sweeps per stage and doubles them until both corrected intervals have a" % args.niter,
        "relative half-width of at most %g (at most 4194304 sweeps). Same problems and exact factors as above;"
        % args.precision,
        "the last column is the larger relative error |estimate / exact - 1| of the two factors.",
        "",
        "| problem | BF vs unconstrained | corrected | independent | BF vs complement | corrected | independent "
        "| sweeps per stage: median (min - max) | reached | relative error: median, 95th percentile |",
        "|---|---|---|---|---|---|---|---|---|---|",
    ]
    for label, bf_u, bf_c, counts, sweeps, reached, errors in rows:
        lines.append("| %s | %.5f | %d/%d | %d/%d | %.5f | %d/%d | %d/%d | %d (%d - %d) | %d/%d | %.4f, %.4f |"
                     % (label, bf_u, counts[0], n, counts[1], n, bf_c, counts[2], n, counts[3], n,
                        sweeps[len(sweeps) // 2], sweeps[0], sweeps[-1], reached, n,
                        errors[len(errors) // 2], errors[min(len(errors) - 1, int(0.95 * len(errors)))]))
    lines.append(totals_row([(row[0], row[3]) for row in rows], n, 1, 1, 3))
    return lines


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--binary", default="build/propbf")
    parser.add_argument("--seeds", type=int, default=200)
    parser.add_argument("--niter", type=int, default=5000)
    parser.add_argument("--precision", type=float, default=None)
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--problems", default="", help="comma-separated numbers (from 1) of the problems to run")
    parser.add_argument("--out", default="docs/evaluate-coverage.md")
    args = parser.parse_args()
    binary = os.path.abspath(args.binary)
    kept = []
    if os.path.exists(args.out):
        with open(args.out) as f:
            existing = f.read()
        at = existing.find("\n" + PRECISION_HEADING)
        head, tail = (existing, "") if at < 0 else (existing[:at + 1], existing[at + 1:])
        if args.precision is not None:
            section = precision_section(args, binary)
            with open(args.out, "w") as f:
                f.write(head.rstrip("\n") + "\n\n" + "\n".join(section) + "\n")
            return
        kept = tail.rstrip("\n").split("\n") if tail else []
    elif args.precision is not None:
        parser.error("--precision rewrites the precision section of an existing --out file")
    rows = []
    for label, complexity, fit, bf_u, bf_c, derivation, results, counts in coverage_runs(args, binary):
        ratio = [sum(s["fit_effective_sweeps"] + s["complexity_effective_sweeps"] for s in h["stages"])
                 / (2 * len(h["stages"]) * args.niter) for h in results]
        rows.append((label, complexity, fit, bf_u, bf_c, counts, sum(ratio) / len(ratio), derivation))
        print(label, counts, flush=True)
    n = args.seeds
    lines = [
        "# Coverage of the intervals of `propbf evaluate`",
        "",
        "Made by `%s` (seeds 1 ... %d, %d sweeps per stage)." % (made_by(args), n, args.niter),
        "Each cell counts the runs whose nominal 95% interval holds the exact Bayes factor.",
        "",
        "- *corrected*: `bf_unconstrained_interval`, `bf_complement_interval`: every stage share redrawn from",
        "  Beta(1 + share n_eff, 1 + (1 - share) n_eff), n_eff the stage's effective sweeps from its hit",
        "  sequence by batch means (cube root of niter batches, the variance ratio divided by",
        "  (t_0.975(batches - 1) / z_0.975)^2, at most niter).",
        "- *independent*: `bf_unconstrained_interval_independent`, `bf_complement_interval_independent`:",
        "  n_eff = niter, the sweeps taken as independent draws (the zero-argument program's interval).",
        "",
        "| problem | exact complexity | exact fit | BF vs unconstrained | corrected | independent "
        "| BF vs complement | corrected | independent | mean n_eff / niter | not trusted | held or not trusted |",
        "|---|---|---|---|---|---|---|---|---|---|---|---|",
    ]
    for label, complexity, fit, bf_u, bf_c, counts, ratio, _ in rows:
        shares = ("%.6f | %.6f" % (complexity, fit)) if complexity is not None else "= fit | = complexity"
        lines.append("| %s | %s | %.5f | %d/%d | %d/%d | %.5f | %d/%d | %d/%d | %.3f | %d/%d | %d/%d |"
                     % (label, shares, bf_u, counts[0], n, counts[1], n, bf_c, counts[2], n, counts[3], n,
                        ratio, counts[4], n, counts[5], n))
    lines.append(totals_row([(row[0], row[5]) for row in rows], n, 3, 1, 3))
    lines += [
        "",
        "The first three problems mix quickly (their n_eff is close to niter, below it mostly by",
        "the t widening), so both intervals are near nominal there; the independent one is a little",
        "short already on the orderings, whose later stages are correlated.",
        "",
        "**Narrow regions.** In a band `a - b > -w, a - b < w` a sweep that draws one item at a time",
        "moves along the diagonal by about w, so on its own the chain creeps: before the move along",
        "bands, the band of w = 0.05 had n_eff of 100 to 150 of 20000 sweeps in its last stage (and",
        "its corrected interval still held the truth in 189 of 200 runs), while at w = 0.01 (14/20",
        "against 13/20, a > 0.7) the report that led to the move found a mean factor over 100 seeds",
        "of 5.9 (single runs 1.1 to 57.6) against the exact 3.02, the corrected interval holding it in",
        "58 of 100 runs; at w = 0.001 in 32.",
        "Now each sweep of a stage whose truncation holds a band ends with a move along it (README),",
        "drawn from the stage's distribution on that line, and the hits of every stage are nearly",
        "independent (n_eff / niter about 0.88, as on the easy problems). The corrected interval holds",
        "the exact factor in 93 (w = 0.01) and 97 (w = 0.001) of 100 runs, with mean factors of 3.007",
        "and 3.031 against the exact 3.020 and 2.998; on 200 further seeds (101 ... 300) of the band",
        "of w = 0.01 it held it in 191 of 200 (mean 3.0200). The thin wedge b < a < 1.02 b, whose",
        "two restrictions are not parallel, gets the move as well (95 of 100, mean 2.819 against",
        "2.830).",
        "",
        "**What the move cannot follow.** The tube c < b < a < c + 0.02 is thin along (1, 1, 1), but",
        "no two of its restrictions point in opposite directions, so there is no band to move along",
        "and its last stage creeps (n_eff about 30 of 20000 sweeps, near one per batch). Its",
        "corrected interval held the exact factor 1 in 55 of 100 runs, but 99 of the 100 runs said",
        "`interval_trusted: false` (fewer than 4 effective sweeps per batch); in 99 of 100 the run",
        "either held the exact factor or said it could not measure its error. None of the 700 runs",
        "of the other problems was marked. The runs of problems without a band draw exactly as",
        "before the move, byte for byte in the table.",
        "",
        "Where the exact values come from:",
        "",
    ]
    for label, *_, derivation in rows:
        lines.append("- %s: %s." % (label, derivation))
    if kept:
        lines += [""] + kept
    with open(args.out, "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
