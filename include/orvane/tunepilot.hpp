#pragma once
// One AI tuning run of the configured scene: back up its parameters, time the baseline
// benchmark, let the optimiser search, log the outcome and put the parameters back; and, once the
// administrator says yes, apply the optimiser's result.
#include <string>
#include <vector>

#include <orvane/json.hpp>

namespace orvane {

class TunePilot {
 public:
  TunePilot() = default;

  // Loads the project file (Cfg().init) and returns what it returns.
  Json init(const std::string& config_file);

  // One tuning run. True when the optimiser returned a result; false when no value could be
  // read, the baseline gave no figure or the optimiser found nothing. Whatever happens after the
  // optimiser has started (a result, nothing, an error, SIGINT or SIGTERM), the values read
  // before tuning are written back before run() returns or throws. On SIGINT or SIGTERM it
  // throws tuning::Interrupted.
  bool run();

  // Asks "是否需要下发优化参数(Y/N):" on standard output until a line of standard input reads y,
  // Y, n or N; applies `opt_params` through SceneVars on y or Y. Throws std::runtime_error,
  // applying nothing, when standard input ends first.
  void set_optparams(const Json& opt_params);

  Json get_opt_params_value() const { return opt_params_value_; }
  Json get_oriparams() const { return oriparams_; }

 private:
  std::vector<double> get_oriperformance();

  Json oriparams_ = Json::object();
  Json opt_params_value_ = Json::object();
};

}  // namespace orvane
