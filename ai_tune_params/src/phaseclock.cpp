// The phase timer.
#include <orvane/phaseclock.hpp>

#include <fmt/format.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <iostream>

#include <orvane/log.hpp>

namespace orvane {
namespace {

// Shortest text that reads back to the same double, always with a decimal point or exponent.
std::string repr_double(double x) {
  std::string s = fmt::format("{}", x);
  if (s.find_first_of(".eni") == std::string::npos) s += ".0";
  return s;
}

std::string repr_text(const std::optional<std::string>& s) {
  if (!s) return "None";
  const char quote =
      (s->find('\'') != std::string::npos && s->find('"') == std::string::npos) ? '"' : '\'';
  std::string r(1, quote);
  for (char c : *s) {
    // Control characters are written as escapes, so the list stays on one line.
    const auto u = static_cast<unsigned char>(c);
    if (c == '\n') {
      r += "\\n";
    } else if (c == '\r') {
      r += "\\r";
    } else if (c == '\t') {
      r += "\\t";
    } else if (u < 0x20 || u == 0x7f) {
      r += fmt::format("\\x{:02x}", u);
    } else {
      if (c == '\\' || c == quote) r += '\\';
      r += c;
    }
  }
  r += quote;
  return r;
}

long long floor_div(long long a, long long b) {
  long long q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

}  // namespace

double Timer::now() const {
  if (clock_) return clock_();
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void Timer::set_clock(std::function<double()> clock) {
  clock_ = std::move(clock);
}

void Timer::tick(std::optional<std::string> desc) {
  p_time.push_back({std::move(desc), now()});
}

std::optional<long long> Timer::total_runtime(std::optional<std::string> desc) {
  tick(std::move(desc));
  if (p_time.size() == 1) {
    Logger().error(" time error");
    return std::nullopt;
  }
  const double elapsed = p_time.back().t - p_time.front().t;
  // nearbyint rounds halves to even in the default rounding mode.
  const auto total = static_cast<long long>(std::nearbyint(elapsed));
  std::cout << "total runtime: " << to_hms(total) << " \n" << std::endl;
  return total;
}

void Timer::get_tick_list() const {
  std::string line = "[";
  for (size_t i = 0; i < p_time.size(); ++i) {
    if (i) line += ", ";
    // Appended piece by piece: "[" + std::string trips a false -Wrestrict of GCC 12 at -O3.
    line += '[';
    line += repr_text(p_time[i].desc);
    line += ", ";
    line += repr_double(p_time[i].t);
    line += ']';
  }
  line += "]";
  std::cout << line << std::endl;
}

void Timer::set_benchmark_time(double time) {
  benchmark_time = std::strtod(fmt::format("{:.1f}", time).c_str(), nullptr);
}

std::string Timer::to_hms(long long seconds) {
  long long m = floor_div(seconds, 60), s = seconds - m * 60;
  long long h = floor_div(m, 60);
  m -= h * 60;
  if (h == 0 && m == 0) return fmt::format("{} s", seconds);
  if (h == 0) return fmt::format("{} min {} s", m, s);
  return fmt::format("{} h {} min {} s", h, m, s);
}

}  // namespace orvane
