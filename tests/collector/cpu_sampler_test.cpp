// The /proc/stat sampling, read back by the report's reader of mpstat's layout.
#include <gtest/gtest.h>

#include <orvane/collected/figures.hpp>

#include "cpu_sampler.hpp"

namespace orvane::collect {
namespace {

TEST(ProcStat, ReadsTheCpuLinesWithMissingTrailingFields) {
  const auto t = parse_proc_stat(
      "cpu  10 1 5 100 2 0 1 3 4 0\ncpu0 5 0 2 50\ncpu1 5 1 3 50 2 0 1 3 4 0\n"
      "intr 1 2 3\nctxt 99\n");
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(t[0].cpu, "all");
  EXPECT_EQ(t[0].ticks[7], 3u);
  EXPECT_EQ(t[1].cpu, "0");
  EXPECT_EQ(t[1].ticks[3], 50u);
  EXPECT_EQ(t[1].ticks[9], 0u);
  EXPECT_EQ(t[2].cpu, "1");
}

// Two samples of a two-CPU machine whose shares are known: the report must read back exactly
// those shares, per sample and as averages.
TEST(SampleUtilisation, ReportsTheSharesInMpstatLayout) {
  const std::vector<std::string> readings = {
      // user nice system idle iowait irq softirq steal guest guest_nice
      "cpu  0 0 0 0 0 0 0 0 0 0\ncpu0 0 0 0 0 0 0 0 0 0 0\ncpu1 0 0 0 0 0 0 0 0 0 0\n",
      // +100 ticks each: cpu0 60 user (20 of them guest) 20 sys 20 idle; cpu1 10 iowait 90 idle
      "cpu  60 0 20 110 10 0 0 0 20 0\ncpu0 60 0 20 20 0 0 0 0 20 0\n"
      "cpu1 0 0 0 90 10 0 0 0 0 0\n",
      // +100 ticks each: cpu0 50 steal 50 idle; cpu1 30 nice 10 irq 10 softirq 50 idle
      "cpu  60 30 20 210 10 10 10 50 20 0\ncpu0 60 0 20 70 0 0 0 50 20 0\n"
      "cpu1 0 30 0 140 10 10 10 0 0 0\n",
  };
  size_t next = 0;
  int waited = 0;
  const std::string text = sample_utilisation(
      2, 2, [&] { return readings.at(next++); }, [&](int s) { waited += s; },
      [] { return std::string("12:00:00"); });
  EXPECT_EQ(waited, 4);
  EXPECT_EQ(next, 3u);

  const collected::CpuUtilisation u = collected::cpu_utilisation(text);
  ASSERT_EQ(u.series.size(), 2u);
  EXPECT_EQ(u.series[0].time, "12:00:00");
  EXPECT_DOUBLE_EQ(u.series[0].load.user, 30.0);  // 60 user ticks of 200, guest counted in
  EXPECT_DOUBLE_EQ(u.series[0].load.system, 10.0);
  EXPECT_DOUBLE_EQ(u.series[0].load.iowait, 5.0);
  EXPECT_DOUBLE_EQ(u.series[0].load.idle, 55.0);
  EXPECT_DOUBLE_EQ(u.series[1].load.steal, 25.0);
  // Nice, irq and softirq stay apart from user and system time.
  EXPECT_DOUBLE_EQ(u.series[1].load.user, 0.0);
  EXPECT_DOUBLE_EQ(u.series[1].load.nice, 15.0);
  EXPECT_DOUBLE_EQ(u.series[1].load.system, 0.0);
  EXPECT_DOUBLE_EQ(u.series[1].load.irq, 5.0);
  EXPECT_DOUBLE_EQ(u.series[1].load.softirq, 5.0);

  ASSERT_EQ(u.average.size(), 3u);
  EXPECT_EQ(u.average[0].cpu, "all");
  EXPECT_DOUBLE_EQ(u.average[0].idle, 52.5);
  EXPECT_EQ(u.average[1].cpu, "0");
  EXPECT_DOUBLE_EQ(u.average[1].user, 30.0);
  EXPECT_DOUBLE_EQ(u.average[1].steal, 25.0);
  EXPECT_EQ(u.average[2].cpu, "1");
  EXPECT_DOUBLE_EQ(u.average[2].iowait, 5.0);
  EXPECT_DOUBLE_EQ(u.average[2].idle, 70.0);
}

}  // namespace
}  // namespace orvane::collect
