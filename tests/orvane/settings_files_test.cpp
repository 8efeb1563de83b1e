// Advice and tuning results as settings files: which advice orvane can apply itself, and texts
// that read back as written.
#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>

#include <orvane/settings.hpp>

#include "../../orvane/settings_files.hpp"

namespace orvane {
namespace {

struct AdviceCase {
  std::string parameter, current, suggested;
  std::string kind;  // empty: left out of the file
};

TEST(AdviceSettings, OnlyConcreteValuesOfKnownTargets) {
  const std::vector<AdviceCase> cases = {
      {"vm.swappiness", "60", "10", "sysctl"},
      {"fs.file-max", "9223372036854775807", "1048576", "sysctl"},
      {"net.ipv4.tcp_rmem", "4096 131072 6291456", "4096 87380 16777216", "sysctl"},
      {"/sys/kernel/mm/transparent_hugepage/enabled", "always", "madvise", "sysfs"},
      {"vm.dirty_ratio", "20", "10 to 20", ""},
      {"I/O scheduler of SSD and NVMe disks", "bfq", "none or mq-deadline", ""},
      {"open-file limit (ulimit -n)", "1024", "65535 (nofile in limits.conf)", ""},
      {"CPU frequency governor", "powersave", "performance", ""},
      {"vm.zone_reclaim_mode", "0", "0", ""},
      {"kernel.core_pattern", "core", "|/bin/sh", ""},
  };
  struct {
    Json sug = Json::array(), ref = Json::array();
  } results;
  for (const AdviceCase& c : cases) {
    results.sug.push_back({{"parameter", c.parameter},
                           {"current", c.current},
                           {"suggested", c.suggested},
                           {"severity", "low"},
                           {"reason", "why " + c.parameter}});
    results.ref.push_back({{"parameter", c.parameter}, {"reference", "ref " + c.parameter}});
  }
  const std::vector<SettingFields> settings = advice_settings(results.sug, results.ref);
  size_t next = 0;
  for (const AdviceCase& c : cases) {
    if (c.kind.empty()) continue;
    ASSERT_LT(next, settings.size()) << c.parameter;
    const SettingFields& s = settings[next++];
    EXPECT_EQ(s[0], (std::pair<std::string, std::string>{"kind", c.kind}));
    EXPECT_EQ(s[1], (std::pair<std::string, std::string>{"target", c.parameter}));
    EXPECT_EQ(s[2], (std::pair<std::string, std::string>{"value", c.suggested}));
    EXPECT_EQ(s[5], (std::pair<std::string, std::string>{"reference", "ref " + c.parameter}));
  }
  EXPECT_EQ(next, settings.size());
  // The file is one the profile engine reads, setting for setting.
  const settings::SettingsFile file =
      settings::parse_settings(settings_file_text({"advice"}, "d", settings), "advice.yaml");
  ASSERT_EQ(file.settings.size(), settings.size());
  EXPECT_EQ(file.settings[2].target, "net.ipv4.tcp_rmem");
  EXPECT_EQ(file.settings[2].value, "4096 87380 16777216");
}

TEST(TuningSettings, ScriptSettingsWithTheProjectsCommands) {
  const TuningProject project{
      .name = "demo",
      .get_scripts = {{"threads", {{"get", "cat t"}}}, {"mode", {{"get", "cat m"}}}},
      .set_scripts = {{"threads", {{"set", "echo $value > t"}, {"needrestart", "false"}}},
                      {"mode", {{"set", "echo $value > m"}, {"needrestart", "true"}}}},
      .workload = {{"stop", "stop.sh"}, {"start", "start.sh"}},
      .dir = "/srv/demo",
      .reference = "/srv/demo/tuning_demo_result.json"};
  const auto settings = tuning_settings({{"threads", "8"}, {"mode", "fast"}}, project);
  const YAML::Node root = YAML::Load(settings_file_text({}, "d", settings));
  ASSERT_EQ(root["settings"].size(), 2u);
  for (const YAML::Node& s : root["settings"]) {
    EXPECT_EQ(s["kind"].as<std::string>(), "script");
    EXPECT_EQ(s["dir"].as<std::string>(), "/srv/demo");
    EXPECT_EQ(s["reference"].as<std::string>(), project.reference);
    const bool restart = s["target"].as<std::string>() == "mode";
    EXPECT_EQ(static_cast<bool>(s["stop"]), restart);
    if (restart) {
      EXPECT_EQ(s["start"].as<std::string>(), "start.sh");
    }
  }
}

TEST(SettingsFileText, ValuesReadBackAsTheTextsWritten) {
  const std::vector<SettingFields> settings = {
      {{"kind", "script"},
       {"value", "0"},
       {"get", "sed -n 's/^x=//p' a.conf # \"quoted\": yes"},
       {"set", "sed -i 's/^x=.*/x=$value/' a.conf\necho done"}},
      {{"kind", "sysctl"}, {"key", "vm.swappiness"}, {"value", "yes"}}};
  const std::string text =
      settings_file_text({"first line", "apply: orvane apply x"}, "a file", settings);
  EXPECT_TRUE(text.starts_with("# first line\n# apply: orvane apply x\n")) << text;
  const YAML::Node root = YAML::Load(text);
  EXPECT_EQ(root["description"].as<std::string>(), "a file");
  ASSERT_EQ(root["settings"].size(), 2u);
  for (size_t i = 0; i < settings.size(); ++i) {
    for (const auto& [key, value] : settings[i]) {
      EXPECT_EQ(root["settings"][i][key].as<std::string>(), value) << key;
    }
  }
}

}  // namespace
}  // namespace orvane
