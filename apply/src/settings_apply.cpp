// Settings files on their way to the host: shell scripts are told apart and refused.
#include "settings_apply.hpp"

#include <yaml-cpp/yaml.h>

#include <iostream>
#include <string_view>

#include <orvane/util.hpp>

#include "script_road.hpp"

namespace orvane::sealing {
namespace {

bool shell_name(std::string_view name) {
  for (std::string_view ext : {".sh", ".bash", ".ksh", ".zsh"}) {
    if (name.ends_with(ext)) return true;
  }
  return false;
}

bool yaml_map(const std::string& content, const char* with_key = nullptr) {
  try {
    const YAML::Node root = YAML::Load(content);
    return root.IsMap() && (with_key == nullptr || root[with_key]);
  } catch (const YAML::Exception&) {
    return false;
  }
}

}  // namespace

bool is_shell_script(const std::string& content, const std::string& name) {
  if (content.starts_with("#!")) return true;
  if (shell_name(name) && !yaml_map(content, "settings")) return true;
  // Lines of commands read as one plain YAML text; a settings file is always a map. Binary
  // data is neither.
  return !content.empty() && content.find('\0') == std::string::npos && is_valid_utf8(content) &&
         !yaml_map(content);
}

int apply_settings_file(const std::string& content, const std::string& name, const Json&) {
  if (is_shell_script(content, name)) {
    std::cerr << "orvane apply: " << name
              << " is a shell script, and orvane does not run one: nothing could record what it "
                 "changes, so nothing could undo it. Write the changes as a settings file "
                 "instead (the advice file of `orvane analysis` and the result file of `orvane "
                 "tuning` are examples; a setting of kind `script` takes a get and a set "
                 "command).\n";
    return 1;
  }
  if (!yaml_map(content)) {
    std::cerr << "orvane apply: " << name
              << " is not a settings file (a YAML map with the list `settings`)\n";
    return 1;
  }
  return apply_script_settings(parse_script_settings(content, name), name);
}

}  // namespace orvane::sealing
