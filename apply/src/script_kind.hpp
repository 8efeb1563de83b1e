#pragma once
// The `script` kind of settings files: a value read and written through the get and set commands
// of a tuning project. The profile engine plans, records, applies and verifies it like any other
// kind; this module adds how to read, write and put back such a value.
namespace orvane::sealing {

// Registers the kind with the settings format and the engine, and the restorer of its journal
// items ("settings_script") with the change journal. Idempotent; call before a settings file is
// read or a change set restored.
void register_script_kind();

}  // namespace orvane::sealing
