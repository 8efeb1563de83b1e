#pragma once
// Command lines the report shows as common follow-up commands.
#include <string>

namespace orvane {

struct GlobalParameter {
  std::string pidstat_cmd = "pidstat -u -r -d -w -h 1 10";
  std::string sub_sarall = "sar -u -r -b -n DEV -q 1 10";
};

}  // namespace orvane
