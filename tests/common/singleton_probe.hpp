#pragma once
// A class whose one instance two test libraries and the test itself ask for.
namespace orvane::testing {
struct Probe {
  int value = 0;
};
Probe* probe_from_library_a();
Probe* probe_from_library_b();
}  // namespace orvane::testing
