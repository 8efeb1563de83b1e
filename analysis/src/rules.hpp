#pragma once
// The rule file of the analysis: checks of server settings with the conditions under which they
// apply, thresholds on the run's figures, and the workloads recognised from the process list.
#include <optional>
#include <string>
#include <vector>

#include <orvane/pattern.hpp>

namespace orvane::analysis {

// A condition on a fact of the collected data ("swap.total_mib above 0").
struct Condition {
  std::string fact;
  bool above = true;  // else below
  double level = 0;
};

struct Check {
  std::string parameter;
  std::string area;
  // Where the current value is read: the output lines of commands of a collected file, or the
  // open-file limits of the busy long-running services.
  bool services = false;
  std::string file;     // collected-data file
  std::string command;  // text that the command lines to read contain
  Pattern match{""};    // per output line: (value) or (item)(value)
  bool per_item = false;
  std::optional<Pattern> skip;  // items to ignore
  std::optional<double> min, max;
  std::vector<std::string> one_of;
  std::string suggested;
  std::string severity;
  std::string reason;
  std::string reference;
  std::string none_found;
  std::vector<Condition> when;  // all must hold for the check to apply
  std::string key;              // the sysctl key of a sysctl setting, else empty
};

struct Finding {
  std::string metric;
  bool above = true;  // else below
  double threshold = 0;
  std::string severity;
  std::string kind;  // utilisation, saturation or errors
  std::string text;  // with {value} and {item}
  std::vector<Condition> when;
};

// A workload recognised by its processes, and the profile scene that suits it.
struct Workload {
  std::string name;
  std::string scene;
  std::vector<std::string> commands;  // program names, compared whole
  std::vector<std::string> args;      // texts that its command line contains
  bool database = false;              // keeps a large data set in memory (a database, a broker)
};

struct RuleSet {
  std::vector<Check> checks;
  std::vector<Finding> findings;
  std::vector<Workload> workloads;
};

// The metrics that findings may name.
const std::vector<std::string>& known_metrics();
// The facts that conditions may name.
const std::vector<std::string>& known_facts();

// Reads and validates the rule file. Throws std::runtime_error "<file>: line N: <what>".
RuleSet load_rules(const std::string& path);

// 0 for high, 1 for medium, 2 for low.
int severity_rank(const std::string& severity);

}  // namespace orvane::analysis
