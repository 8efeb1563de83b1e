#pragma once
// CPU utilisation sampled from /proc/stat, for hosts without mpstat. The result has mpstat's
// layout (`mpstat -P ALL`, C locale), so the report reads one layout whatever the source.
#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace orvane::collect {

// The time counters of one "cpu" line of /proc/stat: user, nice, system, idle, iowait, irq,
// softirq, steal, guest, guest_nice (missing trailing fields are 0).
struct CpuTimes {
  std::string cpu;  // "all" for the summary line, else the CPU number
  std::array<unsigned long long, 10> ticks{};
};

std::vector<CpuTimes> parse_proc_stat(std::string_view text);

// The mpstat rows (header, "all", each CPU) of the time between two readings; `label` stands
// in the time column ("09:53:11" or "Average:").
std::string utilisation_rows(const std::string& label, const std::vector<CpuTimes>& before,
                             const std::vector<CpuTimes>& after);

// `count` samples, `interval` seconds apart: reads /proc/stat through `read` and waits through
// `wait`; `clock` gives the time label of a sample. Ends with the "Average:" rows.
std::string sample_utilisation(int interval, int count, const std::function<std::string()>& read,
                               const std::function<void(int seconds)>& wait,
                               const std::function<std::string()>& clock);

}  // namespace orvane::collect
