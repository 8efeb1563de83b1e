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

ProcessResult run_script(const std::string& text) {
  return run_process({SceneVars::BASH, "-c", text});
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

}  // namespace

Json SceneVars::get_params() {
  Json result = Json::object();
  const Json table = Cfg().get_params_get_script();
  for (const auto& [name, entry] : table.items()) {
    const ProcessResult r = run_script(entry.at("get").get<std::string>());
    if (!r.err.empty()) {
      Logger().error("run script failed: " + utf8_with_replacement(trim_ascii(r.err)));
      break;
    }
    if (r.out.empty()) Logger().warning("cannot get " + name);
    const std::string_view value = trim_ascii(r.out);
    if (!is_valid_utf8(value)) {
      Logger().error("run script failed: " + utf8_with_replacement(trim_ascii(r.err)));
      break;
    }
    result[name] = std::string(value);
  }
  return result;
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
  if (!params.is_object()) throw std::invalid_argument("set_params needs a map of name to value");
  bool restart = false;
  const Json sets = Cfg().get_params_set_script();
  for (const auto& [name, value] : params.items()) {
    const Json& entry = set_entry(sets, name);
    std::string script = text_field(entry, name, "set");
    const std::string needrestart = text_field(entry, name, "needrestart");
    replace_all(script, "$value", tuning::value_text(value));
    run_script(script);
    if (needrestart == "true") restart = true;
  }
  if (restart) {
    const Json workload = Cfg().get_workload_options();
    run_script(workload.at("stop").get<std::string>());
    run_script(workload.at("start").get<std::string>());
  }
}

}  // namespace orvane
