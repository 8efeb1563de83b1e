#!/usr/bin/env bash
# Installs everything orvane needs to build, test and run on a Debian 12 machine.
# Idempotent; run as root (or with sudo available).
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  libcli11-dev nlohmann-json3-dev libspdlog-dev libfmt-dev libyaml-cpp-dev libgumbo-dev
  libeigen3-dev libnlopt-dev libnlopt-cxx-dev libpcre2-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang-format hyperfine
  nodejs
  chromium
  procps sysstat iproute2 util-linux
  ethtool net-tools fdisk
  nginx-light wrk
  python3-optuna python3-sklearn
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# npm comes with some node installations; Debian's own npm package conflicts with those.
command -v npm >/dev/null 2>&1 || missing+=(npm)

if [ "${#missing[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi

# The web assets of the HTML report (and the browser driver of its end-to-end test), pinned by
# package-lock.json. `npm ci` runs only when node_modules does not match the lock file yet.
cd "$(dirname "$0")/.."
if ! cmp -s package-lock.json node_modules/.orvane-package-lock.json 2>/dev/null; then
  npm ci --no-audit --no-fund --ignore-scripts
  cp package-lock.json node_modules/.orvane-package-lock.json
fi
