// The orvane program as a user runs it: exit statuses and where its texts go.
#include <gtest/gtest.h>

#include <orvane/util.hpp>

#include "../support/program.hpp"
#include "../support/temp_dir.hpp"

namespace orvane {
namespace {

using orvane::testing::run_orvane;

struct ProgramCase {
  std::vector<std::string> args;
  int status;
  std::string out_prefix;    // start of standard output
  std::string err_contains;  // part of standard error
};

void PrintTo(const ProgramCase& c, std::ostream* os) {
  for (const auto& a : c.args) *os << a << " ";
}

class ProgramTest : public ::testing::TestWithParam<ProgramCase> {};

TEST_P(ProgramTest, ExitStatusAndStreams) {
  const ProgramCase& c = GetParam();
  ProcessResult r = run_orvane(c.args);
  EXPECT_EQ(r.status, c.status) << r.out << r.err;
  EXPECT_TRUE(r.out.starts_with(c.out_prefix)) << r.out;
  if (c.out_prefix.empty()) {
    EXPECT_EQ(r.out, "");
  }
  if (c.err_contains.empty()) {
    EXPECT_EQ(r.err, "");
  } else {
    EXPECT_NE(r.err.find(c.err_contains), std::string::npos) << r.err;
  }
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, ProgramTest,
    ::testing::Values(
        ProgramCase{{"-v"}, 0, "Orvane version is 1.2.2. \n", ""},
        ProgramCase{{"--help"}, 0, "usage:  \n  orvane COMMAND [options] \n", ""},
        ProgramCase{{"collection", "-h"}, 0, "usage: orvane collection", ""},
        ProgramCase{{"profile", "-h"}, 0, "usage: orvane profile", ""},
        ProgramCase{{}, 2, "", "orvane: error: a command is required"},
        ProgramCase{{"collection", "--duration", "0"},
                    2,
                    "",
                    "orvane collection: error: argument --duration: must be 1-300"},
        ProgramCase{{"analysis", "--perf", "--offcpu"}, 2, "", "need to specify --pid option"},
        // Words the grammar does not know stop the run before any command starts.
        ProgramCase{
            {"collection", "++"}, 2, "", "orvane collection: error: unrecognized arguments: ++"},
        ProgramCase{{"profile", "-v"}, 2, "", "orvane profile: error: unrecognized arguments: -v"},
        ProgramCase{{"tuning", "-5.yaml"}, 2, "", "orvane tuning: error: PROJECT_YAML is required"},
        // Records the hidden --func can produce are checked before any handler runs.
        ProgramCase{{"collection", "--func", "zzz"}, 2, "", "unknown command code 'zzz'"},
        ProgramCase{
            {"apply", "s.sh", "--func", "col"}, 2, "", "needs the option field 'perf_enable_type'"},
        ProgramCase{{"profile", "kafka_config", "/nonexistent/kafka"},
                    1,
                    "",
                    "/nonexistent/kafka is not a directory"},
        ProgramCase{{"profile", "recover"}, 0, "nothing to restore: the journal in ", ""},
        ProgramCase{{"confuse", "s.sh"}, 3, "", "is not installed"}));

TEST(Gate, RefusesAnotherSystemWithStatusOne) {
  const std::string version = read_file("/proc/version");
  if (version.find("nr10") != std::string::npos || version.find("erith") != std::string::npos) {
    GTEST_SKIP() << "this host is a supported system";
  }
  orvane::testing::TempDir dir;
  auto other = dir.write("os-release", "ID=debian\nVERSION_ID=\"12\"\n");
  ProcessResult r = run_orvane({"--help"}, {"ORVANE_OS_RELEASE=" + other.string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "The current os version is not supported!\nPlease check your os version.\n");
  EXPECT_EQ(r.err, "");
}

}  // namespace
}  // namespace orvane
