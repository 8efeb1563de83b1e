#pragma once
// The shell-command service: command lines run through /bin/sh, and process-id checks.
#include <chrono>
#include <stdexcept>
#include <string>

namespace orvane {

// A command line that did not finish within its time limit; it was killed.
class CommandTimeout : public std::runtime_error {
 public:
  CommandTimeout(const std::string& cmdline, std::chrono::milliseconds limit);
  const std::string& cmdline() const { return cmdline_; }

 private:
  std::string cmdline_;
};

class Command {
 public:
  // Runs the line with /bin/sh -c, waits for it, and returns its standard output with one final
  // line end removed. Standard error goes to the log at debug level. Throws std::system_error
  // when the shell cannot be started.
  static std::string cmd_exec(const std::string& cmdline);
  // The same with a time limit: a command still running after `limit` is killed with every
  // process it started, and CommandTimeout, naming the command line, is thrown.
  static std::string cmd_exec(const std::string& cmdline, std::chrono::milliseconds limit);

  // A fact about the host for a report (a version, a device listing): cmd_exec() with the
  // collector's time limit per command (ORVANE_COMMAND_TIMEOUT seconds, 1-86400, else 60). A
  // command that runs past it is logged and gives "", so one hung tool cannot hang the report.
  static std::string host_fact(const std::string& cmdline);

  // True for "-1", or for one process id or a comma-separated list of ids that all exist.
  // `verbose` is accepted for callers that pass it; no text is printed either way.
  static bool check_pid_list(const std::string& text, bool verbose);

  // True when the process exists (signal 0 can be sent, or is refused only for permission).
  static bool check_pid_exist(long pid, bool verbose);
};

}  // namespace orvane
