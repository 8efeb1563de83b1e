// Settings files of `script` settings: every malformed file refused with its line and key.
#include <gtest/gtest.h>

#include <orvane/sealing.hpp>

#include "script_road.hpp"

namespace orvane::sealing {
namespace {

struct ParseCase {
  std::string name;
  std::string settings;  // the items under `settings:`
  std::string message;   // part of the refusal; empty: accepted
};

const std::string kGood =
    "  - kind: script\n    name: threads\n    value: '8'\n"
    "    get: cat t\n    set: echo $value > t\n";

TEST(ScriptRoad, ParsingRefusesWhatCouldHarmOrMislead) {
  const std::vector<ParseCase> cases = {
      {"good", kGood, ""},
      {"restart", kGood + "    needrestart: 'true'\n    stop: s\n    start: r\n    dir: /srv\n",
       ""},
      {"unknown key", kGood + "    sett: x\n", "t.yaml:8: settings[0].sett: unknown key"},
      {"missing value", "  - {kind: script, name: a, get: g, set: s}\n", "has no 'value'"},
      {"shell value", "  - {kind: script, name: a, value: '1;reboot', get: g, set: s}\n",
       "holds the shell character ';'"},
      {"value substitution", "  - {kind: script, name: a, value: '$(id)', get: g, set: s}\n",
       "shell character '$'"},
      {"restart without commands", kGood + "    needrestart: 'true'\n", "needs the workload's"},
      {"needrestart word", kGood + "    needrestart: yes\n", "must be \"true\" or \"false\""},
      {"relative dir", kGood + "    dir: srv\n", "must be an absolute directory"},
      {"twice", kGood + kGood, "'threads' is set twice"},
      {"other kind", "  - {kind: sysctl, key: vm.swappiness, value: '10'}\n", "profile engine"},
      {"list value", "  - {kind: script, name: a, value: [1], get: g, set: s}\n", "must be a text"},
  };
  for (const ParseCase& c : cases) {
    const std::string text = "# comment\nsettings:\n" + c.settings;
    if (c.message.empty()) {
      EXPECT_NO_THROW(parse_script_settings(text, "t.yaml")) << c.name;
      continue;
    }
    try {
      parse_script_settings(text, "t.yaml");
      ADD_FAILURE() << c.name << " was accepted";
    } catch (const SealError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
          << c.name << ": " << e.what();
    }
  }
  EXPECT_THROW(parse_script_settings("other: 1\nsettings: []\n", "t"), SealError);
  EXPECT_THROW(parse_script_settings("settings: []\n", "t"), SealError);
  EXPECT_THROW(parse_script_settings("settings: [\n", "t"), SealError);
}

}  // namespace
}  // namespace orvane::sealing
