#!/usr/bin/env bash
# A plan against the loop researchers write by hand: `propbf evaluate` once per data set
# (in a batch, at its default settings) on the very data sets the plan drew. Times both
# on one thread (CPU seconds), then compares each data set's class (above each threshold,
# below its inverse) and the probabilities per size.
#   bash bench/plan_vs_loop.sh PLAN.toml [BUILD_DIR]
# Needs python3. Writes its files into a fresh temporary folder (printed).
set -euo pipefail
plan="$1"
build="${2:-build}"
propbf="$(cd "$build" && pwd)/propbf"
work="$(mktemp -d)"
echo "work folder: $work"
/usr/bin/time -f "plan: %U s user, %e s wall" "$propbf" plan "$plan" --threads 1 --jsonl "$work/plan.jsonl" --json "$work/plan.json" > "$work/plan.txt"
python3 - "$plan" "$work" <<'PY'
import json, sys, os, tomllib
plan_file, work = sys.argv[1], sys.argv[2]
plan = tomllib.load(open(plan_file, 'rb'))
lines = open(os.path.join(work, 'plan.jsonl')).read().splitlines()
header = json.loads(lines[0])
os.makedirs(os.path.join(work, 'problems'))
with open(os.path.join(work, 'list.txt'), 'w') as listing:
    for line in lines[1:]:
        r = json.loads(line)
        trials = header['sizes'][r['size']]
        name = os.path.join(work, 'problems', 's%03d_d%07d.toml' % (r['size'], r['dataset']))
        items = plan['items']
        with open(name, 'w') as f:
            if 'counts' in r:
                # Items of categories: their counts, category names (a number K stands
                # for "1" ... "K") and Dirichlet prior.
                categories = [c if isinstance(c, list) else [str(i + 1) for i in range(c)] for c in items['categories']]
                f.write('[items]\nnames = %s\ncounts = %s\ncategories = %s\n' %
                        (json.dumps(header['items']), r['counts'], json.dumps(categories)))
                keys = ('prior', 'tied_prior')
            else:
                f.write('[items]\nnames = %s\nsuccesses = %s\ntrials = %s\n' % (json.dumps(header['items']), r['successes'], trials))
                keys = ('prior_a', 'prior_b', 'tied_prior')
            for key in keys:
                if key in items: f.write('%s = %s\n' % (key, json.dumps(items[key])))
            f.write('[hypotheses]\n')
            for h, text in plan['hypotheses'].items():
                f.write('%s = %s\n' % (h, json.dumps(text)))
            f.write('[sampling]\nseed = %d\n' % (1 + r['dataset']))
        listing.write(name + '\n')
PY
/usr/bin/time -f "loop: %U s user, %e s wall" "$propbf" evaluate --list "$work/list.txt" --threads 1 --seed-per-problem --jsonl "$work/loop.jsonl" > /dev/null
python3 - "$work" <<'PY'
import json, sys, os
work = sys.argv[1]
lines = open(os.path.join(work, 'plan.jsonl')).read().splitlines()
header = json.loads(lines[0])
plan = {}
for line in lines[1:]:
    r = json.loads(line)
    plan[(r['size'], r['dataset'])] = r
against = header['against']
key = 'bf_unconstrained' if against == 'unconstrained' else 'bf_complement'
def value(x):
    return float('inf') if x == 'inf' else (float('nan') if x is None else x)
loop = {}
for line in open(os.path.join(work, 'loop.jsonl')):
    r = json.loads(line)
    base = os.path.basename(r['path'])
    s, d = base[1:4], base[6:13]
    loop[(int(s), int(d))] = [value(h[key]) for h in r['result']['hypotheses']]
def value(x):
    return float('inf') if x == 'inf' else (float('nan') if x is None else x)
thresholds = header['thresholds']
def cls(f):
    for k in sorted(thresholds, reverse=True):
        if f > k: return '>%g' % k
        if f < 1 / k: return '<1/%g' % k
    return 'between'
differ = 0
total = 0
inside = 0
with_interval = 0
for place, r in plan.items():
    for h, f in enumerate(r['factors']):
        total += 1
        g = loop[place][h]
        if cls(value(f)) != cls(g): differ += 1
        if 'intervals' in r:
            low, high = r['intervals'][h]
            if low is not None and high is not None:
                with_interval += 1
                if value(low) <= g <= value(high): inside += 1
print('data sets x hypotheses: %d; classified differently from the loop: %d' % (total, differ))
if with_interval:
    print("loop's factor inside the plan's interval: %d of %d" % (inside, with_interval))
for s, size in enumerate(header['sizes']):
    for h, name in enumerate(header['hypotheses']):
        for k in thresholds:
            p_plan = sum(1 for (ss, d), r in plan.items() if ss == s and value(r['factors'][h]) > k) / header['datasets']
            p_loop = sum(1 for (ss, d), f in loop.items() if ss == s and f[h] > k) / header['datasets']
            print('size %s %s P(BF>%g): plan %.3f loop %.3f' % (size[0], name, k, p_plan, p_loop))
PY
