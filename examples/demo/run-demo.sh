#!/bin/sh
# Runs the tuning demo in a new temporary directory and shows the workload settings afterwards.
# Usage: sh examples/demo/run-demo.sh [path/to/orvane]   (default: the orvane on PATH)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
orvane=${1:-$(command -v orvane || true)}
if [ -z "$orvane" ]; then
  echo "run-demo.sh: no orvane on PATH; install the package (bash scripts/run-main.sh) or name the" >&2
  echo "binary: sh examples/demo/run-demo.sh build/bin/orvane" >&2
  exit 127
fi
case $orvane in /*) ;; *) orvane=$PWD/$orvane ;; esac
dir=$(mktemp -d "${TMPDIR:-/tmp}/orvane-demo.XXXXXX")
cp "$here/demo.yaml" "$here/workload.conf" "$here/bench.sh" "$dir/"
echo running >"$dir/workload.state"
# On hosts that are not Nerith, the operating-system gate reads the sample os-release file.
if ! grep -qi nerith /etc/os-release 2>/dev/null; then
  export ORVANE_OS_RELEASE="${ORVANE_OS_RELEASE:-$here/../nerith-os-release}"
fi
cd "$dir"
status=0
"$orvane" tuning -o "$dir" --tuning_outpath "$dir" demo.yaml || status=$?
echo "--- workload.conf afterwards ($dir):"
grep -v '^#' workload.conf
exit "$status"
