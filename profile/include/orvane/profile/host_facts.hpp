#pragma once
// What a profile's expressions may know of the host: memory, CPUs, disks and whether they
// rotate, read from /proc and /sys under the root prefix.
#include <string>
#include <vector>

#include <orvane/profile/expression.hpp>

namespace orvane::profile {

struct Disk {
  std::string name;  // as in /sys/block: "sda", "vda", "nvme0n1"
  bool rotational = false;
};

struct HostFacts {
  double memory = 0;        // bytes (MemTotal)
  std::vector<int> cpus;    // online CPU numbers
  std::vector<Disk> disks;  // whole physical or virtual disks; no loop, RAM, zram, md or dm devices

  // The names an expression sees: memory, cpus, disks, rotational (rotating disks), ssd
  // (non-rotating disks), and the units KiB, MiB, GiB. Inside a setting applied to each disk,
  // disk_rotational is 1 for a rotating disk, else 0.
  Facts numbers() const;
};

// Reads the facts of the host under the root prefix. A fact that cannot be read stays empty or 0
// (then expressions over it give what they give; the plan shows the facts it used).
HostFacts read_host_facts();

// Every name an expression may use, for checking a profile when it is loaded.
const Facts& fact_names();

// "0-3,6,8-9" as the listed numbers; throws std::invalid_argument on anything else.
std::vector<int> parse_cpu_list(std::string_view text);

}  // namespace orvane::profile
