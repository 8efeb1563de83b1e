// CmdFront's public operations.
#include <orvane/cmdfront.hpp>

#include <cstdlib>
#include <iostream>

#include "internals.hpp"

namespace orvane {

CmdFront::CmdFront() {
  check_os_version();
}

Json CmdFront::args_help(int argc, const char* const argv[]) {
  std::vector<std::string> words(argv, argv + argc);
  if (words.empty()) words.emplace_back("orvane");
  ParseOutcome outcome = CmdFrontInternals::parse(words);
  if (outcome.record) return std::move(*outcome.record);
  std::cout << outcome.out << std::flush;
  std::cerr << outcome.err << std::flush;
  std::exit(outcome.exit_status);
}

std::pair<Json, Json> CmdFront::get_hotspot_cmdline_parser(const Json& options) {
  Json perf_args = Json::object();
  Json offcpu_args = Json::object();
  const std::string func = options.value("func", std::string());
  if (func != "col" && func != "ana") return {perf_args, offcpu_args};
  auto field = [&](const char* key) { return options.contains(key) ? options[key] : Json(); };
  const Json perf = field("perf_enable_type");
  if (perf.is_number() && perf.get<double>() != 0) {
    perf_args["perf_enable_type"] = perf;
    perf_args["perf_pid"] = field("perf_pid");
    perf_args["perf_duration"] = field("perf_duration");
  }
  const Json offcpu = field("offcpu");
  if (offcpu.is_boolean() && offcpu.get<bool>()) {
    offcpu_args["offcpu_enable"] = offcpu;
    offcpu_args["offcpu_pid"] = field("offcpu_pid");
    offcpu_args["offcpu_duration"] = field("offcpu_duration");
  }
  return {perf_args, offcpu_args};
}

std::string CmdFront::parse_projectname(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  return base.substr(0, base.find('.'));
}

}  // namespace orvane
