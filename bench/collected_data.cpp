// Synthetic collected-data files for the benchmarks.
#include "collected_data.hpp"

#include <fstream>
#include <random>
#include <stdexcept>

namespace orvane::bench {

std::string make_collected_data(size_t bytes, unsigned seed) {
  static const char* const kLines[] = {
      "Architecture:                    x86_64",
      "  PID USER      PR  NI    VIRT    RES    SHR S  %CPU  %MEM     TIME+ COMMAND",
      " 1873 mysql     20   0 2563840 412332  35448 S  12.6   2.5  81:22.17 mysqld",
      "eth0: flags=4163<UP,BROADCAST,RUNNING,MULTICAST>  mtu 1500",
      "        inet 192.168.10.21  netmask 255.255.255.0  broadcast 192.168.10.255",
      "Device            r/s     w/s     rkB/s     wkB/s   rrqm/s   wrqm/s  %util",
      "vda              0.52   12.04     18.31    301.77     0.00     4.11   1.37",
      "kernel.sched_migration_cost_ns = 500000",
      "[12345.678901] 内存不足: 进程 4242 (java) 已被终止, 总虚拟内存 8123456kB",
      "MemTotal:       24683772 kB",
  };
  std::mt19937 rng(seed);
  std::string out;
  out.reserve(bytes + 4096);
  int group = 0;
  while (out.size() < bytes) {
    const std::string name = "group " + std::to_string(group++);
    const int commands = 1 + static_cast<int>(rng() % 8);
    for (int c = 0; c < commands; ++c) {
      if (c > 0) out += "-------------------------nerith-------------------------\n";
      out += "Command: " + name + "\nSubCommand: command " + std::to_string(c) + " --all\n";
      const int lines = 5 + static_cast<int>(rng() % 200);
      for (int l = 0; l < lines; ++l) {
        out += kLines[rng() % std::size(kLines)];
        out += '\n';
      }
    }
    out += "=========================nerith=========================\n";
  }
  return out;
}

std::string make_real_shaped_data(size_t bytes, unsigned seed) {
  static const char* const kLines[] = {
      "net.ipv4.tcp_rmem = 4096\t131072\t6291456",
      "vm.dirty_background_ratio = 10",
      "  1873 mysql      12.6  2.5 Ssl  mysqld",
      "MemAvailable:   21453312 kB",
      "sda              0.52   12.04   18.31  1.37",
      "[  12.345678] EXT4-fs (vda1): mounted fs",
      "[  13.000001] 内存不足: 进程 4242 (java) 已终止",
      "    inet 192.168.10.21/24 brd 192.168.10.255",
      "tcp   LISTEN 0  4096   0.0.0.0:3306  0.0.0.0:*",
      "09:53:11     all    3.02    0.00    1.01    0.00",
      "  eth0: 123456789 98765 0 0 0 0 0 0 12345678",
      "",
      "kernel.sched_rt_runtime_us = 950000",
      "Device   r/s   w/s   rkB/s   wkB/s   %util",
  };
  std::mt19937 rng(seed);
  std::string out;
  out.reserve(bytes + 16384);
  int group = 0;
  while (out.size() < bytes) {
    const std::string name = "Group " + std::to_string(group++);
    const int commands = 1 + static_cast<int>(rng() % 6);
    for (int c = 0; c < commands && out.size() < bytes; ++c) {
      if (c > 0) out += "-------------------------nerith-------------------------\n";
      out += "Command: " + name + "\nSubCommand: sysctl -a | grep " + std::to_string(c) + "\n";
      const size_t end = out.size() + 8192 + rng() % 2048;
      while (out.size() < end) {
        out += kLines[rng() % std::size(kLines)];
        out += '\n';
      }
    }
    out += "=========================nerith=========================\n";
  }
  return out;
}

void write_collected_data(const std::filesystem::path& path, size_t bytes, unsigned seed,
                          bool real_shaped) {
  const std::string data =
      real_shaped ? make_real_shaped_data(bytes, seed) : make_collected_data(bytes, seed);
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(data.data(), static_cast<std::streamsize>(data.size()));
  if (!f) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace orvane::bench
