#pragma once
// Readers of the figures in the outputs that the data collector records: CPU utilisation, load,
// memory, disk and network counters, sockets and processes. Every reader is lenient: a line it
// does not understand is skipped, so a tool of another version costs a figure, never the report.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <orvane/collected_groups.hpp>

namespace orvane::collected {

// Utilisation of one CPU ("all" for the whole machine), in percent of its time, split as the
// kernel accounts it. Guest time is counted in `user`, niced guest time in `nice`.
struct CpuLoad {
  std::string cpu;
  double user = 0;
  double nice = 0;
  double system = 0;
  double iowait = 0;
  double irq = 0;
  double softirq = 0;
  double steal = 0;
  double idle = 0;
  // Time the CPU ran something (I/O wait is idle time with I/O outstanding).
  double busy() const { return user + nice + system + irq + softirq + steal; }
  // Busy time that competes with normal-priority work: everything but niced user time.
  double busy_normal() const { return busy() - nice; }
};

struct CpuSample {
  std::string time;  // the sample's time as printed
  CpuLoad load;      // of "all"
};

struct CpuUtilisation {
  std::vector<CpuLoad> average;   // "all" first when present, then each CPU in printed order
  std::vector<CpuSample> series;  // the samples of "all", oldest first
};

// Reads the layout of `mpstat -P ALL INTERVAL COUNT` (any locale in which the columns keep their
// names %usr, %nice, %sys, %iowait, %irq, %soft, %steal, %guest, %gnice and %idle). The averages
// are the "Average:" rows, or the means of the samples when there are none.
CpuUtilisation cpu_utilisation(std::string_view text);

struct LoadAverage {
  double one = 0, five = 0, fifteen = 0;
  long runnable = -1;  // tasks running or ready to run when it was read; -1 when not printed
};
// The fields of /proc/loadavg.
std::optional<LoadAverage> load_average(std::string_view text);

// The mean of vmstat's "r" column (tasks running or waiting for a CPU) over its reports.
std::optional<double> vmstat_runnable(std::string_view text);

// A "Name: value [kB]" field of /proc/meminfo, in kB (pages for the HugePages_ counts).
std::optional<long long> meminfo_field(std::string_view text, std::string_view name);

// "some avg10" of a /proc/pressure/ file: the share of the last 10 s, in percent, in which some
// tasks stalled.
std::optional<double> pressure_some_avg10(std::string_view text);

struct DiskLoad {
  std::string device;
  double reads = 0;   // per second
  double writes = 0;  // per second
  double util = 0;    // percent of the time the device was busy
};
// The devices of `iostat -dx INTERVAL COUNT`: means of the interval reports. The first report
// covers the time since boot; it is used only when it is the only one.
std::vector<DiskLoad> iostat_devices(std::string_view text);

// Counters of one block device in /proc/diskstats.
struct DiskCounters {
  std::string device;
  unsigned long long reads = 0, sectors_read = 0, writes = 0, sectors_written = 0;
  unsigned long long busy_ms = 0;  // time the device had I/O in flight
};
std::vector<DiskCounters> diskstats(std::string_view text);

struct NetCounters {
  std::string device;
  unsigned long long rx_bytes = 0, rx_packets = 0, rx_errors = 0, rx_dropped = 0;
  unsigned long long tx_bytes = 0, tx_packets = 0, tx_errors = 0, tx_dropped = 0;
};
// The devices of /proc/net/dev (counters since boot), in listed order.
std::vector<NetCounters> net_dev(std::string_view text);

// A "Proto:Name" counter of /proc/net/snmp (a line of names followed by a line of values), or of
// the collector's paired form "Tcp:RetransSegs 12".
std::optional<unsigned long long> snmp_counter(std::string_view text, std::string_view proto,
                                               std::string_view name);

// The first figure of /proc/uptime: seconds since boot.
std::optional<double> uptime_seconds(std::string_view text);

struct LinkState {
  std::string device;
  std::string state;  // "UP", "DOWN", "UNKNOWN"
  long mtu = 0;
};
// The devices of `ip link` / `ip -s link` (their header lines), in listed order.
std::vector<LinkState> ip_links(std::string_view text);

struct Address {
  std::string device;
  std::string state;
  std::string addresses;  // as `ip -br addr` prints them, blank-separated
};
// The lines of `ip -br addr`.
std::vector<Address> brief_addresses(std::string_view text);

struct Sockets {
  long tcp_established = 0;
  long tcp_timewait = 0;
  long tcp_listening = 0;  // listening TCP sockets (`ss -ltn`)
};
// The TCP line of `ss -s` ("TCP: 12 (estab 5, closed 0, orphaned 0, timewait 3)").
void socket_summary(std::string_view text, Sockets& into);
// The listening sockets of `ss -ltn`.
long listening_sockets(std::string_view text);

struct Process {
  long pid = 0;
  std::string user;
  long elapsed = 0;     // seconds since it started
  double cpu = 0;       // percent of one CPU over its lifetime
  std::string command;  // the program's name
  std::string args;     // its command line, possibly cut short
};
// `ps -eo pid,user,etimes,pcpu,pmem,stat,comm,args`: one row per process.
std::vector<Process> processes(std::string_view text);

struct ServiceLimit {
  long pid = 0;
  std::string command;
  double cpu = 0;
  long open_files = -1;  // -1 when they could not be counted
  std::string soft, hard;
};
// The collector's listing of the open-file limits of the busiest long-running processes:
// "PID COMMAND %CPU FILES SOFT HARD".
std::vector<ServiceLimit> service_limits(std::string_view text);

struct BlockQueue {
  std::string device;
  bool rotational = false;
  std::string scheduler;  // the selected one, without brackets; empty when none is shown
};
// The collector's scheduler listing: "DEVICE ROTATIONAL SCHEDULER".
std::vector<BlockQueue> block_queues(std::string_view text);

// "NAME=value" of an os-release file, unquoted.
std::string os_release_field(std::string_view text, std::string_view name);

// The output of the first command of the groups whose command line contains `needle`; nullptr
// when none does.
const CommandResult* find_output(const std::vector<CommandGroup>& groups, std::string_view needle);
// The outputs of every such command, in file order.
std::vector<const CommandResult*> find_outputs(const std::vector<CommandGroup>& groups,
                                               std::string_view needle);

}  // namespace orvane::collected
