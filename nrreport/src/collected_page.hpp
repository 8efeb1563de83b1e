#pragma once
// The parts of the report's data tree that come from the collected-data files, read once for the
// whole page.
#include <string>

#include <orvane/json.hpp>

namespace orvane::collected {
class Collection;
struct Figures;
}  // namespace orvane::collected

namespace orvane::report {

// DATACOLLECTION's CPU section and synthesis from a collection whose CPU file was parsed, with
// the figures derived from it.
Json cpu_tag_data(collected::Collection& data, const collected::Figures& figures);
Json synthesis_tag_data(collected::Collection& data, const collected::Figures& figures);

// Fills the keys cpu_info, mem_info, net_info, io_info, synthesis_info, sys_param, sys_msg and
// hotspot_info of `info` from the files in `out_path` (ends with a separator); a file that does
// not exist leaves its key as it is, one that cannot be parsed sets it to null.
void add_collected_data(Json& info, const std::string& out_path);

}  // namespace orvane::report
