#pragma once
// From the options record to the handler of the chosen command.
#include <orvane/json.hpp>

namespace orvane {

// Exit statuses of the program.
enum ExitStatus : int {
  kExitOk = 0,
  kExitFailed = 1,       // the run could not start or failed
  kExitUsage = 2,        // a refused command line or record
  kExitUnavailable = 3,  // the command's work is not part of this installation
};

// Checks the record (known command code, every field its handler reads) and runs the handler.
int dispatch(const Json& options);

}  // namespace orvane
