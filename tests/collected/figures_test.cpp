// The readers of the collector's outputs.
#include <gtest/gtest.h>

#include <orvane/collected/figures.hpp>

namespace orvane {
namespace {

TEST(CpuUtilisation, TwelveHourClockAndNoAverageRows) {
  // A locale with AM/PM times and without the "Average:" rows: the averages are the means.
  const auto u = collected::cpu_utilisation(
      "Linux 6.1 (h) \t01/02/2025 \t_x86_64_\t(2 CPU)\n\n"
      "09:00:01 AM  CPU %usr %nice %sys %iowait %irq %soft %steal %guest %gnice %idle\n"
      "09:00:02 AM  all 10,00 0 5 1 0 0 0 0 0 84\n"
      "09:00:02 AM    0 20 0 10 2 0 0 0 0 0 68\n\n"
      "09:00:02 AM  CPU %usr %nice %sys %iowait %irq %soft %steal %guest %gnice %idle\n"
      "09:00:03 AM  all 30 0 5 1 0 0 4 0 0 60\n"
      "09:00:03 AM    0 40 0 10 2 0 0 8 0 0 40\n"
      "garbage line\n");
  ASSERT_EQ(u.series.size(), 2u);
  EXPECT_EQ(u.series[1].time, "09:00:03 AM");
  EXPECT_DOUBLE_EQ(u.series[0].load.user, 10.0);
  ASSERT_EQ(u.average.size(), 2u);
  EXPECT_EQ(u.average[0].cpu, "all");
  EXPECT_DOUBLE_EQ(u.average[0].user, 20.0);
  EXPECT_DOUBLE_EQ(u.average[0].steal, 2.0);
  EXPECT_DOUBLE_EQ(u.average[1].idle, 54.0);
  EXPECT_TRUE(collected::cpu_utilisation("mpstat: not installed").average.empty());
}

TEST(Readers, SmallOutputs) {
  const auto load = collected::load_average("1.50 0.75 0.25 2/300 4242\n");
  ASSERT_TRUE(load.has_value());
  EXPECT_DOUBLE_EQ(load->five, 0.75);
  EXPECT_FALSE(collected::load_average("1.5 x 0.25").has_value());

  const std::string meminfo = "MemTotal:  100 kB\nMemTotalX: 5 kB\nHugePages_Total:  4\n";
  EXPECT_EQ(collected::meminfo_field(meminfo, "MemTotal"), 100);
  EXPECT_EQ(collected::meminfo_field(meminfo, "HugePages_Total"), 4);
  EXPECT_FALSE(collected::meminfo_field(meminfo, "MemAvailable").has_value());

  EXPECT_EQ(collected::pressure_some_avg10("some avg10=1.25 avg60=0 avg300=0 total=9\n"), 1.25);
  EXPECT_FALSE(collected::pressure_some_avg10("(pressure stall information is not enabled)"));
}

TEST(Readers, DiskAndNetworkDevices) {
  // Only a since-boot report: it is used. Several: the interval reports are averaged.
  auto one = collected::iostat_devices("Device: r/s w/s %util\nsda 1 2 3\n");
  ASSERT_EQ(one.size(), 1u);
  EXPECT_DOUBLE_EQ(one[0].util, 3.0);
  auto three = collected::iostat_devices(
      "Linux\n\nDevice r/s w/s %util\nsda 100 100 100\n\nDevice r/s w/s %util\nsda 2 4 10\n"
      "nvme0n1 1 1 1\n\nDevice r/s w/s %util\nsda 4 8 30\nnvme0n1 3 3 3\n");
  ASSERT_EQ(three.size(), 2u);
  EXPECT_DOUBLE_EQ(three[0].reads, 3.0);
  EXPECT_DOUBLE_EQ(three[0].util, 20.0);
  EXPECT_EQ(three[1].device, "nvme0n1");
  EXPECT_DOUBLE_EQ(three[1].writes, 2.0);

  const auto net = collected::net_dev(
      "Inter-|   Receive |  Transmit\n face |bytes packets errs drop|bytes\n"
      "  eth0:123456 7 1 2 0 0 0 0 890 9 3 4 0 0 0 0\n  short: 1 2 3\n");
  ASSERT_EQ(net.size(), 1u);
  EXPECT_EQ(net[0].rx_bytes, 123456u);
  EXPECT_EQ(net[0].tx_dropped, 4u);

  const auto links = collected::ip_links(
      "1: lo: <LOOPBACK,UP> mtu 65536 qdisc noqueue state UNKNOWN\n"
      "    link/loopback 00:00:00:00:00:00\n"
      "7: eth0.100@eth0: <BROADCAST,UP> mtu 1500 qdisc noqueue state UP mode DEFAULT\n");
  ASSERT_EQ(links.size(), 2u);
  EXPECT_EQ(links[1].device, "eth0.100");
  EXPECT_EQ(links[1].state, "UP");
  EXPECT_EQ(links[1].mtu, 1500);
}

}  // namespace
}  // namespace orvane
