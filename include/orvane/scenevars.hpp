#pragma once
// The scene's tunable parameters, read, backed up and set through the shell scripts of the tuning
// configuration (Cfg), with a workload restart where a parameter needs one.
#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <orvane/json.hpp>

namespace orvane {

// How the scripts of a tuning run are run: a time limit, a stop flag to honour (none during the
// restore, which must finish), and their own process group so that a terminal's Ctrl-C reaches
// orvane only, which then decides. The default runs scripts as plain children without limits.
struct ScriptLimits {
  std::optional<std::chrono::milliseconds> timeout;
  const std::atomic<int>* stop = nullptr;
  bool own_group = false;
};

// The result of one script: which one ("set threads", "stop", "start", "get threads") and how it
// ended. A script succeeded when it exited 0 within its time limit and wrote nothing to standard
// error.
struct ScriptRun {
  std::string script;
  int status = 0;
  bool timed_out = false;
  bool stopped = false;
  std::string err;  // standard error, trimmed
  bool ok() const { return status == 0 && !timed_out && !stopped && err.empty(); }
  // "set threads exited with status 2: sed: no such file" and the like.
  std::string describe() const;
};

// What reading one parameter gave: its value, or why there is none.
struct ParamReading {
  std::string name;
  std::optional<std::string> value;
  std::string problem;  // empty when value holds a non-empty valid text
};

class SceneVars {
 public:
  // The shell that runs every script (the system shell, whatever the name says).
  static constexpr const char* BASH = "/bin/sh";

  // {name: value text} in the order of the configuration. Stops at the first get script that
  // writes to standard error or prints text that is not UTF-8 (logged as "run script failed: "),
  // and returns what was read before it.
  Json get_params();

  // get_params(), and the values with their set scripts written to bak_<project>.ini in the
  // current directory (replaced whole, atomically). An empty map, and no file, when nothing
  // could be read.
  Json backup_params();

  // Runs the set script of every name in `params` with $value replaced by the value's text, then
  // stops and starts the workload once if one of them has needrestart "true". Throws when a
  // name has no set script.
  void set_params(const Json& params);

  // set_params() that reports every script it ran, in order, with its result, under `limits`.
  // A failed set script does not stop the others; the workload is still restarted.
  std::vector<ScriptRun> set_params_checked(const Json& params, const ScriptLimits& limits);
  // The same under the process's default limits (set_default_limits).
  std::vector<ScriptRun> set_params_checked(const Json& params);

  // Every parameter read with its get script under `limits`, none skipped: a script that fails,
  // writes to standard error, prints text that is not UTF-8 or prints nothing gives no value and
  // a problem naming what it said.
  std::vector<ParamReading> read_params_checked(const ScriptLimits& limits);

  // The limits that get_params(), backup_params() and set_params() use in this process (the
  // tuning run sets its script_timeout and stop flag here); none by default.
  static void set_default_limits(const ScriptLimits& limits);

  // The problems of the last get_params() of this process (the first failing parameter, and
  // those it left unread); empty when every value was read.
  static std::vector<ParamReading> last_read_problems();
};

// Why an original value must not be written back through a set script's text: it holds a
// character the shell interprets (quotes, $, `, ;, &, |, <, >, (, ), \, *, ?, [, ], {, }, ~, #,
// !, or a line break). Empty when the value is safe; blanks and tabs are allowed.
std::string shell_unsafe_reason(const std::string& value);

}  // namespace orvane
