// The `script` kind in the settings format, and what `orvane apply` refuses of a settings file
// before anything is planned: every malformed file refused with its line and key.
#include <gtest/gtest.h>

#include <sstream>

#include <orvane/settings.hpp>

#include "script_kind.hpp"
#include "settings_apply.hpp"

namespace orvane::sealing {
namespace {

struct ParseCase {
  std::string name;
  std::string settings;  // the items under `settings:`
  std::string message;   // part of the refusal; empty: accepted
};

const std::string kGood =
    "  - kind: script\n    target: threads\n    value: '8'\n"
    "    get: cat t\n    set: echo $value > t\n    effect: live\n    reason: r\n"
    "    reference: f\n";

TEST(ScriptKind, TheFormatRefusesWhatCouldHarmOrMislead) {
  register_script_kind();
  const std::vector<ParseCase> cases = {
      {"good", kGood, ""},
      {"restart", kGood + "    needrestart: 'true'\n    stop: s\n    start: r\n    dir: /srv\n",
       ""},
      {"unknown key", kGood + "    sett: x\n", "t.yaml:12: sett: unknown key"},
      {"missing get",
       "  - {kind: script, target: a, value: 1, set: s, effect: live, reason: r, "
       "reference: f}\n",
       "get: missing"},
      {"shell value",
       "  - {kind: script, target: a, value: '1;reboot', get: g, set: s, effect: live, reason: r, "
       "reference: f}\n",
       "holds the shell character ';'"},
      {"value substitution",
       "  - {kind: script, target: a, value: '$(id)', get: g, set: s, effect: live, reason: r, "
       "reference: f}\n",
       "shell character '$'"},
      {"computed",
       "  - {kind: script, target: a, compute: cpus, get: g, set: s, effect: live, "
       "reason: r, reference: f}\n",
       "takes a fixed value"},
      {"restart without commands", kGood + "    needrestart: 'true'\n", "needs the workload's"},
      {"needrestart word", kGood + "    needrestart: yes\n", "must be \"true\" or \"false\""},
      {"relative dir", kGood + "    dir: srv\n", "must be an absolute directory"},
      {"list value",
       "  - {kind: script, target: a, value: [1], get: g, set: s, effect: live, reason: r, "
       "reference: f}\n",
       "must be a text"},
  };
  for (const ParseCase& c : cases) {
    const std::string text = "# comment\ndescription: d\nsettings:\n" + c.settings;
    if (c.message.empty()) {
      EXPECT_NO_THROW(settings::parse_settings(text, "t.yaml")) << c.name;
      continue;
    }
    try {
      settings::parse_settings(text, "t.yaml");
      ADD_FAILURE() << c.name << " was accepted";
    } catch (const settings::SettingsError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
          << c.name << ": " << e.what();
    }
  }
}

// Refused before any value is read: nothing runs, nothing is asked.
TEST(ScriptKind, ApplyRefusesKindsAndRepeatsBeforePlanning) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"files:\n  f: {find: my.cnf}\nsettings:\n  - {kind: ini, file: f, target: k, value: 1, "
       "effect: live, reason: r, reference: f}\n",
       "t.yaml:5: kind: ini edits a workload's files"},
      {"settings:\n" + kGood + kGood, "t.yaml:11: target: threads is set twice"},
      {"settings:\n  - {kind: sysctl, key: vm.swappiness, value: 1}\n", "unknown key"},
      {"settings: 3\n", "must be a non-empty list"},
      {"settings:\n  - {kind: [\n", "t.yaml:4: yaml: "},
  };
  for (const auto& [body, message] : cases) {
    std::istringstream in("y\n");
    std::ostringstream out, err;
    EXPECT_EQ(apply_settings_file("description: d\n" + body, "t.yaml", in, out, err), 1) << body;
    EXPECT_NE(err.str().find(message), std::string::npos) << err.str();
    EXPECT_EQ(out.str(), "");
  }
}

}  // namespace
}  // namespace orvane::sealing
