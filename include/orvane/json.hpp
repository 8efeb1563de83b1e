#pragma once
// The one JSON type of the project: objects keep the order in which keys were first inserted.
#include <nlohmann/json.hpp>

namespace orvane {
using Json = nlohmann::ordered_json;
}  // namespace orvane
