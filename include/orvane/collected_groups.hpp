#pragma once
// The records of a collected-data file as the report and the analysis read it: the commands that
// the collector ran for one subject, and what each printed.
#include <string>
#include <vector>

namespace orvane {

// One command of a collected-data file and what it printed.
struct CommandResult {
  std::string cmd;
  std::string res;
};

// The commands that the collector ran for one subject, in file order.
struct CommandGroup {
  std::string group;
  std::vector<CommandResult> sub;
};

}  // namespace orvane
