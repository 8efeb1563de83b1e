// Runs the benchmark command through the shell and extracts its figures.
#include <orvane/benchmark.hpp>

#include <fmt/format.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <string>

#include <orvane/log.hpp>
#include <orvane/pattern.hpp>
#include <orvane/process.hpp>
#include <orvane/readcfg.hpp>
#include <orvane/tuning_stop.hpp>

namespace orvane {
namespace {

// The figure is near the end of a benchmark's output; what a run prints beyond this is dropped
// as it arrives, so a runaway benchmark cannot exhaust memory.
constexpr size_t kKeptOutput = 16 << 20;

// The last few lines of both outputs, for the log of a failed run.
std::string tail_of(const ProcessResult& r) {
  auto tail = [](const std::string& s) {
    constexpr size_t kMaxBytes = 400;
    constexpr int kMaxLines = 5;
    size_t end = s.size();
    while (end > 0 && (s[end - 1] == '\n' || s[end - 1] == ' ')) --end;
    size_t start = end;
    int lines = 0;
    while (start > 0 && end - start < kMaxBytes) {
      if (s[start - 1] == '\n' && ++lines == kMaxLines) break;
      --start;
    }
    return s.substr(start, end - start);
  };
  std::string out = tail(r.out), err = tail(r.err);
  std::string text = "stdout: " + (out.empty() ? "(empty)" : "\n" + out);
  text += "\nstderr: " + (err.empty() ? "(empty)" : "\n" + err);
  return text;
}

}  // namespace

std::vector<double> Benchmark::run() {
  const Json options = Cfg().get_benchmark_options();
  const std::string command = options.at("command").get<std::string>();
  const std::string metric = options.at("metric").get<std::string>();
  const long long repeat = options.at("repeat").get<long long>();
  RunOptions run_options;
  if (options.at("timeout").is_number()) {
    run_options.timeout = std::chrono::milliseconds(
        static_cast<long long>(std::ceil(options.at("timeout").get<double>() * 1000)));
  }
  run_options.stop = &tuning::stop_flag();
  // Its own process group: a timeout or a stop ends everything the benchmark started.
  run_options.own_group = true;
  run_options.keep_tail = kKeptOutput;
  const Pattern pattern(metric);

  std::vector<double> figures;
  for (long long i = 1; i <= repeat; ++i) {
    if (tuning::stop_requested()) break;
    const ProcessResult r = run_shell(command, run_options);
    if (r.stopped) break;
    const std::string which = fmt::format("benchmark run {}/{}", i, repeat);
    if (r.timed_out) {
      Logger().warning(fmt::format("{} timed out after {} s; {}", which,
                                   options.at("timeout").get<double>(), tail_of(r)));
      continue;
    }
    if (r.status != 0) {
      Logger().warning(fmt::format("{} exited with status {}; {}", which, r.status, tail_of(r)));
      continue;
    }
    // Matched line by line, from the first whole line kept.
    std::string_view out = r.out;
    if (out.size() >= kKeptOutput) {
      const size_t line = out.find('\n');
      out.remove_prefix(line == std::string_view::npos ? out.size() : line + 1);
    }
    const auto m = pattern.search_lines(out);
    if (!m || !(*m)[1]) {
      Logger().warning(fmt::format("{}: the metric '{}' found nothing in the output; {}", which,
                                   metric, tail_of(r)));
      continue;
    }
    const std::string text(*(*m)[1]);
    char* end = nullptr;
    const double figure = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(figure)) {
      Logger().warning(fmt::format("{}: the metric captured '{}', which is not a number; {}", which,
                                   text, tail_of(r)));
      continue;
    }
    figures.push_back(figure);
  }
  return figures;
}

}  // namespace orvane
