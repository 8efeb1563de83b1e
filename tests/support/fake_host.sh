# shellcheck shell=bash
# make_fake_host ROOT: a host tree for ORVANE_ROOT with 8 GiB, 4 CPUs and one SSD, and the
# kernel values, units and users the workload profiles read. Nothing outside ROOT is touched.
make_fake_host() {
  local root=$1 c kv unit
  put() { mkdir -p "$(dirname "$root/$1")" && printf '%s\n' "$2" >"$root/$1"; }
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
}
