// A real kernel value applied and put back, inside a private network namespace so that the
// host's own value is never touched.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include <orvane/change_journal.hpp>
#include <orvane/config.hpp>
#include <orvane/process.hpp>
#include <orvane/profile.hpp>
#include <orvane/util.hpp>

#include "../support/temp_dir.hpp"

namespace orvane::profile {
namespace {

namespace fs = std::filesystem;

constexpr const char* kValue = "/proc/sys/net/core/somaxconn";

std::string net_namespace() {
  return fs::read_symlink("/proc/self/ns/net").string();
}

// Runs in the namespace, started by the test below; skipped in an ordinary run.
TEST(NetNamespace, InnerApplyAndRestore) {
  const char* parent = std::getenv("ORVANE_TEST_PARENT_NETNS");
  if (parent == nullptr)
    GTEST_SKIP() << "runs only inside the namespace of NetNamespace.RealSysctl";
  ASSERT_NE(net_namespace(), parent) << "not in a private network namespace: nothing is changed";
  testing::TempDir tmp;
  tmp.write(
      "share/profiles/kafka_config.yaml",
      "description: one namespaced kernel value\n"
      "settings:\n"
      "  - {kind: sysctl, target: net.core.somaxconn, value: 1234, persist: false, effect: live,\n"
      "     reason: test, reference: test}\n");
  fs::create_directories(tmp.path() / "conf");
  ::setenv("ORVANE_STATE_DIR", (tmp.path() / "state").c_str(), 1);
  Config::set_inst_path((tmp.path() / "share").string());
  Config::set_out_path(tmp.path().string());
  const std::string before = read_file(kValue);
  ASSERT_NE(before, "1234\n");

  std::istringstream in("y\n");
  std::ostringstream out, err;
  ASSERT_EQ(run_scene("kafka_config", tmp.path() / "conf", in, out, err), 0)
      << out.str() << err.str();
  EXPECT_EQ(read_file(kValue), "1234\n");
  const auto sets = ChangeJournal().unsettled();
  ASSERT_EQ(sets.size(), 1u);
  ASSERT_EQ(sets[0].items.size(), 1u) << "no persistence file is part of the set";
  for (const auto& o : restore_change_set(sets[0])) {
    EXPECT_EQ(o.outcome.status, RestoreOutcome::Status::restored) << o.outcome.message;
  }
  EXPECT_EQ(read_file(kValue), before);
  Config::set_inst_path("");
  Config::set_out_path("");
}

TEST(NetNamespace, RealSysctl) {
  if (std::getenv("ORVANE_TEST_PARENT_NETNS") != nullptr) GTEST_SKIP();
  const ProcessResult probe = run_process({"/usr/bin/unshare", "-n", "/bin/true"});
  if (probe.status != 0)
    GTEST_SKIP() << "private network namespaces not permitted here: " << probe.err;
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  const ProcessResult r = run_process(
      {"/usr/bin/unshare", "-n", "/usr/bin/env", "ORVANE_TEST_PARENT_NETNS=" + net_namespace(),
       self, "--gtest_filter=NetNamespace.InnerApplyAndRestore"},
      {.timeout = std::chrono::seconds(60)});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("[  PASSED  ] 1 test"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace orvane::profile
