#!/bin/sh
# The demo benchmark: a deterministic figure computed from workload.conf, highest (1620) at
# threads=12, cache_mb=512, mode=fast, ratio=0.7. It fails unless the workload is running.
conf=${1:-workload.conf}
if [ "$(cat workload.state 2>/dev/null)" != running ]; then
  echo "demo workload is not running" >&2
  exit 1
fi
awk -F= '
  $1 == "threads"  { t = $2 }
  $1 == "cache_mb" { c = $2 }
  $1 == "mode"     { m = $2 }
  $1 == "ratio"    { r = $2 }
  END {
    bonus = (m == "fast") ? 120 : (m == "balanced") ? 60 : 0
    score = 1500 - 2 * (t - 12) ^ 2 - ((c - 512) / 32) ^ 2 + bonus - 500 * (r - 0.7) ^ 2
    printf "Requests/sec: %.1f\n", score
  }' "$conf"
