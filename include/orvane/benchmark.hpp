#pragma once
// The benchmark runner of a tuning run: the configured command, run `repeat` times, each run's
// figure taken from its standard output with the `metric` pattern.
#include <vector>

namespace orvane {

class Benchmark {
 public:
  Benchmark() = default;

  // One figure per successful run, in run order. A run that times out, exits with a non-zero
  // status or prints no figure is logged with the tail of its output and left out. Stops early,
  // without a figure for the run under way, when the tuning run is asked to stop.
  std::vector<double> run();
};

}  // namespace orvane
