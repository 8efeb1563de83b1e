// Installation and output directories of the run.
#include <orvane/config.hpp>

#include <unistd.h>

#include <filesystem>

namespace orvane {
namespace {

struct ConfigState {
  std::string inst_override;  // empty: found from the running program
  std::string out_override;   // empty: the installation directory
};

ConfigState& state() {
  static ConfigState s;
  return s;
}

std::string with_slash(std::string p) {
  if (p.empty() || p.back() != '/') p += '/';
  return p;
}

// <prefix>/share/orvane/ for a program installed as <prefix>/bin/orvane.
std::string default_inst_path() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return "/usr/share/orvane/";
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

}  // namespace orvane
