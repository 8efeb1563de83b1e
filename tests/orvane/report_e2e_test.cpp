// `orvane analysis` and `orvane collection` run as an administrator runs them: the report of this
// host opened in headless Chromium, and the runs that must stop without a report.
#include <gtest/gtest.h>

#include <set>

#include <orvane/json.hpp>
#include <orvane/util.hpp>

#include "../support/program.hpp"
#include "../support/temp_dir.hpp"
#include "../support/tool_path.hpp"

namespace orvane {
namespace {

namespace fs = std::filesystem;
using orvane::testing::run_orvane;
using orvane::testing::TempDir;

std::vector<fs::path> reports_in(const fs::path& dir) {
  std::vector<fs::path> found;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) {
    if (e.path().filename().string().starts_with("orvane_report_")) found.push_back(e.path());
  }
  return found;
}

// The machine-readable result beside the report: orvane_<what>_<the report's stamp>.json, with
// the keys the README documents.
Json result_beside(const fs::path& report, const std::string& what) {
  const std::string name = report.filename().string();
  const std::string stamp = name.substr(std::string("orvane_report_").size(), 8);
  const fs::path path = report.parent_path() / ("orvane_" + what + "_" + stamp + ".json");
  EXPECT_TRUE(fs::exists(path)) << path;
  const Json result = Json::parse(read_file(path));
  for (const char* key : {"version", "host", "start", "stop", "figures"}) {
    EXPECT_TRUE(result.contains(key)) << key;
  }
  const Json& f = result["figures"];
  for (const char* key : {"user", "nice", "system", "iowait", "irq", "softirq", "steal", "idle"}) {
    EXPECT_TRUE(f["cpu"][key].is_number()) << key << " " << f["cpu"].dump();
  }
  for (const char* key : {"load", "memory", "swap", "pressure", "disks", "networks", "tcp"}) {
    EXPECT_TRUE(f.contains(key)) << key;
  }
  EXPECT_TRUE(f["memory"]["total_kib"].is_number()) << f["memory"].dump();
  return result;
}

Json page_data(const fs::path& report) {
  const std::string html = read_file(report);
  const std::string marker = "\nvar info = ";
  const size_t begin = html.rfind(marker) + marker.size();
  return Json::parse(html.substr(begin, html.find('\n', begin) - begin));
}

TEST(AnalysisRun, ReportOfThisHostOpensInChromiumWithEverySection) {
  TempDir out, work;
  const ProcessResult r = run_orvane({"analysis", "-o", out.path().string()},
                                     {"ORVANE_SAMPLING=1,2"}, RunOptions{std::chrono::minutes(2)});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const auto reports = reports_in(out.path() / "orvaneData");
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_TRUE(r.out.starts_with("调优报告输出路径: " + reports[0].string() + "\n")) << r.out;
  EXPECT_NE(r.out.find("\ntotal runtime: "), std::string::npos) << r.out;
  EXPECT_EQ(r.err, "");

  const Json result = result_beside(reports[0], "analysis");
  ASSERT_TRUE(result["checks"].is_array());
  EXPECT_GE(result["checks"].size(), 15u);
  for (const Json& c : result["checks"]) {
    const std::set<std::string> statuses = {"ok", "change", "not_applicable", "not_available"};
    EXPECT_TRUE(statuses.contains(c["status"].get<std::string>())) << c.dump();
    for (const char* key : {"parameter", "area", "current", "suggested", "severity", "evidence",
                            "reason", "reference"}) {
      EXPECT_TRUE(c.contains(key)) << key << " " << c.dump();
    }
  }
  for (const Json& f : result["findings"]) {
    for (const char* key : {"severity", "kind", "text", "metric", "value", "item"}) {
      EXPECT_TRUE(f.contains(key)) << key << " " << f.dump();
    }
  }
  EXPECT_TRUE(result["workloads"].is_array());

  const Json info = page_data(reports[0]);
  EXPECT_EQ(info["cpu_info"]["utilisation"]["series"]["time"].size(), 2u);
  EXPECT_FALSE(info["synthesis_info"].empty());
  // The collector's outputs and the rules' readers agree on what every Linux host has.
  for (const Json& check : info["hldata"]) {
    const std::string p = check["parameter"];
    if (p.starts_with("net.") || p.starts_with("vm.") || p.starts_with("fs.") ||
        p.starts_with("open-file")) {
      EXPECT_NE(check["status"], "not available") << check.dump();
    }
  }

  work.write("expected.json", info.dump());
  work.write("hostile.json", "[]");
  work.write("required.json",
             R"({"sections": ["sec-cpu", "sec-mem", "sec-net", "sec-io", "sec-synthesis",
                              "sec-sysparam", "sec-sysmsg", "sec-tune"], "chart": true})");
  const ProcessResult b = run_process(
      {ORVANE_TEST_NODE, ORVANE_TEST_DRIVER, reports[0].string(), work.dir() + "expected.json",
       work.dir() + "hostile.json", work.dir() + "required.json"},
      RunOptions{std::chrono::minutes(3)});
  if (b.status == 77) GTEST_SKIP() << b.out << b.err;
  EXPECT_EQ(b.status, 0) << b.out << b.err;
  const Json verdict = Json::parse(b.out.substr(b.out.rfind("\n{") + 1), nullptr, false);
  ASSERT_FALSE(verdict.is_discarded()) << b.out;
  EXPECT_EQ(verdict["problems"], Json::array()) << verdict.dump(2);
  EXPECT_GE(verdict["page"]["chartAreas"], 1);
}

