#pragma once
// The data collector's view of the CPU and synthesis sections of the report. Until the collector
// provides its own page data, both sections show the command groups of "CPUInfo.txt" in the
// output directory.
#include <orvane/json.hpp>

namespace orvane {

class DATACOLLECTION {
 public:
  DATACOLLECTION() = default;
  // The command groups of CPUInfo.txt as report data (null when the file cannot be parsed).
  Json get_cpu_tag_data();
  Json get_synthesis_tag_data();
};

}  // namespace orvane
