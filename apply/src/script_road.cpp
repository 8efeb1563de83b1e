// The road of a settings file of `script` settings from the plan to the verified change.
#include "script_road.hpp"

#include <unistd.h>
#include <yaml-cpp/yaml.h>

#include <iostream>
#include <optional>
#include <set>
#include <tuple>

#include <orvane/change_journal.hpp>
#include <orvane/sealing.hpp>
#include <orvane/util.hpp>

namespace orvane::sealing {
namespace {

const std::set<std::string> kKeys = {"kind", "name",  "value", "get",    "set",      "needrestart",
                                     "stop", "start", "dir",   "reason", "reference"};

[[noreturn]] void refuse(const std::string& file, const YAML::Node& node, const std::string& key,
                         const std::string& message) {
  throw SealError(file + ":" + std::to_string(node.Mark().line + 1) + ": " + key + ": " + message);
}

std::string text_of(const std::string& file, const YAML::Node& map, const std::string& where,
                    const char* key, bool required) {
  const YAML::Node node = map[key];
  if (!node) {
    if (required) refuse(file, map, where, std::string("has no '") + key + "'");
    return {};
  }
  if (!node.IsScalar()) refuse(file, node, where + "." + key, "must be a text");
  return node.Scalar();
}

// Answers y, Y, n or N, asked again on anything else; the tuning run's rules.
bool confirmed(const std::string& question) {
  while (true) {
    std::cout << question << "(Y/N):" << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer)) {
      std::cout << "\n";
      throw SealError("standard input ended before Y or N was answered; nothing was changed");
    }
    // An answer from a terminal ended its line already; one from a pipe did not.
    if (!::isatty(STDIN_FILENO)) std::cout << "\n";
    if (answer == "y" || answer == "Y") return true;
    if (answer == "n" || answer == "N") return false;
  }
}

using Restart = std::tuple<std::string, std::string, std::string>;  // stop, start, dir

}  // namespace

std::vector<PlannedScript> parse_script_settings(const std::string& content,
                                                 const std::string& file) {
  YAML::Node root;
  try {
    root = YAML::Load(content);
  } catch (const YAML::Exception& e) {
    throw SealError(file + ":" + std::to_string(e.mark.line + 1) + ": " + e.msg);
  }
  if (!root.IsMap()) throw SealError(file + " is not a settings file (a YAML map)");
  for (const auto& entry : root) {
    if (entry.first.Scalar() != "settings")
      refuse(file, entry.first, entry.first.Scalar(), "unknown key");
  }
  const YAML::Node list = root["settings"];
  if (!list || !list.IsSequence()) refuse(file, root, "settings", "must be a list of settings");

  std::vector<PlannedScript> out;
  std::set<std::string> names;
  for (size_t i = 0; i < list.size(); ++i) {
    const YAML::Node item = list[i];
    const std::string where = "settings[" + std::to_string(i) + "]";
    if (!item.IsMap()) refuse(file, item, where, "must be a map");
    const std::string kind = text_of(file, item, where, "kind", true);
    if (kind != "script") {
      refuse(file, item["kind"], where + ".kind",
             "the kind '" + kind + "' is applied by the profile engine, not part of this build");
    }
    for (const auto& entry : item) {
      if (!kKeys.count(entry.first.Scalar())) {
        refuse(file, entry.first, where + "." + entry.first.Scalar(), "unknown key");
      }
    }
    PlannedScript p;
    p.setting.name = text_of(file, item, where, "name", true);
    p.value = text_of(file, item, where, "value", true);
    p.setting.get = text_of(file, item, where, "get", true);
    p.setting.set = text_of(file, item, where, "set", true);
    p.setting.stop = text_of(file, item, where, "stop", false);
    p.setting.start = text_of(file, item, where, "start", false);
    p.setting.dir = text_of(file, item, where, "dir", false);
    p.reason = text_of(file, item, where, "reason", false);
    const std::string restart = text_of(file, item, where, "needrestart", false);
    if (restart != "" && restart != "true" && restart != "false") {
      refuse(file, item["needrestart"], where + ".needrestart", "must be \"true\" or \"false\"");
    }
    p.setting.needrestart = restart == "true";
    if (p.setting.needrestart && (p.setting.stop.empty() || p.setting.start.empty())) {
      refuse(file, item, where, "needrestart \"true\" needs the workload's stop and start");
    }
    if (const auto c = shell_special(p.value)) {
      refuse(file, item["value"], where + ".value",
             shell_quote(p.value) + " holds the shell character '" + std::string(1, *c) +
                 "', which orvane never puts into a command");
    }
    if (!p.setting.dir.empty() && p.setting.dir[0] != '/') {
      refuse(file, item["dir"], where + ".dir", "must be an absolute directory");
    }
    if (!names.insert(p.setting.name).second) {
      refuse(file, item["name"], where + ".name", "'" + p.setting.name + "' is set twice");
    }
    out.push_back(std::move(p));
  }
  if (out.empty()) refuse(file, list, "settings", "is empty");
  return out;
}

