#pragma once
// The collected-data format: the files a collection leaves in the output directory, and the lines
// that structure each of them. A file is a sequence of groups, each closed by the group separator;
// a group is command blocks separated by the command separator; a block is "Command: <group>",
// "SubCommand: <command line>", then the command's output.
#include <array>
#include <string_view>

namespace orvane::collected {

inline constexpr std::string_view kCpuFile = "CPUInfo.txt";
inline constexpr std::string_view kMemoryFile = "memInfo.txt";
inline constexpr std::string_view kNetworkFile = "netInfo.txt";
inline constexpr std::string_view kDiskFile = "diskInfo.txt";
inline constexpr std::string_view kParamFile = "sysParamInfo.txt";
inline constexpr std::string_view kMessageFile = "systemMessage.txt";
// The six files of every collection, in the order they are collected. The hotspot file of the
// traces is named by GlobalCall::output_hotspot_file.
inline constexpr std::array<std::string_view, 6> kSystemFiles = {
    kCpuFile, kMemoryFile, kNetworkFile, kDiskFile, kParamFile, kMessageFile};

inline constexpr std::string_view kGroupSeparator =
    "=========================nerith=========================";
inline constexpr std::string_view kCommandSeparator =
    "-------------------------nerith-------------------------";
inline constexpr std::string_view kGroupLabel = "Command: ";
inline constexpr std::string_view kCommandLabel = "SubCommand: ";

// The counters that rates are computed from are read twice, at the start and at the end of the
// sampling window, as two blocks of this group with the same command line.
inline constexpr std::string_view kWindowGroup = "Counters over the sampling window";
inline constexpr std::string_view kNetWindowCommand =
    "cat /proc/uptime /proc/net/dev /proc/net/snmp";
inline constexpr std::string_view kDiskWindowCommand = "cat /proc/uptime /proc/diskstats";

}  // namespace orvane::collected
