// `orvane apply` and `orvane confuse` as an administrator runs them: where files are read and
// written, what is refused, and the passphrase typed at a terminal (a pseudo-terminal of
// util-linux script(1)).
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include <orvane/apply_command.hpp>
#include <orvane/change_journal.hpp>
#include <orvane/util.hpp>

#include "../support/program.hpp"
#include "../support/temp_dir.hpp"
#include "../support/tool_path.hpp"

namespace orvane {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

const std::string kSettings =
    "description: d\nsettings:\n  - {kind: sysctl, target: vm.swappiness, value: 10, effect: "
    "live, reason: r, reference: f}\n";

// A host of one kernel value, for the runs that get as far as a plan.
const TempDir& fake_root() {
  static const TempDir root;
  static const bool made = (root.write("proc/sys/vm/swappiness", "60\n"), true);
  (void)made;
  return root;
}

// The program on the fake host; a plan goes into the fake host's out/.
ProcessResult run_orvane(std::vector<std::string> args, std::vector<std::string> env = {}) {
  env.insert(env.begin(), "ORVANE_ROOT=" + fake_root().dir());
  args.insert(args.end(), {"-o", fake_root().dir() + "out"});
  return testing::run_orvane(args, env);
}

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
      "env -u ORVANE_KEY_FILE ORVANE_ROOT=" + shell_quote(fake_root().dir()) +
      " ORVANE_OS_RELEASE=" +
      shell_quote((testing::source_dir() / "examples/nerith-os-release").string()) +
      " ORVANE_STATE_DIR=" + shell_quote(dir.dir() + "state") + " " +
      shell_quote(testing::orvane_bin());
  for (const std::string& a : args) command += " " + shell_quote(a);
  command += " -o " + shell_quote(fake_root().dir() + "out");
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
  EXPECT_NE(r.out.find("Nothing changed."), std::string::npos) << r.out;
  // No plaintext beside the encrypted file: s.yaml, s.yaml.orvenc and the state directory.
  EXPECT_EQ(entries(dir.path()), 3u);
}

// A workload of two settings in a temporary directory, a settings file for it, and the state
// directory of the journal.
class ApplyRoad : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.write("work/app.conf", kConf);
    dir_.write("work/state", "running\n");
    fs::create_directories(dir_.path() / "state");
    fs::create_directories(dir_.path() / "root");
  }

  std::string settings(const std::string& set_mode) const {
    const std::string work = (dir_.path() / "work").string();
    return "description: two settings of a test workload\nsettings:\n"
           "  - kind: script\n    target: threads\n    value: '8'\n"
           "    effect: live\n    reason: more threads\n    reference: the test\n"
           "    get: sed -n 's/^threads=//p' app.conf\n"
           "    set: sed -i 's/^threads=.*/threads=$value/' app.conf\n"
           "    dir: " +
           work +
           "\n"
           "  - kind: script\n    target: mode\n    value: fast\n"
           "    effect: live\n    reason: faster\n    reference: the test\n"
           "    get: sed -n 's/^mode=//p' app.conf\n"
           "    set: " +
           set_mode +
           "\n"
           "    needrestart: 'true'\n    stop: echo stopped > state\n"
           "    start: echo restarted > state\n"
           "    dir: " +
           work + "\n";
  }

  ProcessResult apply(const std::string& file, const std::string& typed) const {
    std::string command =
        "printf " + shell_quote(typed) + " | env ORVANE_OS_RELEASE=" +
        shell_quote((testing::source_dir() / "examples/nerith-os-release").string()) +
        " ORVANE_STATE_DIR=" + shell_quote(state()) + " ORVANE_ROOT=" + shell_quote(root()) + " " +
        shell_quote(testing::orvane_bin()) + " apply -o " + shell_quote(root()) + " " +
        shell_quote(file);
    return run_shell(command);
  }

  std::string state() const { return (dir_.path() / "state").string(); }
  std::string root() const { return (dir_.path() / "root").string(); }
  std::string conf() const { return read_file(dir_.path() / "work/app.conf"); }
  std::vector<ChangeSet> unsettled() const { return ChangeJournal(state()).unsettled(); }

  static inline const std::string kConf = "# app\nthreads=4\nmode=safe\n";
  TempDir dir_;
};

