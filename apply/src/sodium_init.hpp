#pragma once
// libsodium must be initialised once before its first use (it picks its random source and the
// fastest implementations for this CPU).
#include <sodium.h>

#include <orvane/sealing.hpp>

namespace orvane::sealing {

inline void ensure_sodium() {
  static const bool ready = sodium_init() >= 0;
  if (!ready) throw SealError("libsodium cannot be initialised");
}

}  // namespace orvane::sealing
