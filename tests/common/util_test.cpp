#include <orvane/config.hpp>
#include <orvane/process.hpp>
#include <orvane/util.hpp>

#include <gtest/gtest.h>

#include "../support/temp_dir.hpp"

namespace orvane {
namespace {

TEST(ShellQuote, OrdinaryWordsStayAndOthersAreQuoted) {
  const std::pair<std::string, std::string> cases[] = {
      {"eth0", "eth0"},
      {"enp0s3.100", "enp0s3.100"},
      {"br-1a2b:0@x_y", "br-1a2b:0@x_y"},
      {"", "''"},
      {"a b", "'a b'"},
      {"x;rm -rf /", "'x;rm -rf /'"},
      {"$(id)", "'$(id)'"},
      {"it's", "'it'\\''s'"},
      {"nvme0n1/p1", "'nvme0n1/p1'"},
  };
  for (const auto& [word, quoted] : cases) EXPECT_EQ(shell_quote(word), quoted) << word;
}

TEST(ShellQuote, QuotedWordReachesTheShellUnchanged) {
  const std::string nasty = "a'b \"c\" $HOME `id` \\ ;|& \n";
  EXPECT_EQ(run_shell("printf %s " + shell_quote(nasty)).out, nasty);
}

TEST(HtmlEscape, EscapesMarkupAndQuotesOnly) {
  EXPECT_EQ(html_escape(R"(<a href="x">Tom & 'Jerry'</a>)"),
            "&lt;a href=&quot;x&quot;&gt;Tom &amp; &#39;Jerry&#39;&lt;/a&gt;");
  EXPECT_EQ(html_escape("plain text, 中文 &amp;"), "plain text, 中文 &amp;amp;");
  EXPECT_EQ(html_escape(""), "");
}

TEST(ReadFile, MissingAndDirectoryRaiseWithThePath) {
  testing::TempDir dir;
  try {
    read_file(dir.path() / "missing");
    FAIL();
  } catch (const std::system_error& e) {
    EXPECT_NE(std::string(e.what()).find("missing"), std::string::npos);
  }
  EXPECT_THROW(read_file(dir.path()), std::system_error);
}

TEST(AtomicFile, PublishesOnlyOnCommit) {
  testing::TempDir dir;
  auto target = dir.write("bak.ini", "old");
  {
    AtomicFile f(target);
    f.write("new ");
    f.write("content");
    EXPECT_EQ(read_file(target), "old");
  }
  EXPECT_EQ(read_file(target), "old");  // abandoned: the previous file is intact
  AtomicFile f(target);
  f.write("new content");
  f.commit();
  EXPECT_EQ(read_file(target), "new content");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

// An owned text is taken over when it comes first and appended otherwise, in order either way.
TEST(AtomicFile, OwnedTextsKeepTheirOrder) {
  testing::TempDir dir;
  const auto target = dir.path() / "page.html";
  struct Case {
    bool view_first;
    bool view_last;
    std::string expected;
  } cases[] = {{false, false, "owned"},
               {true, false, "view+owned"},
               {false, true, "owned+view"},
               {true, true, "view+owned+view"}};
  for (const auto& c : cases) {
    AtomicFile f(target, /*sync=*/false);
    if (c.view_first) f.write("view+");
    f.write_owned(std::string("owned"));
    if (c.view_last) f.write("+view");
    f.commit();
    EXPECT_EQ(read_file(target), c.expected);
  }
}

TEST(AtomicFile, FailedCommitLeavesNoTemporaryFile) {
  testing::TempDir dir;
  // A directory stands where the file should go: the rename fails.
  std::filesystem::create_directories(dir.path() / "bak.ini" / "keep");
  AtomicFile f(dir.path() / "bak.ini");
  f.write("new");
  EXPECT_THROW(f.commit(), std::system_error);
  EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "bak.ini" / "keep"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(Config, PathsEndWithSlashAndFollowTheOptions) {
  Config::configure(Json{{"inst_path", "/opt/o"}, {"out_path", "/tmp/x/"}});
  EXPECT_EQ(Config::get_inst_path(), "/opt/o/");
  EXPECT_EQ(Config::get_output_path(), "/tmp/x/orvaneData/");
  // "." and missing fields mean "not given": the output goes under the installation directory.
  Config::configure(Json{{"inst_path", "/opt/o"}, {"out_path", "."}});
  EXPECT_EQ(Config::get_output_path(), "/opt/o/orvaneData/");
  Config::configure(Json{{"inst_path", "."}});
  const std::string inst = Config::get_inst_path();
  EXPECT_TRUE(inst.ends_with("/share/orvane/")) << inst;
  EXPECT_EQ(Config::get_output_path(), inst + "orvaneData/");
  Config::configure(Json::object());
}

TEST(Config, ConfigurationDirectoryFollowsTheProgramsPrefix) {
  const struct {
    const char* program;
    const char* conf;
  } cases[] = {
      {"/usr/bin/orvane", "/etc/orvane/"},
      {"/usr/local/bin/orvane", "/usr/local/etc/orvane/"},
      {"/opt/orvane/bin/orvane", "/opt/orvane/etc/orvane/"},
      {"/usr/bin/../bin/orvane", "/etc/orvane/"},
  };
  for (const auto& c : cases) EXPECT_EQ(Config::conf_path_of(c.program), c.conf) << c.program;
}

TEST(Config, DataFilesComeFromTheConfigurationDirectoryFirst) {
  const struct {
    bool edited;
    bool shipped;
    const char* from;
  } cases[] = {
      {true, true, "etc"},
      {true, false, "etc"},
      {false, true, "share"},
      // Neither: the installation's path, so that the error names where the default belongs.
      {false, false, "share"},
  };
  for (const auto& c : cases) {
    testing::TempDir dir;
    if (c.edited) dir.write("etc/analysis/rules.yaml", "x");
    if (c.shipped) dir.write("share/analysis/rules.yaml", "x");
    Config::set_conf_path(dir.dir() + "etc");
    Config::set_inst_path(dir.dir() + "share");
    EXPECT_EQ(Config::find_data_file("analysis/rules.yaml"),
              dir.dir() + c.from + "/analysis/rules.yaml");
  }
  Config::set_conf_path("");
  Config::set_inst_path("");
}

}  // namespace
}  // namespace orvane

namespace orvane {
namespace {

TEST(Utf8, WellFormedSequencesOnlyAndReplacementPerIllFormedPart) {
  const struct {
    std::string text;
    bool valid;
    std::string replaced;
  } cases[] = {
      {"plain", true, "plain"},
      {"\xe4\xb8\xad\xf0\x9f\x98\x80", true, "\xe4\xb8\xad\xf0\x9f\x98\x80"},
      {"a\xff"
       "b",
       false,
       "a\xEF\xBF\xBD"
       "b"},
      {"\xc0\xaf", false, "\xEF\xBF\xBD\xEF\xBF\xBD"},                  // overlong
      {"\xed\xa0\x80", false, "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // surrogate
      {"\xf4\x90\x80\x80", false,
       "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // past U+10FFFF
      {"end\xe4\xb8", false, "end\xEF\xBF\xBD"},             // cut short: one ill-formed part
      {"\xe4\xb8x\xf0\x9f", false, "\xEF\xBF\xBDx\xEF\xBF\xBD"},
      {"", true, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(is_valid_utf8(c.text), c.valid) << c.text;
    EXPECT_EQ(utf8_with_replacement(c.text), c.replaced) << c.text;
  }
}

}  // namespace
}  // namespace orvane
