#pragma once
// A settings file's way onto the host, once it is plain text.
#include <iosfwd>
#include <string>

namespace orvane::sealing {

// True when the content is a shell script rather than a settings file: it starts with "#!",
// is not a YAML map at all (plain command lines read as one long YAML text), or is named like
// a shell script and is no settings file.
bool is_shell_script(const std::string& content, const std::string& name);

// The kinds a settings file given to `orvane apply` may hold: the host's own values and the
// `script` settings of a tuning result. A workload's files (ini, properties, ...) need its
// configuration directory, which only `orvane profile` is given.
bool apply_may_use(const std::string& kind);

// Checks the settings file and applies it through the profile engine's road: plan, question on
// `in`, journal, apply, verify. `name` is the file's path as shown. Returns the exit status.
int apply_settings_file(const std::string& content, const std::string& name, std::istream& in,
                        std::ostream& out, std::ostream& err);

}  // namespace orvane::sealing
