#include <orvane/log.hpp>
#include <orvane/phaseclock.hpp>

#include <gtest/gtest.h>

#include <type_traits>

namespace orvane {
namespace {

static_assert(!std::is_copy_constructible_v<Timer> && !std::is_copy_assignable_v<Timer>,
              "one timer per process");

Timer& timer() {
  return DecoratorWrap::singleton<Timer>();
}

// The clock reading of the first stamp ever, making one at 1000 s when there is none yet.
double first_stamp() {
  Timer& t = timer();
  if (t.p_time.empty()) {
    t.set_clock([] { return 1000.0; });
    t.tick("start");
  }
  return t.p_time.front().t;
}

// What total_runtime prints and returns `elapsed` seconds after the first stamp.
std::pair<std::string, std::optional<long long>> total_after(double elapsed) {
  const double base = first_stamp();
  timer().set_clock([=] { return base + elapsed; });
  ::testing::internal::CaptureStdout();
  auto total = timer().total_runtime("end");
  return {::testing::internal::GetCapturedStdout(), total};
}

TEST(Timer, FreshTimerReportsTimeErrorAndKeepsTheStamp) {
  Timer& t = timer();
  if (!t.p_time.empty()) GTEST_SKIP() << "the process timer already has stamps";
  LogCapture log;
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(t.total_runtime("only"), std::nullopt);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(log.text(), "error| time error\n");
  ASSERT_EQ(t.p_time.size(), 1u);
  EXPECT_EQ(t.p_time[0].desc, "only");
}

TEST(Timer, TotalRuntimeFormatsAndRoundsHalvesToEven) {
  struct Case {
    double elapsed;
    const char* printed;
    long long total;
  };
  const Case cases[] = {
      {0, "0 s", 0},
      {59, "59 s", 59},
      {60, "1 min 0 s", 60},
      {125, "2 min 5 s", 125},
      {3600, "1 h 0 min 0 s", 3600},
      {3725.4, "1 h 2 min 5 s", 3725},
      {86399, "23 h 59 min 59 s", 86399},
      {90000, "25 h 0 min 0 s", 90000},
      {2.5, "2 s", 2},
      {3.5, "4 s", 4},
      {59.5, "1 min 0 s", 60},
      {2.5000001, "3 s", 3},
  };
  for (const auto& c : cases) {
    auto [out, total] = total_after(c.elapsed);
    EXPECT_EQ(out, std::string("total runtime: ") + c.printed + " \n\n") << c.elapsed;
    EXPECT_EQ(total, c.total) << c.elapsed;
  }
}

TEST(Timer, EveryTotalMeasuresFromTheFirstStamp) {
  const auto first = total_after(10).second;
  const size_t stamps = timer().p_time.size();
  const auto second = total_after(20).second;
  EXPECT_EQ(first, 10);
  EXPECT_EQ(second, 20);
  EXPECT_EQ(timer().p_time.size(), stamps + 1);
  EXPECT_EQ(timer().p_time.back().desc, "end");
}

TEST(Timer, BenchmarkTimeRoundsToOneDecimal) {
  const std::pair<double, double> cases[] = {
      {12.34, 12.3}, {7.98, 8.0}, {0.25, 0.2}, {0.35, 0.3}, {0.45, 0.5}, {3.0, 3.0}, {-1.26, -1.3},
  };
  for (const auto& [in, stored] : cases) {
    timer().set_benchmark_time(in);
    EXPECT_EQ(timer().benchmark_time, stored) << in;
  }
}

TEST(Timer, SameInstanceOnEveryRequestWithItsValues) {
  timer().set_benchmark_time(4.44);
  timer().tick(std::nullopt);
  Timer& again = DecoratorWrap::singleton<Timer>();
  EXPECT_EQ(&again, &timer());
  EXPECT_EQ(again.max_runtime, 100);
  EXPECT_EQ(again.benchmark_time, 4.4);
  EXPECT_EQ(again.p_time.back().desc, std::nullopt);
}

TEST(Timer, TickListOnOneLine) {
  Timer& t = timer();
  const auto saved = t.p_time;
  t.p_time = {{"start", 1234.5}, {"end", 1240.25},      {std::nullopt, 3.0},
              {"it's", 1e16},    {"two\nlines\r", 1.0}, {"tab\tesc\x1b\\", 2.0}};
  ::testing::internal::CaptureStdout();
  t.get_tick_list();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "[['start', 1234.5], ['end', 1240.25], [None, 3.0], [\"it's\", 1e+16], "
            "['two\\nlines\\r', 1.0], ['tab\\tesc\\x1b\\\\', 2.0]]\n");
  t.p_time.clear();
  ::testing::internal::CaptureStdout();
  t.get_tick_list();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "[]\n");
  t.p_time = saved;
}

}  // namespace
}  // namespace orvane
