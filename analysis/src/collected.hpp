#pragma once
// The collected-data files of one run, each parsed once, and the figures the findings use.
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <orvane/json.hpp>
#include <orvane/nr_report.hpp>

namespace orvane::analysis {

class Collected {
 public:
  explicit Collected(std::string out_dir) : out_dir_(std::move(out_dir)) {}

  // The groups of one file; empty when it does not exist or cannot be parsed.
  const std::vector<CommandGroup>& groups(const std::string& file);

  // The outputs of every command of the file whose line contains `needle`.
  std::vector<const CommandResult*> outputs(const std::string& file, const std::string& needle);

 private:
  std::string out_dir_;
  std::map<std::string, std::vector<CommandGroup>> files_;
};

// One value of a metric; `item` names the CPU or device of per-item metrics.
struct MetricValue {
  std::string item;
  double value = 0;
};

// Every metric of the run that the collected data holds (a metric without data is absent).
std::map<std::string, std::vector<MetricValue>> metrics(Collected& data);

// One row per network device but the loopback: state, MTU, counters since boot, and a finding.
Json network_devices(Collected& data);

}  // namespace orvane::analysis
