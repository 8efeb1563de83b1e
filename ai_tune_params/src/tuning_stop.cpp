// The stop flag of a tuning run and the SIGINT/SIGTERM/SIGHUP handlers that raise it.
#include <orvane/tuning_stop.hpp>

#include <signal.h>
#include <string.h>

#include <string>

namespace orvane::tuning {
namespace {

std::atomic<int> g_stop{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler writes the flag");

extern "C" void on_stop_signal(int signo) {
  g_stop.store(signo);
}

}  // namespace

const std::atomic<int>& stop_flag() {
  return g_stop;
}
int stop_requested() {
  return g_stop.load();
}
void request_stop(int signo) {
  g_stop.store(signo);
}
void clear_stop() {
  g_stop.store(0);
}

struct StopOnSignals::Saved {
  struct sigaction actions[3];
};

constexpr int kStopSignals[3] = {SIGINT, SIGTERM, SIGHUP};

StopOnSignals::StopOnSignals() : saved_(std::make_unique<Saved>()) {
  clear_stop();
  struct sigaction sa;
  ::memset(&sa, 0, sizeof sa);
  sa.sa_handler = on_stop_signal;
  sigemptyset(&sa.sa_mask);
  // Restarted system calls keep blocking writes and waits intact; the process runner's poll()
  // returns on the signal all the same and then sees the flag.
  sa.sa_flags = SA_RESTART;
  for (int i = 0; i < 3; ++i) ::sigaction(kStopSignals[i], &sa, &saved_->actions[i]);
}

StopOnSignals::~StopOnSignals() {
  for (int i = 0; i < 3; ++i) ::sigaction(kStopSignals[i], &saved_->actions[i], nullptr);
}

Interrupted::Interrupted(int signo)
    : std::runtime_error(std::string("the tuning run was interrupted by ") +
                         (signo == SIGINT    ? "SIGINT"
                          : signo == SIGTERM ? "SIGTERM"
                          : signo == SIGHUP  ? "SIGHUP"
                                             : "a signal")),
      signo_(signo) {}

}  // namespace orvane::tuning
