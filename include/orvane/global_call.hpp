#pragma once
// Run-wide names shared by the collector and the report.
#include <string>

namespace orvane {

struct GlobalCall {
  // File name, inside the output directory, of the perf and off-CPU hotspot results.
  static std::string output_hotspot_file;
};

}  // namespace orvane
