// Settings files told apart from shell scripts.
#include <gtest/gtest.h>

#include "settings_apply.hpp"

namespace orvane::sealing {
namespace {

struct ScriptCase {
  std::string content, name;
  bool script;
};

TEST(SettingsApply, ShellScriptsAreRecognised) {
  const std::string settings = "settings:\n  - kind: sysctl\n    key: vm.swappiness\n";
  const std::vector<ScriptCase> cases = {
      {"#!/bin/sh\nsysctl -w vm.swappiness=10\n", "tuned.yaml", true},
      {"#!/usr/bin/env bash\n", "t", true},
      {"sysctl -w vm.swappiness=10\necho never > /sys/kernel/mm/thp/enabled\n", "t.txt", true},
      {"ulimit -n 65535", "t", true},
      {"echo x: y\n", "tuned.sh", true},
      {settings, "tuned.yaml", false},
      {settings, "tuned.sh", false},
      {"other: map\n", "t.yaml", false},
      // A broken settings file is refused for its YAML error, not as a script.
      {"description: d\nsettings:\n  - {kind: [\n", "t.yaml", false},
      {"echo x\nsettings: [\n", "t.sh", false},
      {std::string("\x1f\x8b\0\xff", 4), "t.gz", false},
      {"", "t", false},
  };
  for (const ScriptCase& c : cases) {
    EXPECT_EQ(is_shell_script(c.content, c.name), c.script) << c.name << ": " << c.content;
  }
}

}  // namespace
}  // namespace orvane::sealing
