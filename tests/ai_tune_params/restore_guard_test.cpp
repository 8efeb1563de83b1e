// Reading applied values back: what counts as the value that was set.
#include <orvane/restore_guard.hpp>

#include "tuning_test_dir.hpp"

namespace orvane::tuning {
namespace {

using VerifyValues = orvane::testing::TuningDirTest;

TEST_F(VerifyValues, ComparesTextsAndNumbersAndNamesWhatDiffers) {
  struct Case {
    const char* what;
    std::string file;     // what the get script prints
    Json set;             // the value that was set
    std::string problem;  // empty: verified
  };
  const Case cases[] = {
      {"same text", "on\n", "on", ""},
      {"blanks around", "  on \n", "on", ""},
      {"same number written otherwise", "0.60\n", 0.6, ""},
      {"an int as text", "4\n", 4, ""},
      {"another text", "off\n", "on", "x reads 'off' after 'on' was set"},
      {"another number", "5\n", 4, "x reads '5' after '4' was set"},
      {"a number and a text", "4k\n", 4, "x reads '4k' after '4' was set"},
      {"nothing printed", "", "on", "x cannot be read back ("},
  };
  load("  - {name: x, type: enum, options: [a], get: 'cat conf', set: 'true'}\n");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    write("conf", c.file);
    SceneVars scene;
    const std::vector<std::string> problems = verify_values(scene, {{"x", c.set}}, {});
    if (c.problem.empty()) {
      EXPECT_TRUE(problems.empty()) << problems.front();
    } else {
      ASSERT_EQ(problems.size(), 1u);
      EXPECT_EQ(problems[0].rfind(c.problem, 0), 0u) << problems[0];
    }
  }
}

}  // namespace
}  // namespace orvane::tuning
