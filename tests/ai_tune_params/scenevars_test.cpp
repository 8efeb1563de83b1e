// Scene parameter scripts run by the real /bin/sh in a temporary directory.
#include <orvane/scenevars.hpp>

#include <signal.h>
#include <sys/resource.h>

#include <orvane/log.hpp>

#include "tuning_test_dir.hpp"

namespace orvane {
namespace {

using SceneVarsTest = testing::TuningDirTest;

// A YAML single-quoted scalar.
std::string quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("''") : std::string(1, c);
  return q + "'";
}

std::string param(const std::string& name, const std::string& get, const std::string& set = "true",
                  const std::string& needrestart = "false") {
  return "  - name: " + name + "\n    type: int\n    range: [0, 9]\n    get: " + quoted(get) +
         "\n    set: " + quoted(set) + "\n    needrestart: " + quoted(needrestart) + "\n";
}

const std::string kWorkload =
    "workload: {stop: 'echo stop >> calls', start: 'echo start >> calls'}\n";

TEST_F(SceneVarsTest, ValuesAreTrimmedOfAsciiWhiteSpaceOnly) {
  load(param("a", "printf \" \\t\\n 42 \\r\\n\\v\\f\"") + param("b", "printf \"one\\ntwo\\n\"") +
       param("c", "printf \"\\302\\240x\\302\\240\""));  // no-break spaces are kept
  const Json got = SceneVars().get_params();
  EXPECT_EQ(got.dump(), "{\"a\":\"42\",\"b\":\"one\\ntwo\",\"c\":\"\u00a0x\u00a0\"}");
}

struct GetCase {
  const char* what;
  std::string script;
  bool read;  // the value counts as read
};

void PrintTo(const GetCase& c, std::ostream* os) {
  *os << c.what;
}

class GetFailure : public testing::TuningDirTest, public ::testing::WithParamInterface<GetCase> {};

// Anything on standard error fails a get script; its exit status does not.
TEST_P(GetFailure, IsDecidedByStandardError) {
  load(param("a", GetParam().script) + param("b", "echo 2"));
  LogCapture log;
  const Json got = SceneVars().get_params();
  EXPECT_EQ(got.size(), GetParam().read ? 2u : 0u) << got.dump();
  EXPECT_EQ(log.text().find("error|run script failed: ") != std::string::npos, !GetParam().read);
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, GetFailure,
    ::testing::Values(GetCase{"exit_1_quietly", "echo 5; exit 1", true},
                      GetCase{"warning_with_status_0", "echo 5; echo careful >&2", false},
                      GetCase{"not_utf8", "printf \"\\377\\376\"", false},
                      GetCase{"no_such_command", "no-such-command-here", false}),
    [](const auto& info) { return std::string(info.param.what); });

TEST_F(SceneVarsTest, AFailedGetStopsTheScanAndKeepsWhatWasRead) {
  load(param("a", "echo 1") + param("b", "echo \"  bad thing  \" >&2") +
       param("c", "touch c_ran; echo 3"));
  LogCapture log;
  const Json got = SceneVars().get_params();
  EXPECT_EQ(got.dump(), R"({"a":"1"})");
  EXPECT_FALSE(exists("c_ran"));
  EXPECT_EQ(log.text(), "error|run script failed: bad thing\n");
}

TEST_F(SceneVarsTest, EmptyOutputWarnsAndKeepsTheName) {
  load(param("Quiet", "true") + param("b", "echo 2"));
  LogCapture log;
  EXPECT_EQ(SceneVars().get_params().dump(), R"({"Quiet":"","b":"2"})");
  EXPECT_EQ(log.text(), "warning|cannot get Quiet\n");
}

TEST_F(SceneVarsTest, BackupFileBytes) {
  load(param("Max_Conn", "echo 512", "sed -i \"s/x=.*/x=$value/\" f") +
       param("banner", "printf \"line one\\n\\nline three\"", "echo \"$value\"") +
       param("empty", "true"));
  const Json got = SceneVars().backup_params();
  EXPECT_EQ(got.size(), 3u);
  EXPECT_EQ(read("bak_p.ini"),
            "[params]\n"
            "max_conn = 512\n"
            "banner = line one\n\t\n\tline three\n"
            "empty = \n"
            "\n"
            "[set]\n"
            "set_max_conn = \"sed -i \"s/x=.*/x=$value/\" f\"\n"
            "set_banner = \"echo \"$value\"\"\n"
            "set_empty = \"true\"\n"
            "\n");
}

TEST_F(SceneVarsTest, NothingReadMeansNoBackupFile) {
  load(param("a", "echo no >&2"));
  write("bak_p.ini", "old");
  EXPECT_TRUE(SceneVars().backup_params().empty());
  EXPECT_EQ(read("bak_p.ini"), "old");
}

// The backup is written beside its name and renamed into place: a write that fails (here: over
// the file size limit) leaves the previous backup whole.
TEST_F(SceneVarsTest, AFailedBackupWriteKeepsThePreviousBackup) {
  load(param("a", "head -c 4000 /dev/zero | tr '\\0' x"));
  write("bak_p.ini", "previous backup\n");
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto old_handler = ::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 1000;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  EXPECT_ANY_THROW(SceneVars().backup_params());
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, old_handler);
  EXPECT_EQ(read("bak_p.ini"), "previous backup\n");
  for (const auto& entry : std::filesystem::directory_iterator(".")) {
    EXPECT_EQ(entry.path().filename().string().find("bak_p.ini.tmp"), std::string::npos);
  }
}

