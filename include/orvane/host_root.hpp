#pragma once
// The one place where orvane turns a system path it knows itself (/proc, /sys, /etc, ...) into
// the path it really opens. ORVANE_ROOT (default "/") puts the whole host under another
// directory, so a test runs on a fake tree. Paths an administrator gives are never passed here.
#include <filesystem>
#include <string_view>

namespace orvane {

// ORVANE_ROOT when set and not empty, else "/". Read at every call.
std::filesystem::path host_root();

// The absolute system path `system_path` ("/proc/sys/vm/swappiness") under host_root().
std::filesystem::path host_path(std::string_view system_path);

}  // namespace orvane
