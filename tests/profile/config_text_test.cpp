// The file editors: a value changed or added in place, every other byte kept, and a file that
// does not parse refused with its line.
#include <gtest/gtest.h>

#include <orvane/profile/config_text.hpp>

namespace orvane::profile {
namespace {

struct EditCase {
  const char* what;
  const char* format;
  const char* before;
  ConfigKey key;
  const char* value;
  const char* after;
};

class EditTest : public ::testing::TestWithParam<EditCase> {};

TEST_P(EditTest, ChangesOnlyTheValueOrAddsTheKeyWhereItBelongs) {
  const EditCase& c = GetParam();
  auto text = ConfigText::open(c.format, c.before);
  text->set(c.key, c.value);
  EXPECT_EQ(text->text(), c.after);
  EXPECT_EQ(text->get(c.key), c.value);
  // A second run finds the value and leaves the text as it is.
  text->set(c.key, c.value);
  EXPECT_EQ(text->text(), c.after);
}

const EditCase kEdits[] = {
    {"ini value, comment and alignment kept",
     "ini",
     "# top\n[mysqld]\nuser            = mysql  # who\nport=3306\n",
     {"mysqld", "user", "", {}},
     "mariadb",
     "# top\n[mysqld]\nuser            = mariadb  # who\nport=3306\n"},
    {"ini dashes and underscores are one key",
     "ini",
     "[mysqld]\ninnodb-buffer-pool-size = 1G\n",
     {"mysqld", "innodb_buffer_pool_size", "", {}},
     "2G",
     "[mysqld]\ninnodb-buffer-pool-size = 2G\n"},
    {"ini missing key after the section's last entry, not at the end of the file",
     "ini",
     "[mysqld]\nport = 1\n\n# note\n[client]\nport = 2\n",
     {"mysqld", "max_connections", "", {}},
     "500",
     "[mysqld]\nport = 1\nmax_connections = 500\n\n# note\n[client]\nport = 2\n"},
    {"ini new key copies the aligned separator of its neighbour",
     "ini",
     "[mysqld]\nbasedir                 = /usr\n",
     {"mysqld", "max_connections", "", {}},
     "500",
     "[mysqld]\nbasedir                 = /usr\nmax_connections                 = 500\n"},
    {"ini key in an equivalent group counts",
     "ini",
     "[server]\nmax_connections = 100\n[mysqld]\n",
     {"mysqld", "max_connections", "", {"server", "mysqld"}},
     "500",
     "[server]\nmax_connections = 500\n[mysqld]\n"},
    {"ini the later of two occurrences is the one in force",
     "ini",
     "[mysqld]\nport = 1\n[mysqld]\nport = 2\n",
     {"mysqld", "port", "", {}},
     "3",
     "[mysqld]\nport = 1\n[mysqld]\nport = 3\n"},
    {"ini a key alone gets its value",
     "ini",
     "[mysqld]\nskip-name-resolve\n",
     {"mysqld", "skip_name_resolve", "", {}},
     "1",
     "[mysqld]\nskip-name-resolve = 1\n"},
    {"ini missing section is appended",
     "ini",
     "[client]\nport = 2",
     {"mysqld", "port", "", {}},
     "1",
     "[client]\nport = 2\n\n[mysqld]\nport = 1\n"},
    {"ini without sections (dm.ini), tab indent kept",
     "ini",
     "\t\tBUFFER                  = 1000     #Initial System Buffer Size In Megabytes\n",
     {"", "BUFFER", "", {}},
     "4800",
     "\t\tBUFFER                  = 4800     #Initial System Buffer Size In Megabytes\n"},
    {"systemd continuation lines are part of the value",
     "systemd",
     "[Service]\nExecStart=/bin/sh -c \"a \\\n b\"\nLimitNOFILE=1024\n",
     {"Service", "LimitNOFILE", "", {}},
     "65535",
     "[Service]\nExecStart=/bin/sh -c \"a \\\n b\"\nLimitNOFILE=65535\n"},
    {"systemd drop-in written from nothing",
     "systemd",
     "",
     {"Service", "LimitNOFILE", "", {}},
     "65535",
     "[Service]\nLimitNOFILE = 65535\n"},
    {"properties separators and continuation kept",
     "properties",
     "# broker\nnum.io.threads : 8\nlog.dirs=/a,\\\n  /b\n",
     {"", "num.io.threads", "", {}},
     "16",
     "# broker\nnum.io.threads : 16\nlog.dirs=/a,\\\n  /b\n"},
    {"properties new key after the last entry, before trailing comments",
     "properties",
     "a=1\n# end\n",
     {"", "b", "", {}},
     "2",
     "a=1\nb=2\n# end\n"},
    {"properties file without final newline",
     "properties",
     "a=1",
     {"", "b", "", {}},
     "2",
     "a=1\nb=2\n"},
    {"records value replaced, type kept",
     "records",
     "# c\nCONFIG proxy.config.net.connections_throttle INT 30000\n",
     {"", "proxy.config.net.connections_throttle", "INT", {}},
     "100000",
     "# c\nCONFIG proxy.config.net.connections_throttle INT 100000\n"},
    {"records STRING value with blanks",
     "records",
     "CONFIG proxy.config.http.server_ports STRING 8080 8080:ipv6\n",
     {"", "proxy.config.http.server_ports", "STRING", {}},
     "80",
     "CONFIG proxy.config.http.server_ports STRING 80\n"},
    {"records missing key appended with its type",
     "records",
     "CONFIG a INT 1\n",
     {"", "proxy.config.exec_thread.autoconfig.scale", "FLOAT", {}},
     "1.5",
     "CONFIG a INT 1\nCONFIG proxy.config.exec_thread.autoconfig.scale FLOAT 1.5\n"},
    {"nginx directive in events, comment kept",
     "nginx",
     "events {\n\tworker_connections 768; # per worker\n}\n",
     {"events", "worker_connections", "", {}},
     "16384",
     "events {\n\tworker_connections 16384; # per worker\n}\n"},
    {"nginx the same directive in a server block is not the http one",
     "nginx",
     "http {\n\tsendfile on;\n\tserver {\n\t\tkeepalive_timeout 5;\n\t}\n}\n",
     {"http", "keepalive_timeout", "", {}},
     "65",
     "http {\n\tsendfile on;\n\tkeepalive_timeout 65;\n\tserver {\n\t\tkeepalive_timeout "
     "5;\n\t}\n}\n"},
    {"nginx main directive goes before the blocks",
     "nginx",
     "user www-data;\nworker_processes auto;\nevents {\n}\n",
     {"main", "worker_rlimit_nofile", "", {}},
     "65535",
     "user www-data;\nworker_processes auto;\nworker_rlimit_nofile 65535;\nevents {\n}\n"},
    {"nginx multi-word value and quoted text",
     "nginx",
     "http {\n  log_format x '{ a; }';\n  open_file_cache off;\n}\n",
     {"http", "open_file_cache", "", {}},
     "max=200000 inactive=20s",
     "http {\n  log_format x '{ a; }';\n  open_file_cache max=200000 inactive=20s;\n}\n"},
    {"nginx empty block gets an indented line",
     "nginx",
     "events {\n}\n",
     {"events", "worker_connections", "", {}},
     "10",
     "events {\n\tworker_connections 10;\n}\n"},
    {"limits line for a user added",
     "limits",
     "# none\n*  soft  core  0\n",
     {"", "dmdba soft nofile", "", {}},
     "65536",
     "# none\n*  soft  core  0\ndmdba\tsoft\tnofile\t65536\n"},
};

INSTANTIATE_TEST_SUITE_P(Formats, EditTest, ::testing::ValuesIn(kEdits),
                         [](const auto& info) { return std::to_string(info.index); });

struct BadCase {
  const char* format;
  const char* text;
  size_t line;
};

TEST(ConfigText, RefusesWhatDoesNotParseNamingTheLine) {
  const BadCase cases[] = {
      {"ini", "[mysqld]\nport = 1\n[mysqld\n", 3},
      {"ini", "[mysqld]\ninnodb buffer pool = 1\n", 2},
      {"properties", "a=1\nb=\\u12G4\n", 2},
      {"properties", "a=1\nb=2\\\n", 2},
      {"records", "CONFIG a INT 1\nCONFIG b NUMBER 2\n", 2},
      {"records", "# c\n\nCONFIG a INT\n", 3},
      {"records", "proxy.config.a INT 1\n", 1},
      {"nginx", "events {\n  worker_connections 1;\n", 1},
      {"nginx", "http {\n}\n}\n", 3},
      {"nginx", "worker_processes 1;\nuser www-data\n", 2},
      {"nginx", "error_log \"x;\n", 1},
      {"limits", "dmdba soft nofile\n", 1},
  };
  for (const auto& c : cases) {
    try {
      ConfigText::open(c.format, c.text);
      ADD_FAILURE() << c.format << " accepted: " << c.text;
    } catch (const ConfigParseError& e) {
      EXPECT_EQ(e.line, c.line) << c.format << ": " << c.text << " -> " << e.what();
    }
  }
}

TEST(ConfigText, NginxWithoutTheBlockOfTheKeyIsAnError) {
  auto text = ConfigText::open("nginx", "user x;\n");
  EXPECT_THROW(text->set({"http", "sendfile", "", {}}, "on"), std::runtime_error);
  EXPECT_EQ(text->text(), "user x;\n");
}

}  // namespace
}  // namespace orvane::profile
