// The table of command codes, the fields each handler reads, and the module that holds it.
#include "dispatch.hpp"

#include <dlfcn.h>

#include <filesystem>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include <orvane/config.hpp>

#include "command_module.hpp"

namespace orvane {
namespace {

struct Command {
  std::string_view code;
  std::vector<std::string_view> fields;  // read by the handler
  std::string_view module;               // empty: the work is not part of this program yet
};

const std::vector<std::string_view> kCommon = {"inst_path", "out_path"};
const std::vector<std::string_view> kCollect = {"inst_path",  "out_path",       "perf_enable_type",
                                                "perf_pid",   "perf_duration",  "offcpu",
                                                "offcpu_pid", "offcpu_duration"};

std::vector<std::string_view> with(std::vector<std::string_view> base,
                                   std::initializer_list<std::string_view> more) {
  base.insert(base.end(), more);
  return base;
}

const std::vector<Command>& commands() {
  static const std::vector<Command> table = {
      {"col", kCollect, "report"},
      {"ana", kCollect, "report"},
      {"pro_kafka", with(kCommon, {"CONF_DIR"}), "profile"},
      {"pro_mysql", with(kCommon, {"CONF_DIR"}), "profile"},
      {"pro_ats", with(kCommon, {"CONF_DIR"}), "profile"},
      {"pro_specweb", with(kCommon, {"CONF_DIR"}), "profile"},
      {"pro_dm", with(kCommon, {"CONF_DIR"}), "profile"},
      {"pro_rec", kCommon, "recover"},
      {"app", with(kCommon, {"SCRIPT", "PATH", "enc", "de"}), ""},
      {"tuning", with(kCommon, {"tuning_outpath", "PROJECT_YAML"}), "tuning"},
      {"con", with(kCommon, {"SCRIPT", "PATH", "cnf", "un"}), ""},
  };
  return table;
}

int not_installed(std::string_view code, const std::string& why) {
  std::cerr << "orvane: the work of '" << code << "' is not installed on this system";
  if (!why.empty()) std::cerr << " (" << why << ")";
  std::cerr << "\n";
  return kExitUnavailable;
}

// The module directory, named relative to the program ($ORIGIN) so that an installed tree still
// works after it is moved. $ORIGIN is replaced here rather than left to dlopen: dlopen reads it
// as the directory of the object that calls it, which under the sanitizers is their runtime.
std::string module_dir() {
  const std::string_view dir = ORVANE_MODULE_DIR;
  constexpr std::string_view origin = "$ORIGIN";
  if (!dir.starts_with(origin)) return std::string(dir);
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return std::string(dir);
  return exe.parent_path().string() + std::string(dir.substr(origin.size()));
}

// The handler of `code` in its module, which is loaded now and stays for the rest of the process.
CommandHandler load_handler(const Command& command, std::string& why) {
  const std::string file = module_dir() + "/" + std::string(command.module) + ".so";
  void* module = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    why = ::dlerror();
    return nullptr;
  }
  const std::string symbol = "orvane_command_" + std::string(command.code);
  void* handler = ::dlsym(module, symbol.c_str());
  if (handler == nullptr) {
    why = ::dlerror();
    return nullptr;
  }
  return reinterpret_cast<CommandHandler>(handler);
}

}  // namespace

int dispatch(const Json& options) {
  const auto func_it = options.find("func");
  if (func_it == options.end() || !func_it->is_string()) {
    std::cerr << "orvane: error: the options record names no command\n";
    return kExitUsage;
  }
  const std::string func = func_it->get<std::string>();
  for (const Command& command : commands()) {
    if (command.code != func) continue;
    for (std::string_view field : command.fields) {
      if (!options.contains(field)) {
        std::cerr << "orvane: error: the command '" << func << "' needs the option field '" << field
                  << "', which this command line does not define\n";
        return kExitUsage;
      }
    }
    if (command.module.empty()) return not_installed(command.code, "");
    std::string why;
    const CommandHandler handler = load_handler(command, why);
    if (handler == nullptr) return not_installed(command.code, why);
    Config::configure(options);
    return handler(options);
  }
  std::cerr << "orvane: error: unknown command code '" << func << "'\n";
  return kExitUsage;
}

}  // namespace orvane
