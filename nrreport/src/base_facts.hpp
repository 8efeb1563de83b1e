#pragma once
// The shell commands that give the report's base facts about the host.
#include <array>
#include <string_view>

namespace orvane::report {

struct BaseCommand {
  std::string_view key;   // in base_info
  std::string_view line;  // handed to the shell as it stands
};

// Run in this order; the network and disk summaries run between the sixth and the seventh.
inline constexpr std::array<BaseCommand, 13> kBaseCommands{{
    {"hostname", "hostname"},
    {"system_version", "cat /etc/.productinfo | grep release"},
    {"kernel_version", "uname -r"},
    {"gcc_version", "gcc --version | head -n 1"},
    {"glibc_version", "getconf GNU_LIBC_VERSION"},
    {"jdk_version", "java -version 2>&1 | head -n 1"},
    // LANG is forced so that the lscpu labels are the English ones matched here.
    {"cpu_model",
     "export LANG=\"en_US.UTF-8\" && lscpu | grep '^Model name:' | cut -d ':' -f 2 | sed -e "
     "'s/^[ ]*//g' | sed -e 's/[ ]*$//g'"},
    {"cpu_arch",
     "export LANG=\"en_US.UTF-8\" && lscpu | grep 'Architecture:' | cut -d ':' -f 2 | sed -e "
     "'s/^[ ]*//g' | sed -e 's/[ ]*$//g'"},
    // Only the logical CPU count: the NUMA and on-line list lines also mention CPU(s).
    {"cpu_cores",
     "export LANG=\"en_US.UTF-8\" && lscpu | grep 'CPU(s)' | grep -v -E \"NUMA|On-line\" | cut -d "
     "':' -f 2 | sed -e 's/^[ ]*//g' | sed -e 's/[ ]*$//g'"},
    {"cpu_maxfreq",
     "export LANG=\"en_US.UTF-8\" && lscpu | grep 'CPU max MHz' | cut -d ':' -f 2 | sed -e "
     "'s/^[ ]*//g' | sed -e 's/[ ]*$//g'"},
    {"cpu_minfreq",
     "export LANG=\"en_US.UTF-8\" && lscpu | grep 'CPU min MHz' | cut -d ':' -f 2 | sed -e "
     "'s/^[ ]*//g' | sed -e 's/[ ]*$//g'"},
    // Kilobytes, without the unit.
    {"mem_total",
     "cat /proc/meminfo | grep \"MemTotal\" | cut -d ':' -f 2 | sed -e \"s/^[ ]*//g\" | cut -d ' ' "
     "-f 1"},
    {"mem_free",
     "cat /proc/meminfo | grep \"MemFree\" | cut -d ':' -f 2 | sed -e \"s/^[ ]*//g\" | cut -d ' ' "
     "-f 1"},
}};

// How many of kBaseCommands run before the network and disk summaries.
inline constexpr size_t kCommandsBeforeSummaries = 6;

}  // namespace orvane::report
