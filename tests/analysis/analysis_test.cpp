// The analysis on collected fixtures: each check of the installed rule file both ways, the
// findings on the run's figures, and a malformed rule file.
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

const std::vector<CheckCase> kChecks = {
    {"net.core.somaxconn", kSysctl, "net.core.somaxconn = 128", "change", "128"},
    {"net.core.somaxconn", kSysctl, "net.core.somaxconn = 4096", "ok", "4096"},
    {"net.core.somaxconn", kSysctl, "net.core.somaxconn = many", "not available", "many"},
    {"net.ipv4.tcp_max_syn_backlog", kSysctl, "net.ipv4.tcp_max_syn_backlog = 1024", "change",
     "1024"},
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
    {"open-file limit (ulimit -n)", "ulimit -Sn", "1024", "change", "1024"},
    {"open-file limit (ulimit -n)", "ulimit -Sn", "unlimited", "ok", "unlimited"},
    {"open-file limit (ulimit -n)", "ulimit -Hn", "1048576", "not available", "not collected"},
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
    {"CPU frequency governor", kGovernor, "(no CPU frequency driver)", "not applicable",
     "no CPU frequency driver"},
    {"I/O scheduler of SSD and NVMe disks", kSchedulers,
     "DEVICE ROTATIONAL SCHEDULER\nnvme0n1 0 [bfq] mq-deadline none\nnvme1n1 0 mq-deadline "
     "[none]\nsda 1 [bfq] none\nloop0 0 [bfq] none",
     "change", "bfq (nvme0n1)"},
    {"I/O scheduler of SSD and NVMe disks", kSchedulers,
     "DEVICE ROTATIONAL SCHEDULER\nsdb 0 [mq-deadline] none\nvda 1 [bfq]", "ok",
     "mq-deadline (sdb)"},
    {"I/O scheduler of SSD and NVMe disks", kSchedulers,
     "DEVICE ROTATIONAL SCHEDULER\nsda 1 [bfq] none\nzram0 0 [bfq]", "not applicable",
     "no SSD or NVMe disk"},
};

class Checks : public ::testing::TestWithParam<CheckCase> {};

