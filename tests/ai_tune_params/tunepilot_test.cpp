// One tuning run end to end inside the process: backup, baseline, optimiser, outcome, and the
// values read before tuning written back on every way out.
#include <orvane/tunepilot.hpp>

#include <csignal>

#include <orvane/decorator_wrap.hpp>
#include <orvane/log.hpp>
#include <orvane/optimizer.hpp>
#include <orvane/phaseclock.hpp>
#include <orvane/tuning_stop.hpp>

#include "tuning_test_dir.hpp"

namespace orvane {
namespace {

class TunePilotTest : public testing::TuningDirTest {
 protected:
  // One parameter x kept in the file "conf" (5 to start with); every set script run is recorded
  // in "calls". The benchmark prints `figure` (default: the value of x).
  void project(const std::string& range, const std::string& figure = "cat conf",
               const std::string& get = "cat conf") {
    write("conf", "5\n");
    write("tune.yaml",
          "project: p\nbenchmark:\n  command: 'echo b >> bench_calls; " + figure +
              "'\n  metric: '([0-9.]+)'\noptimizer: {iterations: 6, confirm_rounds: 1}\nparams:\n"
              "  - name: x\n    type: int\n    range: " +
              range + "\n    get: '" + get +
              "'\n    set: 'echo $value >> calls; echo $value > conf'\n");
    pilot_.init("tune.yaml");
  }

  TunePilot pilot_;
  LogCapture log_;
};

TEST_F(TunePilotTest, NothingReadStopsBeforeTheBenchmark) {
  project("[6, 9]", "cat conf", "echo broken >&2");
  EXPECT_FALSE(pilot_.run());
  EXPECT_EQ(log_.text(), "error|run script failed: broken\ndebug|oriparams:{}\n");
  EXPECT_FALSE(exists("bench_calls"));
  EXPECT_FALSE(exists("bak_p.ini"));
}

TEST_F(TunePilotTest, EmptyBaselineStopsBeforeTheOptimiser) {
  project("[6, 9]", "exit 1");
  Timer& timer = DecoratorWrap::singleton<Timer>();
  timer.benchmark_time = -1;
  EXPECT_FALSE(pilot_.run());
  EXPECT_GE(timer.benchmark_time, 0.0);
  EXPECT_FALSE(exists("calls"));
  EXPECT_EQ(pilot_.get_oriparams().dump(), R"({"x":"5"})");
}

TEST_F(TunePilotTest, EffectiveRunLogsTheBestAndWritesTheOriginalBack) {
  project("[6, 9]");
  ASSERT_TRUE(pilot_.run());
  const Json r = pilot_.get_opt_params_value();
  EXPECT_EQ(r["effective"], true);
  EXPECT_EQ(r["param"].dump(), R"({"x":9})");
  EXPECT_NE(log_.text().find("info|\n本次调优最佳参数组合: {'x': 9}\n"), std::string::npos)
      << log_.text();
  EXPECT_EQ(read("conf"), "5\n");
  EXPECT_EQ(read("calls").substr(read("calls").size() - 2), "5\n");
}

TEST_F(TunePilotTest, IneffectiveRunLogsTheOriginalValues) {
  project("[6, 9]", "echo 100");
  ASSERT_TRUE(pilot_.run());
  EXPECT_EQ(pilot_.get_opt_params_value()["effective"], false);
  EXPECT_NE(log_.text().find("info|\n本次调优未找到更优配置,保持初始配置: {'x': '5'}\n"),
            std::string::npos)
      << log_.text();
  EXPECT_EQ(read("conf"), "5\n");
}

TEST_F(TunePilotTest, ARunThatStopsEarlyKeepsThePreviousResult) {
  project("[6, 9]");
  ASSERT_TRUE(pilot_.run());
  const Json first = pilot_.get_opt_params_value();
  project("[6, 9]", "cat conf", "echo gone >&2");
  EXPECT_FALSE(pilot_.run());
  EXPECT_EQ(pilot_.get_opt_params_value(), first);
  EXPECT_TRUE(pilot_.get_oriparams().empty());
}

// A strategy that fails once a candidate has been applied.
class FailingStrategy : public tuning::Strategy {
 public:
  std::optional<tuning::Point> ask() override {
    if (asked_++) throw std::runtime_error("model broke");
    return tuning::Point{7};
  }
  void tell(const tuning::Point&, double) override {}
  tuning::Point recommend() const override { return {7}; }

 private:
  int asked_ = 0;
};

TEST_F(TunePilotTest, AFailingOptimiserStillWritesTheOriginalBack) {
  auto previous = tuning::register_strategy("bayes", [](const tuning::SearchSpace&, const Json&) {
    return std::make_unique<FailingStrategy>();
  });
  project("[6, 9]");
  EXPECT_THROW(pilot_.run(), std::runtime_error);
  tuning::register_strategy("bayes", previous);
  EXPECT_EQ(read("calls"), "7\n5\n");
  EXPECT_EQ(read("conf"), "5\n");
  EXPECT_NE(log_.text().find("error|the tuning run failed (model broke)"), std::string::npos);
}

struct StopCase {
  const char* what;
  int signo;
};

void PrintTo(const StopCase& c, std::ostream* os) {
  *os << c.what;
}

class TunePilotStop : public TunePilotTest, public ::testing::WithParamInterface<StopCase> {};

// The benchmark of the first trial signals this process, as Ctrl-C or a kill would.
TEST_P(TunePilotStop, StopsTryingAndWritesTheOriginalBack) {
  const int signo = GetParam().signo;
  project("[6, 9]", "if [ $(cat conf) != 5 ]; then kill -" + std::to_string(signo) +
                        " $PPID; sleep 5; fi; cat conf");
  try {
    pilot_.run();
    FAIL() << "not interrupted";
  } catch (const tuning::Interrupted& e) {
    EXPECT_EQ(e.signal(), signo);
  }
  EXPECT_EQ(read("conf"), "5\n");
  EXPECT_EQ(read("calls").size(), 4u);  // one trial value, then the original
  EXPECT_NE(log_.text().find("the values read before tuning were written back"), std::string::npos);
  // The run's handlers are gone again.
  struct sigaction now;
  ::sigaction(signo, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_DFL);
}

INSTANTIATE_TEST_SUITE_P(Signals, TunePilotStop,
                         ::testing::Values(StopCase{"sigint", SIGINT},
                                           StopCase{"sigterm", SIGTERM}),
                         [](const auto& info) { return std::string(info.param.what); });

}  // namespace
}  // namespace orvane
