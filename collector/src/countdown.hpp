#pragma once
// A countdown on the terminal while a trace of a known length runs: "perf trace: 12 s left".
// Shown only when standard error is a terminal; otherwise the object does nothing.
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace orvane::collect {

class Countdown {
 public:
  Countdown(std::string label, int seconds);
  ~Countdown();  // stops the countdown and clears its line
  Countdown(const Countdown&) = delete;
  Countdown& operator=(const Countdown&) = delete;

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;
  std::thread thread_;
};

}  // namespace orvane::collect
