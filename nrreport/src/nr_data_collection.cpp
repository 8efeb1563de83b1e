// Stand-in page data of the collector: the parsed CPUInfo.txt.
#include <orvane/config.hpp>
#include <orvane/nr_data_collection.hpp>
#include <orvane/nr_report.hpp>

namespace orvane {
namespace {

Json cpu_groups() {
  auto groups = NrReport::build_info(Config::get_output_path() + "CPUInfo.txt");
  return groups ? Json(*groups) : Json();
}

}  // namespace

Json DATACOLLECTION::get_cpu_tag_data() {
  return cpu_groups();
}

Json DATACOLLECTION::get_synthesis_tag_data() {
  return cpu_groups();
}

}  // namespace orvane
