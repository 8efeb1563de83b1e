// Reading a file gives what parsing its text gives, also where the reader hands the pages it has
// read back while it parses (files of more than a few megabytes).
#include <gtest/gtest.h>

#include <orvane/collected/parser.hpp>
#include <orvane/util.hpp>

#include "../support/temp_dir.hpp"

namespace orvane::collected {
namespace {

std::string many_groups(size_t bytes) {
  std::string out;
  for (int g = 0; out.size() < bytes; ++g) {
    out += "Command: group " + std::to_string(g) + "\nSubCommand: sysctl -a\n";
    for (int l = 0; l < 200; ++l) {
      out += "net.ipv4.tcp_rmem = 4096\t131072\t" + std::to_string(g * 1000 + l) + " 内存\n";
    }
    out += "-------------------------nerith-------------------------\n";
    out += "Command: group " + std::to_string(g) + "\nSubCommand: uptime\n up 3 days\n";
    out += "=========================nerith=========================\n";
  }
  return out;
}

TEST(ReadGroups, SameAsParsingTheTextForSmallAndLargeFiles) {
  testing::TempDir dir;
  for (const size_t bytes : {size_t{1} << 10, size_t{20} << 20}) {
    const std::string text = many_groups(bytes);
    const auto path = dir.write("data.txt", text);
    const auto from_file = read_groups(path.string());
    const auto from_text = parse_groups(text);
    ASSERT_EQ(from_file.size(), from_text.size());
    for (size_t g = 0; g < from_file.size(); ++g) {
      EXPECT_EQ(from_file[g].group, from_text[g].group);
      ASSERT_EQ(from_file[g].sub.size(), 2u);
      for (size_t c = 0; c < 2; ++c) {
        EXPECT_EQ(from_file[g].sub[c].cmd, from_text[g].sub[c].cmd);
        EXPECT_EQ(from_file[g].sub[c].res, from_text[g].sub[c].res);
      }
    }
    EXPECT_EQ(from_file.back().sub.back().res, " up 3 days");
  }
}

TEST(ReadGroups, InvalidUtf8InALargeFileIsRefusedWithItsOffset) {
  testing::TempDir dir;
  std::string text = many_groups(size_t{12} << 20);
  const size_t at = text.size() - 100;
  text[at] = '\xff';
  const auto path = dir.write("data.txt", text);
  try {
    read_groups(path.string());
    FAIL() << "no error";
  } catch (const ParseError& e) {
    EXPECT_EQ(std::string(e.what()), "invalid UTF-8 at byte " + std::to_string(at));
  }
}

}  // namespace
}  // namespace orvane::collected
