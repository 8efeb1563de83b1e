#pragma once
// The scene's tunable parameters, read, backed up and set through the shell scripts of the tuning
// configuration (Cfg), with a workload restart where a parameter needs one.
#include <orvane/json.hpp>

namespace orvane {

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
};

}  // namespace orvane
