// The operating-system gate, the value checks, the cross-option rules and the derived maps.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "../../cmdfront/src/internals.hpp"
#include "../support/temp_dir.hpp"

namespace orvane {
namespace {

struct GateCase {
  std::string platform;
  std::string kernel;
  bool supported;
};

TEST(Gate, SupportedWhenAnyOfTheThreeMarksIsPresent) {
  const GateCase cases[] = {
      {"Linux-5.10-x86_64-with-nerith-10", "Linux version 5.10", true},
      {"Linux-5.10-x86_64-with-Nerith-10", "Linux version 5.10", false},
      {"Linux-5.10-x86_64-with-debian-12", "Linux version 5.10.0-60.nr10.x86_64", true},
      {"Linux-5.10-x86_64-with-debian-12", "Linux version 5.10 (builder@NeRiTh)", true},
      {"Linux-5.10-x86_64-with-debian-12", "Linux version 5.10.0-NR10", false},
      {"Linux-5.10-x86_64-with-debian-12", "Linux version 6.1.0-13-amd64", false},
      {"", "", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CmdFrontInternals::os_supported(c.platform, c.kernel), c.supported)
        << c.platform << " / " << c.kernel;
  }
}

TEST(Gate, PlatformDescriptionComesFromUnameAndTheOsReleaseFile) {
  testing::TempDir dir;
  auto file = dir.write("os-release", "NAME=\"X\"\nID=nerith\nVERSION_ID=\"22.03\"\n");
  ::setenv("ORVANE_OS_RELEASE", file.c_str(), 1);
  const std::string desc = CmdFrontInternals::platform_description();
  EXPECT_TRUE(desc.starts_with("Linux-")) << desc;
  EXPECT_TRUE(desc.ends_with("-with-nerith-22.03")) << desc;
  ::setenv("ORVANE_OS_RELEASE", (dir.path() / "missing").c_str(), 1);
  EXPECT_EQ(CmdFrontInternals::platform_description().find("-with-"), std::string::npos);
  ::unsetenv("ORVANE_OS_RELEASE");
}

// What a check returns, or "refused: <message>".
template <typename F>
std::string outcome(F check, const std::string& text) {
  try {
    std::ostringstream s;
    s << check(text);
    return s.str();
  } catch (const CheckRefused& e) {
    return std::string("refused: ") + e.what();
  }
}

TEST(ValueChecks, AcceptOrRefuseWithTheirMessages) {
  const std::string self = std::to_string(::getpid());
  struct Case {
    std::string (*check)(const std::string&);
    std::string text;
    std::string expected;
  };
  auto perf = [](const std::string& t) {
    return outcome(CmdFrontInternals::check_perf_enable_value, t);
  };
  auto pid = [](const std::string& t) { return outcome(CmdFrontInternals::check_perf_pid, t); };
  auto offcpu = [](const std::string& t) {
    return outcome(CmdFrontInternals::check_offcpu_pid, t);
  };
  auto duration = [](const std::string& t) {
    return outcome(CmdFrontInternals::check_duration_value, t);
  };
  const Case cases[] = {
      {perf, "1", "1"},
      {perf, "+1", "1"},
      {perf, "0", "refused: invalid value, should set to 1, default 1 if not value set"},
      {perf, "x", "refused: invalid value, should set to 1, default 1 if no value set"},
      {perf, "1.0", "refused: invalid value, should set to 1, default 1 if no value set"},
      {pid, "-1", "-1"},
      {pid, self, self},
      {pid, "abc", "refused: should set to -1 or existed process id"},
      {offcpu, self, self},
      {offcpu, "0", "refused: must be positive and nonzero"},
      {offcpu, "-3", "refused: must be positive and nonzero"},
      {offcpu, "abc", "refused: must be an integer"},
      {offcpu, "4194305", "refused: should set to an existed process id"},
      {duration, "1", "1"},
      {duration, "300", "300"},
      {duration, "301", "refused: must be 1-300"},
      {duration, "0", "refused: must be 1-300"},
      {duration, "-5", "refused: must be 1-300"},
      {duration, "", "refused: must be an integer"},
      {duration, "1e2", "refused: must be an integer"},
      {duration, "007", "7"},
      {duration, "+5", "5"},
      {duration, "+-5", "refused: must be an integer"},
      {duration, "-+5", "refused: must be an integer"},
      {duration, "-", "refused: must be an integer"},
      {duration, " 5", "refused: must be an integer"},
      // Beyond the range of long: still compared as integers.
      {duration, "99999999999999999999", "refused: must be 1-300"},
      {duration, "-99999999999999999999", "refused: must be 1-300"},
      {perf, "100000000000000000001",
       "refused: invalid value, should set to 1, default 1 if not value set"},
      {offcpu, "-99999999999999999999", "refused: must be positive and nonzero"},
      {offcpu, "99999999999999999999", "refused: should set to an existed process id"},
      {offcpu, "4294967297", "refused: should set to an existed process id"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.check(c.text), c.expected) << c.text;
}

TEST(CrossRules, FirstMatchingLineDecides) {
  struct Case {
    Json record;
    std::optional<std::string> perf, offcpu;
  };
  const Case cases[] = {
      {{{"perf_enable_type", 1}, {"perf_pid", nullptr}}, "need to specify --pid option", {}},
      {{{"perf_enable_type", 1}, {"perf_pid", ""}}, "need to specify --pid option", {}},
      {{{"perf_enable_type", 0}, {"perf_pid", "-1"}}, "need to specify --perf option", {}},
      {{{"perf_enable_type", 0}, {"perf_duration", 10}}, "need to specify --perf option", {}},
      {{{"perf_enable_type", 1}, {"perf_pid", "-1"}, {"perf_duration", 15}}, {}, {}},
      {{{"offcpu", true}, {"offcpu_pid", nullptr}}, {}, "need to specify --offcpu_pid option"},
      {{{"offcpu", false}, {"offcpu_pid", 5}}, {}, "need to specify --offcpu option"},
      {{{"offcpu", false}, {"offcpu_duration", 3}}, {}, "need to specify --offcpu option"},
      {Json::object(), {}, {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CmdFrontInternals::check_perf_cmdline(c.record), c.perf) << c.record.dump();
    EXPECT_EQ(CmdFrontInternals::check_offcpu_cmdline(c.record), c.offcpu) << c.record.dump();
  }
}

TEST(ProjectName, FileNameUpToItsFirstDot) {
  const std::pair<std::string, std::string> cases[] = {
      {"/opt/proj/kafka.yaml", "kafka"},
      {"kafka.prod.yaml", "kafka"},
      {"proj", "proj"},
      {"/opt/proj/", ""},
      {"a.b/c", "c"},
      {".hidden", ""},
  };
  // parse_projectname touches no state, so any CmdFront will do; skip the gate by not
  // constructing one through its constructor.
  alignas(CmdFront) unsigned char storage[sizeof(CmdFront)];
  auto* front = reinterpret_cast<CmdFront*>(storage);
  for (const auto& [path, name] : cases) EXPECT_EQ(front->parse_projectname(path), name) << path;
}

TEST(HotspotMaps, DerivedOnlyForCollectionAndAnalysis) {
  alignas(CmdFront) unsigned char storage[sizeof(CmdFront)];
  auto* front = reinterpret_cast<CmdFront*>(storage);
  const Json both = {{"func", "col"},        {"perf_enable_type", 1}, {"perf_pid", "-1"},
                     {"perf_duration", 15},  {"offcpu", true},        {"offcpu_pid", 42},
                     {"offcpu_duration", 15}};
  auto [perf, offcpu] = front->get_hotspot_cmdline_parser(both);
  EXPECT_EQ(perf.dump(), R"({"perf_enable_type":1,"perf_pid":"-1","perf_duration":15})");
  EXPECT_EQ(offcpu.dump(), R"({"offcpu_enable":true,"offcpu_pid":42,"offcpu_duration":15})");

  Json only_offcpu = both;
  only_offcpu["perf_enable_type"] = 0;
  std::tie(perf, offcpu) = front->get_hotspot_cmdline_parser(only_offcpu);
  EXPECT_TRUE(perf.empty());
  EXPECT_EQ(offcpu["offcpu_pid"], 42);

  for (const char* func : {"tuning", "pro_kafka", "Col"}) {
    Json other = both;
    other["func"] = func;
    std::tie(perf, offcpu) = front->get_hotspot_cmdline_parser(other);
    EXPECT_TRUE(perf.empty() && offcpu.empty()) << func;
  }
}

}  // namespace
}  // namespace orvane
