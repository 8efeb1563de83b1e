#pragma once
// Settings files: the format shared by the workload profiles and by the settings files that
// `orvane apply` takes. A file holds a description, the workload's files its settings edit, and
// the settings, each of a kind from an extensible table. The format itself is documented at the
// top of share/orvane/profiles/kafka_config.yaml.
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <orvane/json.hpp>

namespace orvane::settings {

// A refused settings file; what() is "file:line: key: message".
struct SettingsError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// One of the workload's files, found under the configuration directory the administrator gives.
struct FileSpec {
  std::string name;                 // what settings call it (`file:`)
  std::vector<std::string> find;    // relative paths tried in order
  bool includes = false;            // follow !include / !includedir (MySQL/MariaDB option files)
  std::vector<std::string> groups;  // ini sections read as one (e.g. server, mysqld, mariadb)
  std::string service;              // the service that reads it
  std::string where;                // "file:line"
};

// One value a settings file sets.
struct Setting {
  std::string kind;
  std::string target;           // what is set: a sysctl key, a /sys path, a key or directive name
  std::string value;            // a fixed value; empty when `compute` is given
  std::string compute;          // an expression over the host facts
  std::string suffix;           // appended to a computed value ("M")
  std::string when;             // an expression; the setting applies only when it is not 0
  bool at_least = false;        // a larger current number already holds
  std::string effect;           // live, reload, restart or login
  std::string service;          // what to reload or restart (for file kinds, default: the file's)
  std::string reason;           // one sentence
  std::string reference;        // where the value comes from
  Json extra = Json::object();  // the kind's own keys (file, section, type, user, persist, ...)
  std::string where;            // "file:line"

  // The kind's own key as text, or `fallback`.
  std::string key(std::string_view name, std::string fallback = "") const;
};

struct SettingsFile {
  std::string path;
  std::string description;
  std::string workload;  // whose files these are, for messages ("Kafka"); may be empty
  std::vector<FileSpec> files;
  std::vector<Setting> settings;

  const FileSpec* file(std::string_view name) const;
};

// What the format knows of a kind: the keys it takes besides the common ones, and a check of a
// whole setting returning a message ("" when it is fine). Another module adds its kinds with
// register_kind before loading a file.
struct KindSpec {
  std::string name;
  std::vector<std::string> required;
  std::vector<std::string> optional;
  bool needs_value = true;  // `value` or `compute` must be given
  bool edits_file = false;  // `file` names an entry of `files`
  std::function<std::string(const Setting&)> check;
};

// Adds a kind, or replaces the one of the same name. Not thread-safe: call at start-up.
void register_kind(KindSpec kind);
const KindSpec* find_kind(std::string_view name);
// The built-in kinds: sysctl, sysfs, limits, ini, properties, records, nginx.
std::vector<std::string> kind_names();

// Reads and checks a settings file; unknown keys, duplicate keys, a missing key, an unknown kind
// or a bad expression are refused with SettingsError.
SettingsFile load_settings(const std::filesystem::path& path);
// The same from text; `name` is the file name used in messages.
SettingsFile parse_settings(const std::string& text, const std::string& name);

}  // namespace orvane::settings
