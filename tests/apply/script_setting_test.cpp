// Settings of kind `script`: failures of their commands are failures, and no value with a shell
// character ever reaches a command.
#include <gtest/gtest.h>

#include <orvane/util.hpp>

#include "../support/temp_dir.hpp"
#include "script_setting.hpp"

namespace orvane::sealing {
namespace {

using testing::TempDir;

ScriptSetting script(std::string get, std::string set) {
  ScriptSetting s;
  s.name = "x";
  s.get = std::move(get);
  s.set = std::move(set);
  return s;
}

struct ReadCase {
  std::string get;
  bool ok;
  std::string value_or_message;
};

TEST(ScriptSetting, ReadChecksTheGetCommand) {
  const std::vector<ReadCase> cases = {
      {"echo ' 42 '", true, "42"},
      {"printf '4096\\t87380\\t6291456\\n'", true, "4096\t87380\t6291456"},
      {"echo 1; exit 3", false, "exited with status 3"},
      {"echo 1; echo oops >&2", false, "wrote to standard error: oops"},
      {"true", false, "printed nothing"},
      {"printf '\\377\\n'", false, "not UTF-8"},
  };
  for (const ReadCase& c : cases) {
    const ScriptSetting s = script(c.get, ":");
    if (c.ok) {
      EXPECT_EQ(read_value(s), c.value_or_message) << c.get;
    } else {
      try {
        read_value(s);
        ADD_FAILURE() << c.get << " was accepted";
      } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(c.value_or_message), std::string::npos) << e.what();
      }
    }
  }
}

TEST(ScriptSetting, ValuesWithShellCharactersNeverRun) {
  TempDir dir;
  const std::string file = (dir.path() / "value").string();
  const ScriptSetting s = script("cat " + file, "echo $value > " + file);
  for (const std::string bad : {"1; touch x", "$(id)", "`id`", "a|b", "a\nb", "x'y", "a>b", "~"}) {
    EXPECT_THROW(write_value(s, bad), std::runtime_error) << bad;
    EXPECT_FALSE(std::filesystem::exists(file)) << bad;
  }
  write_value(s, "4096 87380\t6291456");
  EXPECT_EQ(read_value(s), "4096 87380 6291456");
  EXPECT_THROW(write_value(script("", "exit 1"), "1"), std::runtime_error);
}

TEST(ScriptSetting, SameValueComparesNumbersAsNumbers) {
  EXPECT_TRUE(same_value("0.50\n", "0.5"));
  EXPECT_TRUE(same_value("madvise", " madvise"));
  EXPECT_FALSE(same_value("10", "1"));
  EXPECT_FALSE(same_value("[madvise] never", "madvise"));
}

TEST(ScriptSetting, RestoreWritesTheOriginalAndReadsItBack) {
  TempDir dir;
  const std::string file = (dir.path() / "value").string();
  dir.write("value", "8\n");
  ScriptSetting s = script("cat " + file, "echo $value > " + file);
  s.needrestart = true;
  s.stop = "echo stopped >> " + (dir.path() / "log").string();
  s.start = "echo started >> " + (dir.path() / "log").string();
  using Status = RestoreOutcome::Status;

  EXPECT_EQ(restore_script_item(to_change_item(s, "4", "8")).status, Status::restored);
  EXPECT_EQ(read_file(file), "4\n");
  EXPECT_EQ(read_file(dir.path() / "log"), "stopped\nstarted\n");
  // A set command that does not take: failed, naming what it reads now.
  s.set = ":";
  const RestoreOutcome ignored = restore_script_item(to_change_item(s, "2", "4"));
  EXPECT_EQ(ignored.status, Status::failed);
  EXPECT_NE(ignored.message.find("reads 4"), std::string::npos) << ignored.message;
  // A journal edited to hold a hostile original never runs it.
  s.set = "echo $value > " + file;
  EXPECT_EQ(restore_script_item(to_change_item(s, "1; rm " + file, "4")).status, Status::failed);
  EXPECT_EQ(read_file(file), "4\n");
}

}  // namespace
}  // namespace orvane::sealing
