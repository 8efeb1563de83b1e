// The commands of a collection. Only standard, widely installed tools and kernel files are
// used; every figure the report and the analysis read comes from one of them.
#include "system_commands.hpp"

#include <fmt/format.h>

#include <orvane/collected/format.hpp>

namespace orvane::collect {
namespace {

constexpr const char* kNoPressure = "(pressure stall information is not enabled in this kernel)";

std::string sysctl(std::initializer_list<const char*> keys) {
  // -e: a key this kernel does not have is skipped instead of reported.
  std::string line = "sysctl -e";
  for (const char* k : keys) {
    line += ' ';
    line += k;
  }
  return line;
}

// A command that needs `tool`; "" for kernel files and shell built-ins.
PlannedCommand run(std::string line, std::string tool = "", std::string if_empty = "") {
  return PlannedCommand{std::move(line), std::move(tool), std::move(if_empty), 0, false};
}

PlannedCommand sample(std::string line, std::string tool, int seconds) {
  return PlannedCommand{std::move(line), std::move(tool), "", seconds, false};
}

// The group of counters read at both ends of the sampling window.
PlannedGroup window(std::string_view line) {
  PlannedCommand start = run(std::string(line));
  start.window = PlannedCommand::Window::start;
  PlannedCommand end = run(std::string(line));
  end.window = PlannedCommand::Window::end;
  return PlannedGroup{std::string(collected::kWindowGroup), {start, end}};
}

// The open-file limits and open files of the busiest processes that have run for ten minutes or
// more (kernel threads left out): the limits that matter are the services', not the shell's.
constexpr const char* kServiceLimits =
    "printf 'PID COMMAND %%CPU FILES SOFT HARD\\n'; "
    "ps -eo pid=,ppid=,etimes=,pcpu=,comm= --sort=-pcpu | "
    "awk '$1 != 2 && $2 != 2 && $3 >= 600 { c = $5; for (i = 6; i <= NF; i++) c = c \"_\" $i; "
    "print $1, c, $4 }' | head -n 8 | while read -r pid comm cpu; do "
    "printf '%s %s %s %s %s\\n' \"$pid\" \"$comm\" \"$cpu\" \"$(ls /proc/$pid/fd 2>/dev/null | wc "
    "-l)\" "
    "\"$(awk '/^Max open files/ { print $4, $5 }' /proc/$pid/limits 2>/dev/null)\"; done";

}  // namespace

std::vector<PlannedFile> system_files(const CollectorSettings& s) {
  const int cpu_wait = s.interval * s.cpu_samples;
  // vmstat and iostat print their first report at once (since boot), then one per interval.
  const int stat_wait = s.interval * (s.stat_samples - 1);
  const std::string stat_args = fmt::format("{} {}", s.interval, s.stat_samples);
  PlannedCommand mpstat = sample(
      fmt::format("LC_ALL=C S_TIME_FORMAT=ISO mpstat -P ALL {} {}", s.interval, s.cpu_samples),
      "mpstat", cpu_wait);
  mpstat.cpu_utilisation = true;

  PlannedFile cpu{std::string(collected::kCpuFile),
                  {{"CPU information",
                    {run("lscpu", "lscpu"),
                     run("grep -m 1 'cpu MHz' /proc/cpuinfo", "grep", "(no clock rate shown)")}},
                   {"CPU utilisation", {mpstat}},
                   {"Load and processes",
                    {run("cat /proc/loadavg"), run("cat /proc/pressure/cpu", "", kNoPressure),
                     run("ps -eo pid,user,etimes,pcpu,pmem,stat,comm,args --sort=-pcpu | "
                         "cut -c 1-300",
                         "ps")}}}};

  PlannedFile memory{std::string(collected::kMemoryFile),
                     {{"Memory usage", {run("free -m", "free"), run("cat /proc/meminfo")}},
                      {"Memory activity",
                       {sample("vmstat " + stat_args, "vmstat", stat_wait),
                        run("cat /proc/pressure/memory", "", kNoPressure)}}}};

  // /proc/net/snmp holds a line of names and a line of values per protocol; they are paired
  // as "Tcp:RetransSegs 12".
  const std::string snmp =
      "awk '$1 ~ /^(Ip|Icmp|Tcp|Udp):$/ { if (!($1 in names)) { names[$1] = $0; next } "
      "n = split(names[$1], k); split($0, v); for (i = 2; i <= n; i++) "
      "printf \"%s%s %s\\n\", $1, k[i], v[i] }' /proc/net/snmp";
  PlannedFile network{std::string(collected::kNetworkFile),
                      {{"Network interfaces", {run("ip -s link", "ip"), run("ip -br addr", "ip")}},
                       window(collected::kNetWindowCommand),
                       {"Sockets", {run("ss -s", "ss"), run("ss -ltn | head -n 40", "ss")}},
                       {"Protocol counters", {run(snmp, "awk")}}}};

  PlannedFile disk{
      std::string(collected::kDiskFile),
      {{"Block devices",
        {run("lsblk -o NAME,TYPE,SIZE,ROTA,MOUNTPOINT", "lsblk"), run("df -h", "df")}},
       {"Disk activity", {sample("LC_ALL=C iostat -dx " + stat_args, "iostat", stat_wait)}},
       window(collected::kDiskWindowCommand)}};

  const std::string no_thp = "(transparent huge pages are not available in this kernel)";
  const std::string schedulers =
      "printf '%-16s %-10s %s\\n' DEVICE ROTATIONAL SCHEDULER; "
      "for q in /sys/block/*/queue; do d=${q%/queue}; "
      "printf '%-16s %-10s %s\\n' \"${d##*/}\" \"$(cat \"$q/rotational\")\" "
      "\"$(cat \"$q/scheduler\")\"; done";
  PlannedFile params{
      std::string(collected::kParamFile),
      {{"System", {run("cat /etc/os-release", "", "(no os-release file)")}},
       {"CPU and scheduler parameters",
        {run(sysctl({"kernel.numa_balancing", "kernel.sched_autogroup_enabled", "kernel.pid_max",
                     "kernel.threads-max", "kernel.watchdog_thresh"}),
             "sysctl")}},
       {"Memory parameters",
        {run(sysctl({"vm.swappiness", "vm.dirty_ratio", "vm.dirty_background_ratio",
                     "vm.dirty_expire_centisecs", "vm.dirty_writeback_centisecs",
                     "vm.min_free_kbytes", "vm.overcommit_memory", "vm.overcommit_ratio",
                     "vm.zone_reclaim_mode", "vm.max_map_count", "vm.vfs_cache_pressure",
                     "vm.nr_hugepages"}),
             "sysctl")}},
       {"Network parameters",
        {run(sysctl({"net.core.somaxconn", "net.core.netdev_max_backlog", "net.core.rmem_max",
                     "net.core.wmem_max", "net.core.rmem_default", "net.core.wmem_default",
                     "net.core.default_qdisc", "net.ipv4.tcp_max_syn_backlog",
                     "net.ipv4.tcp_syncookies", "net.ipv4.tcp_fin_timeout", "net.ipv4.tcp_tw_reuse",
                     "net.ipv4.tcp_keepalive_time", "net.ipv4.tcp_slow_start_after_idle",
                     "net.ipv4.tcp_rmem", "net.ipv4.tcp_wmem", "net.ipv4.ip_local_port_range",
                     "net.ipv4.tcp_congestion_control"}),
             "sysctl")}},
       {"File and I/O parameters",
        {run(sysctl({"fs.file-max", "fs.nr_open", "fs.aio-max-nr", "fs.inotify.max_user_watches"}),
             "sysctl"),
         run("ulimit -Sn"), run("ulimit -Hn")}},
       {"Open-file limits of long-running services",
        {run(kServiceLimits, "ps", "(no process has run for ten minutes yet)")}},
       {"Transparent huge pages",
        {run("cat /sys/kernel/mm/transparent_hugepage/enabled", "", no_thp),
         run("cat /sys/kernel/mm/transparent_hugepage/defrag", "", no_thp)}},
       {"CPU frequency governor",
        {run("grep -H . /sys/devices/system/cpu/cpu*/cpufreq/scaling_governor", "grep",
             "(no CPU frequency driver: the kernel does not manage the CPU frequency here)")}},
       {"I/O schedulers", {run(schedulers)}}}};

  PlannedFile messages{std::string(collected::kMessageFile),
                       {{"Kernel messages",
                         {run("dmesg -T | tail -n 200", "dmesg",
                              "(no kernel messages could be read: reading them may need root)")}}}};

  return {cpu, memory, network, disk, params, messages};
}

}  // namespace orvane::collect
