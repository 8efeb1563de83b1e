#pragma once
// Figures read from the outputs that the data collector records: CPU utilisation, load, memory,
// disk and network counters. The report's CPU and synthesis sections and the analysis read the
// same outputs through these functions, so both always agree.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <orvane/nr_report.hpp>

namespace orvane::figures {

// Utilisation of one CPU ("all" for the whole machine), in percent of its time. `user` holds
// user, nice and guest time, `system` kernel, interrupt and soft-interrupt time.
struct CpuLoad {
  std::string cpu;
  double user = 0;
  double system = 0;
  double iowait = 0;
  double steal = 0;
  double idle = 0;
  double busy() const { return 100.0 - idle; }
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
};
// The first three fields of /proc/loadavg.
std::optional<LoadAverage> load_average(std::string_view text);

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

struct NetCounters {
  std::string device;
  unsigned long long rx_bytes = 0, rx_packets = 0, rx_errors = 0, rx_dropped = 0;
  unsigned long long tx_bytes = 0, tx_packets = 0, tx_errors = 0, tx_dropped = 0;
};
// The devices of /proc/net/dev (counters since boot), in listed order.
std::vector<NetCounters> net_dev(std::string_view text);

struct LinkState {
  std::string device;
  std::string state;  // "UP", "DOWN", "UNKNOWN"
  long mtu = 0;
};
// The devices of `ip link` / `ip -s link` (their header lines), in listed order.
std::vector<LinkState> ip_links(std::string_view text);

// The output of the first command of the groups whose command line contains `needle`; nullptr
// when none does.
const CommandResult* find_output(const std::vector<CommandGroup>& groups, std::string_view needle);

}  // namespace orvane::figures
