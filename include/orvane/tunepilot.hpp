#pragma once
// One AI tuning run of the configured scene: back up its parameters, time the baseline
// benchmark, let the optimiser search, log the outcome and put the parameters back; and, once the
// administrator says yes, apply the optimiser's result.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <orvane/json.hpp>

namespace orvane {

class TunePilot {
 public:
  TunePilot();
  ~TunePilot();
  TunePilot(const TunePilot&) = delete;
  TunePilot& operator=(const TunePilot&) = delete;

  // Loads the project file (Cfg().init) and returns what it returns.
  Json init(const std::string& config_file);

  // One tuning run. True when the optimiser returned a result; false when no value could be
  // read, the baseline gave no figure or the optimiser found nothing. Whatever happens after the
  // optimiser has started (a result, nothing, an error, SIGINT, SIGTERM or SIGHUP), the values
  // read before tuning are written back and read again before run() returns or throws.
  //
  // Before anything changes it refuses (std::runtime_error, naming what is wrong) a run of a
  // project that another run holds or whose last run left an unfinished change set in the
  // journal, and originals that are incomplete or hold characters the shell interprets; then
  // it writes the originals to the change journal. Throws tuning::RestoreFailed when a value
  // could not be put back, else tuning::Interrupted on a signal.
  bool run();

  // Asks "是否需要下发优化参数(Y/N):" on standard output until a line of standard input reads y,
  // Y, n or N; applies `opt_params` through SceneVars on y or Y (after run(): as a change kept
  // in the journal, each script checked and every value read back, std::runtime_error naming
  // what failed). Throws std::runtime_error, applying nothing, when standard input ends first.
  // What happened is kept for answer().
  void set_optparams(const Json& opt_params);

  // What the last set_optparams did.
  struct Answer {
    std::string answer;     // "y", "Y", "n" or "N" as typed; empty when input ended first
    bool applied = false;   // the set scripts ran without a failure
    bool verified = false;  // and every value read back as set
    std::vector<std::string> problems;  // why not applied or not verified
  };
  const std::optional<Answer>& answer() const { return answer_; }

  // The journal file of the last run's change set; empty before one was written.
  std::string journal_file() const;

  Json get_opt_params_value() const { return opt_params_value_; }
  Json get_oriparams() const { return oriparams_; }

 private:
  std::vector<double> get_oriperformance();

  Json oriparams_ = Json::object();
  Json opt_params_value_ = Json::object();
  std::optional<Answer> answer_;
  // The journal, its lock and the restore guard of the last run, kept until the answer to the
  // Y/N question has been acted on.
  struct RunState;
  std::unique_ptr<RunState> state_;
};

}  // namespace orvane
