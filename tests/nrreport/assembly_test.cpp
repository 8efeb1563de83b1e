// NrReport::nr_build as a whole: fake host tools, collected-data files in a temporary output
// directory, a small template; the page data, the report's name and the log line are checked.
#include <gtest/gtest.h>

#include <ctime>

#include <orvane/global_call.hpp>
#include <orvane/log.hpp>
#include <orvane/nr_report.hpp>

#include "support.hpp"

namespace orvane {
namespace {

const std::string G = "=========================nerith=========================";

std::string minute_now() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char buf[16];
  std::strftime(buf, sizeof buf, "%m%d%H%M", &local);
  return buf;
}

std::vector<std::string> keys(const Json& object) {
  std::vector<std::string> out;
  for (const auto& [k, v] : object.items()) out.push_back(k);
  return out;
}

class Assembly : public ::testing::Test {
 protected:
  void SetUp() override {
    test::write_bytes(inst_.path() / "nrreport/orvane_report.html",
                      "<html><head><style>bootstrap-css</style><style>awesome-css</style></head>"
                      "<body><script>jqueryjs()</script><script>bootstrapjs()</script></body>"
                      "</html>");
    for (const char* asset : {"bootstrap/bootstrap-3.3.7.min.css", "Awesome/all.min.css",
                              "jquery/jquery-2.2.0.min.js", "bootstrap/bootstrap-3.3.7.min.js"}) {
      test::write_bytes(inst_.path() / "third_party" / asset, "/* asset */");
    }
  }
  void TearDown() override { GlobalCall::output_hotspot_file = saved_hotspot_; }

  std::filesystem::path data(const char* name) const { return out_.path() / "orvaneData" / name; }

  // Runs nr_build and returns the path of the one report it wrote.
  std::string build(const std::string& func, const Json& tm = {{"start", "s"}, {"stop", "e"}}) {
    NrReport().nr_build(func, tm, Json::array({"sug"}), Json::array({"ref"}), Json{{"hl", 1}},
                        Json::array({1, 2}), Json{{"eth0", "up"}});
    for (const auto& e : std::filesystem::directory_iterator(out_.path() / "orvaneData")) {
      if (e.path().extension() == ".html") return e.path().string();
    }
    return "";
  }

