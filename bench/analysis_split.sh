#!/usr/bin/env bash
# Wall time of `orvane analysis` on this host and where it goes: sampling waits (mpstat, vmstat,
# iostat), the other shell commands, and orvane's own CPU time. Reads the run's debug line from
# orvane.log. Usage: bench/analysis_split.sh [ORVANE_BINARY] [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
bin="${1:-build/bin/orvane}"
runs="${2:-3}"
if ! grep -qi nerith /etc/os-release /proc/version 2>/dev/null; then
  export ORVANE_OS_RELEASE="${ORVANE_OS_RELEASE:-$PWD/examples/nerith-os-release}"
fi
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
for i in $(seq "$runs"); do
  "$bin" analysis -o "$out" >/dev/null
  line=$(grep 'debug\] run time' "$out/orvaneData/orvane.log" | tail -n 1)
  echo "$line" | sed -e 's/.*\] //'
  echo "$line" | awk '{
    for (i = 1; i <= NF; i++) {
      if ($i == "time" && $(i-1) == "run") wall = $(i+1)
      if ($i == "sampling,") sampling = substr($(i-2), 2)
      if ($i == "CPU") own = $(i+2)
    }
    printf "  wall %.2f s = sampling %.2f s (%.1f%%) + other commands %.2f s (%.1f%%) + own CPU %.3f s (%.2f%%)\n",
      wall, sampling, 100 * sampling / wall, wall - sampling - own, 100 * (wall - sampling - own) / wall,
      own, 100 * own / wall }'
done
