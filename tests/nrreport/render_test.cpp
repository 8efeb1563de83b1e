// The rendering stage: element texts spliced into the template, the page-safe page data, and the
// report file written whole or not at all.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <system_error>

#include <orvane/log.hpp>
#include <orvane/nr_report.hpp>

#include <orvane/collected/text.hpp>
#include "report_document.hpp"
#include "support.hpp"

#include "text.hpp"

namespace orvane {
namespace {

struct SpliceCase {
  const char* name;
  std::string html;
  std::string tag;
  std::string pattern;
  std::string text;
  std::string expected;  // the page afterwards; equal to html when nothing matched
};

void PrintTo(const SpliceCase& c, std::ostream* os) {
  *os << c.name;
}

class Splice : public ::testing::TestWithParam<SpliceCase> {};

TEST_P(Splice, ReplacesTheFirstMatchingElementText) {
  const SpliceCase& c = GetParam();
  for (bool reparse : {false, true}) {
    ReportDocument doc(c.html);
    doc.set_always_reparse(reparse);
    EXPECT_EQ(doc.replace_text(c.tag, c.pattern, c.text), c.expected != c.html);
    EXPECT_EQ(doc.html(), c.expected);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Splice,
    ::testing::Values(
        SpliceCase{"placeholder_with_other_text",
                   "<!doctype html>\n<HTML><head>\n  <STYLE  media=all >/* a */ bootstrap-css\r\n"
                   "</STYLE ><p class=x>T&amp;C</p>",
                   "style", "bootstrap-css", "body{}",
                   "<!doctype html>\n<HTML><head>\n  <STYLE  media=all >body{}</STYLE ><p "
                   "class=x>T&amp;C</p>"},
        SpliceCase{"only_first_of_two", "<style>x awesome-css</style><style>awesome-css</style>",
                   "style", "awesome-css", "A", "<style>A</style><style>awesome-css</style>"},
        SpliceCase{"missing_placeholder", "<style>nothing</style><script>jqueryjs()</script>",
                   "style", "jqueryjs()", "A", "<style>nothing</style><script>jqueryjs()</script>"},
        SpliceCase{"end_tag_text_inside_script_string",
                   "<script>var s = \"</div>\" + '</p>'; jqueryjs();</script><p>after</p>",
                   "script", "jqueryjs()", "J", "<script>J</script><p>after</p>"},
        SpliceCase{"escaped_script_end_inside_comment",
                   "<script><!--<script></script>jqueryjs()--></script><i>x</i>", "script",
                   "jqueryjs()", "J", "<script>J</script><i>x</i>"},
        SpliceCase{"loading_script_before_is_skipped",
                   "<script src=\"a.js\"></script><script>bootstrapjs()</script>", "script",
                   "bootstrapjs()", "B", "<script src=\"a.js\"></script><script>B</script>"},
        SpliceCase{"comment_and_other_elements_do_not_match",
                   "<!-- bootstrap-css --><div>bootstrap-css</div><style>bootstrap-css</style>",
                   "style", "bootstrap-css", "S",
                   "<!-- bootstrap-css --><div>bootstrap-css</div><style>S</style>"},
        SpliceCase{"unclosed_script_at_end", "<p>a</p><script>jqueryjs()", "script", "jqueryjs()",
                   "J", "<p>a</p><script>J"},
        SpliceCase{"selector_in_upper_case", "<style>p</style>", "STYLE", "p", "Q",
                   "<style>Q</style>"},
        SpliceCase{"replacement_written_verbatim", "<style>p</style>", "style", "p",
                   "a > b & c { content: \"<&>\" }",
                   "<style>a > b & c { content: \"<&>\" }</style>"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SpliceSelector, AnythingButAnElementNameIsRefused) {
  ReportDocument doc("<style>x</style>");
  for (const char* tag : {"", ".x", "style.x", "head > style", "#id", "style, script", "*"}) {
    try {
      doc.replace_text(tag, "x", "y");
      ADD_FAILURE() << "accepted " << tag;
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find("unsupported element selector"), std::string::npos);
    }
  }
  EXPECT_EQ(doc.html(), "<style>x</style>");
}

// The page after four replacements, with each text spliced in a row, must be what parsing the
// page afresh before every replacement gives, whatever the replacement texts hold.
TEST(SpliceSequence, ShortcutAgreesWithParsingAgain) {
  const std::string page =
      "<html><head><style>bootstrap-css</style><style>awesome-css</style></head><body><p>x</p>"
      "<script>jqueryjs()</script><script>bootstrapjs()</script><script>init()</script></body>";
  const std::vector<std::string> texts = {
      "plain", "a</style><style>awesome-css", "x<!--<script>", "</script>bootstrapjs()", "c\r\nd",
      std::string("n\0ul", 4), "bad\xff", "</SCRIPT >jqueryjs()", "<!-- awesome-css", "</ style>",
      // inlined texts that hold a later placeholder
      "keeps awesome-css", "calls bootstrapjs() and jqueryjs()"};
  for (const auto& a : texts) {
    for (const auto& b : texts) {
      ReportDocument fast(page), slow(page);
      slow.set_always_reparse(true);
      for (ReportDocument* d : {&fast, &slow}) {
        d->replace_text("style", "bootstrap-css", a);
        d->replace_text("style", "awesome-css", b);
        d->replace_text("script", "jqueryjs()", b);
        d->replace_text("script", "bootstrapjs()", a);
      }
      ASSERT_EQ(fast.html(), slow.html()) << "texts: " << a << " / " << b;
    }
  }
}

std::string script_safe_json(const Json& tree) {
  std::string out;
  report::append_script_safe_json(tree, out);
  return out;
}

TEST(ScriptSafeJson, HostileTextRoundTrips) {
  const std::string hostile = "</script><script>alert(1)</script><!-- & \xE2\x80\xA8\xE2\x80\xA9";
  Json tree = Json::object();
  tree["z<key>"] = hostile;
  tree["a"] = Json::array({1, 2.5, nullptr, true, "line\nfeed \"q\" \\"});
  tree["m"] = Json{{"b", "\xE7\xBD\x91"}, {"a", ""}};
  const std::string text = script_safe_json(tree);
  EXPECT_EQ(text.find_first_of("<>&\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("\xE2\x80\xA8"), std::string::npos);
  EXPECT_EQ(text.find("\xE2\x80\xA9"), std::string::npos);
  EXPECT_NE(text.find("\\u003c/script\\u003e"), std::string::npos);
  EXPECT_NE(text.find("\\u2028\\u2029"), std::string::npos);
  const Json back = Json::parse(text);
  EXPECT_EQ(back, tree);
  EXPECT_EQ(back.dump(), tree.dump()) << "key order";
}

TEST(ScriptSafeJson, InvalidUtf8BecomesReplacementCharacter) {
  const Json tree = {{"out", "ok\xff tail \xC3"}};
  EXPECT_EQ(script_safe_json(tree), "{\"out\":\"ok\xEF\xBF\xBD tail \xEF\xBF\xBD\"}");
}

// Random trees of every kind of value, with strings of arbitrary bytes: ASCII, the characters
// that must be escaped, control characters, well-formed and ill-formed UTF-8.
class RandomTree {
 public:
  explicit RandomTree(unsigned seed) : rng_(seed) {}

  std::string text() {
    static const std::vector<std::string> pieces = {"a",
                                                    "0123456789abcdefghijklmnopqrstu",
                                                    "sixteen plain by",
                                                    "Z9 ",
                                                    "<",
                                                    ">",
                                                    "&",
                                                    "\"",
                                                    "\\",
                                                    "/",
                                                    "\n",
                                                    "\t",
                                                    "\x01",
                                                    "\x1f",
                                                    "\x7f",
                                                    "\xC3\xA9",
                                                    "\xE7\xBD\x91",
                                                    "\xF0\x9F\x98\x80",
                                                    "\xE2\x80\xA8",
                                                    "\xE2\x80\xA9",
                                                    "\xE2\x80",
                                                    "\xC3",
                                                    "\xF0\x9F\x98",
                                                    "\xFF",
                                                    "\xC0\xAF",
                                                    "\xED\xA0\x80",
                                                    "\x80",
                                                    "\xF4\x90\x80\x80"};
    std::string s;
    for (int n = pick(12); n > 0; --n) s += pieces[pick(pieces.size())];
    return s;
  }

  Json value(int depth) {
    switch (pick(depth > 3 ? 6 : 8)) {
      case 0:
        return nullptr;
      case 1:
        return pick(2) == 1;
      case 2:
        return static_cast<std::int64_t>(rng_()) - (std::int64_t{1} << 31);
      case 3:
        return std::ldexp(static_cast<double>(rng_()), -pick(40));
      case 4:
      case 5:
        return text();
      case 6: {
        Json a = Json::array();
        for (int n = pick(5); n > 0; --n) a.push_back(value(depth + 1));
        return a;
      }
      default: {
        Json o = Json::object();
        for (int n = pick(5); n > 0; --n) o[text()] = value(depth + 1);
        return o;
      }
    }
  }

 private:
  int pick(size_t n) { return static_cast<int>(rng_() % n); }
  std::mt19937 rng_;
};

// The library's own writer, with its replacement of ill-formed UTF-8, escaped afterwards.
std::string reference_script_safe_json(const Json& tree) {
  const std::string j = tree.dump(-1, ' ', false, Json::error_handler_t::replace);
  std::string r;
  for (size_t i = 0; i < j.size(); ++i) {
    const auto c = static_cast<unsigned char>(j[i]);
    if (c == '<') {
      r += "\\u003c";
    } else if (c == '>') {
      r += "\\u003e";
    } else if (c == '&') {
      r += "\\u0026";
    } else if (c == 0xE2 && i + 2 < j.size() && j[i + 1] == '\x80' &&
               (j[i + 2] == '\xA8' || j[i + 2] == '\xA9')) {
      r += j[i + 2] == '\xA8' ? "\\u2028" : "\\u2029";
      i += 2;
    } else {
      r += static_cast<char>(c);
    }
  }
  return r;
}

TEST(ScriptSafeJson, SameTextAsTheLibraryWriterEscapedAfterwards) {
  RandomTree random(7);
  for (int i = 0; i < 3000; ++i) {
    const Json tree = random.value(0);
    ASSERT_EQ(script_safe_json(tree), reference_script_safe_json(tree)) << i;
  }
}

TEST(Utf8Check, AgreesWithTheLibraryDecoder) {
  RandomTree random(11);
  for (int i = 0; i < 5000; ++i) {
    const std::string s = random.text();
    bool library_valid = true;
    try {
      (void)Json(s).dump();
    } catch (const Json::type_error&) {
      library_valid = false;
    }
    ASSERT_EQ(!collected::find_invalid_utf8(s).has_value(), library_valid)
        << Json(s).dump(-1, ' ', true, Json::error_handler_t::replace);
  }
}

// A small installation: a template with the four placeholders and four tiny assets.
class Render : public ::testing::Test {
 protected:
  void SetUp() override {
    test::write_bytes(inst_.path() / "nrreport/orvane_report.html", kTemplate);
    test::write_bytes(inst_.path() / "third_party/bootstrap/bootstrap-3.3.7.min.css", "BCSS");
    test::write_bytes(inst_.path() / "third_party/Awesome/all.min.css", "ACSS");
    test::write_bytes(inst_.path() / "third_party/jquery/jquery-2.2.0.min.js", "JQ");
    test::write_bytes(inst_.path() / "third_party/bootstrap/bootstrap-3.3.7.min.js", "BJS");
  }
  static constexpr const char* kTemplate =
      "<!DOCTYPE html>\n<html><head><style>bootstrap-css</style>\n<style>awesome-css</style>"
      "</head><body>\n<script>jqueryjs()</script><script>bootstrapjs()</script>\n"
      "<script>function init() {}</script></body></html>";
  test::TempDir inst_, out_;
  test::ScopedConfig config_{inst_.path().string(), out_.path().string()};
  LogCapture log_;
};

TEST_F(Render, InlinesTheAssetsAndAppendsThePageData) {
  const NrReport report;
  const std::string outfile = out_.dir() + "r.html";
  const Json info = {{"k", "</script>"}, {"a", Json::array()}};
  NrReportInternals::render(report, info, inst_.dir() + "nrreport/orvane_report.html", outfile);
  EXPECT_EQ(test::read_bytes(outfile),
            "<!DOCTYPE html>\n<html><head><style>BCSS</style>\n<style>ACSS</style></head><body>\n"
            "<script>JQ</script><script>BJS</script>\n<script>function init() {}</script></body>"
            "</html>\n<script type=\"text/javascript\">\nvar info = "
            "{\"k\":\"\\u003c/script\\u003e\",\"a\":[]}\n\nwindow.onload = init();\n</script>\n");
}

// The constructor opens nothing; a missing asset is noticed when a report is rendered, and then
// no half-built report is left and an earlier report of the same name survives.
TEST_F(Render, MissingAssetLeavesNoHalfBuiltReport) {
  std::filesystem::remove(inst_.path() / "third_party/jquery/jquery-2.2.0.min.js");
  const NrReport report;
  const std::string outfile = out_.dir() + "r.html";
  test::write_bytes(outfile, "earlier report");
  try {
    NrReportInternals::render(report, Json::object(), inst_.dir() + "nrreport/orvane_report.html",
                              outfile);
    FAIL() << "rendered without jQuery";
  } catch (const std::system_error& e) {
    EXPECT_NE(std::string(e.what()).find("jquery-2.2.0.min.js"), std::string::npos) << e.what();
  }
  EXPECT_EQ(test::read_bytes(outfile), "earlier report");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out_.path()), {}), 1);
}

TEST_F(Render, MissingTemplateWritesNothing) {
  const NrReport report;
  const std::string outfile = out_.dir() + "r.html";
  EXPECT_THROW(
      NrReportInternals::render(report, Json::object(), inst_.dir() + "nope.html", outfile),
      std::system_error);
  EXPECT_FALSE(std::filesystem::exists(outfile));
}

}  // namespace
}  // namespace orvane
