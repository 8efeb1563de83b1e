#include <orvane/global_call.hpp>

namespace orvane {

std::string GlobalCall::output_hotspot_file = "hotspotInfo.txt";

}  // namespace orvane
