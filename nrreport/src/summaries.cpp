// The network-device and disk summaries of the report's base information, read live from the
// system through shell commands.
#include <string_view>

#include <orvane/command.hpp>
#include <orvane/nr_report.hpp>
#include <orvane/util.hpp>

#include <orvane/collected/text.hpp>

namespace orvane {
namespace {

// Calls `line` with every piece of `text` between line feeds, empty pieces included.
template <typename F>
void for_each_line(std::string_view text, F&& line) {
  size_t start = 0;
  while (true) {
    const size_t nl = text.find('\n', start);
    line(text.substr(start, nl == std::string_view::npos ? std::string_view::npos : nl - start));
    if (nl == std::string_view::npos) return;
    start = nl + 1;
  }
}

std::string trimmed(const std::string& text) {
  return std::string(collected::trim(text));
}

}  // namespace

void to_json(Json& j, const NetDeviceRecord& r) {
  j = Json{{"name", r.name},
           {"driver", r.driver},
           {"version", r.version},
           {"firmware_version", r.firmware_version},
           {"link_status", r.link_status},
           {"addr", r.addr},
           {"netmask", r.netmask}};
}

void to_json(Json& j, const DiskRecord& r) {
  j = Json{{"name", r.name}, {"total", r.total}, {"sn", r.sn}};
}

// Device and disk names come from the system's own listings, but they are still quoted for the
// shell when they hold anything beyond the usual name characters; ordinary names are spliced in
// unchanged.
std::vector<NetDeviceRecord> NrReport::build_netsum() {
  std::vector<NetDeviceRecord> devices;
  const std::string listing =
      Command::host_fact("nmcli device status | awk '{i++; if(i>1 && \"--\"!=$4) {print $1}}'");
  for_each_line(listing, [&](std::string_view piece) {
    if (collected::trim(piece).empty() || piece == "--") return;
    NetDeviceRecord dev;
    dev.name = std::string(piece);
    const std::string name = shell_quote(dev.name);
    dev.driver = Command::host_fact("ethtool -i " + name + " | grep driver | cut -d ' ' -f 2");
    dev.version = Command::host_fact(
        "ethtool -i " + name +
        " | grep version | grep -v -E 'firmware-version|expansion-rom-version' | cut -d ' ' -f 2");
    dev.firmware_version =
        Command::host_fact("ethtool -i " + name + " | grep firmware-version | cut -d ' ' -f 2");
    dev.link_status =
        Command::host_fact("ethtool " + name + " | grep 'Link detected' | cut -d ' ' -f 3");
    dev.addr =
        trimmed(Command::host_fact("ifconfig " + name + " | grep \"inet \" | awk '{print $2}' "));
    dev.netmask =
        trimmed(Command::host_fact("ifconfig " + name + " | grep \"inet \" | awk '{print $4}' "));
    devices.push_back(std::move(dev));
  });
  return devices;
}

std::vector<DiskRecord> NrReport::build_disksum() {
  std::vector<DiskRecord> disks;
  const std::string listing = Command::host_fact("lsblk -rdn -o NAME,SIZE,TYPE | grep disk");
  for_each_line(listing, [&](std::string_view line) {
    if (collected::trim(line).empty()) return;
    DiskRecord disk;
    std::vector<std::string_view> fields;
    for (size_t start = 0;;) {
      const size_t blank = line.find(' ', start);
      fields.push_back(line.substr(start, blank == std::string_view::npos ? blank : blank - start));
      if (blank == std::string_view::npos) break;
      start = blank + 1;
    }
    if (fields.size() > 2) {
      disk.name = std::string(fields[0]);
      disk.total = std::string(fields[1]);
      disk.sn = trimmed(Command::host_fact("fdisk -l /dev/" + shell_quote(disk.name) +
                                           " | grep \"Disk model\" | cut -d \":\" -f 2 | sed -e "
                                           "\"s/^[ ]*//g\" | sed -e \"s/[ ]*$//g\""));
    }
    disks.push_back(std::move(disk));
  });
  return disks;
}

}  // namespace orvane
