// `orvane tuning`: loads the project, runs the tuning, reports the outcome, writes the run's
// history, and applies the result when the administrator says yes.
#include "tuning_command.hpp"

#include <unistd.h>

#include <filesystem>
#include <iostream>

#include <fmt/format.h>

#include <orvane/config.hpp>
#include <orvane/decorator_wrap.hpp>
#include <orvane/log.hpp>
#include <orvane/phaseclock.hpp>
#include <orvane/tunepilot.hpp>
#include <orvane/tuning_stop.hpp>
#include <orvane/util.hpp>
#include <orvane/value_text.hpp>

#include "dispatch.hpp"

namespace orvane {
namespace {

std::string text_option(const Json& options, const char* key, const std::string& fallback) {
  auto it = options.find(key);
  return it != options.end() && it->is_string() ? it->get<std::string>() : fallback;
}

// The history file; failures are reported, since the run itself has already ended.
bool write_history(const std::filesystem::path& file, const Json& record) {
  try {
    AtomicFile out(file);
    out.write(record.dump(2, ' ', false, Json::error_handler_t::replace) + "\n");
    out.commit();
    return true;
  } catch (const std::exception& e) {
    std::cerr << "orvane: cannot write the tuning history: " << e.what() << "\n";
    return false;
  }
}

std::string number(const Json& v) {
  return v.is_number() ? fmt::format("{:.6g}", v.get<double>()) : "-";
}

}  // namespace

int run_tuning(const Json& options) {
  Timer& timer = DecoratorWrap::singleton<Timer>();
  timer.tick("tuning start");
  const std::string project_file = text_option(options, "PROJECT_YAML", "");
  const std::filesystem::path outpath = text_option(options, "tuning_outpath", ".");
  const std::string log_file = Config::get_output_path() + "orvane.log";

  TunePilot pilot;
  std::string project;
  try {
    project = pilot.init(project_file)["project"].get<std::string>();
    std::filesystem::create_directories(outpath);
    // Opens the log now, so that a log that cannot be written stops the run before it changes
    // anything.
    Logger().info("tuning project " + project + " from " + project_file);
  } catch (const std::exception& e) {
    std::cerr << "orvane: tuning cannot start: " << e.what() << "\n";
    return kExitFailed;
  }
  const auto history_file = outpath / ("tuning_" + project + "_history.json");
  auto history = [&] {
    return Json{{"project", project},
                {"project_file", project_file},
                {"oriparams", pilot.get_oriparams()},
                {"result", pilot.get_opt_params_value()}};
  };

  bool completed = false;
  try {
    completed = pilot.run();
  } catch (const tuning::Interrupted& e) {
    std::cerr << "orvane: " << e.what()
              << "; the parameters have the values read before tuning again\n";
    if (!pilot.get_opt_params_value().empty()) write_history(history_file, history());
    return 128 + e.signal();
  } catch (const std::exception& e) {
    std::cerr << "orvane: the tuning run failed: " << e.what() << " (log: " << log_file << ")\n";
    return kExitFailed;
  }
  if (!completed) {
    if (pilot.get_oriparams().empty()) {
      std::cerr << "orvane: no parameter value could be read; nothing was tuned (log: " << log_file
                << ")\n";
    } else {
      std::cerr << "orvane: the benchmark gave no figure for the baseline or for any candidate; "
                   "the parameters were left as they were (log: "
                << log_file << ")\n";
    }
    timer.total_runtime("tuning end");
    return kExitFailed;
  }

  const Json result = pilot.get_opt_params_value();
  const bool effective = result["effective"].get<bool>();
  if (effective) {
    std::cout << "本次调优最佳参数组合: " << tuning::map_text(result["param"]) << "\n";
  } else {
    std::cout << "本次调优未找到更优配置,保持初始配置: " << tuning::map_text(pilot.get_oriparams())
              << "\n";
  }
  std::cout << fmt::format("baseline {}, best {}, improvement {}%, threshold {}, {} evaluations\n",
                           number(result["baseline"]), number(result["best"]),
                           number(result["improvement"]), number(result["threshold"]),
                           result.value("evaluations", 0));
  if (write_history(history_file, history()))
    std::cout << "history: " << history_file.string() << "\n";

  if (effective) {
    try {
      pilot.set_optparams(result["param"]);
    } catch (const std::exception& e) {
      std::cout << "\n";
      std::cerr << "orvane: " << e.what() << "\n";
      return kExitFailed;
    }
    // An answer from a terminal ended its line already; one from a pipe did not.
    if (!::isatty(STDIN_FILENO)) std::cout << "\n";
  }
  timer.total_runtime("tuning end");
  return kExitOk;
}

}  // namespace orvane
