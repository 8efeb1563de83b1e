#!/usr/bin/python3
"""Tables of the regret suite from the CSV lines of orvane-regret and anchors.py.

Each line: objective,method,seed,budget,regret,evaluations. Repeated (objective, method, seed,
budget) lines keep the first. Prints, as Markdown:

  suite     per objective and budget, the median regret [first quartile, third quartile] of every
            method, and whether orvane meets the goals: at or below gp-ei's, tpe's and tpe-mv's
            median, and at 50 evaluations below half of random's
  ablation  per variant of the Bayesian strategy, on the cells (objective, budget) it shares
            with the default: the mean of its median regret relative to random search's, the
            same for the default, and the cells where it is better or worse

usage: suite_table.py suite FILE... | suite_table.py ablation --default=bayes FILE...
"""
import csv
import statistics
import sys
from collections import defaultdict


def load(files):
    runs = defaultdict(dict)  # (objective, method, budget) -> {seed: regret}
    evals = defaultdict(list)
    order = []
    for name in files:
        with open(name, newline="") as f:
            for row in csv.reader(f):
                if len(row) != 6:
                    continue
                obj, method, seed, budget, regret, n = row
                key = (obj, method, int(budget))
                if obj not in order:
                    order.append(obj)
                if int(seed) in runs[key]:
                    continue
                runs[key][int(seed)] = float(regret)
                evals[key].append(float(n))
    return runs, evals, order


def quartiles(values):
    v = sorted(values)
    if len(v) == 1:
        return v[0], v[0], v[0]
    q = statistics.quantiles(v, n=4, method="inclusive")
    return q[0], q[1], q[2]


def fmt(x):
    return f"{x:.3g}"


def suite(files):
    runs, evals, order = load(files)
    methods = ["orvane", "bayes", "gp-ei", "tpe", "tpe-mv", "random"]
    present = [m for m in methods if any(k[1] == m for k in runs)]
    print("| objective | budget | " + " | ".join(present) + " | orvane meets |")
    print("|---|---|" + "---|" * len(present) + "---|")
    met = total = 0
    for obj in order:
        for budget in sorted({k[2] for k in runs if k[0] == obj}):
            cells, med = [], {}
            for m in present:
                v = list(runs.get((obj, m, budget), {}).values())
                if not v:
                    cells.append("-")
                    continue
                q1, q2, q3 = quartiles(v)
                med[m] = q2
                n = statistics.mean(evals[(obj, m, budget)])
                extra = f" ({n:.0f} ev.)" if m == "orvane" else ""
                cells.append(f"{fmt(q2)} [{fmt(q1)}, {fmt(q3)}]{extra} n={len(v)}")
            verdict = []
            if "orvane" in med:
                for a in ("gp-ei", "tpe", "tpe-mv"):
                    if a in med:
                        ok = med["orvane"] <= med[a]
                        verdict.append(("<=" if ok else ">") + a)
                        met += ok
                        total += 1
                if budget >= 50 and "random" in med:
                    ok = med["orvane"] < med["random"] / 2
                    verdict.append(("<" if ok else "NOT <") + "random/2")
                    met += ok
                    total += 1
            print(f"| {obj} | {budget} | " + " | ".join(cells) + " | " + " ".join(verdict) + " |")
    if total:
        print(f"\ngoal comparisons met: {met} of {total}")


def ablation(files, default):
    runs, _, order = load(files)
    variants = sorted({k[1] for k in runs if k[1] not in ("random", "orvane")})
    cells = sorted({(k[0], k[2]) for k in runs}, key=lambda c: (order.index(c[0]), c[1]))
    # Per variant, on the cells it shares with the default: both median regrets relative to
    # random search's in the same cell (bounded, and comparable across objectives whose regrets
    # differ by orders of magnitude), and the cells where it is better or worse.
    mine = defaultdict(list)
    theirs = defaultdict(list)
    better = defaultdict(int)
    worse = defaultdict(int)
    for obj, budget in cells:
        med = {}
        for v in variants:
            values = list(runs.get((obj, v, budget), {}).values())
            if values:
                med[v] = statistics.median(values)
        random = list(runs.get((obj, "random", budget), {}).values())
        if default not in med or not random:
            continue
        scale = statistics.median(random) or 1.0
        for v, m in med.items():
            mine[v].append(m / scale)
            theirs[v].append(med[default] / scale)
            better[v] += m < med[default]
            worse[v] += m > med[default]
    print(f"| variant | cells | mean of median regret / random's | the same for {default} | "
          "better | worse |")
    print("|---|---|---|---|---|---|")
    for v in sorted(variants, key=lambda v: -len(mine[v])):
        if not mine[v]:
            continue
        print(f"| {v} | {len(mine[v])} | {statistics.mean(mine[v]):.3f} | "
              f"{statistics.mean(theirs[v]):.3f} | {better[v]} | {worse[v]} |")
    print("\nper cell, median regret:")
    print("| objective | budget | " + " | ".join(variants) + " |")
    print("|---|---|" + "---|" * len(variants))
    for obj, budget in cells:
        row = []
        for v in variants:
            values = list(runs.get((obj, v, budget), {}).values())
            row.append(fmt(statistics.median(values)) if values else "-")
        print(f"| {obj} | {budget} | " + " | ".join(row) + " |")


def main():
    if len(sys.argv) < 3 or sys.argv[1] not in ("suite", "ablation"):
        sys.exit(__doc__)
    if sys.argv[1] == "suite":
        suite(sys.argv[2:])
    else:
        default = "bayes"
        files = []
        for a in sys.argv[2:]:
            if a.startswith("--default="):
                default = a.split("=", 1)[1]
            else:
                files.append(a)
        ablation(files, default)


if __name__ == "__main__":
    main()
