#include <orvane/command.hpp>
#include <orvane/log.hpp>
#include <orvane/process.hpp>

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <fstream>
#include <system_error>
#include <thread>

#include <orvane/util.hpp>

#include "../support/temp_dir.hpp"

namespace orvane {
namespace {

struct ExecCase {
  const char* name;
  const char* cmdline;
  const char* expected;
};

void PrintTo(const ExecCase& c, std::ostream* os) {
  *os << c.name;
}

class CmdExecTest : public ::testing::TestWithParam<ExecCase> {};

TEST_P(CmdExecTest, ReturnsStandardOutputWithOneFinalLineEndRemoved) {
  LogCapture log;
  EXPECT_EQ(Command::cmd_exec(GetParam().cmdline), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, CmdExecTest,
    ::testing::Values(ExecCase{"plain", "echo hello", "hello"},
                      ExecCase{"only_one_line_end_removed", "printf 'a\\n\\n'", "a\n"},
                      ExecCase{"no_line_end", "printf abc", "abc"}, ExecCase{"nothing", "true", ""},
                      ExecCase{"failing_command_output_kept", "echo out; exit 3", "out"},
                      ExecCase{"pipes_and_quotes", "printf 'x y\\n' | awk '{print $2}'", "y"},
                      ExecCase{"environment_assignment",
                               "export LANG=\"en_US.UTF-8\" && echo $LANG", "en_US.UTF-8"},
                      ExecCase{"stderr_redirected", "echo err >&2 2>&1; echo out", "out"},
                      ExecCase{"utf8", "printf '\\344\\270\\255'", "\xe4\xb8\xad"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CmdExec, StandardErrorGoesToTheDebugLog) {
  LogCapture log;
  EXPECT_EQ(Command::cmd_exec("echo visible; echo hidden >&2"), "visible");
  EXPECT_NE(log.text().find("debug|"), std::string::npos);
  EXPECT_NE(log.text().find("hidden"), std::string::npos);
}

TEST(RunProcess, LargeOutputsOnBothStreamsDoNotDeadlock) {
  // 10 MB on each stream, interleaved: reading one pipe to its end first would block forever.
  auto r = run_shell("head -c 10485760 /dev/zero; head -c 10485760 /dev/zero >&2; echo done");
  EXPECT_EQ(r.out.size(), 10485760u + 5);
  EXPECT_EQ(r.err.size(), 10485760u);
  EXPECT_EQ(r.status, 0);
}

TEST(RunProcess, ReportsExitStatusAndSignal) {
  EXPECT_EQ(run_shell("exit 7").status, 7);
  EXPECT_EQ(run_shell("kill -KILL $$").status, 128 + 9);
}

TEST(RunProcess, ChildSeesOnlyTheStandardDescriptors) {
  // ls opens the directory itself as one more descriptor; anything beyond 0-3 is inherited.
  auto r = run_shell("ls /proc/self/fd | tr '\\n' ' '");
  EXPECT_EQ(r.out, "0 1 2 3 ");
}

TEST(RunProcess, BackgroundGrandchildHoldingThePipesDoesNotHoldTheCallUp) {
  const auto start = std::chrono::steady_clock::now();
  auto r = run_shell("sleep 5 & echo started");
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(r.out, "started\n");
  EXPECT_LT(took, std::chrono::seconds(4));
}

TEST(RunProcess, TimeoutKillsTheChild) {
  RunOptions opts;
  opts.timeout = std::chrono::milliseconds(200);
  auto r = run_shell("exec sleep 30", opts);
  EXPECT_TRUE(r.timed_out);
  EXPECT_EQ(r.status, 128 + 15);
}

// Running, and not a zombie waiting to be reaped.
bool alive(pid_t pid) {
  if (::kill(pid, 0) != 0) return false;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  const size_t paren = line.rfind(')');
  return paren == std::string::npos || line.substr(paren + 2, 1) != "Z";
}

TEST(RunProcess, TimeoutOfAnOwnGroupKillsWhatTheChildStarted) {
  orvane::testing::TempDir dir;
  const std::string pid_file = (dir.path() / "pid").string();
  RunOptions opts;
  opts.timeout = std::chrono::milliseconds(200);
  opts.own_group = true;
  // The shell waits for a grandchild that ignores SIGTERM.
  auto r =
      run_shell("sh -c 'trap \"\" TERM; echo $$ > " + pid_file + "; exec sleep 30'; true", opts);
  EXPECT_TRUE(r.timed_out);
  const pid_t grandchild = std::stoi(read_file(pid_file));
  // SIGKILL takes a moment to land.
  for (int i = 0; i < 200 && alive(grandchild); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_FALSE(alive(grandchild)) << "the grandchild outlived the timeout";
}

TEST(RunProcess, ProgramThatCannotBeStartedRaises) {
  EXPECT_THROW(run_process({"/nonexistent/program"}), std::system_error);
  EXPECT_THROW(run_process({}), std::invalid_argument);
}

TEST(RunProcess, StandardInputIsEmpty) {
  EXPECT_EQ(run_shell("cat").out, "");
}

}  // namespace
}  // namespace orvane

namespace orvane {
namespace {

TEST(CmdExec, CatOfAFileGivesWhatTheShellGives) {
  LogCapture log;
  for (const char* cmd : {"cat /proc/version", "cat /etc/hostname", "cat /nonexistent/file",
                          "cat /proc/version | head -c 5", "cat -A /proc/version"}) {
    std::string shell = run_shell(cmd).out;
    if (!shell.empty() && shell.back() == '\n') shell.pop_back();
    EXPECT_EQ(Command::cmd_exec(cmd), shell) << cmd;
  }
  EXPECT_NE(log.text().find("No such file"), std::string::npos) << log.text();
}

}  // namespace
}  // namespace orvane
