#!/usr/bin/env bash
# Installs everything orvane needs to build, test and run on a Debian 12 machine.
# Idempotent; run as root (or with sudo available).
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  libcli11-dev nlohmann-json3-dev libspdlog-dev libfmt-dev libyaml-cpp-dev libgumbo-dev
  libeigen3-dev libnlopt-cxx-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang-format hyperfine
  nodejs npm
  chromium
  procps sysstat iproute2 util-linux
  nginx-light wrk
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# npm may come with the node installation rather than as a Debian package.
if command -v npm >/dev/null 2>&1; then
  missing=("${missing[@]/npm}")
fi
read -r -a missing <<<"${missing[*]}"

if [ "${#missing[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
