#pragma once
// The figures of the run that findings name, and the network devices' table.
#include <map>
#include <string>
#include <vector>

#include <orvane/collected/collection.hpp>
#include <orvane/json.hpp>

namespace orvane::analysis {

// One value of a metric; `item` names the CPU or device of per-item metrics.
struct MetricValue {
  std::string item;
  double value = 0;
};

// Every metric of the run that the figures hold (a metric without data is absent).
std::map<std::string, std::vector<MetricValue>> metrics(const collected::Figures& f);

// One row per network device but the loopback: state, MTU, rates over the sampling window, and a
// finding.
Json network_devices(const collected::Figures& f);

}  // namespace orvane::analysis
