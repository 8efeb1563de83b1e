#include <orvane/config.hpp>
#include <orvane/log.hpp>
#include <orvane/util.hpp>

#include <gtest/gtest.h>

#include "../support/temp_dir.hpp"

namespace orvane {
namespace {

TEST(LogCapture, RecordsEveryLevelWithTheMessageUnchanged) {
  LogCapture log;
  Logger().debug("oriparams:{'a': '1'}");
  Logger().info("\n本次调优最佳参数组合: {}");
  Logger().warning("Report file not found: x.txt");
  Logger().error(" time error");
  EXPECT_EQ(log.text(),
            "debug|oriparams:{'a': '1'}\n"
            "info|\n本次调优最佳参数组合: {}\n"
            "warning|Report file not found: x.txt\n"
            "error| time error\n");
}

TEST(LogCapture, InnermostCaptureWins) {
  LogCapture outer;
  {
    LogCapture inner;
    Logger().info("inner");
    EXPECT_EQ(inner.text(), "info|inner\n");
  }
  Logger().info("outer");
  EXPECT_EQ(outer.text(), "info|outer\n");
}

// The file log is process-wide, so this is the only test that lets it open.
TEST(LogFile, CreatedUnderTheOutputDirectoryOnFirstUse) {
  testing::TempDir dir;
  Config::set_out_path(dir.dir() + "out");
  Logger().info("采集报告输出路径: /x");
  Logger().debug("two\nlines");
  const std::string text = read_file(dir.path() / "out/orvaneData/orvane.log");
  EXPECT_NE(text.find("[info] 采集报告输出路径: /x\n"), std::string::npos) << text;
  EXPECT_NE(text.find("[debug] two\nlines\n"), std::string::npos) << text;

  // A new output directory takes the rest of the log.
  Config::set_out_path(dir.dir() + "other");
  Logger().warning("moved");
  EXPECT_NE(read_file(dir.path() / "other/orvaneData/orvane.log").find("[warning] moved\n"),
            std::string::npos);
  EXPECT_EQ(read_file(dir.path() / "out/orvaneData/orvane.log"), text);
  Config::set_out_path("");
}

}  // namespace
}  // namespace orvane
