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
put() { mkdir -p "$(dirname "$root/$1")"; printf '%s\n' "$2" > "$root/$1"; }
put proc/meminfo "MemTotal:        8388608 kB"
put sys/devices/system/cpu/online "0-3"
put sys/block/sda/queue/rotational "0"
put sys/block/sda/queue/scheduler "[mq-deadline] none"
put sys/kernel/mm/transparent_hugepage/enabled "always [madvise] never"
for c in 0 1 2 3; do
  put sys/devices/system/cpu/cpu$c/cpufreq/scaling_governor powersave
  put sys/devices/system/cpu/cpu$c/cpufreq/scaling_available_governors "performance powersave"
done
for kv in vm/swappiness=60 vm/max_map_count=65530 vm/dirty_background_ratio=10 vm/dirty_ratio=20 \
          net/core/rmem_max=212992 net/core/wmem_max=212992 net/core/somaxconn=4096 \
          net/core/netdev_max_backlog=1000 net/ipv4/tcp_max_syn_backlog=512 \
          "net/ipv4/ip_local_port_range=32768 60999" net/ipv4/tcp_fin_timeout=60 \
          net/ipv4/tcp_tw_reuse=2 fs/file-max=9223372036854775807; do
  put "proc/sys/${kv%%=*}" "${kv#*=}"
done
put etc/passwd "dmdba:x:1001:1001::/home/dmdba:/bin/sh"
for unit in mariadb kafka nginx trafficserver DmServiceDMSERVER; do
  put "lib/systemd/system/$unit.service" "[Service]"
done

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
