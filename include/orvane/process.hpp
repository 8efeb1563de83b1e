#pragma once
// Runs child processes with both output pipes read to their end. The single place where the
// project starts a process.
#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace orvane {

struct ProcessResult {
  std::string out;         // standard output, as produced
  std::string err;         // standard error, as produced
  int status = 0;          // exit status, or 128 + signal number when the child was killed
  bool timed_out = false;  // the time limit ran out and the child was killed
  bool stopped = false;    // the stop flag was raised and its signal was sent to the child
};

struct RunOptions {
  // Kill the child (SIGTERM, then SIGKILL after a grace period) when it runs longer.
  std::optional<std::chrono::milliseconds> timeout;
  // Watched while the child runs. Once it holds a signal number, that signal is sent to the
  // child (then SIGKILL after a grace period), so an interrupted caller does not wait for a long
  // command to finish. The flag is usually raised by the caller's own signal handler.
  const std::atomic<int>* stop = nullptr;
  // Start the child as the leader of a new process group. The time limit and the stop flag then
  // signal the whole group, and a group that outlives a killed child is killed too, so nothing
  // the command started keeps running. Off by default: scripts may start daemons on purpose.
  bool own_group = false;
  // Keep only about the last `keep_tail` bytes of each output (at least that many, at most twice
  // as many while the child runs; exactly the last `keep_tail` at the end). 0 keeps everything.
  size_t keep_tail = 0;
  // The child's working directory; empty: the caller's.
  std::string cwd{};
};

// Runs argv[0] with the given arguments (no PATH search), standard input from /dev/null,
// no descriptors inherited beyond 0-2. Throws std::system_error when it cannot be started.
// Returns once the child has ended and its pipes are drained; a background grandchild that keeps
// the pipes open does not hold the call up for more than a short grace period. Such a grandchild
// (a daemon a script started) keeps running: the pipes are then handed to a small detached
// process that reads them to their end, so its later writes do not fail with SIGPIPE.
ProcessResult run_process(const std::vector<std::string>& argv, const RunOptions& options = {});

// run_process({"/bin/sh", "-c", text}).
ProcessResult run_shell(const std::string& text, const RunOptions& options = {});

}  // namespace orvane
