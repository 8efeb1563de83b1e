// Scene parameter scripts: get scripts read values, the backup file records them, set scripts
// write values back.
#include <orvane/scenevars.hpp>

#include <stdexcept>
#include <string>
#include <string_view>

#include <orvane/log.hpp>
#include <orvane/process.hpp>
#include <orvane/readcfg.hpp>
#include <orvane/util.hpp>

#include <orvane/value_text.hpp>

namespace orvane {
namespace {

ScriptLimits& default_limits() {
  static ScriptLimits limits;
  return limits;
}

std::vector<ParamReading>& read_problems() {
  static std::vector<ParamReading> problems;
  return problems;
}

ProcessResult run_script(const std::string& text, const ScriptLimits& limits) {
  RunOptions options;
  options.timeout = limits.timeout;
  options.stop = limits.stop;
  options.own_group = limits.own_group;
  return run_process({SceneVars::BASH, "-c", text}, options);
}

ProcessResult run_script(const std::string& text) {
  return run_script(text, default_limits());
}

std::string_view trim_ascii(std::string_view s) {
  constexpr std::string_view kSpace = " \t\n\r\v\f";
  const size_t b = s.find_first_not_of(kSpace);
  if (b == std::string_view::npos) return {};
  const size_t e = s.find_last_not_of(kSpace);
  return s.substr(b, e - b + 1);
}

std::string lower_ascii(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

// An INI value: lines after the first are continued with one tab.
std::string ini_value(const std::string& value) {
  std::string out;
  for (char c : value) {
    out += c;
    if (c == '\n') out += '\t';
  }
  return out;
}

void replace_all(std::string& text, std::string_view what, const std::string& with) {
  for (size_t at = text.find(what); at != std::string::npos;
       at = text.find(what, at + with.size())) {
    text.replace(at, what.size(), with);
  }
}

const Json& set_entry(const Json& table, const std::string& name) {
  auto it = table.find(name);
  if (it == table.end() || !it->is_object()) {
    throw std::runtime_error("the parameter '" + name + "' has no set script in the configuration");
  }
  return *it;
}

std::string text_field(const Json& entry, const std::string& name, const char* key) {
  auto it = entry.find(key);
  if (it == entry.end() || !it->is_string()) {
    throw std::runtime_error("the set entry of parameter '" + name + "' has no '" + key + "' text");
  }
  return it->get<std::string>();
}

ScriptRun script_run(std::string script, const ProcessResult& r) {
  ScriptRun run;
  run.script = std::move(script);
  run.status = r.status;
  run.timed_out = r.timed_out;
  run.stopped = r.stopped;
  run.err = utf8_with_replacement(trim_ascii(r.err));
  return run;
}

// What one get script gave, judged as the manager needs it.
ParamReading judge_reading(const std::string& name, const ProcessResult& r) {
  ParamReading reading{name, std::nullopt, ""};
  const ScriptRun run = script_run("get " + name, r);
  const std::string_view value = trim_ascii(r.out);
  if (!run.ok()) {
    reading.problem = run.describe();
  } else if (!is_valid_utf8(value)) {
    reading.problem = "its get script printed text that is not UTF-8";
  } else if (value.empty()) {
    reading.problem = "its get script printed nothing";
  } else {
    reading.value = std::string(value);
  }
  return reading;
}

}  // namespace

std::string ScriptRun::describe() const {
  std::string text = script;
  if (timed_out) {
    text += " ran past its time limit and was killed";
  } else if (stopped) {
    text += " was stopped";
  } else if (status != 0) {
    text += " exited with status " + std::to_string(status);
  } else if (!err.empty()) {
    text += " wrote to standard error";
  } else {
    text += " succeeded";
  }
  if (!err.empty()) text += ": " + err;
  return text;
}

void SceneVars::set_default_limits(const ScriptLimits& limits) {
  default_limits() = limits;
}

std::vector<ParamReading> SceneVars::last_read_problems() {
  return read_problems();
}

Json SceneVars::get_params() {
  Json result = Json::object();
  read_problems().clear();
  const Json table = Cfg().get_params_get_script();
  bool ended = false;
  for (const auto& [name, entry] : table.items()) {
    if (ended) {
      read_problems().push_back({name, std::nullopt, "not read: an earlier get script failed"});
      continue;
    }
    const ProcessResult r = run_script(entry.at("get").get<std::string>());
    const ParamReading reading = judge_reading(name, r);
    if (!r.err.empty()) {
      Logger().error("run script failed: " + utf8_with_replacement(trim_ascii(r.err)));
      read_problems().push_back(reading);
      ended = true;
      continue;
    }
    if (r.out.empty()) Logger().warning("cannot get " + name);
    const std::string_view value = trim_ascii(r.out);
    if (!is_valid_utf8(value)) {
      Logger().error("run script failed: " + utf8_with_replacement(trim_ascii(r.err)));
      read_problems().push_back(reading);
      ended = true;
      continue;
    }
    if (!reading.value) read_problems().push_back(reading);
    result[name] = std::string(value);
  }
  return result;
}

std::vector<ParamReading> SceneVars::read_params_checked(const ScriptLimits& limits) {
  std::vector<ParamReading> readings;
  const Json table = Cfg().get_params_get_script();
  for (const auto& [name, entry] : table.items()) {
    readings.push_back(judge_reading(name, run_script(entry.at("get").get<std::string>(), limits)));
  }
  return readings;
}

Json SceneVars::backup_params() {
  Json oriparams = get_params();
  if (oriparams.empty()) return oriparams;
  const Json sets = Cfg().get_params_set_script();
  const std::string file = "bak_" + Cfg().get_project() + ".ini";

  std::string params = "[params]\n", set = "[set]\n";
  for (const auto& [name, value] : oriparams.items()) {
    const std::string script = text_field(set_entry(sets, name), name, "set");
    const std::string key = lower_ascii(name);
    params += key + " = " + ini_value(value.get<std::string>()) + "\n";
    set += "set_" + key + " = " + ini_value("\"" + script + "\"") + "\n";
  }
  AtomicFile out(file);
  out.write(params + "\n" + set + "\n");
  out.commit();
  return oriparams;
}

void SceneVars::set_params(const Json& params) {
  set_params_checked(params, default_limits());
}

std::vector<ScriptRun> SceneVars::set_params_checked(const Json& params) {
  return set_params_checked(params, default_limits());
}

std::vector<ScriptRun> SceneVars::set_params_checked(const Json& params,
                                                     const ScriptLimits& limits) {
  if (!params.is_object()) throw std::invalid_argument("set_params needs a map of name to value");
  std::vector<ScriptRun> runs;
  bool restart = false;
  const Json sets = Cfg().get_params_set_script();
  for (const auto& [name, value] : params.items()) {
    const Json& entry = set_entry(sets, name);
    std::string script = text_field(entry, name, "set");
    const std::string needrestart = text_field(entry, name, "needrestart");
    replace_all(script, "$value", tuning::value_text(value));
    runs.push_back(script_run("set " + name, run_script(script, limits)));
    if (needrestart == "true") restart = true;
  }
  if (restart) {
    const Json workload = Cfg().get_workload_options();
    for (const char* step : {"stop", "start"}) {
      runs.push_back(script_run(step, run_script(workload.at(step).get<std::string>(), limits)));
    }
  }
  return runs;
}

std::string shell_unsafe_reason(const std::string& value) {
  constexpr std::string_view kSpecial = "`$;&|<>()\\\"'*?[]{}~#!";
  for (char c : value) {
    if (c == '\n' || c == '\r') return "it holds a line break";
    if (kSpecial.find(c) != std::string_view::npos) {
      return std::string("it holds the character ") + c + ", which the shell interprets";
    }
  }
  return "";
}

}  // namespace orvane
