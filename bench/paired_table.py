#!/usr/bin/python3
"""Seed-by-seed comparison of orvane-regret runs of the same method on the same seeds.

Every run of a seed draws the same measurement noise, so two variants of the strategy can be
compared seed by seed: per objective and budget, how many seeds the variant ends with a lower
regret than the base and how many with a higher one (ties left out), and the ratio of the median
regrets. Hundreds of seeds decide between variants far more surely than the medians of ten, and
need no reference optimisers.

Prints, as Markdown, one column per variant, and the totals of wins and losses.

usage: paired_table.py [--method=orvane] BASE.csv VARIANT.csv...
Each file holds the CSV lines of orvane-regret (objective,method,seed,budget,regret,evaluations);
a variant is named by its file name.
"""
import os
import statistics
import sys

import suite_table


def load(path, method):
    """(objective, budget) -> {seed: regret} of one method's runs in a file."""
    runs, _, _ = suite_table.load([path])
    return {(obj, budget): seeds for (obj, m, budget), seeds in runs.items() if m == method}


def compare(base, variant):
    wins = losses = 0
    for seed, b in base.items():
        if seed not in variant:
            continue
        wins += variant[seed] < b
        losses += variant[seed] > b
    return wins, losses


def main(argv):
    method = "orvane"
    if argv and argv[0].startswith("--method="):
        method = argv.pop(0).split("=", 1)[1]
    if len(argv) < 2:
        usage = next(line for line in __doc__.splitlines() if line.startswith("usage:"))
        print(usage, file=sys.stderr)
        return 2
    base = load(argv[0], method)
    variants = [(os.path.basename(p).rsplit(".csv", 1)[0], load(p, method)) for p in argv[1:]]
    print("| objective | budget | base median | " + " | ".join(n for n, _ in variants) + " |")
    print("|---|---|---|" + "---|" * len(variants))
    totals = {n: [0, 0] for n, _ in variants}
    for cell in sorted(base, key=lambda c: (c[1], c[0])):
        base_median = statistics.median(base[cell].values())
        row = [cell[0], str(cell[1]), f"{base_median:.3g}"]
        for name, runs in variants:
            if cell not in runs:
                row.append("-")
                continue
            wins, losses = compare(base[cell], runs[cell])
            totals[name][0] += wins
            totals[name][1] += losses
            median = statistics.median(runs[cell].values())
            ratio = median / base_median if base_median > 0 else float("nan")
            row.append(f"{wins}:{losses}, median x{ratio:.2f}")
        print("| " + " | ".join(row) + " |")
    print()
    for name, (wins, losses) in totals.items():
        print(f"{name}: lower regret than the base on {wins} runs, higher on {losses}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
