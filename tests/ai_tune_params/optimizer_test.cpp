// The optimiser's loop with real set scripts and benchmark commands: the candidate's value is
// written to the file "figure", which the benchmark prints.
#include <orvane/optimizer.hpp>

#include "tuning_test_dir.hpp"

namespace orvane {
namespace {

using OptimizerTest = testing::TuningDirTest;

std::string int_param(long long lo, long long hi) {
  return "  - name: x\n    type: int\n    range: [" + std::to_string(lo) + ", " +
         std::to_string(hi) + "]\n    get: cat figure\n    set: echo $value > figure\n";
}

std::string bench(const std::string& command, const std::string& extra = "") {
  return "  command: '" + command + "'\n  metric: '([0-9.]+)'\n" + extra;
}

struct Decision {
  const char* what;
  std::vector<double> baseline;
  long long candidate;
  const char* direction;
  bool effective;
};

void PrintTo(const Decision& c, std::ostream* os) {
  *os << c.what;
}

class OptimizerDecision : public testing::TuningDirTest,
                          public ::testing::WithParamInterface<Decision> {};

TEST_P(OptimizerDecision, BeatsTheBaselineByMoreThanTheNoise) {
  const Decision& d = GetParam();
  load(int_param(d.candidate, d.candidate), "",
       bench("cat figure", std::string("  direction: ") + d.direction + "\n"));
  const Json r = Optimizer(d.baseline, Cfg().get_optimizer_info()).run();
  EXPECT_EQ(r["effective"], d.effective) << r.dump();
  EXPECT_EQ(r["best"], static_cast<double>(d.candidate));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OptimizerDecision,
    ::testing::Values(Decision{"one_percent_is_not_enough", {100}, 101, "maximize", false},
                      Decision{"two_percent_is", {100}, 102, "maximize", true},
                      Decision{"within_baseline_spread", {90, 100, 110}, 115, "maximize", false},
                      Decision{"beyond_baseline_spread", {90, 100, 110}, 125, "maximize", true},
                      Decision{"lower_is_better", {100}, 97, "minimize", true},
                      Decision{"higher_is_worse", {100}, 105, "minimize", false}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(OptimizerTest, SingleFigureBaselineUsesTheSpreadOfItsOwnRepeats) {
  // Each evaluation measures the figure +0, +10 and -10: a spread of 20.
  load(int_param(115, 115), "",
       bench("n=$(cat n 2>/dev/null || echo 0); echo $((n + 1)) > n; "
             "case $((n % 3)) in 0) d=0;; 1) d=10;; *) d=-10;; esac; echo $(($(cat figure) + d))",
             "  repeat: 3\n"));
  const Json r = Optimizer({100}, Cfg().get_optimizer_info()).run();
  EXPECT_EQ(r["noise"], 20.0);
  EXPECT_EQ(r["effective"], false);
  EXPECT_EQ(r["improvement"], 15.0);
}

TEST_F(OptimizerTest, MeasuresEachConfigurationOnceAndReportsTheBest) {
  load(int_param(1, 5), "optimizer: {iterations: 10, seed: 5}\n", bench("cat figure"));
  ::testing::internal::CaptureStderr();
  const Json r = Optimizer({3}, Cfg().get_optimizer_info()).run();
  const std::string progress = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(r["evaluations"], 5);
  EXPECT_EQ(r["exhausted"], true);
  EXPECT_EQ(r["param"].dump(), R"({"x":5})");
  EXPECT_EQ(r["baseline"], 3.0);
  std::set<long long> tried;
  for (const Json& h : r["history"]) {
    EXPECT_TRUE(tried.insert(h["param"]["x"].get<long long>()).second) << r.dump();
    EXPECT_EQ(h["figure"], static_cast<double>(h["param"]["x"].get<long long>()));
  }
  EXPECT_EQ(tried.size(), 5u);
  EXPECT_NE(progress.find("[5/10] {'x': "), std::string::npos) << progress;
  EXPECT_NE(progress.find("(best so far 5)"), std::string::npos) << progress;
}

TEST_F(OptimizerTest, FailedMeasurementsAreLeftOutAndAllFailedGivesNothing) {
  load(int_param(1, 4), "optimizer: {iterations: 3}\n",
       bench("echo tried >> calls; echo no figure here"));
  ::testing::internal::CaptureStderr();
  const Json r = Optimizer({3}, Cfg().get_optimizer_info()).run();
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("-> no figure"), std::string::npos);
  EXPECT_TRUE(r.empty()) << r.dump();
  EXPECT_EQ(read("calls"), "tried\ntried\ntried\n");
}

TEST_F(OptimizerTest, KnownConfigurationsAreToldNotMeasured) {
  load(int_param(1, 3), "optimizer: {iterations: 5}\n", bench("echo m >> calls; cat figure"));
  const Json r = Optimizer({1}, Cfg().get_optimizer_info(), Json::array({{{"x", "3"}}, {{"x", 2}}}),
                           Json::array({50, 2}))
                     .run();
  EXPECT_EQ(r["param"].dump(), R"({"x":3})");
  EXPECT_EQ(r["best"], 50.0);
  EXPECT_EQ(read("calls"), "m\n");  // only x=1 was left to measure
}

}  // namespace
}  // namespace orvane
