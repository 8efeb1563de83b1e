#pragma once
// The data collector's page data for the report: the CPU section and the synthesis, read from
// the collected-data files in the output directory.
#include <orvane/json.hpp>

namespace orvane {

class DATACOLLECTION {
 public:
  DATACOLLECTION() = default;

  // From CPUInfo.txt: {"utilisation": {"command", "average": [per CPU: cpu, user, nice, system,
  // iowait, irq, softirq, steal, idle], "series": {"time": [...], "user": [...], ... one list per
  // part}}, "groups": [the file's command groups]}. Percentages, rounded to two decimals. Null
  // when the file cannot be parsed.
  Json get_cpu_tag_data();

  // The run's figures by resource, the way the USE method reads them, and the host's facts as
  // the collected files state them (for base facts that the host's commands left blank):
  // {"resources": [{"resource", "item", "utilisation", "saturation", "errors"}],
  //  "facts": {"system_version", "memory_total", "memory_free", "memory_available", "cpu_mhz",
  //            "network_devices"}}, each fact {"value", "source"} (network_devices a list of
  //  {"name", "state", "addresses"} with its source). Resources whose data was not collected are
  // left out. Null when CPUInfo.txt cannot be parsed.
  Json get_synthesis_tag_data();
};

}  // namespace orvane
