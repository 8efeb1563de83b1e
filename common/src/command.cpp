// The shell-command service on top of the process runner.
#include <orvane/command.hpp>

#include <signal.h>

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <system_error>

#include <fmt/format.h>

#include <orvane/log.hpp>
#include <orvane/process.hpp>
#include <orvane/util.hpp>

namespace orvane {

namespace {

// "cat FILE" with one plain path is read here: the same output as the shell and cat would give,
// without starting two processes (the gate reads /proc/version this way at every start-up).
// Anything else, and any file that cannot be read, goes through the shell as written.
std::optional<std::string> read_plain_cat(const std::string& cmdline) {
  constexpr std::string_view kCat = "cat ";
  if (!cmdline.starts_with(kCat) || cmdline.size() == kCat.size()) return std::nullopt;
  const std::string path = cmdline.substr(kCat.size());
  for (char c : path) {
    const bool plain =
        std::isalnum(static_cast<unsigned char>(c)) || c == '/' || c == '.' || c == '_' || c == '-';
    if (!plain) return std::nullopt;
  }
  if (path.front() == '-') return std::nullopt;
  try {
    return read_file(path);
  } catch (const std::system_error&) {
    return std::nullopt;
  }
}

std::string run_line(const std::string& cmdline, const RunOptions& options) {
  if (auto content = read_plain_cat(cmdline)) {
    if (!content->empty() && content->back() == '\n') content->pop_back();
    return *content;
  }
  ProcessResult r = run_shell(cmdline, options);
  if (r.timed_out) throw CommandTimeout(cmdline, *options.timeout);
  if (!r.err.empty()) Logger().debug("stderr of `" + cmdline + "`: " + r.err);
  if (!r.out.empty() && r.out.back() == '\n') r.out.pop_back();
  return r.out;
}

}  // namespace

std::string Command::host_fact(const std::string& cmdline) {
  long long seconds = 60;
  if (const char* v = std::getenv("ORVANE_COMMAND_TIMEOUT"); v != nullptr && *v != '\0') {
    long long n = 0;
    const std::string_view text(v);
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (ec == std::errc() && end == text.data() + text.size() && n >= 1 && n <= 86400) seconds = n;
  }
  try {
    return cmd_exec(cmdline, std::chrono::seconds(seconds));
  } catch (const CommandTimeout& e) {
    Logger().warning(e.what());
    return "";
  }
}

CommandTimeout::CommandTimeout(const std::string& cmdline, std::chrono::milliseconds limit)
    : std::runtime_error(fmt::format("the command `{}` did not finish within {} s and was stopped",
                                     cmdline, fmt::format("{:g}", limit.count() / 1000.0))),
      cmdline_(cmdline) {}

std::string Command::cmd_exec(const std::string& cmdline) {
  return run_line(cmdline, {});
}

std::string Command::cmd_exec(const std::string& cmdline, std::chrono::milliseconds limit) {
  RunOptions options;
  options.timeout = limit;
  // Whatever the command started goes with it when it is killed.
  options.own_group = true;
  return run_line(cmdline, options);
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