TEST_F(ApplyRoad, NoOrEndOfInputChangesNothing) {
  const auto file = dir_.write("s.yaml", settings("sed -i 's/^mode=.*/mode=$value/' app.conf"));
  ProcessResult r = apply(file.string(), "n\n");
  EXPECT_EQ(r.status, 0) << r.err;
  // The plan shows each command in full, as it will run, before the question.
  EXPECT_NE(r.out.find("runs:  sed -i 's/^threads=.*/threads=8/' app.conf\n"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("the workload: echo stopped > state ; echo restarted > state"),
            std::string::npos)
      << r.out;
  EXPECT_LT(r.out.find("threads  4        8"), r.out.find("(Y/N):")) << r.out;
  EXPECT_NE(r.out.find("Nothing changed."), std::string::npos);
  r = apply(file.string(), "");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(conf(), kConf);
  EXPECT_EQ(read_file(dir_.path() / "work/state"), "running\n");
  EXPECT_TRUE(unsettled().empty());
}

TEST_F(ApplyRoad, AppliedThenRecoveredByteForByte) {
  const auto file = dir_.write("s.yaml", settings("sed -i 's/^mode=.*/mode=$value/' app.conf"));
  ProcessResult r = apply(file.string(), "maybe\ny\n");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(conf(), "# app\nthreads=8\nmode=fast\n");
  EXPECT_EQ(read_file(dir_.path() / "work/state"), "restarted\n");
  // Again: nothing left to change. Another file while this one is in place: refused.
  r = apply(file.string(), "y\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Nothing to change"), std::string::npos);
  const auto other =
      dir_.write("other.yaml", settings("sed -i 's/^mode=.*/mode=x$value/' app.conf"));
  EXPECT_EQ(apply(other.string(), "y\n").status, 1);

  const std::vector<ChangeSet> sets = unsettled();
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(sets[0].state, "applied");
  EXPECT_EQ(sets[0].source, "apply");
  register_apply_restorers();
  for (const ItemOutcome& o : restore_change_set(sets[0])) {
    EXPECT_EQ(o.outcome.status, RestoreOutcome::Status::restored) << o.outcome.message;
  }
  EXPECT_EQ(conf(), kConf);
}

TEST_F(ApplyRoad, AFailedChangeIsRolledBackAndVerified) {
  const auto file = dir_.write("s.yaml", settings("echo no >&2; exit 1"));
  const ProcessResult r = apply(file.string(), "y\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("the set command of mode exited with status 1: no"), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("put back and verified"), std::string::npos) << r.err;
  EXPECT_EQ(conf(), kConf);
  EXPECT_TRUE(unsettled().empty());
}

// The result of a real tuning run of the demo project, applied later and put back.
TEST_F(ApplyRoad, TuningResultFileIsAppliedAndRecovered) {
  const fs::path work = dir_.path() / "demo";
  fs::create_directories(work);
  for (const char* f : {"demo.yaml", "workload.conf", "bench.sh"}) {
    fs::copy(testing::source_dir() / "examples/demo" / f, work / f);
  }
  dir_.write("demo/workload.state", "running\n");
  const std::string original = read_file(work / "workload.conf");
  const std::string w = shell_quote(work.string());
  ProcessResult r =
      run_shell("cd " + w + " && printf 'n\\n' | ORVANE_STATE_DIR=" + shell_quote(state()) +
                " ORVANE_OS_RELEASE=" +
                shell_quote((testing::source_dir() / "examples/nerith-os-release").string()) + " " +
                shell_quote(testing::orvane_bin()) + " tuning -o " + w + " --tuning_outpath " + w +
                " demo.yaml");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  ASSERT_TRUE(fs::exists(work / "tuning_demo_apply.yaml")) << r.out;
  ASSERT_EQ(read_file(work / "workload.conf"), original);

  // Applied from another directory: the commands run where the tuning ran them.
  r = apply((work / "tuning_demo_apply.yaml").string(), "y\n");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(read_file(work / "workload.conf"), original);
  ASSERT_EQ(unsettled().size(), 1u);
  // `orvane profile recover` knows the script settings' restorer.
  r = run_shell("printf 'y\\n' | env ORVANE_OS_RELEASE=" +
                shell_quote((testing::source_dir() / "examples/nerith-os-release").string()) +
                " ORVANE_STATE_DIR=" + shell_quote(state()) +
                " ORVANE_ROOT=" + shell_quote(root()) + " " + shell_quote(testing::orvane_bin()) +
                " profile recover");
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(read_file(work / "workload.conf"), original);
  EXPECT_TRUE(unsettled().empty());
}

}  // namespace
}  // namespace orvane

