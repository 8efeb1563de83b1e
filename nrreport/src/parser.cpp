// The report's reading of a collected-data file: the shared parser, with the report's messages.
#include <filesystem>

#include <orvane/collected/parser.hpp>
#include <orvane/log.hpp>
#include <orvane/nr_report.hpp>

namespace orvane {

void to_json(Json& j, const CommandResult& r) {
  j = Json{{"cmd", r.cmd}, {"res", r.res}};
}

void to_json(Json& j, const CommandGroup& g) {
  j = Json{{"group", g.group}, {"sub", g.sub}};
}

std::optional<std::vector<CommandGroup>> NrReport::build_info(const std::string& fname) {
  std::error_code ec;
  if (!std::filesystem::exists(fname, ec)) {
    Logger().warning("Report file not found: " + fname);
    return std::vector<CommandGroup>{};
  }
  try {
    return collected::read_groups(fname);
  } catch (const std::exception& e) {
    Logger().error("Failed parse file \"" + fname + "\": " + e.what());
    return std::nullopt;
  }
}

}  // namespace orvane
