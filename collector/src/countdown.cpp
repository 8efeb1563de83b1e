// The terminal countdown. The trace's command runs on the main thread; this thread only writes
// the remaining seconds over one line of the terminal.
#include "countdown.hpp"

#include <unistd.h>

#include <chrono>

#include <fmt/format.h>

namespace orvane::collect {
namespace {

void show(const std::string& text) {
  const std::string line = "\r" + text + "\x1b[K";
  [[maybe_unused]] ssize_t n = ::write(STDERR_FILENO, line.data(), line.size());
}

}  // namespace

Countdown::Countdown(std::string label, int seconds) {
  if (!::isatty(STDERR_FILENO) || seconds <= 0) return;
  thread_ = std::thread([this, label = std::move(label), seconds] {
    std::unique_lock lock(mutex_);
    for (int left = seconds; left > 0 && !done_; --left) {
      show(fmt::format("{}: {} s left", label, left));
      wake_.wait_for(lock, std::chrono::seconds(1), [this] { return done_; });
    }
    if (!done_) show(fmt::format("{}: finishing", label));
    wake_.wait(lock, [this] { return done_; });
    show("");
  });
}

Countdown::~Countdown() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    done_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

}  // namespace orvane::collect