int apply_script_settings(const std::vector<PlannedScript>& settings, const std::string& subject) {
  const ChangeJournal journal;
  const JournalLock lock = journal.lock("profile");
  // One profile or settings file at a time, so that recover undoes them in order; the same
  // file again only finds that nothing is left to change.
  std::optional<ChangeSet> active;
  for (ChangeSet& other : journal.unsettled()) {
    if (other.source == "profile" || other.source == "apply") active = std::move(other);
  }
  const auto refuse_active = [&] {
    throw SealError("the changes of " + active->subject + " (" + active->source +
                    ") are still in place; `orvane profile recover` puts them back first");
  };
  if (active && active->subject != subject) refuse_active();

  // The plan: every current value, read before anything changes.
  struct Step {
    const PlannedScript* planned;
    std::string current;
  };
  std::vector<Step> steps;
  size_t unchanged = 0;
  for (const PlannedScript& p : settings) {
    std::string current = read_value(p.setting);
    if (same_value(current, p.value)) {
      ++unchanged;
      continue;
    }
    steps.push_back({&p, std::move(current)});
  }
  std::cout << "Plan for " << subject << ": " << steps.size() << " to change, " << unchanged
            << " already as planned\n";
  std::set<Restart> restarts;
  for (const Step& s : steps) {
    const ScriptSetting& set = s.planned->setting;
    std::cout << "  " << set.name << ": " << s.current << " -> " << s.planned->value << "\n";
    if (!s.planned->reason.empty()) std::cout << "    why:  " << s.planned->reason << "\n";
    std::cout << "    run:  " << set_command(set, s.planned->value) << "\n"
              << "    read: " << set.get << "\n";
    if (!set.dir.empty()) std::cout << "    in:   " << set.dir << "\n";
    if (set.needrestart) restarts.insert({set.stop, set.start, set.dir});
  }
  for (const auto& [stop, start, dir] : restarts) {
    std::cout << "  then the workload is restarted once" << (dir.empty() ? "" : " in " + dir)
              << ":\n    stop:  " << stop << "\n    start: " << start << "\n";
  }
  if (steps.empty()) {
    std::cout << "Nothing to change.\n";
    return 0;
  }
  if (active) refuse_active();
  if (!confirmed("Apply these changes? ")) {
    std::cout << "Nothing was changed.\n";
    return 0;
  }

  ChangeSet set = ChangeJournal::new_set("apply", subject);
  set.detail = {{"file", subject}};
  for (const Step& s : steps) {
    set.items.push_back(to_change_item(s.planned->setting, s.current, s.planned->value));
  }
  journal.write(set);  // before the first change

  std::string failure;
  size_t written = 0;
  try {
    for (const Step& s : steps) {
      ++written;  // a set command that fails may have changed something already
      write_value(s.planned->setting, s.planned->value);
    }
    for (const auto& [stop, start, dir] : restarts) {
      ScriptSetting where;
      where.dir = dir;
      run_workload_command(where, "stop", stop);
      run_workload_command(where, "start", start);
    }
    for (const Step& s : steps) {
      const std::string now = read_value(s.planned->setting);
      if (!same_value(now, s.planned->value)) {
        throw SealError(s.planned->setting.name + " reads " + shell_quote(now) +
                        " after the change, not " + shell_quote(s.planned->value));
      }
    }
  } catch (const std::exception& e) {
    failure = e.what();
  }
  if (failure.empty()) {
    set.state = "applied";
    journal.write(set);
    std::cout << "Applied " << steps.size()
              << " settings and read them back; `orvane profile recover` puts them back.\n";
    return 0;
  }

  // Roll back what may have changed, last first, and keep in the journal what stays changed.
  std::cerr << "orvane apply: " << failure << "; putting the settings back\n";
  ChangeSet rest = set;
  rest.items.assign(set.items.begin(), set.items.begin() + static_cast<long>(written));
  bool all_back = true;
  for (const ItemOutcome& o : restore_change_set(rest)) {
    if (o.outcome.status != RestoreOutcome::Status::restored) {
      all_back = false;
      std::cerr << "orvane apply: " << o.item->name << ": " << o.outcome.message << "\n";
    }
  }
  if (all_back) {
    journal.remove(set.id);
    std::cerr << "orvane apply: every setting has its value from before again (verified)\n";
  } else {
    std::cerr << "orvane apply: the journal " << journal.file_of(set.id).string()
              << " keeps what is not back; `orvane profile recover` retries it\n";
  }
  return 1;
}

}  // namespace orvane::sealing
