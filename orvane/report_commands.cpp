// `orvane collection` and `orvane analysis`: the phase timer stamps the start, the collector
// runs, the analysis runs (analysis only), the report and the machine-readable result are written
// and the report's path printed, and the timer prints the run time.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <system_error>

#include <fmt/format.h>

#include <orvane/analysis.hpp>
#include <orvane/cmdfront.hpp>
#include <orvane/collected/collection.hpp>
#include <orvane/collector.hpp>
#include <orvane/command.hpp>
#include <orvane/config.hpp>
#include <orvane/decorator_wrap.hpp>
#include <orvane/log.hpp>
#include <orvane/nr_report.hpp>
#include <orvane/phaseclock.hpp>
#include <orvane/util.hpp>

#include "command_module.hpp"
#include "dispatch.hpp"
#include "settings_files.hpp"

namespace orvane {
namespace {

using Clock = std::chrono::steady_clock;

std::string local_time(const char* format) {
  const std::time_t now = std::time(nullptr);
  std::tm t{};
  ::localtime_r(&now, &t);
  char buf[32];
  return std::string(buf, std::strftime(buf, sizeof buf, format, &t));
}

// Why the directory cannot take the run's files, or nothing when it can.
std::optional<std::string> unwritable(const std::string& dir) {
  std::error_code ec;
  try {
    create_private_directories(dir);
  } catch (const std::system_error& e) {
    return "cannot be created: " + e.code().message();
  }
  try {
    check_own_directory(dir);
  } catch (const std::exception& e) {
    return std::string(e.what());
  }
  if (!std::filesystem::is_directory(dir, ec)) return "is not a directory";
  if (::access(dir.c_str(), W_OK | X_OK) != 0) {
    return std::string("cannot be written: ") + std::strerror(errno);
  }
  return std::nullopt;
}

// The report nr_build has just written: it is named by the minute, which may have turned
// during the build.
std::string written_report(const std::string& dir, const std::string& minute_before,
                           const std::string& minute_after) {
  const std::string first = dir + "orvane_report_" + minute_before + ".html";
  const std::string second = dir + "orvane_report_" + minute_after + ".html";
  std::error_code ec;
  if (minute_before == minute_after || !std::filesystem::exists(first, ec)) return second;
  if (!std::filesystem::exists(second, ec)) return first;
  return std::filesystem::last_write_time(first, ec) > std::filesystem::last_write_time(second, ec)
             ? first
             : second;
}

// Writes the advice orvane can apply itself as a settings file beside the report; its path, or
// nothing when no advice has a concrete value.
std::optional<std::string> write_advice(const std::string& dir, const std::string& minute,
                                        const AnalysisResult& results) {
  const std::vector<SettingFields> settings = advice_settings(results.sug(), results.ref());
  if (settings.empty()) return std::nullopt;
  const std::string file = dir + "orvane_advice_" + minute + ".yaml";
  AtomicFile out(file);
  out.write(settings_file_text(
      {"The advice of the orvane analysis of " + local_time("%Y-%m-%d %H:%M") +
           " that has a concrete value.",
       "Check it, then apply it with: orvane apply " + file,
       "orvane shows the plan and asks before changing anything; `orvane profile recover` "
       "undoes it."},
      "the advice of the orvane analysis of " + local_time("%Y-%m-%d %H:%M") +
          " that has a concrete value",
      settings));
  out.commit();
  return file;
}

// The result beside the report, named by the report's minute: orvane_<what>_MMDDHHMM.json.
std::string result_path(const std::string& report, const char* what) {
  const std::string stamp = report.substr(report.size() - std::string("MMDDHHMM.html").size(), 8);
  return std::filesystem::path(report).parent_path().string() + "/orvane_" + what + "_" + stamp +
         ".json";
}

std::string host_name() {
  char buf[256] = {};
  if (::gethostname(buf, sizeof buf - 1) != 0) return "";
  return buf;
}

// The machine-readable result (keys documented in the README); the figures only for a collection.
void write_result(const std::string& path, const std::string& start, const std::string& stop,
                  const collected::Figures& figures, const AnalysisResult* analysis) {
  Json result = Json{{"version", ORVANE_VERSION},
                     {"host", host_name()},
                     {"start", start},
                     {"stop", stop},
                     {"figures", collected::figures_json(figures)}};
  if (analysis != nullptr) {
    result["findings"] = analysis->findings_json();
    result["checks"] = analysis->checks_json();
    result["workloads"] = analysis->workloads_json();
  }
  AtomicFile out(path, /*sync=*/false);
  out.write(result.dump(2, ' ', false, Json::error_handler_t::replace) + "\n");
  out.commit();
}

double seconds_since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

double own_cpu_seconds() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  auto s = [](const timeval& tv) { return static_cast<double>(tv.tv_sec) + tv.tv_usec / 1e6; };
  return s(u.ru_utime) + s(u.ru_stime);
}

int run_report_command(const Json& options, bool analyse) {
  const std::string func = analyse ? "ana" : "col";
  const char* const what = analyse ? "analysis" : "collection";
  Timer& timer = DecoratorWrap::singleton<Timer>();
  timer.tick(std::string(what) + " start");
  const auto started = Clock::now();
  const std::string start = local_time("%Y-%m-%d %H:%M:%S");

  const std::string out = Config::get_output_path();
  if (auto why = unwritable(out)) {
    std::cerr << "orvane: the output directory " << out << " " << *why << "\n";
    return kExitFailed;
  }

  double collect_s = 0, analyse_s = 0, report_s = 0;
  CollectorTiming timing;
  try {
    Logger().info(fmt::format("{} run, output directory {}", what, out));
    const CollectorSettings settings = CollectorSettings::from_environment();
    // A broken rule file stops the run before the collection, not after it.
    std::optional<Analysis> analysis;
    if (analyse) analysis.emplace(Config::find_data_file("analysis/rules.yaml"));
    const auto [perf_args, offcpu_args] = CmdFront::get_hotspot_cmdline_parser(options);

    auto phase = Clock::now();
    Collector collector(out, settings);
    collector.collect_system();
    for (const std::string& note : collector.collect_hotspots(perf_args, offcpu_args)) {
      std::cerr << "orvane: " << note << "\n";
    }
    timing = collector.timing();
    collect_s = seconds_since(phase);
    timer.tick("collection end");

    phase = Clock::now();
    collected::Collection data(out);
    AnalysisResult results;
    if (analysis) {
      results = analysis->run(data);
      timer.tick("analysis end");
    } else {
      results.figures = collected::derive_figures(data);
    }
    analyse_s = seconds_since(phase);
    const std::string stop = local_time("%Y-%m-%d %H:%M:%S");

    phase = Clock::now();
    const std::string minute_before = local_time("%m%d%H%M");
    std::optional<std::string> advice;
    if (analysis) {
      Json findings = results.height_info();
      advice = write_advice(out, minute_before, results);
      if (advice) {
        findings.push_back(
            {{"severity", "low"},
             {"kind", "settings"},
             {"finding", "The advice with a concrete value is in the settings file " + *advice +
                             "; `orvane apply " + *advice +
                             "` applies it after showing the plan, and `orvane profile recover` "
                             "undoes it."},
             {"metric", ""},
             {"item", ""}});
      }
      NrReport().nr_build(func, Json{{"start", start}, {"stop", stop}}, results.sug(),
                          results.ref(), findings, results.hldata(), results.netdevice());
    } else {
      // A collection has no advice: the report's advice parts stay empty.
      NrReport().nr_build(func, Json{{"start", start}, {"stop", stop}}, Json::array(),
                          Json::array(), Json::array(), Json::array(), Json::array());
    }
    const std::string report = written_report(out, minute_before, local_time("%m%d%H%M"));
    write_result(result_path(report, what), start, stop, results.figures,
                 analysis ? &results : nullptr);
    report_s = seconds_since(phase);
    std::cout << (analyse ? "调优报告输出路径: " : "采集报告输出路径: ") << report << "\n";
    if (advice)
      std::cout << "advice as a settings file: " << *advice << " (orvane apply " << *advice
                << ")\n";
  } catch (const CommandTimeout& e) {
    std::cerr << "orvane: " << e.what() << "; the " << what << " stops without a report\n";
    return kExitFailed;
  } catch (const std::exception& e) {
    std::cerr << "orvane: the " << what << " failed: " << e.what() << "\n";
    return kExitFailed;
  }

  Logger().debug(
      fmt::format("run time {:.3f} s: collection {:.3f} s ({:.3f} s sampling, {:.3f} s in {} other "
                  "commands), analysis {:.3f} s, report {:.3f} s; own CPU time {:.3f} s",
                  seconds_since(started), collect_s, timing.sampling, timing.commands, timing.count,
                  analyse_s, report_s, own_cpu_seconds()));
  timer.total_runtime(std::string(what) + " end");
  return kExitOk;
}

}  // namespace
}  // namespace orvane

// Collects the system's data (and the perf and off-CPU traces asked for) into the output
// directory and writes the report. Returns 0, or 1 with a message on standard error when the
// output directory cannot be written, a command hangs, or the report cannot be written; no
// report is written then.
ORVANE_COMMAND(col) {
  return orvane::run_report_command(options, false);
}

// The same, with the analysis of the collected data and its tuning advice in the report.
ORVANE_COMMAND(ana) {
  return orvane::run_report_command(options, true);
}
