// The orvane program: the operating-system gate, the command line, then the command's handler.
#include <exception>
#include <iostream>

#include <orvane/cmdfront.hpp>

#include "dispatch.hpp"

int main(int argc, char* argv[]) {
  try {
    orvane::CmdFront front;
    const orvane::Json options = front.args_help(argc, argv);
    return orvane::dispatch(options);
  } catch (const std::exception& e) {
    std::cerr << "orvane: error: " << e.what() << "\n";
    return orvane::kExitFailed;
  }
}
