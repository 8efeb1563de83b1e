#include <orvane/pattern.hpp>

#include <gtest/gtest.h>

#include <string>

namespace orvane {
namespace {

TEST(Pattern, FindsTheFirstMatchAndItsGroups) {
  struct Case {
    const char* pattern;
    std::string subject;
    std::vector<std::optional<std::string>> groups;  // empty: no match
  };
  const Case cases[] = {
      {R"(Requests/sec:\s+([0-9.]+))",
       "Latency 1ms\nRequests/sec:   5123.45\n",
       {"Requests/sec:   5123.45", "5123.45"}},
      {"(a)|(b)", "xb", {"b", std::nullopt, "b"}},
      {"value: (\\d+)", "\xff\xfe value: 42 \xc3", {"value: 42", "42"}},  // not UTF-8
      {"^(x)$", "y", {}},
      {"(\\d+) ms",
       std::string(1 << 20, '7') + " ms",
       {std::string(1 << 20, '7') + " ms", std::string(1 << 20, '7')}},
  };
  for (const Case& c : cases) {
    const auto m = Pattern(c.pattern).search(c.subject);
    ASSERT_EQ(m.has_value(), !c.groups.empty()) << c.pattern;
    if (!m) continue;
    ASSERT_EQ(m->size(), c.groups.size()) << c.pattern;
    for (size_t k = 0; k < m->size(); ++k) {
      EXPECT_EQ((*m)[k].has_value(), c.groups[k].has_value()) << c.pattern << " group " << k;
      if ((*m)[k]) {
        EXPECT_EQ(std::string(*(*m)[k]), *c.groups[k]) << c.pattern;
      }
    }
  }
}

TEST(Pattern, RunawayMatchingIsGivenUpNotEndless) {
  const Pattern p("^(a+)+$");
  const std::string subject = std::string(40, 'a') + "b";
  EXPECT_THROW(p.search(subject), PatternError);
  // Line by line, the line that needs too much work does not match; the next one still may.
  const std::string lines = subject + "\naaa\n";  // the match refers into it
  const auto m = p.search_lines(lines);
  ASSERT_TRUE(m);
  EXPECT_EQ(*(*m)[0], "aaa");
}

TEST(Pattern, RefusesWhatDoesNotCompileNamingTheOffset) {
  try {
    Pattern("([0-9");
    FAIL() << "compiled";
  } catch (const PatternError& e) {
    EXPECT_NE(std::string(e.what()).find("at offset 5"), std::string::npos) << e.what();
  }
  EXPECT_EQ(Pattern("(a)(b(c))").capture_count(), 3);
}

}  // namespace
}  // namespace orvane
