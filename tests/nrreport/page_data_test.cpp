// The CPU and synthesis page data, built on the collection's figures.
#include <gtest/gtest.h>

#include <orvane/log.hpp>
#include <orvane/nr_data_collection.hpp>

#include "support.hpp"

namespace orvane {
namespace {

const std::string G = "=========================nerith=========================";

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
            G + "\nCommand: s\nSubCommand: ss -ltn\nState Recv-Q Send-Q Local Peer\n" +
            "LISTEN 0 4096 0.0.0.0:22 0.0.0.0:*\n" + G);

  const Json cpu = DATACOLLECTION().get_cpu_tag_data();
  EXPECT_EQ(cpu["utilisation"]["command"], "LC_ALL=C mpstat -P ALL 1 2");
  EXPECT_EQ(cpu["utilisation"]["series"].dump(),
            R"({"time":["12:00:01","12:00:02"],"user":[50.0,30.0],"nice":[0.0,0.0],)"
            R"("system":[10.0,10.0],"iowait":[0.0,0.0],"irq":[0.0,0.0],"softirq":[0.0,0.0],)"
            R"("steal":[0.0,0.0],"idle":[40.0,60.0]})");
  EXPECT_EQ(cpu["utilisation"]["average"][0].dump(),
            R"({"cpu":"all","user":40.0,"nice":0.0,"system":10.0,"iowait":0.0,"irq":0.0,)"
            R"("softirq":0.0,"steal":0.0,"idle":50.0})");
  EXPECT_EQ(cpu["groups"].size(), 2u);

  const Json synthesis = DATACOLLECTION().get_synthesis_tag_data();
  std::vector<std::string> rows;
  for (const Json& r : synthesis["resources"]) {
    rows.push_back(r["resource"].get<std::string>() + " " + r["item"].get<std::string>() + " | " +
                   r["utilisation"].get<std::string>() + " | " +
                   r["saturation"].get<std::string>() + " | " + r["errors"].get<std::string>());
  }
  EXPECT_EQ(rows, (std::vector<std::string>{
                      "CPUs  | 50.0% busy: user 40.0%, nice 0.0%, system 10.0%, irq 0.0%, softirq "
                      "0.0%, steal 0.0%; I/O wait 0.0%, idle 50.0%; busiest CPU 0 at 70.0%, least "
                      "busy CPU 1 at 30.0% | load average 3.00 / 2.00 / 1.00 on 2 CPUs; 0.0 tasks "
                      "running or ready to run per CPU | -",
                      "Memory  | 1.0 GiB available of 2.0 GiB (50%) | no swap space | -",
                      "Kernel TCP queues  | 0 established connections, 1 listening socket | 0 "
                      "connections in TIME-WAIT | -"}));
  EXPECT_EQ(synthesis["facts"]["memory_available"].dump(),
            R"({"value":"1.0 GiB","source":"/proc/meminfo"})");
  EXPECT_EQ(log_.text(), "");
}

TEST_F(PageData, UnreadableCpuFileIsNullForBothSections) {
  write("CPUInfo.txt", "Command: x\nno sub command line\nout\n" + G);
  EXPECT_TRUE(DATACOLLECTION().get_cpu_tag_data().is_null());
  EXPECT_TRUE(DATACOLLECTION().get_synthesis_tag_data().is_null());
}

}  // namespace
}  // namespace orvane
