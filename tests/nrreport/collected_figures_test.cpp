// The readers of the collector's outputs, and the CPU and synthesis page data built on them.
#include <gtest/gtest.h>

#include <orvane/collected_figures.hpp>
#include <orvane/log.hpp>
#include <orvane/nr_data_collection.hpp>

#include "support.hpp"

namespace orvane {
namespace {

const std::string G = "=========================nerith=========================";

TEST(CpuUtilisation, TwelveHourClockAndNoAverageRows) {
  // A locale with AM/PM times and without the "Average:" rows: the averages are the means.
  const auto u = figures::cpu_utilisation(
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
  EXPECT_TRUE(figures::cpu_utilisation("mpstat: not installed").average.empty());
}

TEST(Readers, SmallOutputs) {
  const auto load = figures::load_average("1.50 0.75 0.25 2/300 4242\n");
  ASSERT_TRUE(load.has_value());
  EXPECT_DOUBLE_EQ(load->five, 0.75);
  EXPECT_FALSE(figures::load_average("1.5 x 0.25").has_value());

  const std::string meminfo = "MemTotal:  100 kB\nMemTotalX: 5 kB\nHugePages_Total:  4\n";
  EXPECT_EQ(figures::meminfo_field(meminfo, "MemTotal"), 100);
  EXPECT_EQ(figures::meminfo_field(meminfo, "HugePages_Total"), 4);
  EXPECT_FALSE(figures::meminfo_field(meminfo, "MemAvailable").has_value());

  EXPECT_EQ(figures::pressure_some_avg10("some avg10=1.25 avg60=0 avg300=0 total=9\n"), 1.25);
  EXPECT_FALSE(figures::pressure_some_avg10("(pressure stall information is not enabled)"));
}

TEST(Readers, DiskAndNetworkDevices) {
  // Only a since-boot report: it is used. Several: the interval reports are averaged.
  auto one = figures::iostat_devices("Device: r/s w/s %util\nsda 1 2 3\n");
  ASSERT_EQ(one.size(), 1u);
  EXPECT_DOUBLE_EQ(one[0].util, 3.0);
  auto three = figures::iostat_devices(
      "Linux\n\nDevice r/s w/s %util\nsda 100 100 100\n\nDevice r/s w/s %util\nsda 2 4 10\n"
      "nvme0n1 1 1 1\n\nDevice r/s w/s %util\nsda 4 8 30\nnvme0n1 3 3 3\n");
  ASSERT_EQ(three.size(), 2u);
  EXPECT_DOUBLE_EQ(three[0].reads, 3.0);
  EXPECT_DOUBLE_EQ(three[0].util, 20.0);
  EXPECT_EQ(three[1].device, "nvme0n1");
  EXPECT_DOUBLE_EQ(three[1].writes, 2.0);

  const auto net = figures::net_dev(
      "Inter-|   Receive |  Transmit\n face |bytes packets errs drop|bytes\n"
      "  eth0:123456 7 1 2 0 0 0 0 890 9 3 4 0 0 0 0\n  short: 1 2 3\n");
  ASSERT_EQ(net.size(), 1u);
  EXPECT_EQ(net[0].rx_bytes, 123456u);
  EXPECT_EQ(net[0].tx_dropped, 4u);

  const auto links = figures::ip_links(
      "1: lo: <LOOPBACK,UP> mtu 65536 qdisc noqueue state UNKNOWN\n"
      "    link/loopback 00:00:00:00:00:00\n"
      "7: eth0.100@eth0: <BROADCAST,UP> mtu 1500 qdisc noqueue state UP mode DEFAULT\n");
  ASSERT_EQ(links.size(), 2u);
  EXPECT_EQ(links[1].device, "eth0.100");
  EXPECT_EQ(links[1].state, "UP");
  EXPECT_EQ(links[1].mtu, 1500);
}

class PageData : public ::testing::Test {
 protected:
  void write(const std::string& name, const std::string& text) {
    test::write_bytes(out_.path() / "orvaneData" / name, text);
  }
  test::TempDir inst_, out_;
  test::ScopedConfig config_{inst_.path().string(), out_.path().string()};
  LogCapture log_;
};

TEST_F(PageData, CpuSectionAndSynthesisFromTheCollectedFiles) {
  write("CPUInfo.txt",
        "Command: CPU utilisation\nSubCommand: LC_ALL=C mpstat -P ALL 1 2\n"
        "12:00:00 CPU %usr %nice %sys %iowait %irq %soft %steal %guest %gnice %idle\n"
        "12:00:01 all 50 0 10 0 0 0 0 0 0 40\n12:00:01 0 80 0 10 0 0 0 0 0 0 10\n"
        "12:00:01 1 20 0 10 0 0 0 0 0 0 70\n\n"
        "12:00:01 CPU %usr %nice %sys %iowait %irq %soft %steal %guest %gnice %idle\n"
        "12:00:02 all 30 0 10 0 0 0 0 0 0 60\n12:00:02 0 40 0 10 0 0 0 0 0 0 50\n"
        "12:00:02 1 20 0 10 0 0 0 0 0 0 70\n" +
            G + "\nCommand: Load\nSubCommand: cat /proc/loadavg\n3.00 2.00 1.00 1/2 3\n" + G);
  write("memInfo.txt",
        "Command: m\nSubCommand: cat /proc/meminfo\nMemTotal: 2097152 kB\n"
        "MemAvailable: 1048576 kB\nSwapTotal: 0 kB\nSwapFree: 0 kB\n" +
            G);
  write("netInfo.txt",
        "Command: n\nSubCommand: cat /proc/net/dev\nInter-|\n face |\n"
        "  eth0: 2048 1 0 0 0 0 0 0 1024 1 0 0 0 0 0 0\n    lo: 9 9 0 0 0 0 0 0 9 9 0 0 0 0 0 0\n" +
            G);

  const Json cpu = DATACOLLECTION().get_cpu_tag_data();
  EXPECT_EQ(cpu["utilisation"]["command"], "LC_ALL=C mpstat -P ALL 1 2");
  EXPECT_EQ(cpu["utilisation"]["series"].dump(),
            R"({"time":["12:00:01","12:00:02"],"user":[50.0,30.0],"system":[10.0,10.0],)"
            R"("iowait":[0.0,0.0],"steal":[0.0,0.0],"idle":[40.0,60.0]})");
  EXPECT_EQ(cpu["utilisation"]["average"][0].dump(),
            R"({"cpu":"all","user":40.0,"system":10.0,"iowait":0.0,"steal":0.0,"idle":50.0})");
  EXPECT_EQ(cpu["groups"].size(), 2u);

  std::vector<std::string> rows;
  for (const Json& r : DATACOLLECTION().get_synthesis_tag_data()) {
    rows.push_back(r["item"].get<std::string>() + " | " + r["value"].get<std::string>() + " | " +
                   r["detail"].get<std::string>());
  }
  EXPECT_EQ(rows, (std::vector<std::string>{
                      "Load average | 3.00 / 2.00 / 1.00 | over 1, 5 and 15 minutes; 1.50 per CPU "
                      "over 1 minute on 2 CPUs",
                      "CPU utilisation | 50.0% busy | user 40.0%, system 10.0%, I/O wait 0.0%, "
                      "steal 0.0%, idle 50.0%; mean of 2 samples",
                      "Busiest CPU | CPU 0 70.0% busy | least busy: CPU 1 30.0%",
                      "Memory | 1.0 GiB available of 2.0 GiB (50%) | no swap space",
                      "Busiest network devices | eth0 2.0 KiB in, 1.0 KiB out | traffic since "
                      "boot; no errors or drops"}));
  EXPECT_EQ(log_.text(), "");
}

TEST_F(PageData, UnreadableCpuFileIsNullForBothSections) {
  write("CPUInfo.txt", "Command: x\nno sub command line\nout\n" + G);
  EXPECT_TRUE(DATACOLLECTION().get_cpu_tag_data().is_null());
  EXPECT_TRUE(DATACOLLECTION().get_synthesis_tag_data().is_null());
}

}  // namespace
}  // namespace orvane
