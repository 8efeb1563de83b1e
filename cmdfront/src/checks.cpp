// The operating-system gate, the option value checks and the cross-option rules.
#include <sys/utsname.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <limits>

#include <orvane/command.hpp>

#include "internals.hpp"

namespace orvane {
namespace {

// A base-10 integer: an optional sign, then one or more digits, nothing else. An integer beyond
// the range of long reads as the nearest end of that range, which keeps every comparison the
// checks make (against 0, 1 and 300) right for integers of any length.
std::optional<long> to_integer(const std::string& text) {
  const bool signed_text = !text.empty() && (text[0] == '+' || text[0] == '-');
  const size_t digits = signed_text ? 1 : 0;
  if (text.size() == digits) return std::nullopt;
  for (size_t i = digits; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
  }
  const bool negative = text[0] == '-';
  // from_chars takes a minus sign but no plus sign.
  const char* begin = text.data() + (text[0] == '+' ? 1 : 0);
  long v = 0;
  auto [end, ec] = std::from_chars(begin, text.data() + text.size(), v);
  if (ec == std::errc::result_out_of_range) {
    return negative ? std::numeric_limits<long>::min() : std::numeric_limits<long>::max();
  }
  if (ec != std::errc()) return std::nullopt;
  return v;
}

// "given": true, non-zero or a non-empty text; absent (missing or null) is not given.
bool given(const Json& options, const char* key) {
  auto it = options.find(key);
  if (it == options.end() || it->is_null()) return false;
  if (it->is_boolean()) return it->get<bool>();
  if (it->is_number()) return it->get<double>() != 0;
  if (it->is_string()) return !it->get<std::string>().empty();
  return !it->empty();
}

// KEY=value pairs of an os-release file; quotes around the value removed.
std::string os_release_field(const std::string& content, const std::string& key) {
  size_t pos = 0;
  while (pos < content.size()) {
    size_t eol = content.find('\n', pos);
    if (eol == std::string::npos) eol = content.size();
    std::string line = content.substr(pos, eol - pos);
    pos = eol + 1;
    if (line.rfind(key + "=", 0) != 0) continue;
    std::string v = line.substr(key.size() + 1);
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
      v = v.substr(1, v.size() - 2);
    }
    return v;
  }
  return "";
}

}  // namespace

std::string CmdFrontInternals::platform_description() {
  struct utsname u {};
  ::uname(&u);
  std::string desc = std::string(u.sysname) + "-" + u.release + "-" + u.machine;
  const char* env = std::getenv("ORVANE_OS_RELEASE");
  std::ifstream in(env && *env ? env : "/etc/os-release");
  if (in) {
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string id = os_release_field(content, "ID");
    const std::string version = os_release_field(content, "VERSION_ID");
    if (!id.empty()) desc += "-with-" + id + (version.empty() ? "" : "-" + version);
  }
  return desc;
}

bool CmdFrontInternals::os_supported(const std::string& platform,
                                     const std::string& kernel_version) {
  std::string upper = kernel_version;
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return platform.find("nerith") != std::string::npos ||
         upper.find("NERITH") != std::string::npos ||
         kernel_version.find("nr10") != std::string::npos;
}

void CmdFront::check_os_version() {
  const std::string kernel_version = Command::cmd_exec("cat /proc/version");
  if (CmdFrontInternals::os_supported(CmdFrontInternals::platform_description(), kernel_version)) {
    return;
  }
  std::cout << "The current os version is not supported!\n"
            << "Please check your os version." << std::endl;
  std::exit(1);
}

std::string CmdFront::get_version() {
  return "Orvane version is " ORVANE_VERSION ". ";
}

long CmdFront::check_perf_enable_value(const std::string& text) {
  auto v = to_integer(text);
  if (!v) throw CheckRefused("invalid value, should set to 1, default 1 if no value set");
  if (*v != 1) throw CheckRefused("invalid value, should set to 1, default 1 if not value set");
  return 1;
}

std::string CmdFront::check_perf_pid(const std::string& text) {
  if (!Command::check_pid_list(text, false)) {
    throw CheckRefused("should set to -1 or existed process id");
  }
  return text;
}

long CmdFront::check_offcpu_pid(const std::string& text) {
  auto v = to_integer(text);
  if (!v) throw CheckRefused("must be an integer");
  if (*v <= 0) throw CheckRefused("must be positive and nonzero");
  if (!Command::check_pid_exist(*v, false))
    throw CheckRefused("should set to an existed process id");
  return *v;
}

long CmdFront::check_duration_value(const std::string& text) {
  auto v = to_integer(text);
  if (!v) throw CheckRefused("must be an integer");
  if (*v <= 0 || *v > 300) throw CheckRefused("must be 1-300");
  return *v;
}

std::optional<std::string> CmdFront::check_perf_cmdline(const Json& o) {
  if (given(o, "perf_enable_type") && !given(o, "perf_pid")) return "need to specify --pid option";
  if (given(o, "perf_pid") && !given(o, "perf_enable_type")) return "need to specify --perf option";
  if (given(o, "perf_duration") && !given(o, "perf_enable_type")) {
    return "need to specify --perf option";
  }
  return std::nullopt;
}

std::optional<std::string> CmdFront::check_offcpu_cmdline(const Json& o) {
  if (given(o, "offcpu") && !given(o, "offcpu_pid")) return "need to specify --offcpu_pid option";
  if (given(o, "offcpu_pid") && !given(o, "offcpu")) return "need to specify --offcpu option";
  if (given(o, "offcpu_duration") && !given(o, "offcpu")) return "need to specify --offcpu option";
  return std::nullopt;
}

}  // namespace orvane
