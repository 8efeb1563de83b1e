// The tuning run's way back: journal, restore, read-back verification; and the restorer that
// `orvane profile recover` uses for the same items.
#include <orvane/restore_guard.hpp>

#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include <orvane/log.hpp>
#include <orvane/process.hpp>
#include <orvane/readcfg.hpp>
#include <orvane/util.hpp>
#include <orvane/value_text.hpp>

namespace orvane::tuning {
namespace {

std::string trim(std::string_view s) {
  constexpr std::string_view kSpace = " \t\n\r\v\f";
  const size_t b = s.find_first_not_of(kSpace);
  if (b == std::string_view::npos) return "";
  return std::string(s.substr(b, s.find_last_not_of(kSpace) - b + 1));
}

std::string quoted(const std::string& value) {
  return "'" + utf8_with_replacement(value) + "'";
}

void replace_all(std::string& text, std::string_view what, const std::string& with) {
  for (size_t at = text.find(what); at != std::string::npos;
       at = text.find(what, at + with.size())) {
    text.replace(at, what.size(), with);
  }
}

RestoreOutcome restore_script_item(const ChangeItem& item) {
  using Status = RestoreOutcome::Status;
  const Json& d = item.detail;
  if (const std::string why = shell_unsafe_reason(item.original); !why.empty()) {
    return {Status::failed, "the original value is not written back: " + why};
  }
  RunOptions options;
  options.own_group = true;
  options.cwd = d.value("cwd", "");
  if (d.contains("timeout_ms")) {
    options.timeout = std::chrono::milliseconds(d["timeout_ms"].get<long long>());
  }
  auto run = [&](const std::string& what, const std::string& text) -> std::string {
    const ProcessResult r = run_shell(text, options);
    ScriptRun s{what, r.status, r.timed_out, r.stopped, trim(r.err)};
    return s.ok() ? "" : s.describe();
  };
  std::string set = d.value("set", "");
  replace_all(set, "$value", item.original);
  std::string problem = run("set " + item.name, set);
  if (problem.empty() && d.value("restart", false)) {
    problem = run("stop", d.value("stop", ""));
    if (problem.empty()) problem = run("start", d.value("start", ""));
  }
  if (!problem.empty()) return {Status::failed, problem};
  const ProcessResult r = run_shell(d.value("get", ""), options);
  const std::string now = trim(r.out);
  if (r.status != 0 || r.timed_out || !r.err.empty()) {
    return {Status::failed,
            "cannot read it again: " +
                ScriptRun{"get " + item.name, r.status, r.timed_out, r.stopped, trim(r.err)}
                    .describe()};
  }
  if (now != item.original) {
    return {Status::failed,
            "reads " + quoted(now) + " after the restore, not " + quoted(item.original)};
  }
  return {Status::restored, "restored to " + quoted(item.original)};
}

// A value read back is the one set when the texts match after trimming, or both are the same
// number ("0.60" for 0.6).
bool same_value(const std::string& read, const std::string& wanted) {
  const std::string a = trim(read), b = trim(wanted);
  if (a == b) return true;
  char* end_a = nullptr;
  char* end_b = nullptr;
  const double x = std::strtod(a.c_str(), &end_a);
  const double y = std::strtod(b.c_str(), &end_b);
  return !a.empty() && !b.empty() && *end_a == '\0' && *end_b == '\0' && x == y;
}

}  // namespace

void register_script_restorer() {
  register_restorer("script", restore_script_item);
}

ChangeSet tuning_change_set(const Json& originals, const ScriptLimits& limits) {
  const Cfg cfg;
  ChangeSet set = ChangeJournal::new_set("tuning", cfg.get_project());
  const Json gets = cfg.get_params_get_script();
  const Json sets = cfg.get_params_set_script();
  const Json workload = cfg.get_workload_options();
  std::error_code ec;
  const std::string cwd = std::filesystem::current_path(ec).string();
  set.detail = {{"cwd", cwd}};
  for (const auto& [name, value] : originals.items()) {
    Json detail = {{"get", gets.at(name).at("get")}, {"set", sets.at(name).at("set")}};
    if (sets.at(name).at("needrestart") == "true") {
      detail["restart"] = true;
      detail["stop"] = workload.at("stop");
      detail["start"] = workload.at("start");
    }
    detail["cwd"] = cwd;
    if (limits.timeout) detail["timeout_ms"] = limits.timeout->count();
    set.items.push_back({"script", name, value.get<std::string>(), "", std::move(detail)});
  }
  return set;
}

RestoreGuard::RestoreGuard(const ChangeJournal& journal, Json originals, ScriptLimits limits)
    : journal_(journal),
      originals_(std::move(originals)),
      limits_(limits),
      set_(tuning_change_set(originals_, limits_)) {}

RestoreGuard::~RestoreGuard() {
  if (!armed_ || outcome_) return;
  try {
    const Outcome& o = restore();
    if (!o.verified) {
      for (const std::string& p : o.problems) Logger().error("restore: " + p);
    }
  } catch (const std::exception& e) {
    Logger().error(std::string("restore failed: ") + e.what());
  }
}

void RestoreGuard::arm() {
  journal_.write(set_);
  armed_ = true;
}

const RestoreGuard::Outcome& RestoreGuard::restore() {
  if (outcome_) return *outcome_;
  Outcome out;
  SceneVars scene;
  for (const ScriptRun& run : scene.set_params_checked(originals_, limits_)) {
    if (!run.ok()) out.problems.push_back(run.describe());
  }
  // What the scripts report is not trusted alone: every value is read again.
  for (const ParamReading& reading : scene.read_params_checked(limits_)) {
    auto it = originals_.find(reading.name);
    if (it == originals_.end()) continue;
    const std::string original = it->get<std::string>();
    if (!reading.value) {
      out.problems.push_back(reading.name + " cannot be read again (" + reading.problem +
                             "); originally " + quoted(original));
    } else if (*reading.value != original) {
      out.problems.push_back(reading.name + " is " + quoted(*reading.value) + ", originally " +
                             quoted(original));
    }
  }
  out.verified = out.problems.empty();
  if (out.verified && armed_) {
    set_.state = "finished";
    try {
      journal_.write(set_);
    } catch (const std::exception& e) {
      // The values are back; only the journal still says otherwise, which recover then repeats.
      Logger().warning(std::string("the journal could not be marked finished: ") + e.what());
    }
  }
  outcome_ = std::move(out);
  return *outcome_;
}

RestoreGuard::Applied RestoreGuard::apply(const Json& values) {
  set_.state = "applied";
  for (ChangeItem& item : set_.items) {
    if (auto it = values.find(item.name); it != values.end()) item.applied = value_text(*it);
  }
  journal_.write(set_);
  Applied out;
  SceneVars scene;
  for (const ScriptRun& run : scene.set_params_checked(values, limits_)) {
    if (!run.ok()) out.problems.push_back(run.describe());
  }
  out.scripts_ok = out.problems.empty();
  if (out.scripts_ok) out.problems = verify_values(scene, values, limits_);
  return out;
}

std::vector<std::string> verify_values(SceneVars& scene, const Json& values,
                                       const ScriptLimits& limits) {
  std::vector<std::string> problems;
  for (const ParamReading& reading : scene.read_params_checked(limits)) {
    auto it = values.find(reading.name);
    if (it == values.end()) continue;
    const std::string wanted = value_text(*it);
    if (!reading.value) {
      problems.push_back(reading.name + " cannot be read back (" + reading.problem + "); set to " +
                         quoted(wanted));
    } else if (!same_value(*reading.value, wanted)) {
      problems.push_back(reading.name + " reads " + quoted(*reading.value) + " after " +
                         quoted(wanted) + " was set");
    }
  }
  return problems;
}

}  // namespace orvane::tuning
