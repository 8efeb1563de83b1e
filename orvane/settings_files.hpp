#pragma once
// The settings files the program writes for `orvane apply`: the advice of an analysis run that
// has a concrete value, and the result of an effective tuning run.
#include <string>
#include <utility>
#include <vector>

#include <orvane/json.hpp>

namespace orvane {

// One setting as written: its keys in order, each with a text value.
using SettingFields = std::vector<std::pair<std::string, std::string>>;

// The settings of the advice that orvane can apply itself: a sysctl key or a /sys file with one
// concrete suggested value (a number, a word, or numbers separated by blanks), the current value
// differing. Advice given as a range, a choice or a manual step is left out.
// `suggestions` and `references` are the analysis result's sug and ref lists.
std::vector<SettingFields> advice_settings(const Json& suggestions, const Json& references);

// What a tuning result's settings are made of: the project's parameter commands and workload.
struct TuningProject {
  std::string name;
  Json get_scripts;  // {name: {get}}
  Json set_scripts;  // {name: {set, needrestart}}
  Json workload;     // {stop, start}
  std::string dir;   // where the tuning run ran the commands
  std::string reference;
};

// The tuning result `params` ({name: value as text}) as settings of kind `script`, with the get and
// set commands, needrestart and the workload's stop and start commands of the project.
std::vector<SettingFields> tuning_settings(const Json& params, const TuningProject& project);

// The whole file in the settings format of the profiles: the comment lines (each written after
// "# "), the description and the settings.
std::string settings_file_text(const std::vector<std::string>& comment,
                               const std::string& description,
                               const std::vector<SettingFields>& settings);

}  // namespace orvane
