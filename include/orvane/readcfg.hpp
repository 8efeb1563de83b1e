#pragma once
// The tuning configuration: the project file of a tuning run, read and checked once by init() and
// then seen by every Cfg() of the process.
#include <stdexcept>
#include <string>

#include <orvane/json.hpp>

namespace orvane {

// A project file that cannot be read or is refused; the message names the file, the line and the
// key at fault ("demo.yaml:12: params[0].range: min 4096 is greater than max 256").
class CfgError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Cfg {
 public:
  Cfg() = default;

  // Reads and checks the project file and makes it the configuration of the process. Returns the
  // configuration as loaded (project, workload, benchmark, optimizer, params, with defaults
  // filled in). Throws CfgError; a refused file leaves the previous configuration in place.
  Json init(const std::string& config_file);

  // The operations below throw std::logic_error when no configuration has been loaded.

  // {name: {"get": script}} in file order.
  Json get_params_get_script() const;
  // {name: {"set": script with $value, "needrestart": text}} in file order; needrestart is
  // "false" when the file does not give it.
  Json get_params_set_script() const;
  // {"stop": command, "start": command}; empty texts when the file has no workload.
  Json get_workload_options() const;
  std::string get_project() const;
  // What the optimiser needs: method ("bayes" unless the file says "random"), iterations,
  // initial_points (only when the file gives it), seed, confirm_rounds, confirm_max_rounds,
  // direction, repeat and params ([{name, type, range, step?, options?}]).
  Json get_optimizer_info() const;
  // The time limit of every get, set, stop and start script of a tuning run, in seconds: the
  // top-level `script_timeout` (at most one day), 300 when the file does not give it.
  double get_script_timeout() const;
  // What the benchmark runner needs: command, metric, direction, repeat and timeout (seconds, or
  // null for no limit).
  Json get_benchmark_options() const;
};

}  // namespace orvane
