#pragma once
// The collected-data files of one output directory, and the one set of figures derived from them
// that the report and the analysis both read.
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <orvane/collected/figures.hpp>
#include <orvane/collected_groups.hpp>
#include <orvane/json.hpp>

namespace orvane::collected {

// The files of one output directory, each read and parsed at its first use and kept.
class Collection {
 public:
  // `dir` ends with a separator.
  explicit Collection(std::string dir) : dir_(std::move(dir)) {}

  // The groups of one file: empty when it does not exist or cannot be parsed (readable() tells).
  const std::vector<CommandGroup>& groups(std::string_view file);
  // False when the file exists but could not be read or parsed.
  bool readable(std::string_view file);

  // The first command of the file whose line contains `needle`; nullptr when none does.
  const CommandResult* find(std::string_view file, std::string_view needle);
  std::vector<const CommandResult*> find_all(std::string_view file, std::string_view needle);

 private:
  struct Parsed {
    bool readable = true;
    std::vector<CommandGroup> groups;
  };
  Parsed& parsed(std::string_view file);

  std::string dir_;
  std::map<std::string, Parsed, std::less<>> files_;
};

// Per-second rates of one disk over the sampling window.
struct DiskRate {
  std::string device;
  double reads = 0, writes = 0;            // requests per second
  double read_bytes = 0, write_bytes = 0;  // bytes per second
  double util = 0;                         // percent of the window with I/O in flight
  std::optional<bool> rotational;
};

// Per-second rates of one network device over the sampling window.
struct NetRate {
  std::string device;
  std::string state;  // "UP", "DOWN", ... or empty
  long mtu = 0;
  double rx_packets = 0, tx_packets = 0, rx_bytes = 0, tx_bytes = 0;
  double errors = 0, drops = 0;  // received and sent together
  double packets() const { return rx_packets + tx_packets; }
  double bytes() const { return rx_bytes + tx_bytes; }
};

// What the collection says about the host, each figure from one place.
struct Figures {
  // CPUs.
  std::string cpu_command;     // the command whose utilisation was read
  std::optional<CpuLoad> cpu;  // all CPUs, mean of the samples
  std::vector<CpuLoad> per_cpu;
  std::vector<CpuSample> cpu_series;
  long cpus = 0;  // from the per-CPU rows, else lscpu's "CPU(s):"
  std::optional<LoadAverage> load;
  std::optional<double> runnable;  // mean of tasks running or waiting for a CPU
  std::optional<double> cpu_pressure;
  long numa_nodes = 0;

  // Memory.
  std::optional<long long> mem_total_kb, mem_free_kb, mem_available_kb;
  std::optional<long long> swap_total_kb, swap_free_kb;
  std::optional<double> memory_pressure;

  // Disks and network devices, over the sampling window of `window` seconds (0: no window was
  // recorded; disk rates then come from iostat, network rates are absent).
  double window = 0;
  std::vector<DiskRate> disks;
  std::vector<NetRate> networks;
  std::optional<double> tcp_segments;     // TCP segments sent per second
  std::optional<double> tcp_retransmits;  // TCP segments retransmitted per second
  std::optional<Sockets> sockets;
  std::vector<BlockQueue> queues;
  std::vector<Address> addresses;

  // Processes and the system.
  std::vector<Process> processes;
  std::vector<ServiceLimit> service_limits;
  std::string os_name;  // PRETTY_NAME of os-release

  std::optional<double> runnable_per_cpu() const;
  std::optional<double> memory_available_percent() const;
};

// The figures of the collection; what was not collected stays empty.
Figures derive_figures(Collection& data);

// The figures as the result file states them (keys documented in the README): CPU split, load,
// memory, swap, pressure, per-disk and per-device rates. Percentages and rates are rounded to two
// decimals; a figure that was not collected is null.
Json figures_json(const Figures& f);

// Disks that hold no data of their own: loop devices, RAM disks and compressed RAM swap.
bool virtual_disk(std::string_view device);

}  // namespace orvane::collected
