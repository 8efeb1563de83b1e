#include <orvane/command.hpp>

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

namespace orvane {
namespace {

const std::string self = std::to_string(::getpid());

struct PidCase {
  std::string text;
  bool expected;
};

void PrintTo(const PidCase& c, std::ostream* os) {
  *os << "'" << c.text << "'";
}

class PidListTest : public ::testing::TestWithParam<PidCase> {};

TEST_P(PidListTest, AcceptsMinusOneOrExistingProcesses) {
  EXPECT_EQ(Command::check_pid_list(GetParam().text, false), GetParam().expected)
      << "'" << GetParam().text << "'";
}

INSTANTIATE_TEST_SUITE_P(
    Forms, PidListTest,
    ::testing::Values(PidCase{"-1", true}, PidCase{self, true}, PidCase{"1", true},
                      PidCase{"1," + self, true}, PidCase{self + "," + self, true},
                      PidCase{"", false}, PidCase{"abc", false}, PidCase{"-2", false},
                      PidCase{"0", false}, PidCase{"+1", false}, PidCase{" 1", false},
                      PidCase{"1 ", false}, PidCase{"1,", false}, PidCase{",1", false},
                      PidCase{"1,,2", false}, PidCase{"1,-1", false}, PidCase{"4194305", false},
                      PidCase{"99999999999999999999", false}, PidCase{"1;true", false}));

TEST(CheckPidExist, ExistingMissingAndNonPositive) {
  EXPECT_TRUE(Command::check_pid_exist(::getpid(), false));
  EXPECT_TRUE(Command::check_pid_exist(1, false));  // may be EPERM when not root: still exists
  EXPECT_FALSE(Command::check_pid_exist(4194305, false));
  EXPECT_FALSE(Command::check_pid_exist(0, false));
  EXPECT_FALSE(Command::check_pid_exist(-1, false));
}

TEST(CmdExecWithLimit, ReturnsTheOutputOrNamesTheCommandThatHung) {
  EXPECT_EQ(Command::cmd_exec("printf 'a\\nb\\n'", std::chrono::seconds(5)), "a\nb");
  try {
    Command::cmd_exec("sleep 5", std::chrono::milliseconds(200));
    FAIL() << "no timeout";
  } catch (const CommandTimeout& e) {
    EXPECT_EQ(e.cmdline(), "sleep 5");
    EXPECT_STREQ(e.what(), "the command `sleep 5` did not finish within 0.2 s and was stopped");
  }
}

}  // namespace
}  // namespace orvane
