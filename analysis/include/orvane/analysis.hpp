#pragma once
// The analysis of an `analysis` run: well-known server checks, read from a rule file, evaluated
// on the collected data under the conditions in which they matter, findings on the run's figures
// organised by utilisation, saturation and errors, and the workloads recognised on the host.
#include <memory>
#include <string>
#include <vector>

#include <orvane/collected/collection.hpp>
#include <orvane/json.hpp>

namespace orvane {

// One check of a server setting and its verdict on this host.
struct CheckResult {
  std::string parameter;
  std::string area;                   // cpu, memory, network, io or system
  std::string current;                // the value read, or why none was
  std::string suggested;              // a value that passes the check
  std::string recommended;            // what passes, in words ("at least 4096")
  std::string status;                 // "ok", "change", "not_applicable" or "not_available"
  std::string severity;               // high, medium or low
  std::vector<std::string> evidence;  // what the verdict rests on
  std::string reason;
  std::string reference;
  std::string key;  // the sysctl key of a sysctl setting, else empty
};

// A figure of the run that stands out.
struct FindingResult {
  std::string severity;
  std::string kind;  // utilisation, saturation or errors
  std::string text;
  std::string metric;
  double value = 0;
  std::string item;  // the CPU or device, empty for the host as a whole
};

// A workload recognised from the process list, and the profile scene that suits it.
struct WorkloadResult {
  std::string name;
  std::string scene;
  std::vector<std::string> processes;  // "mysqld (pid 1873)"
  bool database = false;               // a database or broker (large data set in memory)
};

struct AnalysisResult {
  collected::Figures figures;
  std::vector<CheckResult> checks;      // in the order of the rule file
  std::vector<FindingResult> findings;  // most severe first
  std::vector<WorkloadResult> workloads;

  size_t applicable() const;  // checks whose status is ok or change
  size_t changes() const;

  // The shapes the report shows.
  Json sug() const;          // {parameter, current, suggested, severity, evidence, reason}
  Json ref() const;          // {parameter, reference}, in the order of sug
  Json height_info() const;  // {severity, kind, finding, metric, item}: findings, the count
                             // of changes, then the workloads and their scenes
  Json hldata() const;       // every check: {parameter, area, current, recommended, severity,
                             // status, evidence}
  Json netdevice() const;    // per network device: rates over the sampling window, a finding

  // The machine-readable parts: findings, checks and workloads.
  Json findings_json() const;
  Json checks_json() const;
  Json workloads_json() const;
};

class Analysis {
 public:
  // Loads the rules (YAML). Throws std::runtime_error naming the file, and the line where it
  // can, when the file cannot be read or a rule is malformed.
  explicit Analysis(const std::string& rules_file);
  ~Analysis();
  Analysis(Analysis&&) noexcept;
  Analysis& operator=(Analysis&&) noexcept;

  // Evaluates every rule on the collected data of `out_dir` (ending with a separator). Data that
  // was not collected makes a check "not_available"; it never fails the analysis.
  AnalysisResult run(const std::string& out_dir) const;
  AnalysisResult run(collected::Collection& data) const;

  size_t check_count() const;

 private:
  struct Rules;
  std::unique_ptr<Rules> rules_;
};

}  // namespace orvane
