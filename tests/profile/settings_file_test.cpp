// Settings files: refusals with file, line and key; the shipped profiles load.
#include <gtest/gtest.h>

#include <orvane/settings.hpp>

#include <string>

namespace orvane::settings {
namespace {

const std::string kHead =
    "description: d\n"
    "files:\n"
    "  a.conf: {find: a.conf, service: svc}\n"
    "settings:\n";

std::string setting(const std::string& body) {
  return kHead + "  - {reason: r, reference: x, " + body + "}\n";
}

TEST(SettingsFile, RefusesWithFileLineAndKey) {
  const std::pair<std::string, std::string> cases[] = {
      {setting("kind: sysctl, target: vm.swappiness, value: 1, effect: live, colour: red"),
       "t.yaml:5: colour: unknown key in a setting of kind sysctl"},
      {setting("kind: sysctl, target: vm.swappiness, value: 1"), "t.yaml:5: effect: missing"},
      {setting("kind: magic, target: x, value: 1, effect: live"),
       "t.yaml:5: kind: unknown kind 'magic'"},
      {setting("kind: sysctl, target: vm/swappiness, value: 1, effect: live"),
       "t.yaml:5: target: a sysctl key is written with dots"},
      {setting("kind: sysctl, target: vm.x, compute: memory_gb * 2, effect: live"),
       "t.yaml:5: compute: expression 'memory_gb * 2', at character 1: unknown name 'memory_gb'"},
      {setting("kind: sysctl, target: vm.x, value: 1, compute: cpus, effect: live"),
       "t.yaml:5: compute: give value or compute, not both"},
      {setting("kind: sysctl, target: vm.x, effect: live"),
       "t.yaml:5: value: missing (or compute)"},
      {setting("kind: sysctl, target: vm.x, value: 1, effect: soon"),
       "t.yaml:5: effect: must be live, reload, restart or login"},
      {setting("kind: ini, file: b.conf, target: k, value: 1, effect: live"),
       "t.yaml:5: file: 'b.conf' is not listed in files"},
      {setting("kind: ini, target: k, value: 1, effect: live"), "t.yaml:5: file: missing"},
      {setting("kind: sysctl, target: vm.x, value: 1, effect: restart"),
       "t.yaml:5: service: missing: which service to restart?"},
      {setting("kind: limits, target: nofile, value: 1, effect: live"),
       "t.yaml:5: target: a limit is for either a service (a systemd drop-in) or a user "
       "(/etc/security/limits.d)"},
      {setting("kind: nginx, file: a.conf, section: server, target: k, value: 1, effect: live"),
       "t.yaml:5: target: section must be main, events or http"},
      {setting("kind: sysfs, target: /sys/../etc/passwd, value: 1, effect: live"),
       "t.yaml:5: target: '..' is not allowed in a path"},
      {setting("kind: sysctl, target: vm.x, target: vm.y, value: 1, effect: live"),
       "t.yaml:5: target: given twice"},
      {"description: d\nsettings: []\n", "t.yaml:2: settings: must be a non-empty list"},
      {"description: d\nextra: 1\nsettings: []\n",
       "t.yaml:2: extra: unknown key in a settings file"},
      {"description: d\nfiles:\n  a: {find: /etc/a}\nsettings: [x]\n",
       "t.yaml:3: find: paths are relative to the configuration directory, without '..'"},
      {"description: [d\n", "t.yaml:2: yaml: end of sequence flow not found"},
  };
  for (const auto& [text, message] : cases) {
    try {
      parse_settings(text, "t.yaml");
      ADD_FAILURE() << "accepted: " << text;
    } catch (const SettingsError& e) {
      EXPECT_EQ(std::string(e.what()), message) << text;
    }
  }
}

TEST(SettingsFile, ReadsASettingWithItsKindKeysAndFileService) {
  const auto file = parse_settings(
      setting("kind: ini, file: a.conf, section: mysqld, target: k, compute: cpus * 2, suffix: M, "
              "when: rotational > 0, at_least: true, effect: restart"),
      "t.yaml");
  ASSERT_EQ(file.settings.size(), 1u);
  const Setting& s = file.settings[0];
  EXPECT_EQ(s.key("section"), "mysqld");
  EXPECT_EQ(s.service, "svc");
  EXPECT_TRUE(s.at_least);
  EXPECT_EQ(s.where, "t.yaml:5");
}

TEST(SettingsFile, AnotherModuleAddsAKind) {
  register_kind({"script", {"get", "set"}, {}, false, false, {}});
  const auto file = parse_settings(
      setting("kind: script, target: t, get: 'cat /x', set: 'echo $1 > /x', effect: live"),
      "t.yaml");
  EXPECT_EQ(file.settings[0].key("set"), "echo $1 > /x");
  EXPECT_NE(find_kind("script"), nullptr);
}

TEST(SettingsFile, ShippedProfilesLoad) {
  for (const char* scene :
       {"kafka_config", "mysql_config", "ats_config", "specweb_config", "dm_config"}) {
    const std::string path = std::string(ORVANE_TEST_SHARE_DIR) + "/profiles/" + scene + ".yaml";
    SettingsFile file;
    ASSERT_NO_THROW(file = load_settings(path)) << path;
    EXPECT_GE(file.settings.size(), 5u) << scene;
    for (const Setting& s : file.settings) {
      // Durability is never traded for speed.
      for (const char* never :
           {"innodb_flush_log_at_trx_commit", "sync_binlog", "log.flush", "doublewrite"}) {
        EXPECT_EQ(s.target.find(never), std::string::npos) << scene << ": " << s.target;
      }
    }
  }
}

}  // namespace
}  // namespace orvane::settings
