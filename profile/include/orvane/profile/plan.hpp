#pragma once
// The plan of a settings file on this host: every setting's target, its current value, the value
// it gets and whether it changes, holds already, or does not apply here (with the reason).
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include <orvane/json.hpp>
#include <orvane/settings.hpp>

#include <orvane/profile/config_text.hpp>
#include <orvane/profile/host_facts.hpp>

namespace orvane::profile {

// The plan cannot be made: the workload's file is missing, a file does not parse or is not text.
struct PlanError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// One key of one file set to a value.
struct FileEdit {
  std::filesystem::path path;  // as opened: under the root for system files, as given in CONF_DIR
  std::string format;          // a ConfigText format
  ConfigKey key;
  std::string value;
};

struct PlanItem {
  enum class Status { change, holds, skipped };
  std::string setting;  // as the administrator reads it
  std::string kind;
  std::string current;  // "(not set)" when the key is absent
  std::string wanted;
  std::string effect;  // "live", "live, lost at reboot", "restart mariadb", ...
  std::string reason, reference, where;
  Status status = Status::change;
  std::string note;  // why it holds or is skipped
  // A value written directly (sysctl, sysfs): the system paths (without the root prefix).
  std::vector<std::string> paths;
  // Or the edits of files.
  std::vector<FileEdit> edits;
  bool persist = false;          // a sysctl also written to /etc/sysctl.d/90-orvane.conf
  std::string service;           // what reads it
  std::string action;            // reload, restart, login or "" (live)
  Json detail = Json::object();  // a kind handler's own data, from planning to applying
};

struct Plan {
  std::string scene;  // the scene, or the settings file's name; names orvane's own files
  std::filesystem::path conf_dir;
  HostFacts facts;
  std::vector<std::string> files;  // every file the plan edits
  std::vector<PlanItem> items;

  size_t count(PlanItem::Status status) const;
};

// Where sysctl values are kept for the next boot.
inline constexpr const char* kSysctlFile = "/etc/sysctl.d/90-orvane.conf";

// Reads every current value (files under `conf_dir`, system values under the root prefix) and
// plans each setting of `file`. Throws PlanError.
Plan make_plan(const settings::SettingsFile& file, const std::string& scene,
               const std::filesystem::path& conf_dir, const HostFacts& facts);

// The plan as a table for the terminal: the changes, then what holds, then what is skipped.
std::string plan_table(const Plan& plan);
Json plan_json(const Plan& plan);

// Whether `current` already gives `wanted`: the same text (case and blanks aside), the same
// numbers (K, M, G, T suffixes read as powers of 1024), or with `at_least` numbers no smaller.
bool value_holds(std::string_view current, std::string_view wanted, bool at_least);

// The bracketed choice of a sysfs list ("always madvise [never]" gives "never"), else the text.
std::string sysfs_choice(std::string_view text);

// The value read from a /proc/sys or /sys file: blanks collapsed, the sysfs choice taken.
std::string read_system_value(const std::string& system_path);

}  // namespace orvane::profile
