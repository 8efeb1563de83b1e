// `orvane apply` and `orvane confuse` as an administrator runs them: where files are read and
// written, what is refused, and the passphrase typed at a terminal (a pseudo-terminal of
// util-linux script(1)).
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>

#include <orvane/util.hpp>

#include "../support/program.hpp"
#include "../support/temp_dir.hpp"

namespace orvane {
namespace {

namespace fs = std::filesystem;
using testing::run_orvane;
using testing::TempDir;

const std::string kSettings = "settings:\n  - kind: sysctl\n    key: vm.swappiness\n";

size_t entries(const fs::path& dir) {
  return static_cast<size_t>(std::distance(fs::directory_iterator(dir), {}));
}

struct RefusalCase {
  std::string name;
  std::vector<std::string> args;  // run in a directory holding s.yaml, s.sh and s.yaml.orvenc
  std::string message;            // part of the one error line
};

void PrintTo(const RefusalCase& c, std::ostream* os) {
  *os << c.name;
}

class Refusal : public ::testing::TestWithParam<RefusalCase> {};

// Every refusal: exit 1, one line naming the fault, and no file written.
TEST_P(Refusal, ExitsOneAndWritesNothing) {
  const RefusalCase& c = GetParam();
  TempDir dir;
  dir.write("s.yaml", kSettings);
  dir.write("s.sh", "sysctl -w vm.swappiness=10\necho never > /sys/kernel/mm/thp\n");
  dir.write("s.yaml.orvenc", "ORVENC1K" + std::string(100, 'x'));
  dir.write("s.yaml.orvcnf", "not packed\n");
  const auto key = dir.write("key", std::string(32, 'k'));
  ::chmod(key.c_str(), 0644);
  std::vector<std::string> args = c.args;
  args.insert(args.end(), {"--PATH", dir.path().string()});
  const ProcessResult r =
      run_orvane(args, {"ORVANE_KEY_FILE=" + key.string(), "ORVANE_STATE_DIR=" + dir.dir()});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(entries(dir.path()), 5u);
}

INSTANTIATE_TEST_SUITE_P(
    Apply, Refusal,
    ::testing::Values(
        RefusalCase{"enc and de", {"apply", "s.yaml", "--enc", "--de"}, "give one"},
        RefusalCase{"cnf and un", {"confuse", "s.yaml", "--cnf", "--un"}, "give one"},
        RefusalCase{"missing file", {"confuse", "nope.yaml"}, "cannot read"},
        RefusalCase{"a directory", {"apply", "."}, "is not a regular file"},
        RefusalCase{"output exists", {"confuse", "s.yaml"}, "exists; orvane never overwrites"},
        RefusalCase{"unpack a plain file", {"confuse", "s.yaml.orvcnf", "--un"}, "not a packed"},
        RefusalCase{"unpack without the suffix", {"confuse", "s.yaml", "--un"}, "does not end"},
        RefusalCase{"encrypted without --de", {"apply", "s.yaml.orvenc"}, "--de"},
        RefusalCase{"--de on a plain file", {"apply", "s.yaml", "--de"}, "is not encrypted"},
        RefusalCase{"loose key file", {"apply", "s.yaml.orvenc", "--de"}, "must be 0600 or 0400"},
        RefusalCase{"shell script", {"apply", "s.sh"}, "nothing could undo it"}),
    [](const auto& info) {
      std::string n = info.param.name;
      for (char& ch : n) ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
      return n;
    });

TEST(ApplyFiles, RelativeNamesAreReadFromPathAndOutputsGoThereUnderTheBaseName) {
  TempDir dir;
  const std::string original = "# a comment\n" + kSettings + std::string(3000, ' ') + "\n";
  dir.write("in/s.yaml", original);
  fs::create_directories(dir.path() / "out");
  const std::string in = (dir.path() / "in").string(), out = (dir.path() / "out").string();

  ProcessResult r = run_orvane({"confuse", "s.yaml", "--PATH", in});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("anyone can unpack it"), std::string::npos);
  // An absolute FILE is read where it is; the output still goes into --PATH.
  r = run_orvane({"confuse", in + "/s.yaml.orvcnf", "--un", "--PATH", out});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(dir.path() / "out/s.yaml"), original);

  TempDir keys;
  const auto key = keys.write("key", std::string(32, '\x07'));
  ::chmod(key.c_str(), 0400);
  const std::vector<std::string> env = {"ORVANE_KEY_FILE=" + key.string(),
                                        "ORVANE_STATE_DIR=" + keys.dir()};
  r = run_orvane({"apply", "s.yaml", "--enc", "--PATH", in}, env);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Nothing was applied"), std::string::npos);
  const std::string sealed = read_file(dir.path() / "in/s.yaml.orvenc");
  EXPECT_EQ(sealed.find("swappiness"), std::string::npos);
  // No plaintext is written on the way back, whatever the apply does with it.
  r = run_orvane({"apply", in + "/s.yaml.orvenc", "--de", "--PATH", out}, env);
  EXPECT_EQ(r.err.find("cannot be decrypted"), std::string::npos) << r.err;
  EXPECT_EQ(entries(dir.path() / "out"), 1u);
  EXPECT_EQ(entries(dir.path() / "in"), 3u);
}

// The passphrase, typed at a terminal: script(1) gives orvane a pseudo-terminal whose input is
// the text piped into it.
ProcessResult at_terminal(const std::string& typed, const std::vector<std::string>& args,
                          const TempDir& dir) {
  std::string command =
      "env -u ORVANE_KEY_FILE ORVANE_OS_RELEASE=" +
      shell_quote((testing::source_dir() / "examples/nerith-os-release").string()) +
      " ORVANE_STATE_DIR=" + shell_quote(dir.dir()) + " " + shell_quote(testing::orvane_bin());
  for (const std::string& a : args) command += " " + shell_quote(a);
  return run_shell("printf " + shell_quote(typed) + " | script -qec " + shell_quote(command) +
                   " /dev/null");
}

TEST(ApplyPassphrase, AskedTwiceToEncryptOnceToDecrypt) {
  if (run_shell("command -v script").status != 0) GTEST_SKIP() << "script(1) is not installed";
  TempDir dir;
  dir.write("s.yaml", kSettings);
  const std::string path = dir.path().string();

  ProcessResult r = at_terminal("one\ntwo\n", {"apply", "s.yaml", "--enc", "--PATH", path}, dir);
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.out.find("the two passphrases differ"), std::string::npos) << r.out;
  EXPECT_FALSE(fs::exists(dir.path() / "s.yaml.orvenc"));

  r = at_terminal("secret\nsecret\n", {"apply", "s.yaml", "--enc", "--PATH", path}, dir);
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("Passphrase again: "), std::string::npos) << r.out;
  ASSERT_TRUE(fs::exists(dir.path() / "s.yaml.orvenc"));

  r = at_terminal("Secret\n", {"apply", "s.yaml.orvenc", "--de", "--PATH", path}, dir);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("cannot be decrypted"), std::string::npos) << r.out;

  r = at_terminal("secret\nn\n", {"apply", "s.yaml.orvenc", "--de", "--PATH", path}, dir);
  EXPECT_EQ(r.out.find("cannot be decrypted"), std::string::npos) << r.out;
  EXPECT_EQ(entries(dir.path()), 2u);
}

}  // namespace
}  // namespace orvane
