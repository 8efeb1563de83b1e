// NrReport::build_info: the collected-data file format, read as raw bytes.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <orvane/log.hpp>
#include <orvane/nr_report.hpp>

#include "support.hpp"

namespace orvane {
namespace {

const std::string G = "=========================nerith=========================";
const std::string C = "-------------------------nerith-------------------------";

Json groups(
    std::initializer_list<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>>
        gs) {
  Json out = Json::array();
  for (const auto& [name, subs] : gs) {
    Json sub = Json::array();
    for (const auto& [cmd, res] : subs) sub.push_back(Json{{"cmd", cmd}, {"res", res}});
    out.push_back(Json{{"group", name}, {"sub", sub}});
  }
  return out;
}

struct ParseCase {
  const char* name;
  std::string bytes;
  Json expected;  // null: absent
};

void PrintTo(const ParseCase& c, std::ostream* os) {
  *os << c.name;
}

class BuildInfo : public ::testing::TestWithParam<ParseCase> {};

TEST_P(BuildInfo, ParsesTheFile) {
  const ParseCase& c = GetParam();
  test::TempDir dir;
  const std::string path = dir.dir() + "data.txt";
  test::write_bytes(path, c.bytes);
  LogCapture log;
  const auto result = NrReport::build_info(path);
  if (c.expected.is_null()) {
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(log.text().rfind("error|Failed parse file \"" + path + "\": ", 0), 0u) << log.text();
  } else {
    ASSERT_TRUE(result.has_value()) << log.text();
    EXPECT_EQ(Json(*result), c.expected);
    EXPECT_EQ(log.text(), "");
  }
}

const std::string kTwoGroups =
    "Command: cpu\nSubCommand: lscpu\nArchitecture: x86_64\nCPU(s): 2\n" + C +
    "\nCommand: cpu\nSubCommand: nproc\n2\n" + G +
    "\nCommand: mem\nSubCommand: free\n  total used\n" + G + "\n";

const Json kTwoGroupsTree =
    groups({{"cpu", {{"lscpu", "Architecture: x86_64\nCPU(s): 2"}, {"nproc", "2"}}},
            {"mem", {{"free", "  total used"}}}});

std::string crlf(std::string s, const char* end) {
  std::string out;
  for (char c : s) c == '\n' ? out += end : out += c;
  return out;
}

// 60 two-byte characters after the output: without the closing separator the last 56
// characters (not bytes) go.
const std::string kEacute = "\xC3\xA9";
std::string repeat(const std::string& s, int n) {
  std::string out;
  while (n-- > 0) out += s;
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BuildInfo,
    ::testing::Values(
        ParseCase{"empty", "", Json::array()},
        ParseCase{"white_space_only", " \t\n\r\n\xC2\xA0\xE3\x80\x80\x1C\xE2\x80\xA8",
                  Json::array()},
        ParseCase{"separator_only", "\n" + G + "\n\n", Json::array()},
        ParseCase{"two_groups", kTwoGroups, kTwoGroupsTree},
        ParseCase{"crlf_line_ends", crlf(kTwoGroups, "\r\n"), kTwoGroupsTree},
        ParseCase{"lone_cr_line_ends", crlf(kTwoGroups, "\r"), kTwoGroupsTree},
        ParseCase{"no_closing_separator_counts_characters",
                  "Command: g\nSubCommand: c\nab" + repeat(kEacute, 60),
                  groups({{"g", {{"c", "ab" + repeat(kEacute, 4)}}}})},
        ParseCase{"no_closing_separator_drops_short_block",
                  "Command: g\nSubCommand: c\n" + repeat("x", 56), Json::array()},
        // U+3000, U+0085 and U+2028 around the block are white space; U+00A0 inside is kept.
        ParseCase{"unicode_white_space_trimmed",
                  "\xE3\x80\x80\xC2\x85"
                  "Command: g\nSubCommand: c\n    indented\xC2\xA0value\xE2\x80\xA8\xE2\x80\xAF\n" +
                      G + "\xE2\x80\x89",
                  groups({{"g", {{"c", "    indented\xC2\xA0value"}}}})},
        ParseCase{"zero_width_space_is_not_white_space",
                  "Command: g\nSubCommand: c\nout\xE2\x80\x8B\n" + G,
                  groups({{"g", {{"c", "out\xE2\x80\x8B"}}}})},
        ParseCase{"block_without_output_dropped",
                  "Command: g\nSubCommand: a\n   \n" + C + "\nCommand: g\nSubCommand: b\nout\n" +
                      G + "\nCommand: h\nSubCommand: c\n" + G,
                  groups({{"g", {{"b", "out"}}}})},
        ParseCase{
            "later_block_names_the_group",
            "Command: first\nSubCommand: a\n1\n" + C + "\nCommand: second\nSubCommand: b\n2\n" + G,
            groups({{"second", {{"a", "1"}, {"b", "2"}}}})},
        ParseCase{"empty_name_of_last_block_drops_group",
                  "Command: g\nSubCommand: a\n1\n" + C + "\nCommand: \nSubCommand: b\n2\n" + G,
                  Json::array()},
        ParseCase{"label_twice_in_line",
                  "Command: a Command: b\nSubCommand: x SubCommand: y\n1\n" + G,
                  groups({{"a ", {{"x ", "1"}}}})},
        ParseCase{"separator_inside_output_splits",
                  "Command: g\nSubCommand: a\nbefore " + C + " after\n" + G,
                  groups({{"g", {{"a", "before"}}}})},
        ParseCase{"nul_and_multibyte_kept",
                  "Command: \xE7\xBD\x91\xE7\xBB\x9C\nSubCommand: c\na" + std::string(1, '\0') +
                      "b\n" + G,
                  groups({{"\xE7\xBD\x91\xE7\xBB\x9C", {{"c", std::string("a\0b", 3)}}}})},
        ParseCase{"missing_group_label_fails",
                  "Command: ok\nSubCommand: a\n1\n" + G + "\nGroup: bad\nSubCommand: b\n2\n" + G,
                  Json()},
        ParseCase{"missing_command_label_fails", "Command: g\nCmd: a\n1\n" + G, Json()},
        ParseCase{"truncated_utf8_fails", "Command: g\nSubCommand: a\n\xC3\n" + G, Json()},
        ParseCase{"overlong_utf8_fails", "Command: g\nSubCommand: a\n\xC0\xAF\n" + G, Json()},
        ParseCase{"surrogate_utf8_fails", "Command: g\nSubCommand: a\n\xED\xA0\x80\n" + G, Json()},
        ParseCase{"above_unicode_range_fails", "Command: g\nSubCommand: a\n\xF4\x90\x80\x80\n" + G,
                  Json()}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BuildInfoPaths, MissingPathWarnsOnceAndGivesEmptyList) {
  test::TempDir dir;
  for (const std::string& path : {dir.dir() + "absent.txt", std::string()}) {
    LogCapture log;
    const auto result = NrReport::build_info(path);
    ASSERT_TRUE(result.has_value());
    EXPECT_TRUE(result->empty());
    EXPECT_EQ(log.text(), "warning|Report file not found: " + path + "\n");
  }
}

TEST(BuildInfoPaths, DirectoryIsAParseFailure) {
  test::TempDir dir;
  LogCapture log;
  EXPECT_FALSE(NrReport::build_info(dir.path().string()).has_value());
  EXPECT_EQ(log.text().rfind("error|Failed parse file \"" + dir.path().string() + "\": ", 0), 0u)
      << log.text();
}

// A file that exists but cannot be read: without permission, or (for root, who reads whatever the
// mode) a file whose read fails.
TEST(BuildInfoPaths, UnreadableFileIsAParseFailure) {
  test::TempDir dir;
  std::string path = "/proc/self/mem";
  if (::geteuid() != 0) {
    path = dir.dir() + "secret.txt";
    test::write_bytes(path, "Command: g\nSubCommand: a\n1\n" + G);
    ::chmod(path.c_str(), 0);
  }
  LogCapture log;
  EXPECT_FALSE(NrReport::build_info(path).has_value());
  EXPECT_EQ(log.text().rfind("error|Failed parse file \"" + path + "\": ", 0), 0u) << log.text();
}

}  // namespace
}  // namespace orvane
