// What a run leaves to look at: the table, the JSON-lines history and the HTML page.
#include <orvane/tuning_report.hpp>

#include <gtest/gtest.h>

#include <orvane/pattern.hpp>

#include <set>
#include <sstream>

namespace orvane::tuning {
namespace {

// A minimised run of two search evaluations (the second failed, the third best) and one
// confirmation round; the original value is hostile text from a get script.
Json sample_result() {
  return Json::parse(R"({
    "effective": true, "param": {"mode": "fast", "n": 4},
    "confirmed": {"pairs": 1, "chosen": 85.0, "original": 100.0, "improvement": 15.0,
                  "improvement_min": 15.0, "improvement_max": 15.0, "estimate": 15.0,
                  "interval": {"confidence": 90, "low": null, "high": null},
                  "test": "a paired test", "error_rate_per_look": 0.03, "p_value": 0.5},
    "best": 80.0, "best_seen": 79.5, "baseline": 100.0,
    "improvement": 15.0, "improvement_min": 15.0, "improvement_max": 15.0,
    "direction": "minimize", "method": "bayes", "iterations": 5, "evaluations": 5,
    "search_evaluations": 3,
    "confirmation": {"rounds": 1, "evaluations": 2, "skipped": null,
                     "reason": "the median improvement +15.00% is more than <all> & 1%",
                     "original": {"mode": "</td><script>alert('x')</script>", "n": "2"},
                     "pairs": [{"round": 1, "chosen": {"figures": [85.0], "figure": 85.0},
                                "original": {"figures": [100.0], "figure": 100.0},
                                "improvement": 15.0}]},
    "history": [
      {"index": 1, "param": {"mode": "safe", "n": 1}, "figures": [90.0], "figure": 90.0},
      {"index": 2, "param": {"mode": "a\"b", "n": 9}, "figures": [], "figure": null},
      {"index": 3, "param": {"mode": "fast", "n": 4}, "figures": [80.0], "figure": 80.0}]
  })");
}

const Json kOriparams = {{"mode", "</td><script>alert('x')</script>"}, {"n", "2"}};

TEST(TuningReport, HistoryLinesFollowTheBudgetOrder) {
  std::istringstream in(history_lines(sample_result()));
  std::vector<Json> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(Json::parse(line));
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0].dump(),
            R"({"index":1,"phase":"search","param":{"mode":"safe","n":1},"figures":[90.0],)"
            R"("figure":90.0,"best":90.0})");
  // A failed evaluation keeps the best so far; the best follows the direction (minimise).
  EXPECT_EQ(lines[1]["figure"], nullptr);
  EXPECT_EQ(lines[1]["best"], 90.0);
  EXPECT_EQ(lines[2]["best"], 80.0);
  EXPECT_EQ(lines[3].dump(), R"({"index":4,"phase":"confirm","round":1,"config":"chosen",)"
                             R"("param":{"mode":"fast","n":4},"figures":[85.0],"figure":85.0})");
  EXPECT_EQ(lines[4]["config"], "original");
  EXPECT_EQ(lines[4]["param"], sample_result()["confirmation"]["original"]);
  EXPECT_EQ(lines[4]["improvement"], 15.0);
}

TEST(TuningReport, AnEmptyRecordHasNoHistory) {
  EXPECT_EQ(history_lines(Json::object()), "");
}

TEST(TuningReport, SummaryTableShowsTheConfirmedGainAndBothConfigurations) {
  EXPECT_EQ(summary_table(sample_result(), kOriparams),
            "tuning result (bayes, minimize)\n"
            "  chosen       85 (median of 1 confirmation round)\n"
            "  original     100 (median of 1 confirmation round)\n"
            "  improvement  +15.00% (median of 1 paired round, range +15.00% to +15.00%; too few "
            "pairs for a 90% interval)\n"
            "  outcome      effective: the median improvement +15.00% is more than <all> & 1%\n"
            "  test         a paired test, 3% error per look, p = 0.500\n"
            "  evaluations  3 search + 2 confirmation = 5 of 5\n"
            "  best seen while searching (unconfirmed): 79.5; original before searching: 100\n"
            "  configuration  chosen  original\n"
            "  mode           fast    </td><script>alert('x')</script>\n"
            "  n              4       2\n");
}

// Extra pairs are counted beside the budget; the interval appears once five pairs compare.
TEST(TuningReport, SummaryShowsTheIntervalAndTheExtraEvaluations) {
  Json r = sample_result();
  r["confirmed"]["pairs"] = 6;
  r["confirmed"]["interval"]["low"] = 12.5;
  r["confirmed"]["interval"]["high"] = 18.25;
  r["confirmation"]["evaluations"] = 12;
  r["extra_evaluations"] = 10;
  const std::string table = summary_table(r, kOriparams);
  EXPECT_NE(table.find("  original     100 (median of 6 confirmation rounds)\n"), std::string::npos)
      << table;
  EXPECT_NE(table.find("(median of 6 paired rounds, range +15.00% to +15.00%; 90% interval "
                       "+12.50% to +18.25%)\n"),
            std::string::npos)
      << table;
  EXPECT_NE(table.find("  evaluations  3 search + 12 confirmation = 15 (budget 5, 10 extra to "
                       "decide the confirmation)\n"),
            std::string::npos)
      << table;
}

