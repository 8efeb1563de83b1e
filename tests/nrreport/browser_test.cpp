// End to end: a report built with hostile host data, opened in headless Chromium.
#include <gtest/gtest.h>

#include <orvane/log.hpp>
#include <orvane/nr_report.hpp>
#include <orvane/process.hpp>

#include "support.hpp"

namespace orvane {
namespace {

const std::string G = "=========================nerith=========================";

TEST(ReportInBrowser, PageDataRendersAsTextWithoutNetworkOrErrors) {
  test::TempDir out, bin, work;
  test::ScopedConfig config(ORVANE_TEST_SHARE_DIR, out.path().string());
  const std::string host = "</script><script>alert(1)</script>";
  test::FakeTools tools(bin.path(), test::host_tools(host));
  LogCapture log;

  const std::vector<std::string> hostile = {
      host,
      "<img src=x onerror=alert(2)>",
      "</script><!--<script>alert(3)//",
      "<!-- ]]> --> & &amp; \xE2\x80\xA8 \xE2\x80\xA9 \\u003c",
      "\"><svg onload=alert(4)>",
  };
  const auto dir = out.path() / "orvaneData";
  test::write_bytes(dir / "systemMessage.txt", "Command: messages\nSubCommand: dmesg | tail\n" +
                                                   hostile[1] + "\n" + hostile[2] + "\n" + G);
  test::write_bytes(dir / "CPUInfo.txt",
                    "Command: " + hostile[4] + "\nSubCommand: lscpu\nline 1\n  line 2\n" + G);
  test::write_bytes(dir / "memInfo.txt", "Command: mem\nSubCommand: " + hostile[3] + "\nok\n" + G);

  Json sug = Json::array({Json{{"param", "vm.swappiness"}, {"advice", hostile[1]}}});
  NrReport().nr_build("ana", Json{{"start", "2025-12-07 09:00:00"}, {"stop", hostile[2]}}, sug,
                      Json::array({hostile[3]}), Json{{"note", hostile[4]}}, Json::array(),
                      Json::object());

  std::string report;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    if (e.path().extension() == ".html") report = e.path().string();
  }
  ASSERT_FALSE(report.empty());
  const Json info = test::info_of_report(test::read_bytes(report));
  ASSERT_EQ(info["base_info"]["hostname"], host);
  test::write_bytes(work.path() / "expected.json", info.dump());
  test::write_bytes(work.path() / "hostile.json", Json(hostile).dump());

  const ProcessResult r = run_process(
      {ORVANE_TEST_NODE, ORVANE_TEST_SOURCE_DIR "/report_in_browser.mjs", report,
       (work.path() / "expected.json").string(), (work.path() / "hostile.json").string()},
      RunOptions{std::chrono::minutes(3)});
  if (r.status == 77) GTEST_SKIP() << r.out << r.err;
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  const Json verdict = Json::parse(r.out.substr(r.out.rfind("\n{") + 1), nullptr, false);
  ASSERT_FALSE(verdict.is_discarded()) << r.out;
  EXPECT_EQ(verdict["problems"], Json::array()) << verdict.dump(2);
  EXPECT_EQ(verdict["consoleErrors"], Json::array());
  EXPECT_EQ(verdict["requests"], Json::array({"file://" + report}));
}

}  // namespace
}  // namespace orvane
