#pragma once
// The handler of the five profile scenes.
#include <orvane/json.hpp>

namespace orvane {

// `orvane profile <scene> CONF_DIR`, the scene taken from the command code ("pro_kafka").
int run_profile(const Json& options);

}  // namespace orvane
