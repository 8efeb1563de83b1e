#pragma once
// What the grammar and the tests reach inside the front end.
#include <stdexcept>
#include <string>
#include <vector>

#include <orvane/cmdfront.hpp>

namespace orvane {

// A value check's refusal; what() is the message shown to the user.
class CheckRefused : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// The outcome of parsing a command line without ending the process.
struct ParseOutcome {
  std::optional<Json> record;  // set when parsing succeeded
  int exit_status = 0;         // when record is empty: 0 for help/version, 2 for a refusal
  std::string out;             // what goes to standard output
  std::string err;             // what goes to standard error
};

class CmdFrontInternals {
 public:
  static ParseOutcome parse(const std::vector<std::string>& words);  // words[0]: program name

  static bool os_supported(const std::string& platform, const std::string& kernel_version);
  static std::string platform_description();

  static std::string version() { return CmdFront::get_version(); }
  static long check_perf_enable_value(const std::string& t) {
    return CmdFront::check_perf_enable_value(t);
  }
  static std::string check_perf_pid(const std::string& t) { return CmdFront::check_perf_pid(t); }
  static long check_offcpu_pid(const std::string& t) { return CmdFront::check_offcpu_pid(t); }
  static long check_duration_value(const std::string& t) {
    return CmdFront::check_duration_value(t);
  }
  static std::optional<std::string> check_perf_cmdline(const Json& o) {
    return CmdFront::check_perf_cmdline(o);
  }
  static std::optional<std::string> check_offcpu_cmdline(const Json& o) {
    return CmdFront::check_offcpu_cmdline(o);
  }
};

}  // namespace orvane