TEST_P(Checks, CurrentValueAndVerdict) {
  const CheckCase& c = GetParam();
  TempDir out;
  write_collected(out, "sysParamInfo.txt", {{c.command, c.output}});
  const AnalysisResult r = Analysis(ORVANE_TEST_RULES).run(out.dir());
  const Json* row = row_of(r.hldata, c.parameter);
  ASSERT_NE(row, nullptr);
  EXPECT_EQ((*row)["status"], c.status);
  EXPECT_EQ((*row)["current"], c.current);
  const Json* sug = row_of(r.sug, c.parameter);
  EXPECT_EQ(sug != nullptr, c.status == "change");
  if (sug) {
    EXPECT_EQ((*sug)["current"], c.current);
    EXPECT_FALSE((*sug)["reason"].get<std::string>().empty());
    const Json* ref = row_of(r.ref, c.parameter);
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
  for (const Json& row : r.hldata) {
    in_file.insert(row["parameter"]);
    EXPECT_NE(row["status"], "change") << row.dump();
    EXPECT_NE(row["status"], "ok") << row.dump();
  }
  for (const CheckCase& c : kChecks) {
    (c.status == "change" ? changed : passed).insert(c.parameter);
  }
  EXPECT_EQ(changed, in_file) << "every check must have a fixture that asks for a change";
  for (const std::string& p : in_file) EXPECT_TRUE(passed.contains(p)) << p;
  EXPECT_EQ(r.sug, Json::array());
  EXPECT_EQ(r.height_info, Json::array());
  EXPECT_EQ(r.netdevice, Json::array());
}

// mpstat's layout: one sample and the averages, per CPU (label, busy user %, iowait %, idle %).
std::string mpstat(const std::vector<std::tuple<std::string, double, double, double>>& cpus) {
  const std::string header =
      "{} CPU %usr %nice %sys %iowait %irq %soft %steal %guest %gnice %idle\n";
  std::string text = "Linux 6.1 (host) 2025-01-01 _x86_64_ (2 CPU)\n\n";
  for (const char* label : {"10:00:01", "Average:"}) {
    text += std::string(label) +
            " CPU %usr %nice %sys %iowait %irq %soft %steal %guest %gnice "
            "%idle\n";
    for (const auto& [cpu, user, iowait, idle] : cpus) {
      text += std::string(label) + " " + cpu + " " + std::to_string(user) + " 0.00 0.00 " +
              std::to_string(iowait) + " 0.00 0.00 0.00 0.00 0.00 " + std::to_string(idle) + "\n";
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
  for (const Json& h : r.height_info) {
    got.push_back(h["severity"].get<std::string>() + ": " + h["finding"].get<std::string>());
  }
  EXPECT_EQ(got, c.findings);
}

const std::string kMpstat = "LC_ALL=C S_TIME_FORMAT=ISO mpstat -P ALL 1 5";

INSTANTIATE_TEST_SUITE_P(
    InstalledRules, Findings,
    ::testing::Values(
        FindingCase{"quiet_host",
                    "CPUInfo.txt",
                    {{kMpstat, mpstat({{"all", 5, 0, 95}, {"0", 5, 0, 95}, {"1", 5, 0, 95}})},
                     {"cat /proc/loadavg", "0.10 0.20 0.30 1/100 42"}},
                    {}},
        FindingCase{"busy_and_loaded",
                    "CPUInfo.txt",
                    {{kMpstat, mpstat({{"all", 90, 0, 10}, {"0", 90, 0, 10}, {"1", 90, 0, 10}})},
                     {"cat /proc/loadavg", "6.00 2.00 1.00 3/100 42"}},
                    {"high: The CPUs were 90% busy while sampled; the host is short of CPU time.",
                     "high: The 1-minute load average is 3 per CPU; tasks queue for CPU time."}},
        FindingCase{"io_wait_and_one_busy_cpu",
                    "CPUInfo.txt",
                    {{kMpstat, mpstat({{"all", 25, 25, 50}, {"0", 50, 50, 0}, {"1", 0, 0, 100}})}},
                    {"high: The CPUs waited for I/O 25% of the time; storage is a bottleneck.",
                     "medium: CPU 0 was 50 points busier than the average CPU; check whether "
                     "interrupts or a single thread pin the work to it."}},
        FindingCase{"memory",
                    "memInfo.txt",
                    {{"cat /proc/meminfo",
                      "MemTotal:  1000 kB\nMemFree:  10 kB\nMemAvailable:  50 kB\n"
                      "SwapTotal:  100 kB\nSwapFree:  50 kB"},
                     {"cat /proc/pressure/memory",
                      "some avg10=12.50 avg60=1.00 avg300=0.00 total=1\n"
                      "full avg10=1.00 avg60=0.00 avg300=0.00 total=1"}},
                    {"high: Only 5% of the memory is available; the host is close to reclaim and "
                     "swapping.",
                     "high: Tasks stalled waiting for memory 12.5% of the last 10 seconds.",
                     "medium: 50% of the swap space is in use."}},
        FindingCase{"busy_disk_after_the_report_since_boot",
                    "diskInfo.txt",
                    {{"LC_ALL=C iostat -dx 1 2",
                      "Linux 6.1 (host)\n\nDevice r/s w/s %util\nsda 1.0 1.0 99.0\nsdb 0 0 0\n\n"
                      "Device r/s w/s %util\nsda 5.0 9.0 95.0\nsdb 1.0 1.0 2.0\n\n"}},
                    {"high: Disk sda was busy 95% of the time."}},
        FindingCase{"network_errors",
                    "netInfo.txt",
                    {{"cat /proc/net/dev",
                      "Inter-|   Receive |  Transmit\n face |bytes packets errs drop fifo frame "
                      "compressed multicast|bytes packets errs drop fifo colls carrier compressed\n"
                      "    lo: 10 1 5 5 0 0 0 0 10 1 0 0 0 0 0 0\n"
                      "  eth0: 1000 10 3 7 0 0 0 0 2000 20 0 0 0 0 0 0\n"}},
                    {"medium: Network device eth0 counted 3 packet errors since boot.",
                     "low: Network device eth0 dropped 7 packets since boot."}}),
    [](const auto& info) { return info.param.name; });

TEST(NetworkDevices, StateMtuAndCountersPerDevice) {
  TempDir out;
  write_collected(out, "netInfo.txt",
                  {{"ip -s link",
                    "1: lo: <LOOPBACK,UP> mtu 65536 qdisc noqueue state UNKNOWN mode DEFAULT\n"
                    "2: eth0: <BROADCAST,UP> mtu 9000 qdisc mq state UP mode DEFAULT qlen 1000\n"
                    "    RX:  bytes packets errors dropped  missed   mcast\n    1 2 3 4 5 6\n"
                    "3: veth1@if4: <BROADCAST> mtu 1500 qdisc noop state DOWN mode DEFAULT\n"},
                   {"cat /proc/net/dev",
                    "Inter-|\n face |\n    lo: 1 1 0 0 0 0 0 0 1 1 0 0 0 0 0 0\n"
                    "  eth0: 1000 10 3 7 0 0 0 0 2000 20 0 1 0 0 0 0\n"
                    " veth1: 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n"}});
  const AnalysisResult r = Analysis(ORVANE_TEST_RULES).run(out.dir());
  EXPECT_EQ(r.netdevice.dump(), Json::parse(R"([
      {"device": "eth0", "state": "UP", "mtu": "9000", "rx_packets": 10, "rx_errors": 3,
       "rx_dropped": 7, "tx_packets": 20, "tx_errors": 0, "tx_dropped": 1,
       "finding": "3 receive errors, 7 received packets dropped, 1 sent packets dropped since boot"},
      {"device": "veth1", "state": "DOWN", "mtu": "1500", "rx_packets": 0, "rx_errors": 0,
       "rx_dropped": 0, "tx_packets": 0, "tx_errors": 0, "tx_dropped": 0,
       "finding": "the link is down"}])")
                                    .dump());
}

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
  for (const Json& s : r.sug) order.push_back(s["parameter"]);
  for (const Json& s : r.ref) refs.push_back(s["reference"]);
  EXPECT_EQ(order, (std::vector<std::string>{"b", "c", "a"}));
  EXPECT_EQ(refs, (std::vector<std::string>{"fb", "fc", "fa"}));
  ASSERT_EQ(r.height_info.size(), 1u);
  EXPECT_EQ(r.height_info[0]["severity"], "high");
  EXPECT_EQ(r.height_info[0]["finding"],
            "3 of 3 checked settings should be changed (1 high, 1 medium, 1 low severity); see "
            "the suggestions.");
}

TEST(RuleFile, MalformedRulesAreRefusedWithFileAndLine) {
  const std::string check =
      "  - parameter: p\n    area: a\n    read: {file: f, command: c, match: '(x)'}\n"
      "    expect: {min: 1}\n    suggested: s\n    severity: low\n    reason: r\n"
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
      {"findings:\n  - {metric: cpu.heat, above: 1, severity: low, text: t}\n",
       "line 2: unknown metric 'cpu.heat'"},
      {"findings:\n  - {metric: cpu.busy, severity: low, text: t}\n",
       "a finding needs either above or below"},
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
