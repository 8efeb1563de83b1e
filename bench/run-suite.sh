#!/bin/sh
# The whole regret suite, for the closing note of a change to the optimiser: orvane's methods
# and the reference optimisers on every objective, 10 seeds, budgets 20 and 50, and the ablations
# of the Bayesian strategy's parts; then the two tables. About ten minutes on two cores. Needs a
# build with ORVANE_BUILD_TESTS or ORVANE_BUILD_BENCH (for orvane-regret) and Debian's
# python3-optuna and python3-sklearn.
# usage: sh bench/run-suite.sh BUILD_DIR OUT_DIR
set -eu
build=$1
out=$2
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$out"
regret="$build/bin/orvane-regret"
"$regret" --check
"$regret" --methods=random,bayes,orvane --csv="$out/suite.csv" >"$out/suite.txt"
/usr/bin/python3 "$here/anchors.py" --objective-cli "$build/bin/orvane-objective" --seeds 10 \
  >"$out/anchors.csv"
for variant in "no-log --no-log" "no-shortfall --no-shortfall" "no-prior --no-prior" \
  "no-trust-region --no-trust-region" "integer-enums --integer-enums" \
  "all-four-off --no-log --no-shortfall --no-prior --no-trust-region"; do
  set -- $variant
  label=$1
  shift
  "$regret" --methods=bayes --label="$label" "$@" --csv="$out/ablation.csv" >"$out/$label.txt"
done
/usr/bin/python3 "$here/suite_table.py" suite "$out/suite.csv" "$out/anchors.csv" >"$out/suite.md"
/usr/bin/python3 "$here/suite_table.py" ablation "$out/suite.csv" "$out/ablation.csv" \
  >"$out/ablation.md"
cat "$out/suite.md" "$out/ablation.md"
