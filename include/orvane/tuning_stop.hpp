#pragma once
// Stopping a tuning run on SIGINT, SIGTERM or SIGHUP: while a run is under way the signals raise a
// flag instead of ending the process, so the run can put the scene's parameters back before it
// ends.
#include <atomic>
#include <memory>
#include <stdexcept>

namespace orvane::tuning {

// The signal that asked the run to stop, or 0. Commands started while a run is under way watch
// it (RunOptions::stop), so a long benchmark receives the signal too.
const std::atomic<int>& stop_flag();
int stop_requested();
// What the signal handler does; also for tests.
void request_stop(int signo);
void clear_stop();

// While alive, SIGINT, SIGTERM and SIGHUP call request_stop(); the previous handlers come back when
// it goes. Construction clears the flag.
class StopOnSignals {
 public:
  StopOnSignals();
  ~StopOnSignals();
  StopOnSignals(const StopOnSignals&) = delete;
  StopOnSignals& operator=(const StopOnSignals&) = delete;

 private:
  struct Saved;
  std::unique_ptr<Saved> saved_;
};

// Thrown by a tuning run that stopped on a signal, after the parameters were put back and
// verified.
class Interrupted : public std::runtime_error {
 public:
  explicit Interrupted(int signo);
  int signal() const { return signo_; }

 private:
  int signo_;
};

// Thrown by a tuning run whose values could not all be put back and verified, whatever ended
// it; the message names each value at fault and the journal that still holds the originals.
class RestoreFailed : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace orvane::tuning
