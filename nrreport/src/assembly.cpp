// Report assembly: the data tree of one report, filled from the host, the collected-data files
// and the caller's results, then rendered and logged.
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <utility>

#include <orvane/collected/collection.hpp>
#include <orvane/collected/format.hpp>
#include <orvane/command.hpp>
#include <orvane/config.hpp>
#include <orvane/global_call.hpp>
#include <orvane/global_parameter.hpp>
#include <orvane/log.hpp>
#include <orvane/nr_report.hpp>

#include "base_facts.hpp"
#include "collected_page.hpp"

namespace orvane {
namespace {

// Month, day, hour and minute of the local time: reports are named by the minute.
std::string minute_stamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char buf[16];
  const size_t n = std::strftime(buf, sizeof buf, "%m%d%H%M", &local);
  return std::string(buf, n);
}

// Some entry exists at the path (a dangling symbolic link counts as none).
bool exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

bool exists_not_empty(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && st.st_size != 0;
}

// Every key of the tree with its initial value, in the order the page receives them.
Json initial_tree() {
  Json base = Json::object();
  for (size_t i = 0; i < report::kBaseCommands.size(); ++i) {
    if (i == report::kCommandsBeforeSummaries) {
      base["net_sum"] = Json::array();
      base["disk_sum"] = Json::array();
    }
    base[std::string(report::kBaseCommands[i].key)] = "";
  }
  base["mem_available"] = "";

  Json info = Json::object();
  info["tm_info"] = Json{{"start", ""}, {"stop", ""}};
  info["base_info"] = std::move(base);
  for (const char* key : {"cpu_info", "mem_info", "net_info", "io_info", "synthesis_info",
                          "jvm_info", "sys_param", "sys_msg", "hotspot_info"}) {
    info[key] = Json::array();
  }
  info["tune_info"] = Json{{"refinfo", Json::array()}, {"suginfo", Json::array()}};
  info["common_cmd"] = Json{{"pidstatinfo", ""}, {"subsarinfo", ""}};
  return info;
}

// The parsed file as report data; null when it could not be parsed. The texts are moved, not
// copied: collected files can be large.
Json parsed(const std::string& path) {
  auto groups = NrReport::build_info(path);
  if (!groups) return Json();
  Json list = Json::array();
  for (CommandGroup& g : *groups) {
    Json sub = Json::array();
    for (CommandResult& r : g.sub) {
      Json result = Json::object();
      result["cmd"] = std::move(r.cmd);
      result["res"] = std::move(r.res);
      sub.push_back(std::move(result));
    }
    Json group = Json::object();
    group["group"] = std::move(g.group);
    group["sub"] = std::move(sub);
    list.push_back(std::move(group));
  }
  return list;
}

}  // namespace

void report::add_collected_data(Json& info, const std::string& out_path) {
  namespace c = collected;
  const auto file = [&](std::string_view name) { return out_path + std::string(name); };
  // The CPU section and the synthesis read one collection, parsed once.
  if (exists(file(c::kCpuFile))) {
    c::Collection data(out_path);
    if (data.readable(c::kCpuFile)) {
      const c::Figures figures = c::derive_figures(data);
      info["cpu_info"] = cpu_tag_data(data, figures);
      info["synthesis_info"] = synthesis_tag_data(data, figures);
    } else {
      info["cpu_info"] = Json();
      info["synthesis_info"] = Json();
    }
  }
  for (const auto& [key, name] :
       {std::pair{"mem_info", c::kMemoryFile}, std::pair{"net_info", c::kNetworkFile},
        std::pair{"io_info", c::kDiskFile}, std::pair{"sys_param", c::kParamFile},
        std::pair{"sys_msg", c::kMessageFile}}) {
    if (exists(file(name))) info[key] = parsed(file(name));
  }
  const std::string hotspot_file = out_path + GlobalCall::output_hotspot_file;
  if (exists_not_empty(hotspot_file)) info["hotspot_info"] = parsed(hotspot_file);
}

void NrReport::nr_build(const std::string& func, const Json& tm, const Json& sug, const Json& ref,
                        const Json& height_info, const Json& hldata, const Json& netdevice) {
  const std::string curr_time = minute_stamp();
  const std::string srcfile = Config::get_inst_path() + "nrreport/orvane_report.html";
  const std::string out_path = Config::get_output_path();
  const std::string outfile = out_path + "orvane_report_" + curr_time + ".html";

  Json info = initial_tree();
  info["tm_info"]["start"] = tm.at("start");
  info["tm_info"]["stop"] = tm.at("stop");

  Json& base = info["base_info"];
  for (size_t i = 0; i < report::kBaseCommands.size(); ++i) {
    if (i == report::kCommandsBeforeSummaries) {
      base["net_sum"] = build_netsum();
      base["disk_sum"] = build_disksum();
    }
    const auto& [key, line] = report::kBaseCommands[i];
    base[std::string(key)] = Command::host_fact(std::string(line));
  }

  report::add_collected_data(info, out_path);

  info["tune_info"]["suginfo"] = sug;
  info["tune_info"]["refinfo"] = ref;
  info["tune_info"]["hl_info"] = height_info;
  info["hldata"] = hldata;
  info["netdevice"] = netdevice;

  info["common_cmd"]["pidstatinfo"] = GlobalParameter().pidstat_cmd;
  info["common_cmd"]["subsarinfo"] = GlobalParameter().sub_sarall;

  // The collector normally leaves the directory behind; a run that collected nothing still gets
  // its report.
  std::filesystem::create_directories(out_path);
  render(info, srcfile, outfile);

  if (func == "ana") {
    Logger().info("调优报告输出路径: " + outfile);
  } else {
    Logger().info("采集报告输出路径: " + outfile);
  }
}

}  // namespace orvane
