// Faults injected into `orvane tuning` run as a program: hostile and unusable original values,
// failing and hanging scripts, signals, killed and concurrent runs, huge benchmark output,
// unwritable output. Each row ends in one of three ways: the values are back and verified,
// the run is refused before anything changed, or exit 1 names what could not be put back.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>

#include <orvane/json.hpp>
#include <orvane/process.hpp>
#include <orvane/util.hpp>

namespace orvane {
namespace {

namespace fs = std::filesystem;

// Two parameters, each kept in its own file; every set script run is appended to "calls".
struct Project {
  std::string x_get = "cat cx";
  std::string x_set = "echo $value >> calls; echo $value > cx";
  std::string y_get = "cat cy";
  std::string y_set = "echo $value >> calls; echo $value > cy";
  std::string y_type = "type: int, range: [1, 9]";
  std::string benchmark = "cat cx";
  std::string extra;  // more top-level keys
};

class TuningFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "orvane-faults.XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
    write("cx", "5\n");
    write("cy", "3\n");
    write("answer_n", "n\n");  // the answers to the questions of tuning and recover
    write("answer_y", "y\n");
  }
  void TearDown() override { fs::remove_all(dir_); }

  void write(const std::string& name, const std::string& text) const {
    std::ofstream(dir_ / name, std::ios::binary) << text;
  }
  std::string read(const std::string& name) const {
    return fs::exists(dir_ / name) ? read_file(dir_ / name) : "(none)";
  }
  bool exists(const std::string& name) const { return fs::exists(dir_ / name); }

  void project(const Project& p) const {
    auto q = [](const std::string& s) { return Json(s).dump(); };
    write("p.yaml", "project: p\n" + p.extra + "benchmark: {command: " + q(p.benchmark) +
                        ", metric: '([0-9]+)'}\n"
                        "optimizer: {method: random, iterations: 4, confirm_rounds: 1}\n"
                        "params:\n  - {name: x, type: int, range: [6, 9], get: " +
                        q(p.x_get) + ", set: " + q(p.x_set) + "}\n  - {name: y, " + p.y_type +
                        ", get: " + q(p.y_get) + ", set: " + q(p.y_set) + "}\n");
  }

  std::string env() const {
    return "cd " + shell_quote(dir_.string()) +
           " && ORVANE_STATE_DIR=" + shell_quote((dir_ / "state").string()) +
           " ORVANE_OS_RELEASE=" +
           shell_quote(std::string(ORVANE_SOURCE_DIR) + "/examples/nerith-os-release") + " ";
  }
  std::string orvane(const std::string& args) const {
    return env() + shell_quote(ORVANE_BIN) + " " + args;
  }
  std::string tuning() const {
    return orvane("tuning -o " + shell_quote(dir_.string()) + " --tuning_outpath . p.yaml");
  }

  ProcessResult sh(const std::string& script) const { return run_shell(script); }

  // Starts a run in the background that waits in the benchmark of its first trial value;
  // the script goes on once it waits, with the program's own pid in $pid.
  std::string start_waiting_run() const {
    return "(cd " + shell_quote(dir_.string()) +
           " && exec env ORVANE_STATE_DIR=" + shell_quote((dir_ / "state").string()) +
           " ORVANE_OS_RELEASE=" +
           shell_quote(std::string(ORVANE_SOURCE_DIR) + "/examples/nerith-os-release") + " " +
           shell_quote(ORVANE_BIN) + " tuning -o " + shell_quote(dir_.string()) +
           " --tuning_outpath . p.yaml) </dev/null >" + shell_quote((dir_ / "out.txt").string()) +
           " 2>" + shell_quote((dir_ / "err.txt").string()) + " &\npid=$!\ncd " +
           shell_quote(dir_.string()) +
           "\ni=0\nwhile [ ! -f waiting ] && [ $i -lt 600 ]; do sleep 0.05; i=$((i+1)); done\n";
  }
  static std::string waiting_benchmark() {
    return "if [ $(cat cx) != 5 ]; then touch waiting; sleep 30; fi; cat cx";
  }

  fs::path dir_;
};

