#!/usr/bin/env bash
# Builds the Debian package orvane_<version>-<release>_amd64.deb into the given build directory
# (default: build-release) and prints its path: a Release build without tests, installed under
# /usr, with Debian's hardening flags (dpkg-buildflags).
set -euo pipefail
cd "$(dirname "$0")/.."
dir="${1:-build-release}"
# The package strips its binaries, so no debugging information needs compiling.
export DEB_CFLAGS_MAINT_STRIP=-g DEB_CXXFLAGS_MAINT_STRIP=-g DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags="$(dpkg-buildflags --get LDFLAGS)"
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVANE_BUILD_TESTS=OFF \
  -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_CXX_FLAGS="$cxxflags" \
  -DCMAKE_EXE_LINKER_FLAGS="$ldflags" -DCMAKE_SHARED_LINKER_FLAGS="$ldflags" >/dev/null
cmake --build "$dir" --target package >&2
ls -t "$dir"/orvane_*_amd64.deb | head -n 1
