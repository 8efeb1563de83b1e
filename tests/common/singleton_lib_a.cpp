#include <orvane/decorator_wrap.hpp>

#include "singleton_probe.hpp"

namespace orvane::testing {
Probe* probe_from_library_a() {
  return &DecoratorWrap::singleton<Probe>();
}
}  // namespace orvane::testing
