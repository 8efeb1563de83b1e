#pragma once
// The shell-command service: command lines run through /bin/sh, and process-id checks.
#include <string>

namespace orvane {

class Command {
 public:
  // Runs the line with /bin/sh -c, waits for it, and returns its standard output with one final
  // line end removed. Standard error goes to the log at debug level. Throws std::system_error
  // when the shell cannot be started.
  static std::string cmd_exec(const std::string& cmdline);

  // True for "-1", or for one process id or a comma-separated list of ids that all exist.
  // `verbose` is accepted for callers that pass it; no text is printed either way.
  static bool check_pid_list(const std::string& text, bool verbose);

  // True when the process exists (signal 0 can be sent, or is refused only for permission).
  static bool check_pid_exist(long pid, bool verbose);
};

}  // namespace orvane