struct Fault {
  const char* what;
  std::function<void(Project&)> arrange;
  std::string y_file;  // the content of cy
  int status;
  const char* message;  // in standard error
  bool changed;         // a set script ran
};

void PrintTo(const Fault& f, std::ostream* os) {
  *os << f.what;
}

class TuningFault : public TuningFaults, public ::testing::WithParamInterface<Fault> {};

TEST_P(TuningFault, EndsAsExpectedWithTheOriginalsInPlace) {
  Project p;
  GetParam().arrange(p);
  write("cy", GetParam().y_file);
  project(p);
  const std::string before_y = read("cy");
  const ProcessResult r = sh(tuning() + " <answer_n");
  EXPECT_EQ(r.status, GetParam().status) << r.out << r.err;
  EXPECT_NE(r.err.find(GetParam().message), std::string::npos) << r.err;
  EXPECT_EQ(exists("calls"), GetParam().changed) << read("calls");
  EXPECT_FALSE(exists("pwned"));
  if (GetParam().status == 0 || !GetParam().changed) {
    EXPECT_EQ(read("cx"), "5\n");
    EXPECT_EQ(read("cy"), before_y);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, TuningFault,
    ::testing::Values(
        // Originals that cannot be trusted: refused before anything changed.
        Fault{"get_writes_to_stderr", [](Project& p) { p.y_get = "cat cy; echo oops >&2"; }, "3\n",
              1, "y: get y wrote to standard error: oops", false},
        Fault{"get_exits_1", [](Project& p) { p.y_get = "cat cy; exit 1"; }, "3\n", 1,
              "y: get y exited with status 1", false},
        Fault{"get_prints_nothing", [](Project& p) { p.y_get = "true"; }, "3\n", 1,
              "y: its get script printed nothing", false},
        Fault{"get_prints_invalid_utf8", [](Project& p) { p.y_get = "printf '\\377'"; }, "3\n", 1,
              "y: its get script printed text that is not UTF-8", false},
        Fault{"first_get_fails", [](Project& p) { p.x_get = "exit 4"; }, "3\n", 1,
              "x: get x exited with status 4", false},
        Fault{"hostile_original", [](Project&) {}, "7'$(touch pwned)'\n", 1,
              "y: the value read, '7'\\''$(touch pwned)'\\''', cannot be written back safely",
              false},
        Fault{"original_with_line_break", [](Project&) {}, "3\nrm x\n", 1, "it holds a line break",
              false},
        Fault{"original_with_tabs_is_fine",
              [](Project& p) {
                p.y_type = "type: enum, options: [a]";
                p.y_set = "echo \"$value\" >> calls";
              },
              "4096\t87380  6291456\n", 0, "", true},
        // Write-back that fails or writes something else: exit 1 naming it.
        Fault{"restore_set_fails",
              [](Project& p) {
                p.x_set = "echo $value >> calls; [ $value = 5 ] && exit 3; echo $value > cx";
              },
              "3\n", 1, "set x exited with status 3", true},
        Fault{"restore_set_writes_else",
              [](Project& p) {
                p.x_set =
                    "echo $value >> calls; if [ $value = 5 ]; then echo 6 > cx; else echo "
                    "$value > cx; fi";
              },
              "3\n", 1, "x is '6', originally '5'", true},
        Fault{"original_with_slash_breaks_sed",
              [](Project& p) {
                p.y_type = "type: enum, options: [p, q]";
                p.y_set = "echo $value >> calls; sed -i 's/^.*$/$value/' cy";
              },
              "a/b\n", 1, "set y exited with status 1", true},
        Fault{"restore_set_hangs_past_script_timeout",
              [](Project& p) {
                p.extra = "script_timeout: 1\n";
                p.x_set = "echo $value >> calls; [ $value = 5 ] && exec sleep 30; echo $value > cx";
              },
              "3\n", 1, "set x ran past its time limit", true},
        Fault{"restore_set_writes_to_stderr",
              [](Project& p) {
                p.x_set =
                    "echo $value >> calls; echo $value > cx; [ $value = 5 ] && echo warn >&2; true";
              },
              "3\n", 1, "set x wrote to standard error: warn", true},
        // Benchmark output that once crashed the matcher: a figure or "no figure", never a crash.
        Fault{"one_megabyte_line",
              [](Project& p) { p.benchmark = "head -c 1048576 /dev/zero | tr '\\0' 7"; }, "3\n", 1,
              "the benchmark gave no figure", false},
        Fault{"twenty_megabytes_then_the_figure",
              [](Project& p) {
                p.benchmark = "head -c 20000000 /dev/zero | tr '\\0' x; echo; cat cx";
              },
              "3\n", 0, "", true}),
    [](const auto& info) { return std::string(info.param.what); });

struct Ending {
  const char* what;
  std::string how;  // shell text run against $pid while the run waits
  int status;
};

void PrintTo(const Ending& e, std::ostream* os) {
  *os << e.what;
}

class TuningEnding : public TuningFaults, public ::testing::WithParamInterface<Ending> {};

// Signals while a trial value is in place: the values come back, verified, and the status
// tells what ended the run.
TEST_P(TuningEnding, PutsTheOriginalsBackAndVerifiesThem) {
  Project p;
  p.benchmark = waiting_benchmark();
  project(p);
  const ProcessResult r =
      sh(start_waiting_run() + GetParam().how + "\nwait $pid\necho \"status=$?\"\n");
  EXPECT_EQ(r.out, "status=" + std::to_string(GetParam().status) + "\n") << read("err.txt");
  EXPECT_TRUE(exists("waiting"));
  EXPECT_EQ(read("cx"), "5\n");
  EXPECT_EQ(read("cy"), "3\n");
}

INSTANTIATE_TEST_SUITE_P(
    Signals, TuningEnding,
    ::testing::Values(Ending{"sighup", "kill -HUP $pid", 129},
                      Ending{"sigint", "kill -INT $pid", 130},
                      Ending{"sigterm", "kill -TERM $pid", 143},
                      Ending{"second_sigint_during_the_restore",
                             "kill -INT $pid; sleep 0.3; kill -INT $pid; kill -INT $pid", 130}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(TuningFaults, ASignalDuringTheRestoreIsNotedNotObeyed) {
  Project p;
  // The restore's set script itself signals orvane, then takes its time.
  p.x_set =
      "echo $value >> calls; if [ $value = 5 ]; then kill -INT $PPID; sleep 0.5; fi; echo "
      "$value > cx";
  project(p);
  const ProcessResult r = sh(tuning() + " <answer_n");
  EXPECT_EQ(r.status, 130) << r.err;
  EXPECT_EQ(read("cx"), "5\n");
}

TEST_F(TuningFaults, AClosedStandardOutputEndsWithStatus1AfterTheRestore) {
  Project p;
  project(p);
  const ProcessResult r = sh("(" + tuning() + " <answer_n 2>err.txt; echo $? > status) | true");
  EXPECT_EQ(read("status"), "1\n") << read("err.txt");
  EXPECT_NE(read("err.txt").find("write error on standard output"), std::string::npos);
  EXPECT_EQ(read("cx"), "5\n");
}

TEST_F(TuningFaults, AKilledRunIsRefusedUntilRecoverPutsTheOriginalsBack) {
  Project p;
  p.benchmark = waiting_benchmark();
  project(p);
  ASSERT_EQ(sh(start_waiting_run() + "kill -KILL $pid; wait $pid; true").status, 0);
  ASSERT_NE(read("cx"), "5\n");  // the trial value is left behind
  const std::string backup = read("bak_p.ini");

  fs::remove(dir_ / "waiting");
  const ProcessResult again = sh(tuning() + " <answer_n");
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find("did not finish"), std::string::npos) << again.err;
  EXPECT_NE(again.err.find("orvane profile recover"), std::string::npos) << again.err;
  EXPECT_EQ(read("bak_p.ini"), backup);
  EXPECT_FALSE(exists("waiting"));

  const ProcessResult no = sh(orvane("profile recover") + " <answer_n");
  EXPECT_EQ(no.status, 0);
  EXPECT_NE(read("cx"), "5\n");
  const ProcessResult yes = sh(orvane("profile recover") + " <answer_y");
  EXPECT_EQ(yes.status, 0) << yes.out << yes.err;
  EXPECT_NE(yes.out.find("x <- '5'"), std::string::npos) << yes.out;
  EXPECT_EQ(read("cx"), "5\n");
  EXPECT_EQ(read("cy"), "3\n");
  const ProcessResult nothing = sh(orvane("profile recover") + " <answer_n");
  EXPECT_EQ(nothing.status, 0);
  EXPECT_NE(nothing.out.find("nothing to restore"), std::string::npos) << nothing.out;

  p.benchmark = "cat cx";
  project(p);
  EXPECT_EQ(sh(tuning() + " <answer_n").status, 0);
}

TEST_F(TuningFaults, RecoverKeepsTheSetWhenAValueDoesNotComeBack) {
  Project p;
  p.benchmark = waiting_benchmark();
  project(p);
  ASSERT_EQ(sh(start_waiting_run() + "kill -KILL $pid; wait $pid; true").status, 0);
  // x can be neither written nor read any more.
  fs::remove(dir_ / "cx");
  fs::create_directory(dir_ / "cx");  // `echo 5 > cx` fails, `cat cx` fails
  const ProcessResult r = sh(orvane("profile recover") + " <answer_y");
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("x: FAILED"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("stays in"), std::string::npos) << r.err;
  EXPECT_EQ(read("cy"), "3\n");
}

TEST_F(TuningFaults, ASecondRunOfTheProjectIsRefusedNamingTheFirst) {
  Project p;
  p.benchmark = waiting_benchmark();
  project(p);
  const ProcessResult r =
      sh(start_waiting_run() + tuning() +
         " <answer_n; echo \"second=$? first=$pid\"; kill -TERM $pid; wait $pid");
  EXPECT_NE(r.err.find("holds the lock 'tuning:p'"), std::string::npos) << r.err;
  const std::string first = r.out.substr(r.out.find("first=") + 6);
  EXPECT_NE(r.out.find("second=1"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("(pid " + first.substr(0, first.find('\n')) + ")"), std::string::npos)
      << r.err << r.out;
  EXPECT_EQ(read("cx"), "5\n");
}

TEST_F(TuningFaults, ADaemonStartedByASetScriptOutlivesTheScriptsPipes) {
  Project p;
  p.x_set =
      "echo $value > cx; if [ ! -f started ]; then touch started; "
      "(sleep 1; echo still here; sleep 1; echo $$ > daemon_alive) & fi";
  project(p);
  const ProcessResult r = sh(tuning() + " <answer_n; sleep 3");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(exists("daemon_alive"));
}

TEST_F(TuningFaults, SymlinkedOutputIsRefused) {
  Project p;
  project(p);
  fs::create_directory(dir_ / "elsewhere");
  fs::create_directory_symlink(dir_ / "elsewhere", dir_ / "orvaneData");
  ProcessResult r = sh(tuning() + " <answer_n");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("is a symbolic link"), std::string::npos) << r.err;
  EXPECT_TRUE(fs::is_empty(dir_ / "elsewhere"));

  fs::remove(dir_ / "orvaneData");
  fs::create_directory(dir_ / "orvaneData");
  write("victim", "keep\n");
  fs::create_symlink(dir_ / "victim", dir_ / "orvaneData" / "orvane.log");
  r = sh(tuning() + " <answer_n");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("orvane.log: it is a symbolic link"), std::string::npos) << r.err;
  EXPECT_EQ(read("victim"), "keep\n");
  EXPECT_EQ(read("cx"), "5\n");
}

TEST_F(TuningFaults, OutputFilesArePrivate) {
  Project p;
  project(p);
  ASSERT_EQ(sh(tuning() + " <answer_n").status, 0);
  for (const char* f : {"orvaneData/orvane.log", "bak_p.ini", "tuning_p_result.json"}) {
    EXPECT_EQ(fs::status(dir_ / f).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write)
        << f;
  }
  EXPECT_EQ(fs::status(dir_ / "orvaneData").permissions() & fs::perms::all, fs::perms::owner_all);
}

TEST_F(TuningFaults, AFullStandardOutputIsAFailure) {
  EXPECT_EQ(sh(orvane("--help >/dev/full")).status, 1);
  EXPECT_EQ(sh(orvane("--help >/dev/null")).status, 0);
}

}  // namespace
}  // namespace orvane