TEST(TuningReport, SummaryOfAnUnconfirmedResultSaysWhy) {
  Json r = sample_result();
  r["effective"] = false;
  r["improvement"] = r["improvement_min"] = r["improvement_max"] = nullptr;
  r["confirmation"]["reason"] = "the chosen configuration is the original one";
  r["confirmation"]["pairs"] = Json::array();
  r["confirmation"]["evaluations"] = 0;
  r["confirmed"] = {{"pairs", 0}, {"chosen", nullptr}, {"original", nullptr}};
  const std::string table = summary_table(r, kOriparams);
  EXPECT_NE(table.find("  improvement  -\n"), std::string::npos) << table;
  EXPECT_NE(table.find("  chosen       - (not measured in a confirmation)\n"), std::string::npos)
      << table;
  EXPECT_NE(table.find("  outcome      not effective: the chosen configuration is the original "
                       "one\n"),
            std::string::npos)
      << table;
  EXPECT_NE(table.find("  evaluations  3 search + 0 confirmation = 3 of 5\n"), std::string::npos);
}

TEST(TuningReport, MetricLabelIsThePatternsTextAndTheUnit) {
  const std::pair<Json, std::string> cases[] = {
      {{{"metric", R"(Requests/sec:\s+([0-9.]+))"}, {"unit", "requests/s"}},
       "Requests/sec (requests/s)"},
      {{{"metric", "value: ([0-9.e+-]+)"}}, "value"},
      {{{"metric", R"(^latency p99 \(ms\)\s*=\s*([0-9]+))"}}, "latency p99 (ms)"},
      {{{"metric", "[Tt]hroughput{1}: ([0-9]+)"}}, "hroughput"},
      {{{"metric", "([0-9.]+)"}, {"unit", ""}}, "figure"},
      {Json::object(), "figure"},
  };
  for (const auto& [benchmark, label] : cases) EXPECT_EQ(metric_label(benchmark), label);
}

TEST(TuningReport, PlotHasRoundTicksAnAxisLabelAndTheConfirmationLines) {
  Json r = sample_result();
  r["direction"] = "maximize";
  const std::string page = convergence_page("demo", r, kOriparams, "Requests/sec (requests/s)");
  // Figures from 79.5 to 100: ticks every 5 from 75 to 105.
  for (const char* tick : {">75</text>", ">80</text>", ">100</text>", ">105</text>"}) {
    EXPECT_NE(page.find(tick), std::string::npos) << tick;
  }
  EXPECT_EQ(page.find(">79.5</text>"), std::string::npos);
  EXPECT_NE(page.find("rotate(-90)\" text-anchor=\"middle\">Requests/sec (requests/s)</text>"),
            std::string::npos);
  EXPECT_NE(page.find(">confirmation</text>"), std::string::npos);
  // Configurations as table cells of plain values, not as Python maps.
  EXPECT_NE(page.find("<td>fast</td><td>4</td>"), std::string::npos) << page;
  EXPECT_EQ(page.find("{&#39;mode&#39;"), std::string::npos);
}

TEST(TuningReport, PageIsSelfContainedAndEscapesEveryText) {
  const std::string page = convergence_page("demo", sample_result(), kOriparams);
  EXPECT_EQ(page.rfind("<!DOCTYPE html>\n", 0), 0u);
  EXPECT_NE(page.find("&lt;/td&gt;&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;"),
            std::string::npos);
  EXPECT_NE(page.find("more than &lt;all&gt; &amp; 1%"), std::string::npos);
  // The confirmed figures lead; the search's best comes after them, marked unconfirmed.
  EXPECT_LT(page.find("85 (median of 1 confirmation round)"),
            page.find("best seen while searching (unconfirmed)"));
  EXPECT_NE(page.find("<td>a&quot;b</td>"), std::string::npos);
  EXPECT_NE(page.find("mode=a&quot;b, n=9</title>"), std::string::npos);  // in an SVG title
  // Only the page's own elements: nothing from the data became markup, nothing is fetched.
  const std::set<std::string> allowed = {
      "!DOCTYPE", "html", "head", "meta", "title", "style", "body", "h1",   "h2",   "p",
      "table",    "tr",   "th",   "td",   "svg",   "rect",  "line", "text", "path", "circle"};
  const Pattern tag("</?([!A-Za-z][A-Za-z0-9]*)");
  std::string_view rest = page;
  while (auto m = tag.search(rest)) {
    EXPECT_TRUE(allowed.count(std::string(*(*m)[1]))) << *(*m)[0];
    rest.remove_prefix(static_cast<size_t>((*m)[0]->data() - rest.data()) + (*m)[0]->size());
  }
  EXPECT_EQ(page.find("src="), std::string::npos);
  EXPECT_EQ(page.find("href="), std::string::npos);
  EXPECT_EQ(page.find("url("), std::string::npos);
}

TEST(TuningReport, PlotDrawsEveryEvaluationAndTheBestLine) {
  const std::string page = convergence_page("demo", sample_result(), kOriparams);
  auto count = [&](const std::string& what) {
    size_t n = 0;
    for (size_t at = page.find(what); at != std::string::npos; at = page.find(what, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("<title>"), 6u);   // the page's, and one per evaluation
  EXPECT_EQ(count("<circle "), 3u);  // the two search figures, and the legend's
  EXPECT_EQ(count("stroke=\"#c0392b\" stroke-width=\"1.5\""), 1u);  // the failed one's cross
  EXPECT_NE(page.find("<title>#2 search: no figure mode=a&quot;b, n=9</title>"), std::string::npos);
}

}  // namespace
}  // namespace orvane::tuning
