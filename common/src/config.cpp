// Installation and output directories of the run.
#include <orvane/config.hpp>

#include <unistd.h>

#include <filesystem>

namespace orvane {
namespace {

struct ConfigState {
  std::string inst_override;  // empty: found from the running program
  std::string out_override;   // empty: the installation directory
  std::string conf_override;  // empty: found from the running program
};

ConfigState& state() {
  static ConfigState s;
  return s;
}

std::string with_slash(std::string p) {
  if (p.empty() || p.back() != '/') p += '/';
  return p;
}

std::filesystem::path running_program() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path("/usr/bin/orvane") : exe;
}

// <prefix>/share/orvane/ for a program installed as <prefix>/bin/orvane.
std::string default_inst_path() {
  const auto exe = running_program();
  return with_slash((exe.parent_path().parent_path() / "share" / "orvane").lexically_normal());
}

}  // namespace

std::string Config::get_inst_path() {
  const auto& s = state();
  return s.inst_override.empty() ? default_inst_path() : with_slash(s.inst_override);
}

std::string Config::get_output_path() {
  const auto& s = state();
  const std::string base = s.out_override.empty() ? get_inst_path() : with_slash(s.out_override);
  return base + "orvaneData/";
}

std::string Config::conf_path_of(const std::string& program) {
  const auto prefix = std::filesystem::path(program).lexically_normal().parent_path().parent_path();
  // The file-system hierarchy puts the configuration of /usr's programs in /etc, not /usr/etc.
  if (prefix == "/usr" || prefix == "/") return "/etc/orvane/";
  return with_slash((prefix / "etc" / "orvane").string());
}

std::string Config::get_conf_path() {
  const auto& s = state();
  return s.conf_override.empty() ? conf_path_of(running_program().string())
                                 : with_slash(s.conf_override);
}

std::string Config::find_data_file(const std::string& relative) {
  std::string edited = get_conf_path() + relative;
  std::error_code ec;
  if (std::filesystem::is_regular_file(edited, ec)) return edited;
  return get_inst_path() + relative;
}

void Config::configure(const Json& options) {
  auto text_of = [&](const char* key) -> std::string {
    auto it = options.find(key);
    if (it == options.end() || !it->is_string()) return "";
    return it->get<std::string>() == "." ? "" : it->get<std::string>();
  };
  set_inst_path(text_of("inst_path"));
  set_out_path(text_of("out_path"));
}

void Config::set_inst_path(const std::string& path) {
  state().inst_override = path;
}
void Config::set_out_path(const std::string& path) {
  state().out_override = path;
}
void Config::set_conf_path(const std::string& path) {
  state().conf_override = path;
}

}  // namespace orvane
