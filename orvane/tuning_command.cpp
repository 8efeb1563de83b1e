// `orvane tuning`: loads the project, runs the tuning, reports the outcome, writes the run's
// record, history and convergence page, and applies the result when the administrator says yes.
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <orvane/config.hpp>
#include <orvane/decorator_wrap.hpp>
#include <orvane/log.hpp>
#include <orvane/phaseclock.hpp>
#include <orvane/readcfg.hpp>
#include <orvane/scenevars.hpp>
#include <orvane/tunepilot.hpp>
#include <orvane/tuning_report.hpp>
#include <orvane/tuning_stop.hpp>
#include <orvane/util.hpp>
#include <orvane/value_text.hpp>

#include "command_module.hpp"
#include "dispatch.hpp"
#include "settings_files.hpp"

namespace orvane {
namespace {

std::string text_option(const Json& options, const char* key, const std::string& fallback) {
  auto it = options.find(key);
  return it != options.end() && it->is_string() ? it->get<std::string>() : fallback;
}

// One output file, written whole or not at all; failures are reported, since the run itself has
// already ended.
bool write_output(const std::filesystem::path& file, const std::string& text) {
  try {
    AtomicFile out(file);
    out.write(text);
    out.commit();
    return true;
  } catch (const std::exception& e) {
    std::cerr << "orvane: cannot write " << file.string() << ": " << e.what() << "\n";
    return false;
  }
}

std::filesystem::path record_file(const std::filesystem::path& outpath,
                                  const std::string& project) {
  return outpath / ("tuning_" + project + "_result.json");
}

std::string record_text(const Json& record) {
  return record.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

// The run's files in the output directory: the whole record (JSON), the evaluations (JSON
// lines) and the page with the convergence plot. Returns the paths written.
std::vector<std::string> write_outputs(const std::filesystem::path& outpath,
                                       const std::string& project, const Json& record) {
  const Json& result = record["result"];
  const Json& oriparams = record["oriparams"];
  const std::string stem = "tuning_" + project;
  std::vector<std::pair<std::filesystem::path, std::string>> files = {
      {record_file(outpath, project), record_text(record)}};
  if (result.is_object() && !result.empty()) {
    files.emplace_back(outpath / (stem + "_history.jsonl"), tuning::history_lines(result));
    files.emplace_back(
        outpath / (stem + "_report.html"),
        tuning::convergence_page(project, result, oriparams,
                                 tuning::metric_label(Cfg().get_benchmark_options())));
  }
  // An effective result can be applied later, and undone, with `orvane apply`.
  if (result.is_object() && result.value("effective", false) && result.contains("param")) {
    const std::string apply_file = (outpath / (stem + "_apply.yaml")).string();
    const Cfg cfg;
    Json values = Json::object();
    for (const auto& [name, value] : result["param"].items()) {
      values[name] = tuning::value_text(value);
    }
    const TuningProject source{.name = project,
                               .get_scripts = cfg.get_params_get_script(),
                               .set_scripts = cfg.get_params_set_script(),
                               .workload = cfg.get_workload_options(),
                               // The project's commands ran here and may name files relative to it.
                               .dir = std::filesystem::current_path().string(),
                               .reference = (outpath / (stem + "_result.json")).string()};
    files.emplace_back(
        apply_file,
        settings_file_text(
            {"The result of the orvane tuning run of project " + project + ".",
             "Apply it with: orvane apply " + apply_file,
             "orvane shows the plan, with every command in full, and asks before "
             "changing anything; `orvane profile recover` undoes it."},
            "the values the tuning run of project " + project + " found better and confirmed",
            tuning_settings(values, source)));
  }
  std::vector<std::string> written;
  for (const auto& [file, text] : files) {
    if (write_output(file, text)) written.push_back(file.string());
  }
  return written;
}

std::string joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& l : lines) out += (out.empty() ? "" : "; ") + l;
  return out;
}

// The administrator's answer and what followed, as the record keeps it and one line tells it.
Json answer_record(const std::optional<TunePilot::Answer>& a, const std::string& failure) {
  Json out = {{"question", "是否需要下发优化参数"}, {"asked", true}};
  std::string outcome;
  if (!a || a->answer.empty()) {
    out["answer"] = nullptr;
    outcome = "no answer: " + failure;
  } else if (a->answer != "y" && a->answer != "Y") {
    out["answer"] = a->answer;
    outcome = "left original: nothing was applied";
  } else {
    out["answer"] = a->answer;
    if (a->verified) {
      outcome = "applied and verified: every value reads back as set";
    } else if (a->applied) {
      outcome = "applied, not verified: " + joined(a->problems);
    } else {
      outcome = "not applied as a whole, a set script failed: " + joined(a->problems);
    }
  }
  out["applied"] = a && a->applied;
  out["verified"] = a && a->verified;
  out["outcome"] = outcome;
  return out;
}

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
    create_private_directories(outpath);
    // Opens the log now, so that a log that cannot be written stops the run before it changes
    // anything.
    Logger().info("tuning project " + project + " from " + project_file);
  } catch (const std::exception& e) {
    std::cerr << "orvane: tuning cannot start: " << e.what() << "\n";
    return kExitFailed;
  }
  auto record = [&] {
    return Json{{"project", project},
                {"project_file", project_file},
                {"oriparams", pilot.get_oriparams()},
                {"result", pilot.get_opt_params_value()}};
  };

  bool completed = false;
  try {
    completed = pilot.run();
  } catch (const tuning::RestoreFailed& e) {
    std::cerr << "orvane: " << e.what() << " (log: " << log_file << ")\n";
    if (!pilot.get_opt_params_value().empty()) write_outputs(outpath, project, record());
    return kExitFailed;
  } catch (const tuning::Interrupted& e) {
    std::cerr << "orvane: " << e.what()
              << "; the parameters have the values read before tuning again (verified)\n";
    if (!pilot.get_opt_params_value().empty()) write_outputs(outpath, project, record());
    return 128 + e.signal();
  } catch (const std::exception& e) {
    std::cerr << "orvane: the tuning run failed: " << e.what() << " (log: " << log_file << ")\n";
    return kExitFailed;
  }
  if (!completed) {
    if (pilot.get_oriparams().empty()) {
      std::string why;
      for (const ParamReading& p : SceneVars::last_read_problems()) {
        why += (why.empty() ? " (" : "; ") + p.name + ": " + p.problem;
      }
      std::cerr << "orvane: no parameter value could be read" << (why.empty() ? "" : why + ")")
                << "; nothing was tuned (log: " << log_file << ")\n";
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
  // The fixed outcome text, and the same in English.
  if (effective) {
    const std::string param = tuning::map_text(result["param"]);
    std::cout << "本次调优最佳参数组合: " << param << "\n"
              << "Best parameter combination of this tuning run: " << param << "\n";
  } else {
    const std::string original = tuning::map_text(pilot.get_oriparams());
    std::cout << "本次调优未找到更优配置,保持初始配置: " << original << "\n"
              << "This tuning run found no better configuration; keeping the initial "
                 "configuration: "
              << original << "\n";
  }
  std::cout << tuning::summary_table(result, pilot.get_oriparams());
  Json full = record();
  full["answer"] = {
      {"question", "是否需要下发优化参数"},
      {"asked", effective},
      {"answer", nullptr},
      {"applied", false},
      {"verified", false},
      {"outcome",
       effective ? "not answered yet" : "left original: no better configuration was confirmed"}};
  for (const std::string& file : write_outputs(outpath, project, full)) {
    std::cout << "written: " << file << "\n";
  }
  if (!effective) {
    timer.total_runtime("tuning end");
    return kExitOk;
  }

  std::cout << "Apply the chosen parameters now? Answer Y to apply them or N to keep the original "
               "values.\n";
  std::string failure;
  try {
    pilot.set_optparams(result["param"]);
  } catch (const std::exception& e) {
    failure = e.what();
  }
  // An answer from a terminal ended its line already; one from a pipe (or none) did not.
  if (!::isatty(STDIN_FILENO) || !pilot.answer() || pilot.answer()->answer.empty()) {
    std::cout << "\n";
  }
  full["answer"] = answer_record(pilot.answer(), failure);
  const std::string told = full["answer"]["answer"].is_string()
                               ? full["answer"]["answer"].get<std::string>()
                               : std::string("none");
  const std::string line = "answer " + told + ": " + full["answer"]["outcome"].get<std::string>();
  std::cout << line << "\n";
  Logger().info("Y/N " + line);
  write_output(record_file(outpath, project), record_text(full));
  if (!failure.empty()) {
    std::cerr << "orvane: " << failure << "\n";
    return kExitFailed;
  }
  timer.total_runtime("tuning end");
  return kExitOk;
}

}  // namespace
}  // namespace orvane

// One tuning run of the project file, its outcome, and the Y/N question on applying the result.
// Returns 0 when the run completed, 1 when it could not start, failed or could not put a value
// back, 128 + the signal number when SIGINT, SIGTERM or SIGHUP stopped it (values put back).
ORVANE_COMMAND(tuning) {
  return orvane::run_tuning(options);
}
