// One run of a profile scene: plan, question, journal, apply, verify, and the undo on failure.
#include <orvane/profile.hpp>

#include <ctime>
#include <iostream>
#include <set>

#include <fmt/format.h>

#include <orvane/ask.hpp>
#include <orvane/change_journal.hpp>
#include <orvane/config.hpp>
#include <orvane/settings.hpp>
#include <orvane/util.hpp>

#include <orvane/profile/apply.hpp>
#include <orvane/profile/plan.hpp>

namespace orvane::profile {
namespace {

namespace fs = std::filesystem;

std::string plan_file_name(const RunRequest& request) {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  ::localtime_r(&now, &tm);
  char stamp[16];
  std::strftime(stamp, sizeof stamp, "%m%d%H%M", &tm);
  return fmt::format("{}_{}_plan_{}.json", request.source, request.name, stamp);
}

fs::path write_plan(const Plan& plan, const RunRequest& request) {
  const fs::path dir = Config::get_output_path();
  fs::create_directories(dir);
  const fs::path path = dir / plan_file_name(request);
  AtomicFile file(path);
  file.write(plan_json(plan).dump(2) + "\n");
  file.commit();
  return path;
}

// What the administrator still has to do: nothing is restarted by orvane.
std::vector<std::string> follow_up(const Plan& plan) {
  std::vector<std::string> lines;
  std::set<std::string> restart, reload, logins;
  bool dropin = false;
  for (const PlanItem& i : plan.items) {
    if (i.status != PlanItem::Status::change) continue;
    if (i.kind == "limits" && !i.service.empty()) dropin = true;
    if (i.action == "restart") restart.insert(i.service);
    if (i.action == "reload") reload.insert(i.service);
    if (i.action == "login") logins.insert(i.effect);
  }
  if (dropin) lines.push_back("systemctl daemon-reload");
  for (const auto& s : restart) lines.push_back("systemctl restart " + s);
  for (const auto& s : reload) {
    if (!restart.contains(s)) lines.push_back("systemctl reload " + s);
  }
  for (const auto& l : logins) lines.push_back("takes effect at the " + l);
  return lines;
}

bool is_active_profile(const ChangeSet& set) {
  return set.source == "profile" || set.source == "apply";
}

void report_outcomes(const std::vector<ItemOutcome>& outcomes, std::ostream& err) {
  for (const auto& o : outcomes) {
    if (o.outcome.status != RestoreOutcome::Status::restored)
      err << "  " << o.outcome.message << "\n";
  }
}

int apply(const Plan& plan, const RunRequest& request, const fs::path& plan_file,
          ChangeJournal& journal, std::ostream& out, std::ostream& err) {
  ChangeSet set = ChangeJournal::new_set(request.source, request.subject);
  set.detail["conf_dir"] = plan.conf_dir.string();
  set.detail["plan"] = plan_file.string();
  set.items = change_items(plan);
  journal.write(set);
  for (size_t i = 0; i < set.items.size(); ++i) {
    try {
      write_item(set.items[i], false);
    } catch (const std::exception& e) {
      err << "orvane: applying " << set.items[i].name << " failed: " << e.what() << "\n";
      ChangeSet done = set;
      done.items.resize(i + 1);
      const auto outcomes = restore_change_set(done);
      const bool all_back = std::all_of(outcomes.begin(), outcomes.end(), [](const ItemOutcome& o) {
        return o.outcome.status == RestoreOutcome::Status::restored;
      });
      if (all_back) {
        set.state = "finished";
        journal.write(set);
        err << "orvane: everything changed before was put back and verified; nothing is changed\n";
      } else {
        report_outcomes(outcomes, err);
        err << "orvane: not everything could be put back; run `orvane profile recover` once the "
               "cause is fixed\n";
      }
      return 1;
    }
  }
  set.state = "applied";
  journal.write(set);
  out << fmt::format(
      "Applied and verified {} change{} (change set {}); `orvane profile recover` undoes them.\n",
      plan.count(PlanItem::Status::change), plan.count(PlanItem::Status::change) == 1 ? "" : "s",
      set.id);
  const auto todo = follow_up(plan);
  if (!todo.empty()) {
    out << "Nothing was reloaded or restarted. For the file changes to take effect:\n";
    for (const auto& line : todo) out << "  " << line << "\n";
  }
  return 0;
}

}  // namespace

fs::path profile_path(const std::string& scene) {
  return fs::path(Config::get_inst_path()) / "profiles" / (scene + ".yaml");
}

void register_profile_restorers() {
  for (const char* kind : {"sysctl", "sysfs", "file"}) register_restorer(kind, restore_item);
}

int run_settings(const settings::SettingsFile& file, const RunRequest& request, std::istream& in,
                 std::ostream& out, std::ostream& err) {
  register_profile_restorers();
  try {
    ChangeJournal journal;
    const JournalLock lock = journal.lock("profile");
    std::optional<ChangeSet> active;
    for (const ChangeSet& s : journal.unsettled()) {
      if (is_active_profile(s)) active = s;
    }
    if (active && active->subject != request.subject) {
      err << fmt::format(
          "orvane: {} is active (applied {}); run `orvane profile recover` before "
          "applying {}\n",
          active->source == "profile" ? "the profile " + active->subject : active->subject,
          active->started, request.subject);
      return 1;
    }
    const Plan plan = make_plan(file, request.name, request.conf_dir, read_host_facts());
    out << plan_table(plan);
    const fs::path plan_file = write_plan(plan, request);
    out << "\nPlan written to " << plan_file.string() << "\n";
    const size_t changes = plan.count(PlanItem::Status::change);
    if (changes == 0) return 0;
    if (active) {
      err << fmt::format(
          "orvane: {} is active (applied {}) and {} of its settings differ now; run "
          "`orvane profile recover` first, then apply it again\n",
          request.subject, active->started, changes);
      return 1;
    }
    const auto yes = ask_yes_no(
        fmt::format("\nApply these {} change{}? ", changes, changes == 1 ? "" : "s"), in, out);
    out << "\n";
    if (!yes) {
      err << "orvane: standard input ended before Y or N was answered; nothing changed\n";
      return 1;
    }
    if (!*yes) {
      out << "Nothing changed.\n";
      return 0;
    }
    return apply(plan, request, plan_file, journal, out, err);
  } catch (const std::exception& e) {
    err << "orvane: " << e.what() << "\n";
  }
  return 1;
}

int run_scene(const std::string& scene, const fs::path& conf_dir, std::istream& in,
              std::ostream& out, std::ostream& err) {
  settings::SettingsFile profile;
  try {
    profile = settings::load_settings(profile_path(scene));
  } catch (const settings::SettingsError& e) {
    err << "orvane: the profile is not valid: " << e.what() << "\n";
    return 1;
  }
  return run_settings(profile, {"profile", scene, scene, conf_dir}, in, out, err);
}

}  // namespace orvane::profile
