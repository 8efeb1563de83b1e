#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test. With --sanitize, builds into
# build-asan with AddressSanitizer and UndefinedBehaviorSanitizer instead.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh test
dir=build
args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "${1:-}" = "--sanitize" ]; then
  dir=build-asan
  args=(-DCMAKE_BUILD_TYPE=Debug -DORVANE_SANITIZE=ON)
fi
bash scripts/build.sh "$dir" "${args[@]}"
ctest --test-dir "$dir" --output-on-failure -j2
