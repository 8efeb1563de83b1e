// Advice and tuning results written as settings files.
#include "settings_files.hpp"

#include <yaml-cpp/yaml.h>

#include <cctype>
#include <sstream>
#include <string_view>

namespace orvane {
namespace {

bool is_number(std::string_view s) {
  if (s.empty()) return false;
  size_t i = s[0] == '-' ? 1 : 0;
  bool digit = false, dot = false;
  for (; i < s.size(); ++i) {
    if (std::isdigit(static_cast<unsigned char>(s[i]))) {
      digit = true;
    } else if (s[i] == '.' && !dot) {
      dot = true;
    } else {
      return false;
    }
  }
  return digit;
}

bool is_word(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-' && c != '.') {
      return false;
    }
  }
  return true;
}

// A single value orvane can write as it is.
bool concrete(const std::string& value) {
  std::istringstream words(value);
  std::vector<std::string> all;
  for (std::string w; words >> w;) all.push_back(w);
  if (all.size() == 1) return is_word(all[0]);
  if (all.empty()) return false;
  for (const std::string& w : all) {
    if (!is_number(w)) return false;
  }
  return true;
}

// A sysctl key: dotted words, as the kernel names them (net.ipv4.tcp_fin_timeout).
bool is_sysctl_key(std::string_view s) {
  return s.find('.') != std::string_view::npos && s.find_first_of(" /") == std::string_view::npos &&
         is_word(s);
}

std::string text_at(const Json& row, const char* key) {
  auto it = row.find(key);
  return it != row.end() && it->is_string() ? it->get<std::string>() : std::string();
}

}  // namespace

std::vector<SettingFields> advice_settings(const Json& suggestions, const Json& references) {
  std::vector<SettingFields> out;
  for (const Json& row : suggestions) {
    const std::string parameter = text_at(row, "parameter");
    const std::string suggested = text_at(row, "suggested");
    if (!concrete(suggested) || text_at(row, "current") == suggested) continue;
    std::string reference;
    for (const Json& ref : references) {
      if (text_at(ref, "parameter") == parameter) reference = text_at(ref, "reference");
    }
    // The format wants both; advice without them still names where it comes from.
    if (reference.empty()) reference = "the rules of orvane analysis (rules.yaml)";
    std::string reason = text_at(row, "reason");
    if (reason.empty()) reason = "orvane analysis suggests it for this host";
    SettingFields s;
    if (is_sysctl_key(parameter)) {
      s = {{"kind", "sysctl"}};
    } else if (parameter.starts_with("/sys/") && parameter.find("..") == std::string::npos) {
      s = {{"kind", "sysfs"}};
    } else {
      continue;
    }
    s.emplace_back("target", parameter);
    s.emplace_back("value", suggested);
    s.emplace_back("effect", "live");
    s.emplace_back("reason", reason);
    s.emplace_back("reference", reference);
    out.push_back(std::move(s));
  }
  return out;
}

std::vector<SettingFields> tuning_settings(const Json& params, const TuningProject& project) {
  const Json& gets = project.get_scripts;
  const Json& sets = project.set_scripts;
  const Json& workload = project.workload;
  std::vector<SettingFields> out;
  for (const auto& [name, value] : params.items()) {
    const Json& set = sets.at(name);
    SettingFields s = {{"kind", "script"},
                       {"target", name},
                       {"value", value.get<std::string>()},
                       {"get", gets.at(name).at("get").get<std::string>()},
                       {"set", set.at("set").get<std::string>()}};
    if (set.value("needrestart", "false") == "true") {
      s.emplace_back("needrestart", "true");
      s.emplace_back("stop", workload.value("stop", ""));
      s.emplace_back("start", workload.value("start", ""));
    }
    // The project's commands ran in the tuning run's directory and may name files there.
    if (!project.dir.empty()) s.emplace_back("dir", project.dir);
    s.emplace_back("effect", "live");
    s.emplace_back("reason", "the value the tuning run of project " + project.name +
                                 " found better and confirmed");
    s.emplace_back("reference", project.reference);
    out.push_back(std::move(s));
  }
  return out;
}

std::string settings_file_text(const std::vector<std::string>& comment,
                               const std::string& description,
                               const std::vector<SettingFields>& settings) {
  std::string out;
  for (const std::string& line : comment) out += "# " + line + "\n";
  YAML::Emitter yaml;
  yaml << YAML::BeginMap << YAML::Key << "description" << YAML::Value << YAML::DoubleQuoted
       << description;
  yaml << YAML::Key << "settings" << YAML::Value << YAML::BeginSeq;
  for (const SettingFields& s : settings) {
    yaml << YAML::BeginMap;
    for (const auto& [key, value] : s) {
      // Quoted always: a value such as "0" or "yes" stays the text it is.
      yaml << YAML::Key << key << YAML::Value << YAML::DoubleQuoted << value;
    }
    yaml << YAML::EndMap;
  }
  yaml << YAML::EndSeq << YAML::EndMap;
  return out + yaml.c_str() + "\n";
}

}  // namespace orvane
