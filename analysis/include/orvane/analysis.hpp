#pragma once
// The analysis of an `analysis` run: well-known server checks, read from a rule file, evaluated
// on the collected-data files, and turned into the tuning advice of the report.
#include <memory>
#include <string>
#include <vector>

#include <orvane/json.hpp>

namespace orvane {

// The analysis results in the shapes the report shows.
struct AnalysisResult {
  Json sug = Json::array();          // {parameter, current, suggested, severity, reason}
  Json ref = Json::array();          // {parameter, reference}, in the order of sug
  Json height_info = Json::array();  // highlighted findings: {severity, finding}
  Json hldata = Json::array();       // every check: {parameter, area, current, recommended,
                                     // severity, status}, status "ok", "change" or
                                     // "not available"
  Json netdevice = Json::array();    // per network device: counters since boot and a finding
};

class Analysis {
 public:
  // Loads the rules (YAML). Throws std::runtime_error naming the file, and the line where it
  // can, when the file cannot be read or a rule is malformed.
  explicit Analysis(const std::string& rules_file);
  ~Analysis();
  Analysis(Analysis&&) noexcept;
  Analysis& operator=(Analysis&&) noexcept;

  // Evaluates every rule on the collected-data files of `out_dir` (ending with a separator).
  // Data that was not collected makes a check "not available"; it never fails the analysis.
  AnalysisResult run(const std::string& out_dir) const;

  size_t check_count() const;

 private:
  struct Rules;
  std::unique_ptr<Rules> rules_;
};

}  // namespace orvane
