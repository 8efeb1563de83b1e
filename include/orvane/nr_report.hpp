#pragma once
// The HTML report builder of the collection and analysis runs: it reads the collector's data
// files, summarises the host's network devices and disks, gathers everything into one data tree
// and renders it into a self-contained page (template, inlined assets, page data).
#include <optional>
#include <string>
#include <vector>

#include <orvane/collected_groups.hpp>
#include <orvane/json.hpp>

namespace orvane {

// A network device with an active connection.
struct NetDeviceRecord {
  std::string name;
  std::string driver;
  std::string version;
  std::string firmware_version;
  std::string link_status;
  std::string addr;     // several addresses are separated by line ends
  std::string netmask;  // the netmasks of those addresses, likewise
};

// A whole disk of the block-device listing.
struct DiskRecord {
  std::string name;
  std::string total;
  std::string sn;  // the disk's model text
};

// Conversions to the report data tree; the objects keep the field order above.
void to_json(Json& j, const CommandResult& r);
void to_json(Json& j, const CommandGroup& g);
void to_json(Json& j, const NetDeviceRecord& r);
void to_json(Json& j, const DiskRecord& r);

class ReportDocument;

class NrReport {
 public:
  // Records the paths of the four inlined assets under the installation directory; opens nothing.
  NrReport();

  // Writes <output>/orvane_report_MMDDHHMM.html from the host's facts, the collected-data files
  // of the output directory and the caller's results, then logs the report's path. `func` "ana"
  // chooses the analysis wording of the log line. `tm` must hold "start" and "stop". Any failure
  // is thrown to the caller; the report file is then left as it was before the call.
  void nr_build(const std::string& func, const Json& tm, const Json& sug, const Json& ref,
                const Json& height_info, const Json& hldata, const Json& netdevice);

  // The connected network devices (`nmcli`, `ethtool`, `ifconfig`), in listing order.
  static std::vector<NetDeviceRecord> build_netsum();
  // The whole disks (`lsblk`, `fdisk`), in listing order.
  static std::vector<DiskRecord> build_disksum();
  // The command groups of one collected-data file: an empty list (and a warning) when nothing
  // exists at the path; nullopt (and an error) when it cannot be read, is not UTF-8 or a command
  // block lacks its "Command: " or "SubCommand: " line.
  static std::optional<std::vector<CommandGroup>> build_info(const std::string& fname = "");

 private:
  friend class NrReportInternals;

  // The rendering stage of nr_build: the page is put together in memory and published at
  // `outfile` in one step.
  void render(const Json& info, const std::string& srcfile, const std::string& outfile) const;
  // Replaces the whole text of the first `tag` element whose text contains `pattern` by the
  // content of `read_file`.
  void replace_in_file(ReportDocument& document, const std::string& pattern,
                       const std::string& read_file, const std::string& tag) const;

  std::string awesome_css_file_;
  std::string bootstrap_css_file_;
  std::string bootstrap_js_file_;
  std::string jquery_js_file_;
};

}  // namespace orvane
