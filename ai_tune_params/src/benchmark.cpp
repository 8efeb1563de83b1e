// Runs the benchmark command through the shell and extracts its figures.
#include <orvane/benchmark.hpp>

#include <fmt/format.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <regex>
#include <string>

#include <orvane/log.hpp>
#include <orvane/process.hpp>
#include <orvane/readcfg.hpp>
#include <orvane/tuning_stop.hpp>

namespace orvane {
namespace {

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
  const std::regex pattern(metric);

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
    std::smatch m;
    if (!std::regex_search(r.out, m, pattern) || !m[1].matched) {
      Logger().warning(fmt::format("{}: the metric '{}' found nothing in the output; {}", which,
                                   metric, tail_of(r)));
      continue;
    }
    const std::string text = m[1].str();
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