namespace orvane {
namespace {

// `printf ANSWER | env ... orvane ARGS...` for run_shell.
std::string answered(const std::string& answer, const std::vector<std::string>& args,
                     const std::vector<std::string>& env) {
  std::string line = "printf " + shell_quote(answer) + " | env ORVANE_OS_RELEASE=" +
                     shell_quote((testing::source_dir() / "examples/nerith-os-release").string());
  for (const std::string& e : env) line += " " + shell_quote(e);
  line += " " + shell_quote(testing::orvane_bin());
  for (const std::string& a : args) line += " " + shell_quote(a);
  return line;
}

// Every file of a tree with its content.
std::map<std::string, std::string> tree(const fs::path& dir) {
  std::map<std::string, std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    out[e.path().lexically_relative(dir).string()] =
        e.is_regular_file() ? read_file(e.path()) : std::string("(folder)");
  }
  return out;
}

// What an administrator does: analyse this host, apply the advice file the analysis wrote, and
// put everything back with `orvane profile recover`. The advice is applied to a fake host that
// holds this host's current values of its targets, never to this host.
TEST(AdviceRoad, AnalysisAdviceIsAppliedAndRecovered) {
  TempDir out, root, state, bin;
  const std::vector<std::string> env = {"ORVANE_STATE_DIR=" + state.dir(),
                                        "ORVANE_ROOT=" + root.dir()};
  // The analysis reads this host, seen running a database with the kernel's default limit of
  // memory maps, so that at least that advice applies whatever the host is.
  const ProcessResult real_sysctl = run_shell("command -v sysctl");
  ASSERT_EQ(real_sysctl.status, 0) << "sysctl(8) is not installed";
  const std::string sysctl = real_sysctl.out.substr(0, real_sysctl.out.find('\n'));
  const std::string path = testing::tool_path(
      bin.path(), {"ps", "sysctl"},
      {{"sysctl", shell_quote(sysctl) +
                      " \"$@\" | sed 's/^vm\\.max_map_count = .*/vm.max_map_count = 65530/'"},
       {"ps",
        "/usr/bin/ps \"$@\"\n"
        "case \"$2\" in pid,user,*) echo ' 4242 mysql 86400 1.0 2.0 Ssl mariadbd "
        "/usr/sbin/mariadbd' ;; esac"}});
  ProcessResult r = testing::run_orvane(
      {"analysis", "-o", out.dir()},
      {"ORVANE_STATE_DIR=" + state.dir(), "ORVANE_SAMPLING=1,2", "PATH=" + path},
      RunOptions{.timeout = std::chrono::minutes(2)});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  std::vector<fs::path> advice;
  for (const auto& e : fs::directory_iterator(out.path() / "orvaneData")) {
    if (e.path().filename().string().starts_with("orvane_advice_")) advice.push_back(e.path());
  }
  ASSERT_EQ(advice.size(), 1u) << r.out;
  // The terminal names the file with the command that applies it.
  EXPECT_NE(r.out.find("orvane apply " + advice[0].string()), std::string::npos) << r.out;

  // The fake host: each target with this host's value.
  const YAML::Node file = YAML::LoadFile(advice[0].string());
  std::map<std::string, std::string> wanted;  // fake-root path -> advised value
  for (const YAML::Node& s : file["settings"]) {
    std::string path = s["target"].as<std::string>();
    if (s["kind"].as<std::string>() == "sysctl") {
      std::replace(path.begin(), path.end(), '.', '/');
      path = "/proc/sys/" + path;
    }
    std::string now = "0\n";
    try {
      now = read_file(path);
    } catch (const std::exception&) {
      // Not readable here: any value stands for it.
    }
    if (path == "/proc/sys/vm/max_map_count") now = "65530\n";  // as the analysis saw it
    root.write(path.substr(1), now);
    wanted[path.substr(1)] = s["value"].as<std::string>();
  }
  const auto before = tree(root.path());

  r = run_shell(answered("y\n", {"apply", advice[0].string(), "-o", out.dir()}, env));
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_LT(r.out.find("change"), r.out.find("(Y/N):")) << r.out;
  for (const auto& [path, value] : wanted) {
    std::string now = read_file(root.path() / path);
    std::replace(now.begin(), now.end(), '\t', ' ');
    EXPECT_EQ(now, value + "\n") << path;
  }
  EXPECT_TRUE(fs::exists(root.path() / "etc/sysctl.d/90-orvane.conf"));

  r = run_shell(answered("y\n", {"profile", "recover"}, env));
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(tree(root.path()), before);
  EXPECT_TRUE(ChangeJournal(state.dir()).unsettled().empty());
}

}  // namespace
}  // namespace orvane
