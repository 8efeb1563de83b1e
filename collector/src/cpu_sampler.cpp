// Sampling /proc/stat into mpstat's layout.
#include "cpu_sampler.hpp"

#include <algorithm>
#include <charconv>

#include <fmt/format.h>

namespace orvane::collect {
namespace {

constexpr const char* kColumns[] = {"%usr",  "%nice",  "%sys",   "%iowait", "%irq",
                                    "%soft", "%steal", "%guest", "%gnice",  "%idle"};

std::string header(const std::string& label) {
  std::string line = fmt::format("{:<11}{:>5}", label, "CPU");
  for (const char* c : kColumns) line += fmt::format("{:>8}", c);
  return line + "\n";
}

std::string row(const std::string& label, const std::string& cpu, const CpuTimes& a,
                const CpuTimes& b) {
  std::array<double, 10> d{};
  for (size_t i = 0; i < d.size(); ++i) {
    d[i] = b.ticks[i] >= a.ticks[i] ? static_cast<double>(b.ticks[i] - a.ticks[i]) : 0.0;
  }
  enum { user, nice, system, idle, iowait, irq, softirq, steal, guest, guest_nice };
  // The kernel counts guest time inside user time and guest_nice inside nice time.
  const double total =
      d[user] + d[nice] + d[system] + d[idle] + d[iowait] + d[irq] + d[softirq] + d[steal];
  auto pct = [&](double v) { return total > 0 ? 100.0 * v / total : 0.0; };
  const double values[] = {pct(std::max(0.0, d[user] - d[guest])),
                           pct(std::max(0.0, d[nice] - d[guest_nice])),
                           pct(d[system]),
                           pct(d[iowait]),
                           pct(d[irq]),
                           pct(d[softirq]),
                           pct(d[steal]),
                           pct(d[guest]),
                           pct(d[guest_nice]),
                           total > 0 ? pct(d[idle]) : 100.0};
  std::string line = fmt::format("{:<11}{:>5}", label, cpu);
  for (double v : values) line += fmt::format("{:>8.2f}", v);
  return line + "\n";
}

}  // namespace

std::vector<CpuTimes> parse_proc_stat(std::string_view text) {
  std::vector<CpuTimes> out;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    if (!line.starts_with("cpu")) continue;
    const size_t name_end = line.find(' ');
    if (name_end == std::string_view::npos) continue;
    CpuTimes t;
    t.cpu = name_end == 3 ? "all" : std::string(line.substr(3, name_end - 3));
    size_t pos = name_end;
    for (auto& tick : t.ticks) {
      while (pos < line.size() && line[pos] == ' ') ++pos;
      if (pos >= line.size()) break;
      auto [p, ec] = std::from_chars(line.data() + pos, line.data() + line.size(), tick);
      if (ec != std::errc()) break;
      pos = static_cast<size_t>(p - line.data());
    }
    out.push_back(std::move(t));
  }
  return out;
}

std::string utilisation_rows(const std::string& label, const std::vector<CpuTimes>& before,
                             const std::vector<CpuTimes>& after) {
  std::string text = header(label);
  for (const CpuTimes& b : after) {
    for (const CpuTimes& a : before) {
      if (a.cpu == b.cpu) {
        text += row(label, b.cpu, a, b);
        break;
      }
    }
  }
  return text;
}

std::string sample_utilisation(int interval, int count, const std::function<std::string()>& read,
                               const std::function<void(int seconds)>& wait,
                               const std::function<std::string()>& clock) {
  const std::vector<CpuTimes> first = parse_proc_stat(read());
  std::vector<CpuTimes> previous = first;
  std::string text;
  for (int i = 0; i < count; ++i) {
    wait(interval);
    std::vector<CpuTimes> now = parse_proc_stat(read());
    text += utilisation_rows(clock(), previous, now) + "\n";
    previous = std::move(now);
  }
  return text + utilisation_rows("Average:", first, previous);
}

}  // namespace orvane::collect
