#!/usr/bin/env bash
# The main job: installs what building and running need (no test tools, no services), builds
# the Debian package, installs it (`orvane` is then on PATH) and runs `orvane analysis` on this
# host; the report lands in ./out/run/orvaneData/.
set -euo pipefail
cd "$(dirname "$0")/.."
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
bash scripts/install-deps.sh main
deb=$(bash scripts/build-package.sh build-release)
# apt-get resolves the package's dependencies from the archive, which dpkg -i alone would not;
# --reinstall installs a rebuilt package of the same version; an edited conffile is kept.
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends --reinstall \
  -o Dpkg::Options::=--force-confdef -o Dpkg::Options::=--force-confold "$PWD/$deb"
echo "installed: $deb ($(command -v orvane))"
# On hosts that are not Nerith, the gate reads a sample os-release file.
if ! grep -qi nerith /etc/os-release /proc/version 2>/dev/null; then
  export ORVANE_OS_RELEASE="${ORVANE_OS_RELEASE:-$PWD/examples/nerith-os-release}"
fi
orvane analysis -o ./out/run
report=$(ls -t ./out/run/orvaneData/orvane_report_*.html | head -n 1)
echo "report: $PWD/${report#./}"
