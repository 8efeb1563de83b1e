// Settings of kind `script`: their get and set commands, run with checks and a time limit.
#include "script_setting.hpp"

#include <charconv>
#include <stdexcept>

#include <orvane/process.hpp>
#include <orvane/util.hpp>

namespace orvane::sealing {
namespace {

std::string_view trim(std::string_view s) {
  constexpr std::string_view kSpace = " \t\n\r\v\f";
  const size_t b = s.find_first_not_of(kSpace);
  if (b == std::string_view::npos) return {};
  return s.substr(b, s.find_last_not_of(kSpace) - b + 1);
}

// The outcome of one command, or the reason it failed.
std::string run_checked(const ScriptSetting& s, const std::string& what,
                        const std::string& command) {
  RunOptions options;
  options.timeout = kScriptTimeout;
  const ProcessResult r =
      run_shell(s.dir.empty() ? command : "cd " + shell_quote(s.dir) + " && " + command, options);
  std::string failure;
  if (r.timed_out) {
    failure = "ran past its limit of " + std::to_string(kScriptTimeout.count()) + " s";
  } else if (r.status != 0) {
    failure = "exited with status " + std::to_string(r.status);
  } else if (!trim(r.err).empty()) {
    failure = "wrote to standard error";
  }
  if (!failure.empty()) {
    std::string said(trim(r.err).substr(0, 200));
    throw std::runtime_error(what + " " + failure +
                             (said.empty() ? "" : ": " + utf8_with_replacement(said)));
  }
  return r.out;
}

std::optional<double> number(std::string_view s) {
  double v = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || end != s.data() + s.size() || s.empty()) return std::nullopt;
  return v;
}

}  // namespace

std::optional<char> shell_special(std::string_view value) {
  constexpr std::string_view kSpecial = "`$;&|<>()\\\"'*?[]{}~#!\n\r";
  const size_t at = value.find_first_of(kSpecial);
  if (at == std::string_view::npos) return std::nullopt;
  return value[at];
}

std::string read_value(const ScriptSetting& s) {
  const std::string out = run_checked(s, "the get command of " + s.name, s.get);
  const std::string_view value = trim(out);
  if (value.empty()) throw std::runtime_error("the get command of " + s.name + " printed nothing");
  if (!is_valid_utf8(value)) {
    throw std::runtime_error("the get command of " + s.name + " printed text that is not UTF-8");
  }
  return std::string(value);
}

void write_value(const ScriptSetting& s, const std::string& value) {
  if (const auto c = shell_special(value)) {
    throw std::runtime_error("the value " + shell_quote(value) + " of " + s.name +
                             " holds the shell character '" + std::string(1, *c) +
                             "', which orvane never puts into a command");
  }
  run_checked(s, "the set command of " + s.name, set_command(s, value));
}

std::string set_command(const ScriptSetting& s, const std::string& value) {
  std::string command = s.set;
  for (size_t at = command.find("$value"); at != std::string::npos;
       at = command.find("$value", at + value.size())) {
    command.replace(at, 6, value);
  }
  return command;
}

void run_workload_command(const ScriptSetting& s, const std::string& what,
                          const std::string& command) {
  run_checked(s, "the workload's " + what + " command", command);
}

bool same_value(std::string_view read, std::string_view written) {
  if (trim(read) == trim(written)) return true;
  const auto a = number(trim(read)), b = number(trim(written));
  return a && b && *a == *b;
}

ChangeItem to_change_item(const ScriptSetting& s, const std::string& original,
                          const std::string& applied) {
  return {.kind = kScriptItemKind,
          .name = s.name,
          .original = original,
          .applied = applied,
          .detail = {{"get", s.get},
                     {"set", s.set},
                     {"needrestart", s.needrestart ? "true" : "false"},
                     {"stop", s.stop},
                     {"start", s.start},
                     {"dir", s.dir}}};
}

ScriptSetting from_change_item(const ChangeItem& item) {
  auto text = [&](const char* key) { return item.detail.value(key, std::string()); };
  ScriptSetting s;
  s.name = item.name;
  s.get = text("get");
  s.set = text("set");
  s.needrestart = text("needrestart") == "true";
  s.stop = text("stop");
  s.start = text("start");
  s.dir = text("dir");
  return s;
}

RestoreOutcome restore_script_item(const ChangeItem& item) {
  using Status = RestoreOutcome::Status;
  const ScriptSetting s = from_change_item(item);
  try {
    // Nothing to write when the value is the original already (a set command that failed
    // before it changed anything, a recover run twice).
    try {
      if (same_value(read_value(s), item.original)) {
        return {Status::restored, s.name + " has its original value " + shell_quote(item.original)};
      }
    } catch (const std::exception&) {
      // Unreadable now: writing the original is still the way back.
    }
    write_value(s, item.original);
    if (s.needrestart) {
      run_workload_command(s, "stop", s.stop);
      run_workload_command(s, "start", s.start);
    }
    const std::string now = read_value(s);
    if (!same_value(now, item.original)) {
      return {Status::failed, s.name + " reads " + shell_quote(now) + " after the restore, not " +
                                  shell_quote(item.original)};
    }
    return {Status::restored, s.name + " is " + shell_quote(item.original) + " again"};
  } catch (const std::exception& e) {
    return {Status::failed, e.what()};
  }
}

}  // namespace orvane::sealing
