#pragma once
// A settings file's way onto the host, once it is plain text.
#include <string>

#include <orvane/json.hpp>

namespace orvane::sealing {

// True when the content is a shell script rather than a settings file: it starts with "#!",
// is not a YAML map at all (plain command lines read as one long YAML text), or is named like
// a shell script and is no settings file.
bool is_shell_script(const std::string& content, const std::string& name);

// Checks the settings file and applies it through the plan, question, journal, apply and verify
// road. Returns the exit status.
int apply_settings_file(const std::string& content, const std::string& name, const Json& options);

}  // namespace orvane::sealing
