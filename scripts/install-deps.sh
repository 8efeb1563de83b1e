#!/usr/bin/env bash
# Installs the Debian packages a role needs, then the report's web assets.
#   main: what building the program, its package, and running it need (the default).
#   test: main plus what only the tests need (servers, load generators, browser, test libraries).
# Nothing installed here may start or stay enabled as a service: packages are installed under a
# policy-rc.d that denies every start, and the units they enable are disabled afterwards.
# Idempotent: a second run installs nothing and changes nothing. Run as root (or with sudo).
set -euo pipefail

role="${1:-main}"
case "$role" in
  main | test) ;;
  *)
    echo "usage: $0 [main|test]" >&2
    exit 2
    ;;
esac

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

MAIN_PACKAGES=(
  # building the program and its Debian package (dpkg-shlibdeps is in dpkg-dev, CPack needs file)
  build-essential cmake ninja-build pkg-config dpkg-dev file
  libcli11-dev nlohmann-json3-dev libspdlog-dev libfmt-dev libyaml-cpp-dev libgumbo-dev
  libeigen3-dev libnlopt-dev libnlopt-cxx-dev libpcre2-dev libsodium-dev zlib1g-dev
  # the report's web assets
  nodejs
  # what the collector and the report read on the host
  procps sysstat iproute2 util-linux ethtool net-tools fdisk
)
TEST_PACKAGES=(
  libgtest-dev libgmock-dev libbenchmark-dev
  clang-format hyperfine fakeroot lintian
  chromium
  nginx-light wrk
  # servers whose own checks judge the files the workload profiles edit
  mariadb-server trafficserver
  # reference optimisers the tuning tests compare against
  python3-sklearn python3-optuna
  ansible-core ansible-lint
)

packages=("${MAIN_PACKAGES[@]}")
if [ "$role" = test ]; then packages+=("${TEST_PACKAGES[@]}"); fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# npm comes with some node installations; Debian's own npm package conflicts with those.
command -v npm >/dev/null 2>&1 || missing+=(npm)

# Units that start a service at boot: systemd's wants/requires links and SysV start links.
enabled_units() {
  {
    find /etc/systemd/system -mindepth 2 -maxdepth 2 \( -path '*.wants/*' -o -path '*.requires/*' \) \
      -printf '%f\n' 2>/dev/null || true
    for d in /etc/rc2.d /etc/rc3.d /etc/rc4.d /etc/rc5.d; do
      [ -d "$d" ] && find "$d" -mindepth 1 -maxdepth 1 -name 'S[0-9][0-9]*' -printf '%f\n' | sed 's/^S[0-9][0-9]//'
    done
  } | sort -u
}

disable_unit() {
  local unit="$1"
  if command -v systemctl >/dev/null 2>&1; then
    # Works without a running systemd too, and brings the SysV links along.
    $SUDO systemctl disable --quiet "$unit" 2>/dev/null && return 0
  fi
  case "$unit" in
    *.*)
      # No systemctl (a container without systemd): drop the links the package's helper made.
      $SUDO env DPKG_MAINTSCRIPT_PACKAGE=orvane-install-deps deb-systemd-helper disable "$unit" || true
      ;;
    *) $SUDO update-rc.d "$unit" disable >/dev/null 2>&1 || true ;;
  esac
}

POLICY=/usr/sbin/policy-rc.d
policy_backup=""
restore_policy() {
  if [ -n "$policy_backup" ]; then
    $SUDO mv -f "$policy_backup" "$POLICY"
  else
    $SUDO rm -f "$POLICY"
  fi
}

if [ "${#missing[@]}" -gt 0 ]; then
  before=$(enabled_units)
  if [ -e "$POLICY" ]; then
    policy_backup="$POLICY.orvane-saved"
    $SUDO cp -p "$POLICY" "$policy_backup"
  fi
  trap restore_policy EXIT
  printf '#!/bin/sh\n# Installed by orvane scripts/install-deps.sh for the length of its run.\nexit 101\n' |
    $SUDO tee "$POLICY" >/dev/null
  $SUDO chmod 755 "$POLICY"

  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"

  restore_policy
  trap - EXIT
  # Only what this run enabled: a service the administrator enabled before stays as it was.
  comm -13 <(printf '%s\n' "$before") <(enabled_units) | while read -r unit; do
    [ -n "$unit" ] || continue
    echo "install-deps: disabling $unit, enabled by a package just installed"
    disable_unit "$unit"
  done
fi

# The web assets of the HTML report (and the browser driver of its end-to-end test), pinned by
# package-lock.json. `npm ci` runs only when node_modules does not match the lock file yet.
cd "$(dirname "$0")/.."
if ! cmp -s package-lock.json node_modules/.orvane-package-lock.json 2>/dev/null; then
  npm ci --no-audit --no-fund --ignore-scripts
  cp package-lock.json node_modules/.orvane-package-lock.json
fi
