#pragma once
// Settings files of `script` settings (such as a tuning run's result) on their way to the host:
// plan, question, journal, apply, verify, and a verified rollback when anything fails.
#include <string>
#include <vector>

#include "script_setting.hpp"

namespace orvane::sealing {

struct PlannedScript {
  ScriptSetting setting;
  std::string value;
  std::string reason;
};

// The settings of a settings file whose settings are all of kind `script`. Throws SealError
// naming the file, the line and the key at fault: an unknown key, a missing one, a value with a
// shell character, needrestart without the workload's commands, a relative dir, a name twice.
std::vector<PlannedScript> parse_script_settings(const std::string& content,
                                                 const std::string& name);

// Reads every current value, prints the plan (each command in full, as it will run), asks
// (Y/N) on standard input, records the change set in the journal, applies, restarts the
// workload once where a setting needs it, and reads every value back. Returns the exit status:
// 0 when applied or declined, 1 when refused or failed (after a rollback, verified; what could
// not be put back stays in the journal for `orvane profile recover`).
int apply_script_settings(const std::vector<PlannedScript>& settings, const std::string& subject);

}  // namespace orvane::sealing
