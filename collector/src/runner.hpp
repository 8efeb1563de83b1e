#pragma once
// The collector's way to run a command: through the shell-command service, with a time limit,
// timed for the run's log.
#include <chrono>
#include <string>
#include <string_view>

#include <orvane/collector.hpp>

namespace orvane::collect {

// True when an executable file of that name lies in a directory of PATH.
bool tool_installed(std::string_view tool);

class Runner {
 public:
  Runner(CollectorTiming& timing, std::chrono::seconds limit) : timing_(timing), limit_(limit) {}

  // The command's output (standard output, one final line end removed). `samples_for` is the
  // time the command is expected to sample for: it counts as a sampling wait and extends the
  // time limit. Throws CommandTimeout when the limit runs out.
  std::string run(const std::string& line,
                  std::chrono::seconds samples_for = std::chrono::seconds(0));

  // Records time that the collector itself spent waiting between samples.
  void add_sampling_wait(double seconds) { timing_.sampling += seconds; }

 private:
  CollectorTiming& timing_;
  std::chrono::seconds limit_;
};

}  // namespace orvane::collect
