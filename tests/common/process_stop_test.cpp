// The process runner's stop flag: a raised flag sends its signal to the running child.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <thread>

#include <orvane/process.hpp>
#include <orvane/util.hpp>

namespace orvane {
namespace {

RunOptions stopping_on(const std::atomic<int>& flag) {
  RunOptions options;
  options.stop = &flag;
  return options;
}

TEST(ProcessStop, ALoweredFlagChangesNothing) {
  std::atomic<int> flag{0};
  const ProcessResult r = run_shell("echo out; echo err >&2; exit 3", stopping_on(flag));
  EXPECT_EQ(r.out, "out\n");
  EXPECT_EQ(r.err, "err\n");
  EXPECT_EQ(r.status, 3);
  EXPECT_FALSE(r.stopped);
}

TEST(ProcessStop, AFlagRaisedBeforehandStopsTheChildAtOnce) {
  for (int signo : {SIGINT, SIGTERM}) {
    std::atomic<int> flag{signo};
    const ProcessResult r = run_shell("exec sleep 30", stopping_on(flag));
    EXPECT_TRUE(r.stopped);
    EXPECT_EQ(r.status, 128 + signo);
  }
}

TEST(ProcessStop, AFlagRaisedWhileRunningStopsTheChild) {
  const std::string marker =
      (std::filesystem::temp_directory_path() / ("orvane-stop-" + std::to_string(::getpid())))
          .string();
  std::filesystem::remove(marker);
  std::atomic<int> flag{0};
  std::thread raiser([&] {
    while (!std::filesystem::exists(marker))
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    flag.store(SIGTERM);
  });
  const ProcessResult r = run_shell(
      "echo started; touch " + shell_quote(marker) + "; exec sleep 30", stopping_on(flag));
  raiser.join();
  std::filesystem::remove(marker);
  EXPECT_TRUE(r.stopped);
  EXPECT_EQ(r.out, "started\n");
  EXPECT_EQ(r.status, 128 + SIGTERM);
}

}  // namespace
}  // namespace orvane
