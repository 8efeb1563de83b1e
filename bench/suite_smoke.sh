#!/bin/sh
# A small version of the regret suite for CI: the objectives' declared optima hold, every method
# runs on a few objectives at a tiny budget, the Python reference optimisers run when Debian's
# python3-optuna and python3-sklearn are there, and the tables come out. Seconds, not minutes.
# Writes only into a temporary directory.
# usage: suite_smoke.sh ORVANE_REGRET ORVANE_OBJECTIVE
set -eu
regret=$1
objective=$2
here=$(cd "$(dirname "$0")" && pwd)
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

"$regret" --check >"$dir/check.txt" || { cat "$dir/check.txt"; exit 1; }
"$regret" --seeds=1 --budgets=10,12 --initial=4 --confirm-rounds=1 --confirm-max=3 \
  --objectives=func3c,kvstore,appserver --methods=random,bayes,orvane --csv="$dir/runs.csv" \
  >"$dir/regret.txt"
"$regret" --seeds=1 --budgets=10 --initial=4 --confirm-rounds=1 --objectives=func3c \
  --methods=bayes --label=integer-enums --integer-enums --no-trust-region --no-prior \
  --no-shortfall --no-log --csv="$dir/ablation.csv" >/dev/null
test "$(wc -l <"$dir/runs.csv")" -eq 18

methods=random
if /usr/bin/python3 -c 'import optuna, sklearn' 2>/dev/null; then
  methods=random,tpe,tpe-mv,gp-ei
else
  echo "python3-optuna or python3-sklearn missing: only the random anchor runs"
fi
if [ -x /usr/bin/python3 ]; then
  /usr/bin/python3 "$here/anchors.py" --objective-cli "$objective" --seeds 1 --budgets 10,12 \
    --objectives func3c,appserver --methods "$methods" >"$dir/anchors.csv" 2>"$dir/anchors.err" ||
    { cat "$dir/anchors.err"; exit 1; }
  /usr/bin/python3 "$here/suite_table.py" suite "$dir/runs.csv" "$dir/anchors.csv" >"$dir/suite.md"
  grep -q '^| appserver | 12 | ' "$dir/suite.md"
  /usr/bin/python3 "$here/suite_table.py" ablation "$dir/runs.csv" "$dir/ablation.csv" \
    >"$dir/ablation.md"
  grep -q '^| integer-enums | 1 | ' "$dir/ablation.md"
  # Two variants seed by seed.
  "$regret" --seeds=2 --budgets=10 --initial=4 --confirm-rounds=1 --objectives=func3c \
    --methods=orvane --no-trust-region --csv="$dir/no-tr.csv" >/dev/null
  /usr/bin/python3 "$here/paired_table.py" "$dir/runs.csv" "$dir/no-tr.csv" >"$dir/paired.md"
  grep -q '^| func3c | 10 | .* | [0-9]*:[0-9]*, median x' "$dir/paired.md"
  grep -q '^no-tr: lower regret than the base on [0-9]* runs, higher on [0-9]*$' "$dir/paired.md"
fi
echo "regret suite smoke: ok"
