#!/usr/bin/env bash
# Wall time of each profile scene: the plan on this host against a copy of the package's own
# configuration (answered N, nothing changes), and plan + apply on a fake host tree (ORVANE_ROOT)
# with a private state directory, answered Y. The host itself is never changed.
# Usage: bench/profile_timing.sh [ORVANE_BINARY]
set -euo pipefail
cd "$(dirname "$0")/.."
bin="$(realpath "${1:-build/bin/orvane}")"
if ! grep -qi nerith /etc/os-release 2>/dev/null; then
  export ORVANE_OS_RELEASE="${ORVANE_OS_RELEASE:-$PWD/examples/nerith-os-release}"
fi
t=$(mktemp -d)
trap 'rm -rf "$t"' EXIT
chmod 700 "$t"

# A fake host: 8 GiB, 4 CPUs, one SSD; the kernel values and units the profiles read.
root="$t/root"
# shellcheck source=../tests/support/fake_host.sh
. tests/support/fake_host.sh
make_fake_host "$root"

mkdir -p "$t/conf"
cp -rL /etc/mysql "$t/conf/mysql_config"
cp -rL /etc/nginx "$t/conf/specweb_config"
cp -rL /etc/trafficserver "$t/conf/ats_config"
mkdir -p "$t/conf/kafka_config/config" "$t/conf/dm_config"
printf 'broker.id=0\nnum.network.threads=3\nnum.io.threads=8\nlog.dirs=/tmp/kafka-logs\n' \
  > "$t/conf/kafka_config/config/server.properties"
printf 'MEMORY_POOL = 500\nBUFFER = 1000\nMAX_BUFFER = 1000\nWORKER_THREADS = 16\n' > "$t/conf/dm_config/dm.ini"

now() { date +%s.%N; }
a=$(now); "$bin" --help > /dev/null; b=$(now)
printf 'start-up (orvane --help) %.1f ms; load average %s\n' "$(echo "($b - $a) * 1000" | bc)" "$(cut -d' ' -f1 /proc/loadavg)"
for scene in kafka_config mysql_config ats_config specweb_config dm_config; do
  conf="$t/conf/$scene"
  a=$(now)
  echo n | ORVANE_STATE_DIR="$t/state-host" "$bin" profile -o "$t/out" "$scene" "$conf" > /dev/null
  touch "$t/mark"
  b=$(now)
  echo y | ORVANE_ROOT="$root" ORVANE_STATE_DIR="$t/state-$scene" "$bin" profile -o "$t/out" "$scene" "$conf" > /dev/null
  c=$(now)
  changed=$(find "$conf" "$root/etc" -newer "$t/mark" -type f | wc -l)
  printf '%-15s plan on this host %6.1f ms   plan+apply on the fake host %6.1f ms (%s files written)\n' \
    "$scene" "$(echo "($b - $a) * 1000" | bc)" "$(echo "($c - $b) * 1000" | bc)" "$changed"
done
