// The collector's file format, read back by the report's parser.
#include <gtest/gtest.h>

#include <orvane/log.hpp>
#include <orvane/nr_report.hpp>
#include <orvane/util.hpp>

#include <orvane/collected/format.hpp>
#include <orvane/collected/writer.hpp>
#include "../support/temp_dir.hpp"

namespace orvane::collected {
namespace {

struct CleanCase {
  std::string name;
  std::string raw;
  std::string expected;
};

void PrintTo(const CleanCase& c, std::ostream* os) {
  *os << c.name;
}

class CleanOutput : public ::testing::TestWithParam<CleanCase> {};

TEST_P(CleanOutput, MakesAnyOutputSafeForTheFile) {
  EXPECT_EQ(clean_output(GetParam().raw, "(no output)"), GetParam().expected);
}

const std::string G(kGroupSeparator);
const std::string C(kCommandSeparator);

INSTANTIATE_TEST_SUITE_P(
    Outputs, CleanOutput,
    ::testing::Values(CleanCase{"plain", "a\n  b\n", "a\n  b\n"},
                      CleanCase{"empty", "", "(no output)"},
                      CleanCase{"white space only", " \n\t\r\n", "(no output)"},
                      CleanCase{"utf8 kept", "\xE4\xB8\xAD\xE6\x96\x87 \xF0\x9F\x98\x80",
                                "\xE4\xB8\xAD\xE6\x96\x87 \xF0\x9F\x98\x80"},
                      CleanCase{"stray bytes",
                                "a\xFF"
                                "b\xC3",
                                "a\xEF\xBF\xBD"
                                "b\xEF\xBF\xBD"},
                      CleanCase{"overlong and surrogate", "\xC0\xAF|\xED\xA0\x80",
                                "\xEF\xBF\xBD\xEF\xBF\xBD|\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
                      CleanCase{"separators inside", "x" + G + "y\n" + C,
                                "x=========================(nerith)=========================y\n"
                                "-------------------------(nerith)-------------------------"}));

TEST(CollectedFile, ParsesBackIntoTheSameGroupsAndCommands) {
  CollectedFile file;
  file.add("Memory", "free -m", "Mem: 1 2 3\n");
  file.add("Disks", "df -h", "  indented\n\n  after a blank line\n");
  file.add("Memory", "cat /proc/meminfo", "MemTotal: 1 kB\r\nMemFree: 2 kB");
  file.add("Disks", "lsblk", "");
  file.add("Odd", "grep x\nrm -rf /", "a line\n" + G + "\nCommand: not a header\n" + C + "\n");
  file.add("Odd", "bytes", "\xFF\xFE");

  orvane::testing::TempDir dir;
  const auto path = dir.path() / "memInfo.txt";
  file.commit(path);
  LogCapture log;
  const auto groups = NrReport::build_info(path.string());
  ASSERT_TRUE(groups.has_value()) << log.text();
  ASSERT_EQ(groups->size(), 3u);
  const std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>>
      expected = {
          {"Memory",
           {{"free -m", "Mem: 1 2 3"}, {"cat /proc/meminfo", "MemTotal: 1 kB\nMemFree: 2 kB"}}},
          {"Disks", {{"df -h", "  indented\n\n  after a blank line"}, {"lsblk", "(no output)"}}},
          {"Odd",
           {{"grep x rm -rf /",
             "a line\n=========================(nerith)=========================\n"
             "Command: not a header\n-------------------------(nerith)-------------------------"},
            {"bytes", "\xEF\xBF\xBD\xEF\xBF\xBD"}}},
      };
  for (size_t g = 0; g < expected.size(); ++g) {
    EXPECT_EQ((*groups)[g].group, expected[g].first);
    ASSERT_EQ((*groups)[g].sub.size(), expected[g].second.size()) << expected[g].first;
    for (size_t c = 0; c < expected[g].second.size(); ++c) {
      EXPECT_EQ((*groups)[g].sub[c].cmd, expected[g].second[c].first);
      EXPECT_EQ((*groups)[g].sub[c].res, expected[g].second[c].second);
    }
  }
  EXPECT_EQ(log.text(), "");
}

}  // namespace
}  // namespace orvane::collected
