#pragma once
// `orvane profile <scene> CONF_DIR`: the well-known settings of a workload, computed for this
// host, planned, confirmed, applied with every change recorded in the change journal, and
// undone by `orvane profile recover`.
#include <filesystem>
#include <iosfwd>
#include <string>

namespace orvane::profile {

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
