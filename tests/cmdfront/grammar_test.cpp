// The command line from words to the options record, help screens and refusals.
#include <gtest/gtest.h>
#include <unistd.h>

#include <sstream>

#include "../../cmdfront/src/internals.hpp"

namespace orvane {
namespace {

const std::string self = std::to_string(::getpid());

// Words split at blanks; '' stands for an empty word.
std::vector<std::string> words_of(const std::string& line) {
  std::vector<std::string> w{"orvane"};
  std::istringstream in(line);
  for (std::string s; in >> s;) w.push_back(s == "''" ? "" : s);
  return w;
}

const std::string kCommands = "(choose from collection, analysis, profile, apply, tuning, confuse)";

ParseOutcome parse(const std::string& line) {
  return CmdFrontInternals::parse(words_of(line));
}

// Records compare without regard to key order.
nlohmann::json unordered(const Json& j) {
  return nlohmann::json::parse(j.dump());
}

const Json kCommon = {{"work_path", "."}, {"inst_path", "."}, {"out_path", "."}};

Json with(Json base, const Json& more) {
  for (auto& [k, v] : more.items()) base[k] = v;
  return base;
}

Json collect(const Json& more) {
  return with(with(kCommon, {{"perf_enable_type", 0},
                             {"perf_pid", nullptr},
                             {"perf_duration", 0},
                             {"offcpu_pid", nullptr},
                             {"offcpu_duration", 0},
                             {"offcpu", false}}),
              more);
}

struct RecordCase {
  std::string line;
  Json expected;
};

void PrintTo(const RecordCase& c, std::ostream* os) {
  *os << "'" << c.line << "'";
}

class RecordTest : public ::testing::TestWithParam<RecordCase> {};

TEST_P(RecordTest, ParsesIntoTheRecord) {
  ParseOutcome o = parse(GetParam().line);
  ASSERT_TRUE(o.record) << GetParam().line << "\n" << o.err;
  EXPECT_EQ(unordered(*o.record), unordered(GetParam().expected)) << GetParam().line;
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.err, "");
}

INSTANTIATE_TEST_SUITE_P(
    Commands, RecordTest,
    ::testing::Values(
        RecordCase{"collection", collect({{"func", "col"}})},
        RecordCase{"collection --perf --pid -1", collect({{"func", "col"},
                                                          {"perf_enable_type", 1},
                                                          {"perf_pid", "-1"},
                                                          {"perf_duration", 15}})},
        RecordCase{"analysis --perf 1 --pid " + self + " --duration 300 -o /tmp/o",
                   collect({{"func", "ana"},
                            {"perf_enable_type", 1},
                            {"perf_pid", self},
                            {"perf_duration", 300},
                            {"out_path", "/tmp/o"},
                            {"test", false}})},
        // A joined value enables perf like the bare word, with the same duration default.
        RecordCase{"collection --perf=1 --pid=-1", collect({{"func", "col"},
                                                            {"perf_enable_type", 1},
                                                            {"perf_pid", "-1"},
                                                            {"perf_duration", 15}})},
        RecordCase{"collection --offcpu --offcpu_pid " + self, collect({{"func", "col"},
                                                                        {"offcpu", true},
                                                                        {"offcpu_pid", ::getpid()},
                                                                        {"offcpu_duration", 15}})},
        RecordCase{"collection --duration 5 --duration 7 --perf --pid -1",
                   collect({{"func", "col"},
                            {"perf_enable_type", 1},
                            {"perf_pid", "-1"},
                            {"perf_duration", 7}})},
        RecordCase{"analysis --test --work_path w --inst_path=i -oout",
                   collect({{"func", "ana"},
                            {"test", true},
                            {"work_path", "w"},
                            {"inst_path", "i"},
                            {"out_path", "out"}})},
        RecordCase{"collection --func ana", collect({{"func", "ana"}})},
        RecordCase{"profile kafka_config /opt/kafka",
                   with(kCommon, {{"func", "pro_kafka"}, {"CONF_DIR", "/opt/kafka"}})},
        RecordCase{"profile mysql_config -1",
                   with(kCommon, {{"func", "pro_mysql"}, {"CONF_DIR", "-1"}})},
        RecordCase{"profile mysql_config -0.5",
                   with(kCommon, {{"func", "pro_mysql"}, {"CONF_DIR", "-0.5"}})},
        RecordCase{"profile mysql_config -.5",
                   with(kCommon, {{"func", "pro_mysql"}, {"CONF_DIR", "-.5"}})},
        RecordCase{"profile mysql_config ''",
                   with(kCommon, {{"func", "pro_mysql"}, {"CONF_DIR", ""}})},
        // "--" ends the options; "++" is a word like any other.
        RecordCase{"tuning -- -5.yaml", with(kCommon, {{"func", "tuning"},
                                                       {"PROJECT_YAML", "-5.yaml"},
                                                       {"tuning_outpath", "."}})},
        RecordCase{
            "tuning --tuning_outpath ++ -- --help",
            with(kCommon,
                 {{"func", "tuning"}, {"PROJECT_YAML", "--help"}, {"tuning_outpath", "++"}})},
        RecordCase{"collection --perf --pid -1 --duration +5 --duration 007",
                   collect({{"func", "col"},
                            {"perf_enable_type", 1},
                            {"perf_pid", "-1"},
                            {"perf_duration", 7}})},
        RecordCase{"profile ats_config a", with(kCommon, {{"func", "pro_ats"}, {"CONF_DIR", "a"}})},
        RecordCase{"profile specweb_config a",
                   with(kCommon, {{"func", "pro_specweb"}, {"CONF_DIR", "a"}})},
        RecordCase{"profile dm_config a", with(kCommon, {{"func", "pro_dm"}, {"CONF_DIR", "a"}})},
        RecordCase{"profile recover", with(kCommon, {{"func", "pro_rec"}})},
        // A common option before the scene word is kept; given twice, the later one wins.
        RecordCase{
            "profile -o before kafka_config /k",
            with(kCommon, {{"func", "pro_kafka"}, {"CONF_DIR", "/k"}, {"out_path", "before"}})},
        RecordCase{
            "profile -o before kafka_config -o after /k",
            with(kCommon, {{"func", "pro_kafka"}, {"CONF_DIR", "/k"}, {"out_path", "after"}})},
        RecordCase{"profile -o before recover",
                   with(kCommon, {{"func", "pro_rec"}, {"out_path", "before"}})},
        RecordCase{"apply tuned.sh --enc", with(kCommon, {{"func", "app"},
                                                          {"SCRIPT", "tuned.sh"},
                                                          {"PATH", "."},
                                                          {"enc", true},
                                                          {"de", false}})},
        RecordCase{"apply s.sh --PATH ''", with(kCommon, {{"func", "app"},
                                                          {"SCRIPT", "s.sh"},
                                                          {"PATH", ""},
                                                          {"enc", false},
                                                          {"de", false}})},
        RecordCase{"confuse s.sh --un --PATH /p", with(kCommon, {{"func", "con"},
                                                                 {"SCRIPT", "s.sh"},
                                                                 {"PATH", "/p"},
                                                                 {"cnf", false},
                                                                 {"un", true}})},
        RecordCase{
            "tuning p.yaml --tuning_outpath /t",
            with(kCommon,
                 {{"func", "tuning"}, {"PROJECT_YAML", "p.yaml"}, {"tuning_outpath", "/t"}})}));

struct RefusalCase {
  std::string line;
  std::string usage_prog;  // whose usage is shown
  std::string message;
};

void PrintTo(const RefusalCase& c, std::ostream* os) {
  *os << "'" << c.line << "'";
}

class RefusalTest : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(RefusalTest, PrintsUsageAndMessageWithStatusTwo) {
  const RefusalCase& c = GetParam();
  ParseOutcome o = parse(c.line);
  ASSERT_FALSE(o.record) << c.line;
  EXPECT_EQ(o.exit_status, 2);
  EXPECT_EQ(o.out, "");
  EXPECT_TRUE(o.err.starts_with("usage: " + c.usage_prog)) << o.err;
  const std::string last_line = c.usage_prog.empty() ? "orvane" : c.usage_prog;
  EXPECT_TRUE(o.err.ends_with(last_line + ": error: " + c.message + "\n")) << c.line << "\n"
                                                                           << o.err;
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, RefusalTest,
    ::testing::Values(
        RefusalCase{"", "", "a command is required"},
        RefusalCase{"bogus", "", "invalid choice: 'bogus' " + kCommands},
        RefusalCase{"bogus collection", "", "invalid choice: 'bogus' " + kCommands},
        RefusalCase{"++ collection", "", "invalid choice: '++' " + kCommands},
        RefusalCase{"-x", "", "unrecognized arguments: -x"},
        RefusalCase{"collection -v", "orvane collection", "unrecognized arguments: -v"},
        RefusalCase{"profile -v", "orvane profile", "unrecognized arguments: -v"},
        // Every word no parser takes is named, "--" and "++" included.
        RefusalCase{"collection ++", "orvane collection", "unrecognized arguments: ++"},
        RefusalCase{"tuning p.yaml ++", "orvane tuning", "unrecognized arguments: ++"},
        RefusalCase{"collection ++ analysis", "orvane collection",
                    "unrecognized arguments: ++ analysis"},
        RefusalCase{"collection -- --perf", "orvane collection", "unrecognized arguments: --perf"},
        RefusalCase{"collection --dur 10 -- x", "orvane collection",
                    "unrecognized arguments: --dur 10 x"},
        RefusalCase{"profile kafka_config /k -- y", "orvane profile kafka_config",
                    "unrecognized arguments: y"},
        // A word beginning with "-" that is not a negative number is an option.
        RefusalCase{"tuning -5.yaml", "orvane tuning", "PROJECT_YAML is required"},
        RefusalCase{"tuning p.yaml -5.yaml", "orvane tuning", "unrecognized arguments: -5.yaml"},
        RefusalCase{"collection --perf -5.yaml", "orvane collection",
                    "unrecognized arguments: -5.yaml"},
        RefusalCase{"collection -o -5.yaml", "orvane collection",
                    "argument --out_path: expected one argument"},
        RefusalCase{"collection --duration -5.yaml", "orvane collection",
                    "argument --duration: expected one argument"},
        // Hidden options are named too.
        RefusalCase{"collection --work_path", "orvane collection",
                    "argument --work_path: expected one argument"},
        RefusalCase{"analysis --func", "orvane analysis", "argument --func: expected one argument"},
        RefusalCase{"apply s.sh --PATH", "orvane apply", "argument --PATH: expected one argument"},
        RefusalCase{"tuning p.yaml --tuning_outpath", "orvane tuning",
                    "argument --tuning_outpath: expected one argument"},
        RefusalCase{"apply s.sh --enc=1", "orvane apply",
                    "argument --enc: ignored explicit argument '1'"},
        RefusalCase{"collection --offcpu=yes", "orvane collection",
                    "argument --offcpu: ignored explicit argument 'yes'"},
        RefusalCase{"profile", "orvane profile", "a scene is required"},
        RefusalCase{"profile kafka_config -h", "orvane profile kafka_config",
                    "CONF_DIR is required"},
        RefusalCase{"profile kafka_config /x -h", "orvane profile kafka_config",
                    "unrecognized arguments: -h"},
        RefusalCase{"profile recover -o x", "orvane profile recover",
                    "unrecognized arguments: -o x"},
        RefusalCase{"collection --dur 10", "orvane collection", "unrecognized arguments: --dur 10"},
        RefusalCase{"collection -o", "orvane collection",
                    "argument --out_path: expected one argument"},
        RefusalCase{"collection -o --perf", "orvane collection",
                    "argument --out_path: expected one argument"},
        RefusalCase{"collection --perf 2 --pid -1", "orvane collection",
                    "argument --perf: invalid value, should set to 1, default 1 if not value set"},
        RefusalCase{"analysis --perf x --pid -1", "orvane analysis",
                    "argument --perf: invalid value, should set to 1, default 1 if no value set"},
        RefusalCase{"collection --perf -1 --pid -1", "orvane collection",
                    "argument --perf: invalid value, should set to 1, default 1 if not value set"},
        RefusalCase{"collection --pid 0", "orvane collection",
                    "argument --pid: should set to -1 or existed process id"},
        RefusalCase{"collection --duration 301", "orvane collection",
                    "argument --duration: must be 1-300"},
        RefusalCase{"collection --duration 0", "orvane collection",
                    "argument --duration: must be 1-300"},
        RefusalCase{"collection --duration -5", "orvane collection",
                    "argument --duration: must be 1-300"},
        // An empty word was given: it is checked, not taken for a bare --perf.
        RefusalCase{"collection --perf ''", "orvane collection",
                    "argument --perf: invalid value, should set to 1, default 1 if no value set"},
        RefusalCase{"collection --duration ''", "orvane collection",
                    "argument --duration: must be an integer"},
        // Integers of any length are compared as integers.
        RefusalCase{"collection --duration 99999999999999999999", "orvane collection",
                    "argument --duration: must be 1-300"},
        RefusalCase{"collection --offcpu_pid -99999999999999999999", "orvane collection",
                    "argument --offcpu_pid: must be positive and nonzero"},
        RefusalCase{"collection --duration +-5", "orvane collection",
                    "argument --duration: must be an integer"},
        RefusalCase{"collection --offcpu_duration abc", "orvane collection",
                    "argument --offcpu_duration: must be an integer"},
        RefusalCase{"collection --offcpu_pid 0", "orvane collection",
                    "argument --offcpu_pid: must be positive and nonzero"},
        RefusalCase{"collection --offcpu_pid abc", "orvane collection",
                    "argument --offcpu_pid: must be an integer"},
        RefusalCase{"collection --offcpu_pid 4194305", "orvane collection",
                    "argument --offcpu_pid: should set to an existed process id"},
        // Checks run in command-line order: the first refused value is the one reported.
        RefusalCase{"collection --duration 0 --perf 7", "orvane collection",
                    "argument --duration: must be 1-300"},
        RefusalCase{"collection --perf 7 --duration 0", "orvane collection",
                    "argument --perf: invalid value, should set to 1, default 1 if not value set"},
        // Cross-option rules: the perf rule first, one message at most.
        RefusalCase{"analysis --perf --offcpu", "orvane analysis", "need to specify --pid option"},
        RefusalCase{"collection --pid -1", "orvane collection", "need to specify --perf option"},
        RefusalCase{"collection --duration 10", "orvane collection",
                    "need to specify --perf option"},
        RefusalCase{"collection --offcpu", "orvane collection",
                    "need to specify --offcpu_pid option"},
        RefusalCase{"collection --offcpu_duration 10", "orvane collection",
                    "need to specify --offcpu option"},
        RefusalCase{"collection --offcpu_pid " + self, "orvane collection",
                    "need to specify --offcpu option"},
        RefusalCase{"apply", "orvane apply", "SCRIPT is required"},
        RefusalCase{"tuning", "orvane tuning", "PROJECT_YAML is required"}));

TEST(Rules, ApplyOnlyToCollectionAndAnalysisCodes) {
  // A record with another code skips the rules even when its fields would break them.
  ParseOutcome o = parse("apply s --func col");
  ASSERT_TRUE(o.record);
  EXPECT_EQ((*o.record)["func"], "col");
}

TEST(Help, VersionAtTopLevelOnly) {
  for (const char* line : {"-v", "--version", "-v collection"}) {
    ParseOutcome o = parse(line);
    EXPECT_FALSE(o.record);
    EXPECT_EQ(o.exit_status, 0);
    EXPECT_EQ(o.out, "Orvane version is 1.2.2. \n");
  }
}

TEST(Help, HelpActsWhereItStandsBeforeLaterValues) {
  ParseOutcome o = parse("collection -h --duration 0");
  EXPECT_EQ(o.exit_status, 0);
  EXPECT_TRUE(o.out.starts_with("usage: orvane collection")) << o.out;
  o = parse("collection --duration 0 -h");
  EXPECT_EQ(o.exit_status, 2);
}

std::string help_of(const std::string& line) {
  ParseOutcome o = parse(line);
  EXPECT_EQ(o.exit_status, 0) << o.err;
  return o.out;
}

TEST(Help, TopLevelTexts) {
  const std::string h = help_of("--help");
  EXPECT_TRUE(h.starts_with("usage:  \n  orvane COMMAND [options] \n")) << h;
  EXPECT_NE(h.find("\ndescription:\n  orvane is an expert tuning tool for Nerith system\n"),
            std::string::npos);
  EXPECT_TRUE(h.ends_with("\nexamples:\n    orvane collection --perf --pid -1\n")) << h;
  const char* order[] = {"\ncommands:\n",
                         "* collect the system data ,such as CPU/MEM/NET/IO",
                         "* analysis system performance and provide tuning advice",
                         "* activate the preset scene profile",
                         "* apply tuned script, TBD",
                         "* AI tune optimize params",
                         "* obfuscated tuned script"};
  size_t at = 0;
  for (const char* piece : order) {
    size_t found = h.find(piece, at);
    ASSERT_NE(found, std::string::npos) << piece;
    at = found;
  }
  EXPECT_NE(h.find("-v, --version"), std::string::npos);
}

TEST(Help, CommandScreensShowTheirDescriptionsGroupsAndNoHiddenOptions) {
  const std::string c = help_of("collection -h");
  EXPECT_NE(c.find("\ndescription:\n  collect the system data ,such as CPU/MEM/NET/IO\n"),
            std::string::npos);
  const char* order[] = {"-h, --help",
                         "--out_path",
                         "Generate orvaneData/, include log and reports,  default",
                         "--perf",
                         "collect perf data. \n",
                         "default is disabled.",
                         "--offcpu ",
                         "\nperf required parameters:\n",
                         "--pid",
                         "process id to profile. -1 to profile the whole system",
                         "--duration",
                         "\noffcpu required parameters:\n",
                         "--offcpu_pid",
                         "--offcpu_duration"};
  size_t at = 0;
  for (const char* piece : order) {
    size_t found = c.find(piece, at);
    ASSERT_NE(found, std::string::npos) << piece << "\n" << c;
    at = found;
  }
  const std::string a = help_of("analysis -h");
  EXPECT_NE(a.find("\nanalysis system performance and provide tuning advice\n"), std::string::npos);
  const size_t options = a.find("\noptions:\n");
  EXPECT_LT(a.find("--offcpu ", options), a.find("--test", options));
  EXPECT_NE(a.find("test mode.default is False.only developer use"), std::string::npos);

  const std::string p = help_of("profile -h");
  EXPECT_NE(p.find("\nCommands:\n"), std::string::npos);
  EXPECT_NE(p.find("kafka_config          kafka scene set"), std::string::npos);
  EXPECT_NE(p.find("recover               recover"), std::string::npos);
  EXPECT_NE(help_of("tuning -h").find("\ndescription:\n  AI tune optimize params\n"),
            std::string::npos);
  EXPECT_NE(help_of("apply -h").find("SCRIPT                tuned script"), std::string::npos);

  for (const std::string& screen :
       {c, a, p, help_of("apply -h"), help_of("confuse -h"), help_of("tuning -h"), help_of("-h")}) {
    for (const char* hidden : {"--work_path", "--inst_path", "--func", "--PATH", "--enc", "--de",
                               "--cnf", "--un", "--tuning_outpath"}) {
      EXPECT_EQ(screen.find(std::string(hidden) + " "), std::string::npos) << hidden;
    }
    std::istringstream lines(screen);
    for (std::string line; std::getline(lines, line);) {
      EXPECT_LE(line.size(), 80u) << line;
    }
  }
}

}  // namespace
}  // namespace orvane
