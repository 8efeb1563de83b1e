// The analysis on collected fixtures: each check of the installed rule file both ways and under
// its conditions, the findings on the run's figures, whole hosts recorded from real runs, and
// malformed rule files.
#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include <orvane/analysis.hpp>
#include <orvane/log.hpp>

#include "../support/temp_dir.hpp"

namespace orvane {
namespace {

using testing::TempDir;

const std::string G = "=========================nerith=========================";

// A collected-data file of one group per (command, output).
void write_collected(const TempDir& dir, const std::string& file,
                     const std::vector<std::pair<std::string, std::string>>& commands) {
  std::string text;
  for (const auto& [cmd, out] : commands) {
    text += "Command: fixture\nSubCommand: " + cmd + "\n" + out + "\n" + G + "\n";
  }
  dir.write(file, text);
}

// Two readings of a window command, `seconds` apart.
std::string window(const std::string& command, const std::string& start, const std::string& end,
                   double seconds) {
  return "Command: Counters over the sampling window\nSubCommand: " + command + "\n100.00 1\n" +
         start +
         "\n-------------------------nerith-------------------------\n"
         "Command: Counters over the sampling window\nSubCommand: " +
         command + "\n" + std::to_string(100.0 + seconds) + " 1\n" + end + "\n" + G + "\n";
}

const std::string kNetDev =
    "Inter-|   Receive |  Transmit\n face |bytes packets errs drop fifo frame compressed "
    "multicast|bytes packets errs drop fifo colls carrier compressed\n";
const std::string kNetWindow = "cat /proc/uptime /proc/net/dev /proc/net/snmp";
const std::string kDiskWindow = "cat /proc/uptime /proc/diskstats";

// A host on which every condition of the installed rules holds: swap, a busy TCP server, heavy
// network and disk traffic, two NUMA nodes, a database running.
void write_busy_context(const TempDir& dir) {
  write_collected(dir, "memInfo.txt",
                  {{"cat /proc/meminfo",
                    "MemTotal: 1000 kB\nMemAvailable: 900 kB\n"
                    "SwapTotal: 2048 kB\nSwapFree: 2048 kB"}});
  dir.write("netInfo.txt",
            window(kNetWindow, kNetDev + "  eth0: 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0",
                   kNetDev + "  eth0: 2147483648 300000 0 0 0 0 0 0 0 0 0 0 0 0 0 0", 10) +
                "Command: Sockets\nSubCommand: ss -s\nTCP:   900 (estab 812, closed 0, "
                "orphaned 0, timewait 40)\n" +
                G +
                "\nCommand: Sockets\nSubCommand: ss -ltn | head -n 40\n"
                "State Recv-Q Send-Q Local Address:Port Peer Address:Port\n"
                "LISTEN 0 4096 0.0.0.0:3306 0.0.0.0:*\n" +
                G + "\n");
  dir.write("diskInfo.txt", window(kDiskWindow, "8 0 sda 0 0 0 0 0 0 0 0 0 0 0",
                                   "8 0 sda 0 0 0 0 1000 0 8000 0 0 5000 0", 10));
  write_collected(dir, "CPUInfo.txt",
                  {{"lscpu", "CPU(s): 4\nNUMA node(s): 2"},
                   {"ps -eo pid,user,etimes,pcpu,pmem,stat,comm,args --sort=-pcpu | cut -c 1-300",
                    "  PID USER ELAPSED %CPU %MEM STAT COMMAND COMMAND\n"
                    "  812 mysql 864233 35.2 41.6 Ssl mariadbd /usr/sbin/mariadbd"}});
}

const Json* row_of(const Json& list, const std::string& parameter) {
  for (const Json& row : list) {
    if (row["parameter"] == parameter) return &row;
  }
  return nullptr;
}

struct CheckCase {
  std::string parameter;
  std::string command;  // as the collector records it
  std::string output;
  std::string status;
  std::string current;
};

void PrintTo(const CheckCase& c, std::ostream* os) {
  *os << c.parameter << " <- " << c.output.substr(0, c.output.find('\n'));
}

const std::string kSysctl = "sysctl -e vm.swappiness net.core.somaxconn";
const std::string kThp = "cat /sys/kernel/mm/transparent_hugepage/enabled";
const std::string kDefrag = "cat /sys/kernel/mm/transparent_hugepage/defrag";
const std::string kGovernor = "grep -H . /sys/devices/system/cpu/cpu*/cpufreq/scaling_governor";
const std::string kSchedulers =
    "printf '%-16s %-10s %s\\n' DEVICE ROTATIONAL SCHEDULER; for q in /sys/block/*/queue; do "
    "d=${q%/queue}; printf '%-16s %-10s %s\\n' \"${d##*/}\" \"$(cat \"$q/rotational\")\" "
    "\"$(cat \"$q/scheduler\")\"; done";
const std::string kGov = "/sys/devices/system/cpu/";
const std::string kServices = "open-file limit of services (LimitNOFILE)";
const std::string kLimits =
    "printf 'PID COMMAND %%CPU FILES SOFT HARD\\n'; ps ... /proc/$pid/limits";

const std::vector<CheckCase> kChecks = {
    {"net.core.somaxconn", kSysctl, "net.core.somaxconn = 128", "change", "128"},
    {"net.core.somaxconn", kSysctl, "net.core.somaxconn = 4096", "ok", "4096"},
    {"net.core.somaxconn", kSysctl, "net.core.somaxconn = many", "not_available", "many"},
    {"net.ipv4.tcp_max_syn_backlog", kSysctl, "net.ipv4.tcp_max_syn_backlog = 4096", "change",
     "4096"},
    {"net.ipv4.tcp_max_syn_backlog", kSysctl, "net.ipv4.tcp_max_syn_backlog = 8192", "ok", "8192"},
    {"net.core.netdev_max_backlog", kSysctl, "net.core.netdev_max_backlog = 1000", "change",
     "1000"},
    {"net.core.netdev_max_backlog", kSysctl, "net.core.netdev_max_backlog = 16384", "ok", "16384"},
    {"net.ipv4.tcp_syncookies", kSysctl, "net.ipv4.tcp_syncookies = 0", "change", "0"},
    {"net.ipv4.tcp_syncookies", kSysctl, "net.ipv4.tcp_syncookies = 1", "ok", "1"},
    {"net.ipv4.tcp_fin_timeout", kSysctl, "net.ipv4.tcp_fin_timeout = 60", "change", "60"},
    {"net.ipv4.tcp_fin_timeout", kSysctl, "net.ipv4.tcp_fin_timeout = 30", "ok", "30"},
    {"net.core.rmem_max", kSysctl, "net.core.rmem_max = 212992", "change", "212992"},
    {"net.core.rmem_max", kSysctl, "net.core.rmem_max = 16777216", "ok", "16777216"},
    {"net.core.wmem_max", kSysctl, "net.core.wmem_max = 212992", "change", "212992"},
    {"net.core.wmem_max", kSysctl, "net.core.wmem_max = 33554432", "ok", "33554432"},
    {"net.ipv4.tcp_slow_start_after_idle", kSysctl, "net.ipv4.tcp_slow_start_after_idle = 1",
     "change", "1"},
    {"net.ipv4.tcp_slow_start_after_idle", kSysctl, "net.ipv4.tcp_slow_start_after_idle = 0", "ok",
     "0"},
    {"vm.swappiness", kSysctl, "vm.swappiness = 60", "change", "60"},
    {"vm.swappiness", kSysctl, "vm.swappiness = 10", "ok", "10"},
    {"vm.dirty_ratio", kSysctl, "vm.dirty_ratio = 40", "change", "40"},
    {"vm.dirty_ratio", kSysctl, "vm.dirty_ratio = 2", "change", "2"},
    {"vm.dirty_ratio", kSysctl, "vm.dirty_ratio = 15", "ok", "15"},
    {"vm.dirty_background_ratio", kSysctl, "vm.dirty_background_ratio = 20", "change", "20"},
    {"vm.dirty_background_ratio", kSysctl, "vm.dirty_background_ratio = 5", "ok", "5"},
    {"vm.zone_reclaim_mode", kSysctl, "vm.zone_reclaim_mode = 1", "change", "1"},
    {"vm.zone_reclaim_mode", kSysctl, "vm.zone_reclaim_mode = 0", "ok", "0"},
    {"vm.max_map_count", kSysctl, "vm.max_map_count = 65530", "change", "65530"},
    {"vm.max_map_count", kSysctl, "vm.max_map_count = 262144", "ok", "262144"},
    {"fs.file-max", kSysctl, "fs.file-max = 100000", "change", "100000"},
    {"fs.file-max", kSysctl, "fs.file-max = 9223372036854775807", "ok", "9223372036854775807"},
    {kServices, kLimits, "PID COMMAND %CPU FILES SOFT HARD\n812 mariadbd 35.2 1804 32768 32768",
     "change", "32768 (mariadbd (pid 812))"},
    {kServices, kLimits, "PID COMMAND %CPU FILES SOFT HARD\n812 mariadbd 35.2 1804 unlimited x",
     "ok", "unlimited (mariadbd (pid 812))"},
    // An idle service far from its limit is none of the advice's business.
    {kServices, kLimits, "PID COMMAND %CPU FILES SOFT HARD\n640 sshd 0.0 6 1024 524288",
     "not_applicable", "no busy long-running service"},
    // Three quarters of the limit in use: however idle, the service needs a higher one.
    {kServices, kLimits, "PID COMMAND %CPU FILES SOFT HARD\n640 sshd 0.0 800 1024 524288", "change",
     "1024 (sshd (pid 640))"},
    {kServices, "ulimit -Sn", "1024", "not_available", "not collected"},
    {"/sys/kernel/mm/transparent_hugepage/enabled", kThp, "[always] madvise never", "change",
     "always"},
    {"/sys/kernel/mm/transparent_hugepage/enabled", kThp, "always [madvise] never", "ok",
     "madvise"},
    {"/sys/kernel/mm/transparent_hugepage/defrag", kDefrag,
     "[always] defer defer+madvise madvise never", "change", "always"},
    {"/sys/kernel/mm/transparent_hugepage/defrag", kDefrag,
     "always defer [defer+madvise] madvise never", "ok", "defer+madvise"},
    {"CPU frequency governor", kGovernor,
     kGov + "cpu0/cpufreq/scaling_governor:powersave\n" + kGov +
         "cpu1/cpufreq/scaling_governor:performance\n" + kGov +
         "cpu2/cpufreq/scaling_governor:powersave",
     "change", "powersave (cpu0, cpu2)"},
    {"CPU frequency governor", kGovernor,
     kGov + "cpu0/cpufreq/scaling_governor:performance\n" + kGov +
         "cpu1/cpufreq/scaling_governor:performance",
     "ok", "performance (cpu0, cpu1)"},
    {"CPU frequency governor", kGovernor, "(no CPU frequency driver)", "not_applicable",
     "no CPU frequency driver"},
    {"I/O scheduler of SSD and NVMe disks", kSchedulers,
     "DEVICE ROTATIONAL SCHEDULER\nnvme0n1 0 [bfq] mq-deadline none\nnvme1n1 0 mq-deadline "
     "[none]\nsda 1 [bfq] none\nloop0 0 [bfq] none",
     "change", "bfq (nvme0n1)"},
    {"I/O scheduler of SSD and NVMe disks", kSchedulers,
     "DEVICE ROTATIONAL SCHEDULER\nsdb 0 [mq-deadline] none\nvda 1 [bfq]", "ok",
     "mq-deadline (sdb)"},
    {"I/O scheduler of SSD and NVMe disks", kSchedulers,
     "DEVICE ROTATIONAL SCHEDULER\nsda 1 [bfq] none\nzram0 0 [bfq]", "not_applicable",
     "no SSD or NVMe disk"},
    {"I/O scheduler of rotating disks", kSchedulers,
     "DEVICE ROTATIONAL SCHEDULER\nsda 1 [none] mq-deadline\nsdb 1 [bfq] none", "change",
     "none (sda)"},
    {"I/O scheduler of rotating disks", kSchedulers,
     "DEVICE ROTATIONAL SCHEDULER\nsda 1 mq-deadline [bfq]\nnvme0n1 0 [none]", "ok", "bfq (sda)"},
    {"I/O scheduler of rotating disks", kSchedulers,
     "DEVICE ROTATIONAL SCHEDULER\nnvme0n1 0 [none]", "not_applicable", "no rotating disk"},
};

class Checks : public ::testing::TestWithParam<CheckCase> {};

TEST_P(Checks, CurrentValueAndVerdict) {
  const CheckCase& c = GetParam();
  TempDir out;
  write_busy_context(out);
  write_collected(out, "sysParamInfo.txt", {{c.command, c.output}});
  const AnalysisResult r = Analysis(ORVANE_TEST_RULES).run(out.dir());
  const Json hldata = r.hldata(), sug_list = r.sug(), ref_list = r.ref();
  const Json* row = row_of(hldata, c.parameter);
  ASSERT_NE(row, nullptr);
  EXPECT_EQ((*row)["status"], c.status);
  EXPECT_EQ((*row)["current"], c.current);
  const Json* sug = row_of(sug_list, c.parameter);
  EXPECT_EQ(sug != nullptr, c.status == "change");
  if (sug) {
    EXPECT_EQ((*sug)["current"], c.current);
    EXPECT_FALSE((*sug)["reason"].get<std::string>().empty());
    EXPECT_FALSE((*sug)["evidence"].get<std::string>().empty());
    const Json* ref = row_of(ref_list, c.parameter);
    ASSERT_NE(ref, nullptr);
    EXPECT_FALSE((*ref)["reference"].get<std::string>().empty());
  }
}

INSTANTIATE_TEST_SUITE_P(InstalledRules, Checks, ::testing::ValuesIn(kChecks));

TEST(InstalledRules, EveryCheckIsCoveredBothWaysAndNothingFailsWithoutData) {
  TempDir empty;
  LogCapture log;
  const Analysis analysis(ORVANE_TEST_RULES);
  const AnalysisResult r = analysis.run(empty.dir());
  EXPECT_GE(analysis.check_count(), 15u);
  std::set<std::string> in_file, changed, passed;
  for (const Json& row : r.hldata()) {
    in_file.insert(row["parameter"]);
    EXPECT_NE(row["status"], "change") << row.dump();
    EXPECT_NE(row["status"], "ok") << row.dump();
  }
  for (const CheckCase& c : kChecks) {
    (c.status == "change" ? changed : passed).insert(c.parameter);
  }
  EXPECT_EQ(changed, in_file) << "every check must have a fixture that asks for a change";
  for (const std::string& p : in_file) EXPECT_TRUE(passed.contains(p)) << p;
  EXPECT_EQ(r.sug(), Json::array());
  EXPECT_EQ(r.height_info(), Json::array());
  EXPECT_EQ(r.netdevice(), Json::array());
}

// mpstat's layout: one sample and the averages, per CPU (label, user %, nice %, iowait %, idle %).
std::string mpstat(
    const std::vector<std::tuple<std::string, double, double, double, double>>& cpus) {
  std::string text = "Linux 6.1 (host) 2025-01-01 _x86_64_ (2 CPU)\n\n";
  for (const char* label : {"10:00:01", "Average:"}) {
    text += std::string(label) +
            " CPU %usr %nice %sys %iowait %irq %soft %steal %guest %gnice "
            "%idle\n";
    for (const auto& [cpu, user, nice, iowait, idle] : cpus) {
      text += std::string(label) + " " + cpu + " " + std::to_string(user) + " " +
              std::to_string(nice) + " 0.00 " + std::to_string(iowait) +
              " 0.00 0.00 0.00 0.00 0.00 " + std::to_string(idle) + "\n";
    }
    text += "\n";
  }
  return text;
}

struct FindingCase {
  std::string name;
  std::string file;
  std::vector<std::pair<std::string, std::string>> commands;
  std::vector<std::string> findings;  // expected, in order
};

void PrintTo(const FindingCase& c, std::ostream* os) {
  *os << c.name;
}

class Findings : public ::testing::TestWithParam<FindingCase> {};

TEST_P(Findings, HighlightsOfTheRun) {
  const FindingCase& c = GetParam();
  TempDir out;
  write_collected(out, c.file, c.commands);
  const AnalysisResult r = Analysis(ORVANE_TEST_RULES).run(out.dir());
  std::vector<std::string> got;
  for (const Json& h : r.height_info()) {
    got.push_back(h["severity"].get<std::string>() + ": " + h["finding"].get<std::string>());
  }
  EXPECT_EQ(got, c.findings);
}

const std::string kMpstat = "LC_ALL=C S_TIME_FORMAT=ISO mpstat -P ALL 1 5";

INSTANTIATE_TEST_SUITE_P(
    InstalledRules, Findings,
    ::testing::Values(
        FindingCase{
            "quiet_host",
            "CPUInfo.txt",
            {{kMpstat, mpstat({{"all", 5, 0, 0, 95}, {"0", 5, 0, 0, 95}, {"1", 5, 0, 0, 95}})},
             {"cat /proc/loadavg", "0.10 0.20 0.30 1/100 42"}},
            {}},
        FindingCase{
            "busy_and_loaded",
            "CPUInfo.txt",
            {{kMpstat, mpstat({{"all", 90, 0, 0, 10}, {"0", 90, 0, 0, 10}, {"1", 90, 0, 0, 10}})},
             {"cat /proc/loadavg", "6.00 2.00 1.00 5/100 42"}},
            {"high: Saturation: The CPUs were 90% busy with normal-priority work and more "
             "tasks were ready to run than there are CPUs; the host is short of CPU time. (2.0 "
             "tasks running or ready to run per CPU)",
             "high: Saturation: The 1-minute load average is 3 per CPU; tasks queue for CPU "
             "time. (90% of CPU time busy with normal-priority work)"}},
        // Niced background work fills the CPUs and the run queue, but yields to everything else:
        // no shortage.
        FindingCase{
            "busy_with_niced_background_work",
            "CPUInfo.txt",
            {{kMpstat, mpstat({{"all", 1, 95, 0, 4}, {"0", 1, 95, 0, 4}, {"1", 1, 95, 0, 4}})},
             {"cat /proc/loadavg", "6.00 6.00 6.00 9/100 42"}},
            {}},
        // Busy but nothing waits: fully used, not short.
        FindingCase{
            "busy_without_a_queue",
            "CPUInfo.txt",
            {{kMpstat, mpstat({{"all", 95, 0, 0, 5}, {"0", 95, 0, 0, 5}, {"1", 95, 0, 0, 5}})},
             {"cat /proc/loadavg", "1.90 1.00 1.00 2/100 42"}},
            {}},
        FindingCase{
            "io_wait_and_one_busy_cpu",
            "CPUInfo.txt",
            {{kMpstat, mpstat({{"all", 50, 0, 25, 25}, {"0", 100, 0, 0, 0}, {"1", 0, 0, 50, 50}})}},
            {"high: Saturation: The CPUs waited for I/O 25% of the time; storage is a "
             "bottleneck.",
             "medium: Utilisation: CPU 0 was 50 points busier than the average CPU; check "
             "whether interrupts or a single thread pin the work to it."}},
        FindingCase{"memory",
                    "memInfo.txt",
                    {{"cat /proc/meminfo",
                      "MemTotal:  1000 kB\nMemFree:  10 kB\nMemAvailable:  50 kB\n"
                      "SwapTotal:  100 kB\nSwapFree:  50 kB"},
                     {"cat /proc/pressure/memory",
                      "some avg10=12.50 avg60=1.00 avg300=0.00 total=1\n"
                      "full avg10=1.00 avg60=0.00 avg300=0.00 total=1"}},
                    {"high: Utilisation: Only 5% of the memory is available; the host is close to "
                     "reclaim and swapping.",
                     "high: Saturation: Tasks stalled waiting for memory 12.5% of the last 10 "
                     "seconds.",
                     "medium: Saturation: 50% of the swap space is in use."}},
        FindingCase{"busy_disk_after_the_report_since_boot",
                    "diskInfo.txt",
                    {{"LC_ALL=C iostat -dx 1 2",
                      "Linux 6.1 (host)\n\nDevice r/s w/s %util\nsda 1.0 1.0 99.0\nsdb 0 0 0\n\n"
                      "Device r/s w/s %util\nsda 5.0 9.0 95.0\nsdb 1.0 1.0 2.0\n\n"}},
                    {"high: Utilisation: Disk sda was busy 95% of the time."}}),
    [](const auto& info) { return info.param.name; });

// Errors count while sampled, not since boot: old errors alone are no finding.
TEST(Findings, NetworkErrorsAreRatesOverTheWindow) {
  TempDir out;
  out.write("netInfo.txt",
            window(kNetWindow,
                   kNetDev + "    lo: 10 1 5 5 0 0 0 0 10 1 0 0 0 0 0 0\n"
                             "  eth0: 1000 10 3 7 0 0 0 0 2000 20 0 0 0 0 0 0\n"
                             "  eth1: 1000 10 3 7 0 0 0 0 2000 20 0 0 0 0 0 0\n"
                             "Ip: Forwarding DefaultTTL\nIp: 1 64\n"
                             "Tcp: RtoAlgorithm OutSegs RetransSegs\nTcp: 1 1000 10",
                   kNetDev + "    lo: 10 1 50 50 0 0 0 0 10 1 0 0 0 0 0 0\n"
                             "  eth0: 1000 10 23 7 0 0 0 0 2000 20 0 10 0 0 0 0\n"
                             "  eth1: 1000 10 3 7 0 0 0 0 2000 20 0 0 0 0 0 0\n"
                             "Ip: Forwarding DefaultTTL\nIp: 1 64\n"
                             "Tcp: RtoAlgorithm OutSegs RetransSegs\nTcp: 1 11000 510",
                   10));
  const AnalysisResult r = Analysis(ORVANE_TEST_RULES).run(out.dir());
  std::vector<std::string> got;
  for (const auto& f : r.findings) got.push_back(f.metric + " " + f.item + " " + f.text);
  EXPECT_EQ(got, (std::vector<std::string>{
                     "net.errors eth0 Network device eth0 counted 2 packet errors per second "
                     "while sampled.",
                     "tcp.retransmits  5% of the TCP segments sent were retransmissions; look for "
                     "packet loss on the path.",
                     "net.drops eth0 Network device eth0 dropped 1 packets per second while "
                     "sampled."}));
  ASSERT_EQ(r.netdevice().size(), 2u);
  EXPECT_EQ(r.netdevice()[0]["finding"], "2.0/s errors, 1.0/s packets dropped while sampled");
  EXPECT_EQ(r.netdevice()[1]["finding"], "no errors or drops");
}

// Whole hosts, recorded on a 2-CPU VM while niced builds ran, and put together from real output
// of a loaded web server and a database host: the advice an expert gives, and nothing else.
struct HostCase {
  std::string host;
  std::vector<std::string> changes;   // parameters to change, most severe first
  std::vector<std::string> findings;  // metric and item of each finding
  std::vector<std::string> scenes;
};

void PrintTo(const HostCase& c, std::ostream* os) {
  *os << c.host;
}

class Hosts : public ::testing::TestWithParam<HostCase> {};

TEST_P(Hosts, AdviceAnExpertWouldGive) {
  const HostCase& c = GetParam();
  LogCapture log;
  const AnalysisResult r =
      Analysis(ORVANE_TEST_RULES).run(std::string(ORVANE_TEST_HOSTS) + c.host + "/");
  std::vector<std::string> changes, findings, scenes;
  for (const Json& s : r.sug()) {
    changes.push_back(s["parameter"]);
    EXPECT_FALSE(s["evidence"].get<std::string>().empty()) << s.dump();
  }
  for (const auto& f : r.findings)
    findings.push_back(f.metric + (f.item.empty() ? "" : " " + f.item));
  for (const auto& w : r.workloads) scenes.push_back(w.scene);
  EXPECT_EQ(changes, c.changes);
  EXPECT_EQ(findings, c.findings);
  EXPECT_EQ(scenes, c.scenes);
  for (const CheckResult& check : r.checks) {
    EXPECT_NE(check.status, "not_available") << check.parameter << ": every figure was collected";
  }
  // The rates are of the host's devices only (the protocol counters read with them are none).
  std::vector<std::string> devices;
  for (const auto& n : r.figures.networks) devices.push_back(n.device);
  EXPECT_EQ(devices, (std::vector<std::string>{"ifb0", "ifb1", "eth0"}));
  EXPECT_EQ(log.text(), "");
}

INSTANTIATE_TEST_SUITE_P(
    RecordedHosts, Hosts,
    ::testing::Values(
        // Niced builds fill both CPUs: no CPU finding; no traffic: no network advice.
        HostCase{"idle_vm", {}, {}, {}},
        // 17,000 requests/s from 600 connections to nginx, whose workers use 900 of their 1,024
        // files.
        HostCase{"web_server",
                 {"net.ipv4.tcp_max_syn_backlog", "open-file limit of services (LimitNOFILE)",
                  "net.core.netdev_max_backlog", "net.ipv4.tcp_fin_timeout",
                  "net.ipv4.tcp_slow_start_after_idle"},
                 {},
                 {"specweb_config"}},
        // MariaDB with swap, transparent huge pages always on, and a rotating disk without a
        // scheduler writing 120 times a second.
        HostCase{"database",
                 {"vm.swappiness", "open-file limit of services (LimitNOFILE)",
                  "/sys/kernel/mm/transparent_hugepage/enabled", "I/O scheduler of rotating disks",
                  "vm.max_map_count"},
                 {},
                 {"mysql_config"}}),
    [](const auto& info) { return info.param.host; });

TEST(RuleFile, SuggestionsMostSevereFirstWithTheirReferences) {
  TempDir dir;
  const auto rules = dir.write("rules.yaml", R"(checks:
  - {parameter: a, area: x, read: {file: f.txt, command: show, match: '^a=(\d+)$'},
     expect: {max: 1}, suggested: "1", severity: low, reason: ra, reference: fa}
  - {parameter: b, area: x, read: {file: f.txt, command: show, match: '^b=(\d+)$'},
     expect: {max: 1}, suggested: "1", severity: high, reason: rb, reference: fb}
  - {parameter: c, area: x, read: {file: f.txt, command: show, match: '^c=(\d+)$'},
     expect: {max: 1}, suggested: "1", severity: medium, reason: rc, reference: fc}
)");
  write_collected(dir, "f.txt", {{"show all", "a=5\nb=5\nc=5"}});
  const AnalysisResult r = Analysis(rules.string()).run(dir.dir());
  std::vector<std::string> order, refs;
  for (const Json& s : r.sug()) order.push_back(s["parameter"]);
  for (const Json& s : r.ref()) refs.push_back(s["reference"]);
  EXPECT_EQ(order, (std::vector<std::string>{"b", "c", "a"}));
  EXPECT_EQ(refs, (std::vector<std::string>{"fb", "fc", "fa"}));
  const Json highlights = r.height_info();
  ASSERT_EQ(highlights.size(), 1u);
  EXPECT_EQ(highlights[0]["severity"], "high");
  EXPECT_EQ(highlights[0]["finding"],
            "3 of 3 applicable settings should be changed (1 high, 1 medium, 1 low severity); see "
            "the suggestions.");
}

TEST(RuleFile, MalformedRulesAreRefusedWithFileAndLine) {
  const std::string check =
      "  - parameter: p\n    area: a\n    read: {file: f, command: c, match: '(x)'}\n"
      "    expect: {min: 1}\n    suggested: '5'\n    severity: low\n    reason: r\n"
      "    reference: d\n";
  const std::pair<std::string, std::string> cases[] = {
      {"checks:\n  - parameter: p\n", "line 2: 'area' is missing"},
      {"checks:\n" + check + "    colour: red\n", "line 10: unknown key 'colour' in a check"},
      {"checks:\n  - parameter: p\n    area: a\n    read: {file: f, command: c, match: '('}\n",
       "is not a valid regular expression"},
      {"checks:\n  - parameter: p\n    area: a\n    read: {file: f, command: c, match: 'x'}\n",
       "'match' must have one group"},
      {"checks:\n" + std::string(check).replace(check.find("low"), 3, "urgent"),
       "line 7: severity must be high, medium or low"},
      {"checks:\n" + std::string(check).replace(check.find("{min: 1}"), 8, "{min: 1, one_of: [x]}"),
       "'expect' needs either min/max or one_of"},
      {"findings:\n  - {metric: cpu.heat, above: 1, severity: low, kind: errors, text: t}\n",
       "line 2: unknown metric 'cpu.heat'"},
      {"findings:\n  - {metric: cpu.busy, severity: low, kind: errors, text: t}\n",
       "a finding needs either above or below"},
      {"findings:\n  - {metric: cpu.busy, above: 1, severity: low, kind: heat, text: t}\n",
       "kind must be utilisation, saturation or errors"},
      {"checks:\n" + std::string(check).replace(check.find("suggested: '5'"), 14, "suggested: '0'"),
       "'suggested' must lie within min and max"},
      {"checks:\n" + check + "    when: [{fact: moon.phase, above: 1}]\n",
       "line 10: unknown fact 'moon.phase'"},
      {"checks: [\n", "line "},
      {"rules: []\n", "unknown key 'rules' in the rule file"},
  };
  TempDir dir;
  for (const auto& [text, message] : cases) {
    const auto file = dir.write("rules.yaml", text);
    try {
      Analysis a(file.string());
      ADD_FAILURE() << "accepted:\n" << text;
    } catch (const std::runtime_error& e) {
      const std::string what = e.what();
      EXPECT_TRUE(what.starts_with(file.string() + ": ")) << what;
      EXPECT_NE(what.find(message), std::string::npos) << what;
    }
  }
  try {
    Analysis a((dir.path() / "missing.yaml").string());
    ADD_FAILURE();
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("cannot read the analysis rules"), std::string::npos);
  }
}

}  // namespace
}  // namespace orvane
