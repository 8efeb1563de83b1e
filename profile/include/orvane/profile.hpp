#pragma once
// `orvane profile <scene> CONF_DIR`: the well-known settings of a workload, computed for this
// host, planned, confirmed, applied with every change recorded in the change journal, and
// undone by `orvane profile recover`.
#include <filesystem>
#include <iosfwd>
#include <string>

#include <orvane/settings.hpp>

namespace orvane::profile {

// What a run of a settings file is, for the journal and the files it writes.
struct RunRequest {
  std::string source = "profile";  // the change set's source: "profile" or "apply"
  std::string subject;             // the scene, or the settings file; shown to the administrator
  std::string name;  // names orvane's own files (plan, limits.d): letters, digits, _ -
  std::filesystem::path conf_dir;  // the workload's configuration directory
};

// Plans `file` on this host, prints the plan, writes it as <out>/orvaneData/<source>_<name>_plan_
// MMDDHHMM.json, asks Y/N on `in`, then records the change set and applies and verifies it.
// Refused (1) while a change set of another subject from a profile or `orvane apply` is active.
// Exit status: 0 applied, nothing to change, or answered N; 1 when the run cannot go on or
// fails (what it changed is then put back and verified).
int run_settings(const settings::SettingsFile& file, const RunRequest& request, std::istream& in,
                 std::ostream& out, std::ostream& err);

// Where the profile of `scene` ("kafka_config") is read from: profiles/<scene>.yaml of the
// installation's share directory.
std::filesystem::path profile_path(const std::string& scene);

// One run of a scene: plan, print, ask on `in`, apply, verify. Exit status: 0 applied, nothing
// to change, or answered N; 1 when the run cannot go on or fails (everything it changed put back).
int run_scene(const std::string& scene, const std::filesystem::path& conf_dir, std::istream& in,
              std::ostream& out, std::ostream& err);

// Gives the change journal the restorers of the kinds the profiles write: "sysctl", "sysfs" and
// "file". Call before restoring a change set.
void register_profile_restorers();

}  // namespace orvane::profile
