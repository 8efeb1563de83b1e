// NrReport::build_netsum and build_disksum against fake system tools.
#include <gtest/gtest.h>

#include <orvane/log.hpp>
#include <orvane/nr_report.hpp>

#include "support.hpp"

namespace orvane {
namespace {

using Calls = std::vector<std::string>;

class Summaries : public ::testing::Test {
 protected:
  test::TempDir dir_;
  LogCapture log_;
};

TEST_F(Summaries, ConnectedDevicesWithTheirSixFields) {
  test::FakeTools tools(dir_.path(), test::host_tools());
  const Json devices = NrReport::build_netsum();
  EXPECT_EQ(devices, Json::parse(R"([{"name": "eth0", "driver": "virtio_net", "version": "1.0.0",
      "firmware_version": "", "link_status": "yes", "addr": "192.168.1.10\n10.0.0.5",
      "netmask": "255.255.255.0\n255.0.0.0"}])"));
  EXPECT_EQ(tools.calls(),
            (Calls{"nmcli[device][status]", "ethtool[-i][eth0]", "ethtool[-i][eth0]",
                   "ethtool[-i][eth0]", "ethtool[eth0]", "ifconfig[eth0]", "ifconfig[eth0]"}));
}

TEST_F(Summaries, DeviceListsWithoutConnectedDevices) {
  for (const char* listing :
       {"", "DEVICE TYPE STATE CONNECTION\n", "DEVICE TYPE STATE CONNECTION\nlo loopback x --\n"}) {
    test::FakeTools tools(dir_.path(), {{"nmcli", "printf %s '" + std::string(listing) + "'"}});
    EXPECT_TRUE(NrReport::build_netsum().empty()) << listing;
  }
}

// Fields other than addr and netmask keep what the command printed (less the final line end that
// the command service drops); a name from the listing is spliced in only when it is a plain word.
TEST_F(Summaries, UntrimmedFieldsAndQuotedNames) {
  const std::string pwned = dir_.dir() + "PWNED";
  const std::string odd = "br0;touch>" + pwned;
  test::FakeTools tools(
      dir_.path(),
      {{"nmcli", "printf 'DEVICE TYPE STATE CONNECTION\\n%s bridge connected c1\\n' '" + odd + "'"},
       {"ethtool",
        R"(if [ "$1" = "-i" ]; then printf 'driver: \tvirtio \nversion: 2\nfirmware-version: fw 9\n'; else printf '\tLink detected: \tno\n'; fi)"},
       {"ifconfig", R"(printf '  inet 10.1.1.1  netmask 255.0.0.0\n  inet \n')"}});
  const Json devices = NrReport::build_netsum();
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0]["name"], odd);
  EXPECT_EQ(devices[0]["driver"], "\tvirtio");
  EXPECT_EQ(devices[0]["version"], "2");
  EXPECT_EQ(devices[0]["firmware_version"], "fw");
  EXPECT_EQ(devices[0]["link_status"], "\tno");
  EXPECT_EQ(devices[0]["addr"], "10.1.1.1");
  EXPECT_EQ(devices[0]["netmask"], "255.0.0.0");
  EXPECT_FALSE(std::filesystem::exists(pwned)) << "the device name ran as a command";
  const Calls calls = tools.calls();
  ASSERT_EQ(calls.size(), 7u);
  EXPECT_EQ(calls[1], "ethtool[-i][" + odd + "]");
  EXPECT_EQ(calls[4], "ethtool[" + odd + "]");
  EXPECT_EQ(calls[5], "ifconfig[" + odd + "]");
}

TEST_F(Summaries, DisksWithModelAndShortLines) {
  test::FakeTools tools(dir_.path(), test::host_tools());
  EXPECT_EQ(Json(NrReport::build_disksum()), Json::parse(R"([
      {"name": "sda", "total": "100G", "sn": "QEMU HARDDISK"},
      {"name": "nvme0n1", "total": "1.8T", "sn": ""},
      {"name": "", "total": "", "sn": ""}])"));
  EXPECT_EQ(tools.calls(), (Calls{"lsblk[-rdn][-o][NAME,SIZE,TYPE]", "fdisk[-l][/dev/sda]",
                                  "fdisk[-l][/dev/nvme0n1]"}));
}

TEST_F(Summaries, DiskNameIsQuotedAndBlankFieldsCount) {
  const std::string pwned = dir_.dir() + "PWNED";
  test::FakeTools tools(
      dir_.path(), {{"lsblk", "printf '%s\\n' 'sd$(touch${IFS}" + pwned + ") 5G disk' 'vdb  disk'"},
                    {"fdisk", "printf 'Disk model: \\tM1\\t\\n'"}});
  const std::string odd = "sd$(touch${IFS}" + pwned + ")";
  Json expected = Json::array();
  expected.push_back(DiskRecord{odd, "5G", "M1"});
  expected.push_back(DiskRecord{"vdb", "", "M1"});
  EXPECT_EQ(Json(NrReport::build_disksum()), expected);
  EXPECT_FALSE(std::filesystem::exists(pwned)) << "the disk name ran as a command";
  EXPECT_EQ(tools.calls().at(1), "fdisk[-l][/dev/" + odd + "]");
}

}  // namespace
}  // namespace orvane
