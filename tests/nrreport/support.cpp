// Test fixtures of the report builder.
#include "support.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <orvane/config.hpp>
#include <orvane/util.hpp>

namespace orvane::test {

void write_bytes(const std::filesystem::path& path, std::string_view bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!f) throw std::runtime_error("cannot write " + path.string());
}

std::string read_bytes(const std::filesystem::path& path) {
  return orvane::read_file(path);
}

FakeTools::FakeTools(const std::filesystem::path& dir,
                     const std::vector<std::pair<std::string, std::string>>& tools)
    : dir_(dir) {
  const std::string log = shell_quote((dir / "calls.log").string());
  for (const auto& [name, body] : tools) {
    const auto path = dir / name;
    write_bytes(path, "#!/bin/sh\n{ printf '%s' " + shell_quote(name) +
                          "; for a in \"$@\"; do printf '[%s]' \"$a\"; done; printf '\\n'; } >> " +
                          log + "\n" + body + "\n");
    ::chmod(path.c_str(), 0755);
  }
  const char* old = std::getenv("PATH");
  old_path_ = old ? old : "/usr/bin:/bin";
  ::setenv("PATH", (dir.string() + ":" + old_path_).c_str(), 1);
}

FakeTools::~FakeTools() {
  ::setenv("PATH", old_path_.c_str(), 1);
}

std::vector<std::string> FakeTools::calls() const {
  std::vector<std::string> lines;
  std::ifstream f(dir_ / "calls.log");
  for (std::string line; std::getline(f, line);) lines.push_back(line);
  return lines;
}

std::vector<std::pair<std::string, std::string>> host_tools(const std::string& hostname) {
  return {
      {"hostname", "printf '%s\\n' " + shell_quote(hostname)},
      {"cat", R"(case "$1" in
  /etc/.productinfo) printf 'Nerith OS\nNerith release 22.03 (LTS-SP3)\n' ;;
  /proc/meminfo) printf 'MemTotal:       16318480 kB\nMemFree:         9123456 kB\nMemAvailable:   12000000 kB\n' ;;
  *) exec /bin/cat "$@" ;;
esac)"},
      {"uname", "printf '6.6.0-28.0.0.34.oe2403.aarch64\\n'"},
      {"gcc", "printf 'gcc (GCC) 12.3.1 (nerith 12.3.1-16)\\nCopyright (C) 2022\\n'"},
      {"getconf", "printf 'glibc 2.38\\n'"},
      {"java",
       "printf 'openjdk version \"17.0.9\" 2023-10-17\\nOpenJDK Runtime Environment\\n' >&2"},
      {"lscpu", R"(printf 'Architecture:                    aarch64
CPU op-mode(s):                  64-bit
CPU(s):                          96
On-line CPU(s) list:             0-95
Model name:                      Kunpeng-920
CPU max MHz:                     2600.0000
CPU min MHz:                     200.0000
NUMA node0 CPU(s):               0-47
')"},
      {"nmcli",
       R"(printf 'DEVICE  TYPE      STATE         CONNECTION\neth0    ethernet  connected     Wired1\nlo      loopback  unmanaged     --\nwlan0   wifi      disconnected  --\n')"},
      {"ethtool", R"(if [ "$1" = "-i" ]; then
  printf 'driver: virtio_net\nversion: 1.0.0\nfirmware-version: \nexpansion-rom-version: \nbus-info: 0000:00:03.0\n'
else
  printf 'Settings for %s:\n\tLink detected: yes\n' "$1"
fi)"},
      {"ifconfig", R"(printf '%s: flags=4163<UP,BROADCAST,RUNNING,MULTICAST>  mtu 1500
        inet 192.168.1.10  netmask 255.255.255.0  broadcast 192.168.1.255
        inet 10.0.0.5  netmask 255.0.0.0
        inet6 fe80::1  prefixlen 64  scopeid 0x20<link>
' "$1")"},
      {"lsblk", R"(printf 'sda 100G disk\nnvme0n1 1.8T disk\nsdz disk\n')"},
      {"fdisk", R"(case "$2" in
  /dev/sda) printf 'Disk /dev/sda: 100 GiB, 107374182400 bytes\nDisk model: QEMU HARDDISK   \nUnits: sectors\n' ;;
  *) printf 'Disk %s: 1.8 TiB\n' "$2" ;;
esac)"},
  };
}

ScopedConfig::ScopedConfig(const std::string& inst, const std::string& out) {
  Config::set_inst_path(inst);
  Config::set_out_path(out);
}

ScopedConfig::~ScopedConfig() {
  Config::set_inst_path("");
  Config::set_out_path("");
}

Json info_of_report(const std::string& html) {
  const std::string marker = "\nvar info = ";
  const size_t at = html.rfind(marker);
  if (at == std::string::npos) throw std::runtime_error("the report has no page data");
  const size_t begin = at + marker.size();
  return Json::parse(html.substr(begin, html.find('\n', begin) - begin));
}

}  // namespace orvane::test
