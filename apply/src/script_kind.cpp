// The `script` kind in the profile engine: the format's checks, the plan's current value and
// commands, and the journal items that write, read back and restore the value.
#include "script_kind.hpp"

#include <orvane/change_journal.hpp>
#include <orvane/profile/apply.hpp>
#include <orvane/settings.hpp>
#include <orvane/util.hpp>

#include "script_setting.hpp"

namespace orvane::sealing {
namespace {

ScriptSetting of_setting(const settings::Setting& s) {
  ScriptSetting out;
  out.name = s.target;
  out.get = s.key("get");
  out.set = s.key("set");
  out.needrestart = s.key("needrestart", "false") == "true";
  out.stop = s.key("stop");
  out.start = s.key("start");
  out.dir = s.key("dir");
  return out;
}

// The format's check of one setting; "" when it is fine.
std::string check(const settings::Setting& s) {
  if (!s.compute.empty()) return "a script setting takes a fixed value, not compute";
  if (const auto c = shell_special(s.value)) {
    return "the value " + shell_quote(s.value) + " holds the shell character '" +
           std::string(1, *c) + "', which orvane never puts into a command";
  }
  const std::string restart = s.key("needrestart", "false");
  if (restart != "true" && restart != "false") return "needrestart must be \"true\" or \"false\"";
  if (restart == "true" && (s.key("stop").empty() || s.key("start").empty())) {
    return "needrestart \"true\" needs the workload's stop and start commands";
  }
  const std::string dir = s.key("dir");
  if (!dir.empty() && dir.front() != '/') return "dir must be an absolute directory";
  if (s.key("get").empty() || s.key("set").empty()) return "get and set must not be empty";
  return "";
}

// What the administrator reads under the plan's row before answering: every command in full.
std::string commands_note(const ScriptSetting& s, const std::string& value) {
  std::string note = "runs:  " + set_command(s, value) + "\n      reads: " + s.get;
  if (s.needrestart) {
    note += "\n      then stops and starts the workload: " + s.stop + " ; " + s.start;
  }
  if (!s.dir.empty()) note += "\n      in:    " + s.dir;
  return note;
}

void plan(const settings::Setting& s, profile::PlanItem& item) {
  const ScriptSetting setting = of_setting(s);
  item.current = read_value(setting);
  item.effect = setting.needrestart ? "live, after the workload's restart" : "live";
  item.action.clear();  // orvane runs the restart commands itself
  item.note = commands_note(setting, item.wanted);
  item.detail = to_change_item(setting, "", "").detail;
}

std::vector<ChangeItem> items(const profile::PlanItem& item) {
  ChangeItem change;
  change.kind = kScriptItemKind;
  change.name = item.setting;
  change.original = item.current;
  change.applied = item.wanted;
  change.detail = item.detail;
  return {change};
}

void write(const ChangeItem& item, bool original) {
  const ScriptSetting s = from_change_item(item);
  const std::string& want = original ? item.original : item.applied;
  write_value(s, want);
  if (s.needrestart) {
    run_workload_command(s, "stop", s.stop);
    run_workload_command(s, "start", s.start);
  }
  const std::string now = read_value(s);
  if (!same_value(now, want)) {
    throw std::runtime_error(s.name + " reads " + shell_quote(now) + " after writing " +
                             shell_quote(want));
  }
}

}  // namespace

void register_script_kind() {
  settings::register_kind(
      {"script", {"get", "set"}, {"needrestart", "stop", "start", "dir"}, true, false, check});
  profile::register_kind_handler("script", {plan, items, write});
  register_restorer(kScriptItemKind, restore_script_item);
}

}  // namespace orvane::sealing
