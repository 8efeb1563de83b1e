// The table of command codes, the fields each handler reads, and the handlers.
#include "dispatch.hpp"
#include "report_commands.hpp"
#include "tuning_command.hpp"

#include <array>
#include <functional>
#include <iostream>
#include <string_view>
#include <vector>

#include <orvane/apply_command.hpp>
#include <orvane/config.hpp>

namespace orvane {
namespace {

int not_installed(const Json& options) {
  std::cerr << "orvane: the work of '" << options["func"].get<std::string>()
            << "' is not installed on this system\n";
  return kExitUnavailable;
}

struct Handler {
  std::string_view code;
  std::vector<std::string_view> fields;  // read by the handler
  std::function<int(const Json&)> run;
};

const std::vector<std::string_view> kCommon = {"work_path", "inst_path", "out_path"};
const std::vector<std::string_view> kCollect = {
    "work_path",     "inst_path", "out_path",   "perf_enable_type", "perf_pid",
    "perf_duration", "offcpu",    "offcpu_pid", "offcpu_duration"};

std::vector<std::string_view> with(std::vector<std::string_view> base,
                                   std::initializer_list<std::string_view> more) {
  base.insert(base.end(), more);
  return base;
}

const std::vector<Handler>& handlers() {
  static const std::vector<Handler> table = {
      {"col", kCollect, run_collection},
      {"ana", with(kCollect, {"test"}), run_analysis},
      {"pro_kafka", with(kCommon, {"CONF_DIR"}), not_installed},
      {"pro_mysql", with(kCommon, {"CONF_DIR"}), not_installed},
      {"pro_ats", with(kCommon, {"CONF_DIR"}), not_installed},
      {"pro_specweb", with(kCommon, {"CONF_DIR"}), not_installed},
      {"pro_dm", with(kCommon, {"CONF_DIR"}), not_installed},
      {"pro_rec", kCommon, not_installed},
      {"app", with(kCommon, {"SCRIPT", "PATH", "enc", "de"}), run_apply},
      {"tuning", with(kCommon, {"tuning_outpath", "PROJECT_YAML"}), run_tuning},
      {"con", with(kCommon, {"SCRIPT", "PATH", "cnf", "un"}), run_confuse},
  };
  return table;
}

}  // namespace

int dispatch(const Json& options) {
  const auto func_it = options.find("func");
  if (func_it == options.end() || !func_it->is_string()) {
    std::cerr << "orvane: error: the options record names no command\n";
    return kExitUsage;
  }
  const std::string func = func_it->get<std::string>();
  for (const Handler& h : handlers()) {
    if (h.code != func) continue;
    for (std::string_view field : h.fields) {
      if (!options.contains(field)) {
        std::cerr << "orvane: error: the command '" << func << "' needs the option field '" << field
                  << "', which this command line does not define\n";
        return kExitUsage;
      }
    }
    Config::configure(options);
    return h.run(options);
  }
  std::cerr << "orvane: error: unknown command code '" << func << "'\n";
  return kExitUsage;
}

}  // namespace orvane