  test::TempDir inst_, out_, bin_;
  test::ScopedConfig config_{inst_.path().string(), out_.path().string()};
  test::FakeTools tools_{bin_.path(), test::host_tools()};
  LogCapture log_;
  std::string saved_hotspot_ = GlobalCall::output_hotspot_file;
};

TEST_F(Assembly, FullTreeInKeyOrderFromHostAndCollectedFiles) {
  test::write_bytes(data("CPUInfo.txt"), "Command: cpu\nSubCommand: nproc\n96\n" + G);
  test::write_bytes(data("memInfo.txt"), "Command: mem\nSubCommand: free\nMem: 16G\n" + G);
  test::write_bytes(data("netInfo.txt"), "Command: net\nbroken header\nx\n" + G);  // fails
  test::write_bytes(data("systemMessage.txt"), "");
  test::write_bytes(data("hotspotInfo.txt"), "");  // 0 bytes: not parsed
  const std::string before = minute_now();
  const std::string report = build("ana");
  const std::string after = minute_now();

  ASSERT_FALSE(report.empty());
  const std::string name = std::filesystem::path(report).filename().string();
  EXPECT_TRUE(name == "orvane_report_" + before + ".html" ||
              name == "orvane_report_" + after + ".html")
      << name;
  EXPECT_EQ(report, out_.dir() + "orvaneData/" + name);

  const Json info = test::info_of_report(test::read_bytes(report));
  EXPECT_EQ(keys(info), (std::vector<std::string>{
                            "tm_info", "base_info", "cpu_info", "mem_info", "net_info", "io_info",
                            "synthesis_info", "jvm_info", "sys_param", "sys_msg", "hotspot_info",
                            "tune_info", "common_cmd", "hldata", "netdevice"}));
  EXPECT_EQ(info["tm_info"].dump(), R"({"start":"s","stop":"e"})");
  const Json expected_base = Json::parse(R"json({
      "hostname": "node7",
      "system_version": "Nerith release 22.03 (LTS-SP3)",
      "kernel_version": "6.6.0-28.0.0.34.oe2403.aarch64",
      "gcc_version": "gcc (GCC) 12.3.1 (nerith 12.3.1-16)",
      "glibc_version": "glibc 2.38",
      "jdk_version": "openjdk version \"17.0.9\" 2023-10-17",
      "net_sum": [{"name": "eth0", "driver": "virtio_net", "version": "1.0.0",
                   "firmware_version": "", "link_status": "yes", "addr": "192.168.1.10\n10.0.0.5",
                   "netmask": "255.255.255.0\n255.0.0.0"}],
      "disk_sum": [{"name": "sda", "total": "100G", "sn": "QEMU HARDDISK"},
                   {"name": "nvme0n1", "total": "1.8T", "sn": ""},
                   {"name": "", "total": "", "sn": ""}],
      "cpu_model": "Kunpeng-920",
      "cpu_arch": "aarch64",
      "cpu_cores": "96",
      "cpu_maxfreq": "2600.0000",
      "cpu_minfreq": "200.0000",
      "mem_total": "16318480",
      "mem_free": "9123456",
      "mem_available": ""})json");
  EXPECT_EQ(info["base_info"].dump(), expected_base.dump());
  // The collector's page data: no utilisation in this file, its groups as they are.
  EXPECT_EQ(info["cpu_info"]["utilisation"]["average"], Json::array());
  EXPECT_EQ(info["cpu_info"]["groups"],
            Json::parse(R"([{"group": "cpu", "sub": [{"cmd": "nproc", "res": "96"}]}])"));
  EXPECT_EQ(info["synthesis_info"]["resources"], Json::array());
  EXPECT_EQ(info["mem_info"][0]["sub"][0]["res"], "Mem: 16G");
  EXPECT_TRUE(info["net_info"].is_null()) << "a parse failure is null on the page";
  EXPECT_EQ(info["io_info"], Json::array());
  EXPECT_EQ(info["jvm_info"], Json::array());
  EXPECT_EQ(info["sys_param"], Json::array());
  EXPECT_EQ(info["sys_msg"], Json::array());
  EXPECT_EQ(info["hotspot_info"], Json::array());
  EXPECT_EQ(info["tune_info"].dump(),
            R"({"refinfo":["ref"],"suginfo":["sug"],"hl_info":{"hl":1}})");
  EXPECT_EQ(
      info["common_cmd"].dump(),
      R"({"pidstatinfo":"pidstat -u -r -d -w -h 1 10","subsarinfo":"sar -u -r -b -n DEV -q 1 10"})");
  EXPECT_EQ(info["hldata"], Json::array({1, 2}));
  EXPECT_EQ(info["netdevice"], Json({{"eth0", "up"}}));

  const std::string log = log_.text();
  EXPECT_NE(log.find("error|Failed parse file \"" + data("netInfo.txt").string() + "\": "),
            std::string::npos);
  EXPECT_TRUE(log.ends_with("info|调优报告输出路径: " + report + "\n")) << log;
}

TEST_F(Assembly, EmptyOutputDirectoryAndHotspotFileName) {
  GlobalCall::output_hotspot_file = "perf_hot.txt";
  test::write_bytes(data("perf_hot.txt"), "Command: perf\nSubCommand: perf top\n50% f\n" + G);
  const Json info = test::info_of_report(test::read_bytes(build("col")));
  for (const char* key : {"cpu_info", "mem_info", "net_info", "io_info", "synthesis_info",
                          "jvm_info", "sys_param", "sys_msg"}) {
    EXPECT_EQ(info[key], Json::array()) << key;
  }
  EXPECT_EQ(info["hotspot_info"][0]["group"], "perf");
  EXPECT_EQ(log_.text().find("warning|"), std::string::npos) << "absent files are not looked up";
}

TEST_F(Assembly, LogLineFollowsTheCommandCode) {
  for (const auto& [func, prefix] :
       std::vector<std::pair<std::string, std::string>>{{"ana", "调优报告输出路径: "},
                                                        {"col", "采集报告输出路径: "},
                                                        {"ANA", "采集报告输出路径: "},
                                                        {"", "采集报告输出路径: "}}) {
    LogCapture log;
    const std::string report = build(func);
    EXPECT_TRUE(log.text().ends_with("info|" + prefix + report + "\n"))
        << func << ": " << log.text();
    std::filesystem::remove(report);
  }
}

TEST_F(Assembly, TimesWithoutStopFailBeforeAnythingIsWritten) {
  EXPECT_THROW(NrReport().nr_build("ana", Json{{"start", "s"}}, Json::array(), Json::array(),
                                   Json(), Json(), Json()),
               Json::exception);
  EXPECT_FALSE(std::filesystem::exists(out_.path() / "orvaneData"));
  EXPECT_EQ(log_.text().find("info|"), std::string::npos);
}

}  // namespace
}  // namespace orvane
