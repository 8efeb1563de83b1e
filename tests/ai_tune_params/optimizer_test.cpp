// The optimiser's loop with real set scripts and benchmark commands: the candidate's value is
// written to the file "figure" (and logged in "calls"), which the benchmark prints. The value in
// "figure" when the run starts is the original configuration.
#include <orvane/optimizer.hpp>

#include "tuning_test_dir.hpp"

namespace orvane {
namespace {

using OptimizerTest = testing::TuningDirTest;

std::string int_param(long long lo, long long hi) {
  return "  - name: x\n    type: int\n    range: [" + std::to_string(lo) + ", " +
         std::to_string(hi) +
         "]\n    get: cat figure\n    set: echo $value >> calls; echo $value > figure\n";
}

std::string bench(const std::string& command, const std::string& extra = "") {
  return "  command: '" + command + "'\n  metric: '([0-9.]+)'\n" + extra;
}

// Prints the figure plus the offset on the line of "offsets" numbered by the call, or fails when
// that line reads "fail".
const char* kOffsetBench =
    "n=$(( $(cat n 2>/dev/null || echo 0) + 1 )); echo $n > n; o=$(sed -n \"${n}p\" offsets); "
    "[ \"$o\" != fail ] && echo $(( $(cat figure) + ${o:-0} ))";

struct Confirmation {
  const char* what;
  long long candidate;  // the only configuration of the space
  const char* direction;
  // Offsets per benchmark call: the search's measurement, then chosen and original per round.
  std::string offsets;
  bool effective;
  double median, min, max;  // percent
};

void PrintTo(const Confirmation& c, std::ostream* os) {
  *os << c.what;
}

class OptimizerConfirmation : public testing::TuningDirTest,
                              public ::testing::WithParamInterface<Confirmation> {};

// The original is 100; three rounds after one search evaluation.
TEST_P(OptimizerConfirmation, DecidesOnThePairedImprovement) {
  const Confirmation& c = GetParam();
  write("figure", "100\n");
  write("offsets", c.offsets);
  load(int_param(c.candidate, c.candidate), "optimizer: {iterations: 7}\n",
       bench(kOffsetBench, std::string("  direction: ") + c.direction + "\n"));
  ::testing::internal::CaptureStderr();
  const Json r = Optimizer({100}, Cfg().get_optimizer_info()).run();
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(r["effective"], c.effective) << r.dump();
  for (const auto& [key, expected] :
       {std::pair{"improvement", c.median}, std::pair{"improvement_min", c.min},
        std::pair{"improvement_max", c.max}}) {
    ASSERT_TRUE(r[key].is_number()) << key << " " << r.dump();
    EXPECT_NEAR(r[key].get<double>(), expected, 1e-9) << key;
  }
  EXPECT_EQ(r["best"], static_cast<double>(c.candidate));
  EXPECT_EQ(r["baseline"], 100.0);
  EXPECT_EQ(r["evaluations"], 7);
  EXPECT_EQ(r["confirmation"]["evaluations"], 6);
  EXPECT_EQ(r["confirmation"]["pairs"].size(), 3u);
  // Chosen and original alternate, each applied through the set script; the original last.
  const std::string x = std::to_string(c.candidate);
  EXPECT_EQ(read("calls"), x + "\n" + x + "\n100\n" + x + "\n100\n" + x + "\n100\n");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OptimizerConfirmation,
    ::testing::Values(
        Confirmation{"steady_gain", 110, "maximize", "", true, 10.0, 10.0, 10.0},
        Confirmation{"one_percent_is_not_enough", 101, "maximize", "", false, 1.0, 1.0, 1.0},
        // Rounds of +10%, -5% and +20%: a median of 10 within a spread of 25.
        Confirmation{"spread_larger_than_gain", 110, "maximize", "0\n0\n0\n-15\n0\n10\n0\n", false,
                     10.0, -5.0, 20.0},
        // Rounds of +10%, +6% and +12%: a median of 10 beyond a spread of 6.
        Confirmation{"spread_smaller_than_gain", 110, "maximize", "0\n0\n0\n-4\n0\n2\n0\n", true,
                     10.0, 6.0, 12.0},
        // Both drift down by a tenth per round: the pairs still compare like with like.
        Confirmation{"drift_hits_both", 110, "maximize", "0\n0\n0\n-11\n-10\n-22\n-20\n", true,
                     10.0, 10.0, 10.0},
        Confirmation{"lower_is_better", 90, "minimize", "", true, 10.0, 10.0, 10.0},
        Confirmation{"higher_is_worse", 110, "minimize", "", false, -10.0, -10.0, -10.0},
        Confirmation{"chosen_fails_a_round", 110, "maximize", "0\n0\n0\nfail\n0\n0\n0\n", false,
                     10.0, 10.0, 10.0}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(OptimizerTest, TheOriginalChosenIsNotConfirmedAndNotEffective) {
  write("figure", "3\n");
  load(int_param(1, 3), "optimizer: {iterations: 8}\n", bench("cat figure"));
  ::testing::internal::CaptureStderr();
  const Json r = Optimizer({3}, Cfg().get_optimizer_info()).run();
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(r["effective"], false) << r.dump();
  EXPECT_EQ(r["param"].dump(), R"({"x":"3"})");
  EXPECT_EQ(r["best"], 3.0);
  EXPECT_EQ(r["improvement"], nullptr);
  EXPECT_EQ(r["confirmation"]["evaluations"], 0);
  EXPECT_EQ(r["confirmation"]["skipped"], "the chosen configuration is the original one");
  // The original is known from the baseline: the search measures only the two others.
  EXPECT_EQ(r["search_evaluations"], 2);
  EXPECT_EQ(r["exhausted"], false);
  const std::string calls = read("calls");
  EXPECT_TRUE(calls == "1\n2\n" || calls == "2\n1\n") << calls;
}

// An original between two grid points is not taken for either of them.
TEST_F(OptimizerTest, AnOriginalOffTheGridIsNotAPointOfTheSpace) {
  write("figure", "5\n");
  load(
      "  - name: x\n    type: int\n    range: [2, 6]\n    step: 2\n    get: cat figure\n"
      "    set: echo $value >> calls; echo $value > figure\n",
      "optimizer: {iterations: 9}\n", bench("cat figure"));
  ::testing::internal::CaptureStderr();
  const Json r = Optimizer({5}, Cfg().get_optimizer_info()).run();
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(r["search_evaluations"], 3);
  EXPECT_EQ(r["param"].dump(), R"({"x":6})");
  EXPECT_EQ(r["effective"], true) << r.dump();
  EXPECT_NEAR(r["improvement"].get<double>(), 20.0, 1e-9);
}

TEST_F(OptimizerTest, MeasuresEachConfigurationOnceAndConfirmsTheBest) {
  write("figure", "3\n");
  load(int_param(1, 5), "optimizer: {iterations: 11, seed: 5}\n", bench("cat figure"));
  ::testing::internal::CaptureStderr();
  const Json r = Optimizer({3}, Cfg().get_optimizer_info()).run();
  const std::string progress = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(r["iterations"], 11);
  EXPECT_EQ(r["search_evaluations"], 4);
  EXPECT_EQ(r["evaluations"], 10);
  EXPECT_EQ(r["exhausted"], true);
  EXPECT_EQ(r["param"].dump(), R"({"x":5})");
  EXPECT_EQ(r["effective"], true);
  EXPECT_NEAR(r["improvement"].get<double>(), 200.0 / 3, 1e-9);
  std::set<long long> tried;
  for (const Json& h : r["history"]) {
    EXPECT_TRUE(tried.insert(h["param"]["x"].get<long long>()).second) << r.dump();
    EXPECT_EQ(h["figure"], static_cast<double>(h["param"]["x"].get<long long>()));
  }
  EXPECT_EQ(tried, (std::set<long long>{1, 2, 4, 5}));
  EXPECT_NE(progress.find("[4/11] {'x': "), std::string::npos) << progress;
  EXPECT_NE(progress.find("(best so far 5)"), std::string::npos) << progress;
  EXPECT_NE(progress.find("[10/11] confirm 3/3 original {'x': '3'} -> 3 (+66.67%)"),
            std::string::npos)
      << progress;
}

TEST_F(OptimizerTest, FailedMeasurementsAreLeftOutAndAllFailedGivesNothing) {
  write("figure", "3\n");
  load(int_param(1, 4), "optimizer: {iterations: 5, confirm_rounds: 1}\n",
       bench("echo tried >> tries; echo no figure here"));
  ::testing::internal::CaptureStderr();
  const Json r = Optimizer({3}, Cfg().get_optimizer_info()).run();
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("-> no figure"), std::string::npos);
  EXPECT_TRUE(r.empty()) << r.dump();
  EXPECT_EQ(read("tries"), "tried\ntried\ntried\n");
}

TEST_F(OptimizerTest, KnownConfigurationsAreToldNotMeasured) {
  write("figure", "7\n");  // an original outside the space
  load(int_param(1, 3), "optimizer: {iterations: 3, confirm_rounds: 1}\n",
       bench("echo m >> tries; cat figure"));
  ::testing::internal::CaptureStderr();
  const Json r = Optimizer({1}, Cfg().get_optimizer_info(), Json::array({{{"x", "3"}}, {{"x", 2}}}),
                           Json::array({50, 2}))
                     .run();
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(r["param"].dump(), R"({"x":3})");
  EXPECT_EQ(r["best"], 50.0);
  EXPECT_EQ(r["history"].size(), 3u);
  EXPECT_EQ(r["search_evaluations"], 1);  // only x=1 was left to measure
  EXPECT_EQ(read("calls"), "1\n3\n7\n");  // then the confirmation's pair
  EXPECT_EQ(r["effective"], false);       // 3 measures less than the original 7
}

TEST_F(OptimizerTest, ABudgetWithoutRoomForTheSearchIsRefused) {
  write("figure", "3\n");
  load(int_param(1, 4), "", bench("cat figure"));
  Json settings = Cfg().get_optimizer_info();
  settings["iterations"] = 6;  // the default three rounds take all six
  EXPECT_THROW(Optimizer({3}, settings).run(), std::invalid_argument);
  EXPECT_FALSE(exists("calls"));
}

}  // namespace
}  // namespace orvane
