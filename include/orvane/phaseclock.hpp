#pragma once
// The process-wide phase timer: named time stamps of a run, its total run time, and the baseline
// benchmark's duration. Obtain it with DecoratorWrap::singleton<Timer>().
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <orvane/decorator_wrap.hpp>

namespace orvane {

struct Stamp {
  std::optional<std::string> desc;
  double t;  // monotonic clock, seconds
};

class Timer {
 public:
  // One timer per process: a copy would be a second timer that nothing else sees.
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  std::vector<Stamp> p_time;    // every stamp since construction, oldest first
  int max_runtime = 100;        // held for other components; no operation here uses it
  double benchmark_time = 0.0;  // baseline benchmark duration, seconds, one decimal

  // Appends (desc, now) to p_time.
  void tick(std::optional<std::string> desc);
  // Stamps, then prints "total runtime: <h min s> \n\n" measured from the first stamp ever and
  // returns the whole seconds (halves to even). Without an earlier stamp: logs " time error",
  // prints nothing, returns nullopt.
  std::optional<long long> total_runtime(std::optional<std::string> desc);
  // Prints p_time on one line: [['start', 1234.5], ['end', 1240.25]]; line breaks and other
  // control characters in descriptions are escaped (\n, \x1b).
  void get_tick_list() const;
  // Stores the time rounded to one decimal place (correct decimal rounding).
  void set_benchmark_time(double time);

  // Replaces the clock (seconds); nullptr restores the monotonic clock. For tests.
  void set_clock(std::function<double()> clock);

 private:
  friend class DecoratorWrap;
  Timer() = default;
  static std::string to_hms(long long seconds);
  double now() const;
  std::function<double()> clock_;
};

}  // namespace orvane
