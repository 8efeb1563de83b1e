// The command module of `orvane apply` and `orvane confuse`: the program loads it, and with it
// libsodium and zlib, only when one of these two commands runs.
#include <orvane/apply_command.hpp>

#include "command_module.hpp"

ORVANE_COMMAND(app) {
  return orvane::run_apply(options);
}

ORVANE_COMMAND(con) {
  return orvane::run_confuse(options);
}
