#pragma once
// The data collector's page data for the report: the CPU section and the synthesis, read from
// the collected-data files in the output directory.
#include <orvane/json.hpp>

namespace orvane {

class DATACOLLECTION {
 public:
  DATACOLLECTION() = default;

  // From CPUInfo.txt: {"utilisation": {"command", "average": [per CPU: cpu, user, system,
  // iowait, steal, idle], "series": {"time": [...], "user": [...], ...}}, "groups": [the file's
  // command groups]}. Percentages, rounded to two decimals. Null when the file cannot be parsed.
  Json get_cpu_tag_data();

  // A short synthesis of the run, a list of {"item", "value", "detail"} rows: load averages, CPU
  // utilisation, memory and memory pressure (memInfo.txt), the busiest disks (diskInfo.txt) and
  // network devices (netInfo.txt). Rows whose data was not collected are left out. Null when
  // CPUInfo.txt cannot be parsed.
  Json get_synthesis_tag_data();
};

}  // namespace orvane
