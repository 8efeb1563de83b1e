// The nginx example run as a whole with a small budget (5 evaluations, 2-second wrk runs, one
// confirmation round): it completes, writes its outputs, leaves nginx.conf byte for byte as it
// was and stops its nginx. Skipped when nginx or wrk is not installed.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include <orvane/json.hpp>
#include <orvane/pattern.hpp>
#include <orvane/process.hpp>
#include <orvane/util.hpp>

#include "../support/temp_dir.hpp"

namespace orvane {
namespace {

namespace fs = std::filesystem;

const std::string kExample = std::string(ORVANE_SOURCE_DIR) + "/examples/nginx/";

// The command lines of running processes that mention `text`.
std::vector<std::string> processes_naming(const std::string& text) {
  std::vector<std::string> found;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::string cmdline;
    try {
      cmdline = read_file(entry.path() / "cmdline");
    } catch (const std::exception&) {
      continue;  // gone meanwhile
    }
    for (char& c : cmdline) c = c == '\0' ? ' ' : c;
    if (cmdline.find(text) != std::string::npos) found.push_back(name + ": " + cmdline);
  }
  return found;
}

TEST(NginxExample, TunesWithASmallBudgetAndRestoresTheConfiguration) {
  const ProcessResult tools =
      run_shell("command -v wrk && { command -v nginx || test -x /usr/sbin/nginx; }");
  if (tools.status != 0) {
    GTEST_SKIP() << "nginx or wrk is not installed (Debian packages nginx-light and wrk; "
                    "scripts/install-deps.sh installs them)";
  }
  testing::TempDir tmp;
  const std::string dir = tmp.path().string();
  const ProcessResult r =
      run_shell("printf 'n\\n' | ORVANE_STATE_DIR=" + shell_quote(dir + "/state") +
                " NGINX_TUNE_DIR=" + shell_quote(dir) +
                " NGINX_TUNE_ITERATIONS=5 NGINX_TUNE_SECONDS=2 NGINX_TUNE_CONFIRM_ROUNDS=1 "
                "NGINX_TUNE_CONFIRM_MAX_ROUNDS=1 sh " +
                shell_quote(kExample + "run-nginx.sh") + " " + shell_quote(ORVANE_BIN));
  ASSERT_EQ(r.status, 0) << r.out << r.err;

  // nginx.conf is the template with the run's port, byte for byte.
  const std::string env = read_file(tmp.path() / "example.env");
  const auto port = Pattern("PORT=([0-9]+)").search(env);
  ASSERT_TRUE(port) << env;
  std::string expected = read_file(kExample + "nginx.conf");
  expected.replace(expected.find("@PORT@"), 6, std::string(*(*port)[1]));
  EXPECT_EQ(read_file(tmp.path() / "nginx.conf"), expected);
  EXPECT_NE(r.out.find("nginx.conf is as it was before tuning"), std::string::npos) << r.out;
  EXPECT_NE(read_file(tmp.path() / "bak_nginx.ini").find("worker_processes = auto\n"),
            std::string::npos);

  // The budget: three search evaluations and one confirmation pair.
  EXPECT_NE(r.err.find("[5/5] confirm 1/1 original {'worker_processes': 'auto', "),
            std::string::npos)
      << r.err;
  const Json result = Json::parse(read_file(tmp.path() / "tuning_nginx_result.json"))["result"];
  EXPECT_EQ(result["evaluations"], 5);
  EXPECT_EQ(result["confirmation"]["evaluations"], 2);
  std::istringstream lines(read_file(tmp.path() / "tuning_nginx_history.jsonl"));
  size_t count = 0;
  for (std::string line; std::getline(lines, line); ++count) {
    EXPECT_TRUE(Json::accept(line)) << line;
  }
  EXPECT_EQ(count, 5u);
  EXPECT_TRUE(fs::exists(tmp.path() / "tuning_nginx_report.html"));

  // Its nginx is stopped, and nothing else of it runs.
  EXPECT_FALSE(fs::exists(tmp.path() / "nginx.pid"));
  const auto left = processes_naming(dir + "/");
  EXPECT_TRUE(left.empty()) << left.front();
}

}  // namespace
}  // namespace orvane
