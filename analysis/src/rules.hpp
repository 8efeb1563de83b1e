#pragma once
// The rule file of the analysis: checks of server settings and thresholds on the run's figures.
#include <optional>
#include <string>
#include <vector>

#include <orvane/pattern.hpp>

namespace orvane::analysis {

struct Check {
  std::string parameter;
  std::string area;
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
};

struct Finding {
  std::string metric;
  bool above = true;  // else below
  double threshold = 0;
  std::string severity;
  std::string text;  // with {value} and {item}
};

struct RuleSet {
  std::vector<Check> checks;
  std::vector<Finding> findings;
};

// The metrics that findings may name.
const std::vector<std::string>& known_metrics();

// Reads and validates the rule file. Throws std::runtime_error "<file>: line N: <what>".
RuleSet load_rules(const std::string& path);

// 0 for high, 1 for medium, 2 for low.
int severity_rank(const std::string& severity);

}  // namespace orvane::analysis
