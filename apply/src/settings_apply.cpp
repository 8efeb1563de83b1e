// Settings files on their way to the host: shell scripts are told apart and refused, the rest
// goes the profile engine's road.
#include "settings_apply.hpp"

#include <yaml-cpp/yaml.h>

#include <filesystem>
#include <iostream>
#include <set>
#include <string_view>

#include <orvane/profile.hpp>
#include <orvane/settings.hpp>
#include <orvane/util.hpp>

#include "script_kind.hpp"

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

// What names orvane's own files of this run (the plan): letters, digits, _ and - of the base name.
std::string file_token(const std::string& name) {
  std::string stem = std::filesystem::path(name).stem().string();
  std::string out;
  for (char c : stem) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '_' || c == '-';
    out += plain ? c : '_';
  }
  return out.empty() ? "settings" : out;
}

// A line that opens a settings file's top-level key: such a file with a YAML error is a broken
// settings file, to be refused with the error's line, not a script.
bool has_settings_key(const std::string& content) {
  for (std::string_view key : {"settings:", "description:"}) {
    for (size_t at = content.find(key); at != std::string::npos; at = content.find(key, at + 1)) {
      if (at == 0 || content[at - 1] == '\n') return true;
    }
  }
  return false;
}

}  // namespace

bool is_shell_script(const std::string& content, const std::string& name) {
  if (content.starts_with("#!")) return true;
  if (has_settings_key(content)) return false;
  if (shell_name(name) && !yaml_map(content, "settings")) return true;
  // Lines of commands read as one plain YAML text; a settings file is always a map. Binary
  // data is neither.
  return !content.empty() && content.find('\0') == std::string::npos && is_valid_utf8(content) &&
         !yaml_map(content);
}

bool apply_may_use(const std::string& kind) {
  return kind == "sysctl" || kind == "sysfs" || kind == "limits" || kind == "script";
}

int apply_settings_file(const std::string& content, const std::string& name, std::istream& in,
                        std::ostream& out, std::ostream& err) {
  if (is_shell_script(content, name)) {
    err << "orvane apply: " << name
        << " is a shell script, and orvane does not run one: nothing could record what it "
           "changes, so nothing could undo it. Write the changes as a settings file instead "
           "(the advice file of `orvane analysis` and the result file of `orvane tuning` are "
           "examples; a setting of kind `script` takes a get and a set command).\n";
    return 1;
  }
  register_script_kind();
  settings::SettingsFile file;
  try {
    file = settings::parse_settings(content, name);
  } catch (const settings::SettingsError& e) {
    err << "orvane apply: " << e.what() << "\n";
    return 1;
  }
  std::set<std::string> seen;
  for (const settings::Setting& s : file.settings) {
    if (!apply_may_use(s.kind)) {
      err << "orvane apply: " << s.where << ": kind: " << s.kind
          << " edits a workload's files, which only `orvane profile` is given; a settings file "
             "for `orvane apply` holds sysctl, sysfs, limits and script settings\n";
      return 1;
    }
    if (!seen.insert(s.kind + " " + s.target + " " + s.key("user") + s.service).second) {
      err << "orvane apply: " << s.where << ": target: " << s.target << " is set twice\n";
      return 1;
    }
  }
  // No configuration directory: the kinds of an applied file edit no workload's files.
  return profile::run_settings(file, {"apply", name, file_token(name), {}}, in, out, err);
}

}  // namespace orvane::sealing
