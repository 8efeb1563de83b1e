#pragma once
// What a command module offers the program: one handler per command code, found by name when
// that command runs. A module is a shared object of its own (lib/orvane/<module>.so), so the
// libraries only its commands need are loaded only when one of them runs.
#include <orvane/json.hpp>

// Defines the handler of the command code `code` ("col", "tuning", ...): it receives the checked
// options record and returns the program's exit status. The program looks it up as
// orvane_command_<code> in the module that its command table names for the code.
#define ORVANE_COMMAND(code)                                                   \
  extern "C" __attribute__((visibility("default"))) int orvane_command_##code( \
      const ::orvane::Json& options)

namespace orvane {

// The type of every handler that ORVANE_COMMAND defines.
using CommandHandler = int (*)(const Json& options);

}  // namespace orvane
