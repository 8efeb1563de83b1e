// The shell-command service on top of the process runner.
#include <orvane/command.hpp>

#include <signal.h>

#include <cerrno>
#include <charconv>
#include <string_view>

#include <orvane/log.hpp>
#include <orvane/process.hpp>

namespace orvane {

std::string Command::cmd_exec(const std::string& cmdline) {
  ProcessResult r = run_shell(cmdline);
  if (!r.err.empty()) Logger().debug("stderr of `" + cmdline + "`: " + r.err);
  if (!r.out.empty() && r.out.back() == '\n') r.out.pop_back();
  return r.out;
}

namespace {

// A whole base-10 number without sign or blanks.
bool parse_pid(std::string_view text, long& pid) {
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), pid);
  return ec == std::errc() && end == text.data() + text.size() && text.front() != '-' &&
         text.front() != '+';
}

}  // namespace

bool Command::check_pid_list(const std::string& text, bool verbose) {
  if (text == "-1") return true;
  std::string_view rest(text);
  while (true) {
    const size_t comma = rest.find(',');
    long pid = 0;
    if (!parse_pid(rest.substr(0, comma), pid) || !check_pid_exist(pid, verbose)) return false;
    if (comma == std::string_view::npos) return true;
    rest.remove_prefix(comma + 1);
  }
}

bool Command::check_pid_exist(long pid, bool /*verbose*/) {
  if (pid <= 0 || pid > static_cast<long>(INT32_MAX)) return false;
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

}  // namespace orvane
