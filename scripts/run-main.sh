#!/usr/bin/env bash
# The main job: installs what is needed, builds, installs into ./out and runs `orvane analysis`
# on this host; the report lands in ./out/run/orvaneData/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh build-release -DORVANE_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=Release
cmake --install build-release --prefix out
# On hosts that are not Nerith, the gate reads a sample os-release file.
if ! grep -qi nerith /etc/os-release /proc/version 2>/dev/null; then
  export ORVANE_OS_RELEASE="${ORVANE_OS_RELEASE:-$PWD/examples/nerith-os-release}"
fi
./out/bin/orvane analysis -o ./out/run
report=$(ls -t ./out/run/orvaneData/orvane_report_*.html | head -n 1)
echo "report: $PWD/${report#./}"
