#pragma once
// The command-line front end: the operating-system gate, the command grammar with its help and
// version texts, the option checks, and the collector settings derived from the options record.
#include <optional>
#include <string>
#include <utility>

#include <orvane/json.hpp>

namespace orvane {

class CmdFront {
 public:
  // Runs the operating-system gate; on an unsupported system prints two lines on standard output
  // and ends the process with status 1.
  CmdFront();

  // Parses argv[1..argc) into the options record (argv[0] is the program name). A field that the
  // chosen command path does not define is a missing key; an absent value is null. Ends the
  // process itself on help and version (status 0) and on any refusal (status 2).
  Json args_help(int argc, const char* const argv[]);

  // (perf_args, offcpu_args) for the data collector; both empty unless func is "col" or "ana".
  // Uses no state: a handler calls it without a second CmdFront (and a second system gate).
  static std::pair<Json, Json> get_hotspot_cmdline_parser(const Json& options);

  // The file name of the path without its directory and without anything from its first ".".
  std::string parse_projectname(const std::string& path);

 private:
  friend class CmdFrontInternals;

  void check_os_version();
  static std::string get_version();

  // Value checks: the value to store, or CheckRefused with the message.
  static long check_perf_enable_value(const std::string& text);
  static std::string check_perf_pid(const std::string& text);
  static long check_offcpu_pid(const std::string& text);
  static long check_duration_value(const std::string& text);

  // Cross-option rules: a message, or nothing.
  static std::optional<std::string> check_perf_cmdline(const Json& options);
  static std::optional<std::string> check_offcpu_cmdline(const Json& options);
};

}  // namespace orvane
