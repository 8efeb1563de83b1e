#pragma once
// The settings files the program writes for `orvane apply`: the advice of an analysis run that
// has a concrete value, and the result of an effective tuning run.
#include <string>
#include <utility>
#include <vector>

#include <orvane/analysis.hpp>
#include <orvane/json.hpp>

namespace orvane {

// One setting as written: its keys in order, each with a text value.
using SettingFields = std::vector<std::pair<std::string, std::string>>;

// The settings of the advice that orvane can apply itself: a sysctl key or a /sys file with one
// concrete suggested value (a number, a word, or numbers separated by blanks), the current value
// differing. Advice given as a range, a choice or a manual step is left out.
std::vector<SettingFields> advice_settings(const AnalysisResult& results);

// The tuning result `params` ({name: value}) as settings of kind `script`, with the get and set
// commands, needrestart and the workload's stop and start commands of the loaded project.
std::vector<SettingFields> tuning_settings(const Json& params);

// The whole file: the comment lines (each written after "# ") and the settings.
std::string settings_file_text(const std::vector<std::string>& comment,
                               const std::vector<SettingFields>& settings);

}  // namespace orvane
