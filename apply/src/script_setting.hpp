#pragma once
// A setting read and written through shell commands, with the contract of a tuning project's
// parameters: `get` prints the current value, `set` writes the value that replaces each
// "$value" in it; with needrestart "true" the workload is stopped and started once afterwards.
#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include <orvane/change_journal.hpp>

namespace orvane::sealing {

struct ScriptSetting {
  std::string name;
  std::string get;
  std::string set;
  bool needrestart = false;
  std::string stop;  // the workload's commands; required with needrestart
  std::string start;
  std::string dir;  // where the commands run (absolute); the current directory when empty
};

// The time limit of one get, set, stop or start command.
inline constexpr std::chrono::seconds kScriptTimeout{300};

// The first character of `value` that the shell would interpret (any of ` $ ; & | < > ( ) \ " '
// * ? [ ] { } ~ # ! or a line break), if any. Such a value is never put into a command: spaces
// and tabs are allowed (some settings print tab-separated triples).
std::optional<char> shell_special(std::string_view value);

// The current value: the get command's standard output without surrounding white space. Throws
// std::runtime_error naming the setting when the command fails, times out, writes to standard
// error, prints nothing, or prints text that is not UTF-8.
std::string read_value(const ScriptSetting& setting);

// The set command as it runs for `value`: each "$value" replaced by it.
std::string set_command(const ScriptSetting& setting, const std::string& value);

// Runs the set command with `value` in place of $value. Throws std::runtime_error naming the
// setting when the value holds a shell character, or the command fails, times out or writes to
// standard error.
void write_value(const ScriptSetting& setting, const std::string& value);

// Runs a stop or start command of the workload, with the same checks.
void run_workload_command(const ScriptSetting& setting, const std::string& what,
                          const std::string& command);

// Whether a value read back stands for the value written: the same text, or the same number
// ("0.50" and "0.5").
bool same_value(std::string_view read, std::string_view written);

// The journal's record of a script setting changed by `orvane apply`: kind
// "settings_script", the commands in `detail` (get, set, needrestart "true"|"false", stop,
// start, dir).
inline constexpr const char* kScriptItemKind = "settings_script";
ChangeItem to_change_item(const ScriptSetting& setting, const std::string& original,
                          const std::string& applied);
ScriptSetting from_change_item(const ChangeItem& item);

// Puts the original value of such an item back (with the workload's restart when the setting
// needs one) and reads it again: restored when it reads back equal, failed otherwise.
RestoreOutcome restore_script_item(const ChangeItem& item);

}  // namespace orvane::sealing