TEST_F(SceneVarsTest, SetScriptsGetTheTextOfEachValue) {
  load(param("a", "true", "echo a=$value,$value >> calls") + param("b", "true", "echo b >> calls") +
       param("c", "true", "echo c=$value >> calls") + param("d", "true", "echo d=$value >> calls") +
       param("e", "true", "echo e=$value >> calls"));
  SceneVars().set_params(Json{{"a", 3.0}, {"b", "ignored"}, {"c", 0.5}, {"d", 7}, {"e", "x  y"}});
  // A value is inserted as it is, unquoted: the shell splits "x  y" into two words.
  EXPECT_EQ(read("calls"), "a=3.0,3.0\nb\nc=0.5\nd=7\ne=x y\n");
}

TEST_F(SceneVarsTest, RestartsOnceAfterAllSetScripts) {
  load(param("a", "true", "echo a >> calls", "true") +
           param("b", "true", "echo b >> calls", "true") +
           param("c", "true", "echo c >> calls", "True"),
       kWorkload);
  SceneVars().set_params(Json{{"c", 1}, {"a", 1}, {"b", 1}});
  EXPECT_EQ(read("calls"), "c\na\nb\nstop\nstart\n");
}

TEST_F(SceneVarsTest, OnlyTheExactWordTrueRestarts) {
  load(param("c", "true", "echo c >> calls", "True") + param("d", "true", "echo d >> calls", "yes"),
       kWorkload);
  SceneVars().set_params(Json{{"c", 1}, {"d", 1}});
  EXPECT_EQ(read("calls"), "c\nd\n");
}

TEST_F(SceneVarsTest, AnEmptyMapRunsNothing) {
  load(param("a", "true", "echo a >> calls", "true"), kWorkload);
  SceneVars().set_params(Json::object());
  EXPECT_FALSE(exists("calls"));
}

TEST_F(SceneVarsTest, AnUnknownNameFailsAfterTheEarlierOnesWithoutRestart) {
  load(param("a", "true", "echo a >> calls", "true"), kWorkload);
  EXPECT_THROW(SceneVars().set_params(Json{{"a", 1}, {"zz", 2}}), std::runtime_error);
  EXPECT_EQ(read("calls"), "a\n");
}

}  // namespace
}  // namespace orvane
