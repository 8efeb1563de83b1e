#pragma once
// The handlers of `orvane apply SCRIPT [--PATH P] [--enc] [--de]` and
// `orvane confuse SCRIPT [--PATH P] [--cnf] [--un]`.
#include <orvane/json.hpp>

namespace orvane {

// Applies a settings file (plain, packed, or encrypted with --de), or with --enc only encrypts
// it. 0 when done or declined at the question, 1 on any refusal or failure.
int run_apply(const Json& options);

// Packs a file (--cnf or no flag) or unpacks one (--un). 0 when written, 1 on any refusal.
int run_confuse(const Json& options);

// Registers the `script` setting kind with the profile engine and the journal restorer of what
// it changes (kind "settings_script"), for `orvane profile recover`.
void register_apply_restorers();

}  // namespace orvane