TEST(CollectionRun, WithoutPerfTheTraceIsLeftOutInOneLine) {
  TempDir out, bin;
  const std::string path = testing::tool_path(bin.path(), {"perf"});
  const ProcessResult r =
      run_orvane({"collection", "--perf", "--pid", "-1", "--duration", "1", "-o", out.dir()},
                 {"ORVANE_SAMPLING=1,1", "PATH=" + path}, RunOptions{std::chrono::minutes(2)});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.err,
            "orvane: perf: not installed; the run goes on without the perf and off-CPU traces\n");
  EXPECT_TRUE(r.out.starts_with("采集报告输出路径: ")) << r.out;
  const auto reports = reports_in(out.path() / "orvaneData");
  ASSERT_EQ(reports.size(), 1u);
  const Json info = page_data(reports[0]);
  EXPECT_EQ(info["hotspot_info"], Json::array());
  EXPECT_EQ(info["hldata"], Json::array()) << "no analysis in a collection run";
  const Json result = result_beside(reports[0], "collection");
  for (const char* key : {"findings", "checks", "workloads"}) {
    EXPECT_FALSE(result.contains(key)) << key << ": no analysis in a collection run";
  }
}

struct FailedRun {
  std::string name;
  std::vector<std::string> args;  // the output directory follows
  std::string out_dir;            // relative to the test's directory
  std::vector<std::pair<std::string, std::string>> fakes;
  std::vector<std::string> env;  // more settings
  std::string message;           // on standard error
};

void PrintTo(const FailedRun& c, std::ostream* os) {
  *os << c.name;
}

class FailedRuns : public ::testing::TestWithParam<FailedRun> {};

TEST_P(FailedRuns, ClearMessageStatusOneAndNoReport) {
  const FailedRun& c = GetParam();
  TempDir dir, bin;
  dir.write("a-file", "x");
  const std::string out = c.out_dir.starts_with("/") ? c.out_dir : dir.dir() + c.out_dir;
  std::vector<std::string> args = c.args;
  args.insert(args.end(), {"-o", out});
  std::vector<std::string> env = {"ORVANE_SAMPLING=1,1", "ORVANE_COMMAND_TIMEOUT=1",
                                  "PATH=" + testing::tool_path(bin.path(), {}, c.fakes)};
  env.insert(env.end(), c.env.begin(), c.env.end());
  const ProcessResult r = run_orvane(args, env, RunOptions{std::chrono::minutes(1)});
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  EXPECT_TRUE(reports_in(fs::path(out) / "orvaneData").empty());
}

INSTANTIATE_TEST_SUITE_P(
    Programs, FailedRuns,
    ::testing::Values(
        FailedRun{"output_below_a_file",
                  {"analysis"},
                  "a-file/run",
                  {},
                  {},
                  "/a-file/run/orvaneData/ cannot be created: Not a directory\n"},
        FailedRun{
            "output_in_proc", {"collection"}, "/proc/orvane-test", {}, {}, "cannot be created: "},
        FailedRun{"hanging_command",
                  {"analysis"},
                  "run",
                  {{"lscpu", "exec sleep 30"}},
                  {},
                  "orvane: the command `lscpu` did not finish within 1 s and was stopped; the "
                  "analysis stops without a report\n"},
        FailedRun{"bad_sampling_setting",
                  {"collection"},
                  "run",
                  {},
                  {"ORVANE_SAMPLING=fast"},
                  "orvane: the collection failed: ORVANE_SAMPLING must be INTERVAL,COUNT"}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace orvane
