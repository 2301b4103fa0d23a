#include "platform/block_device.h"

#include <sys/sysmacros.h>

#include <fstream>

namespace quelvane {

namespace {

// Reads the first character of a one-line /sys file; 0 when it cannot be read.
char FirstCharOf(const std::string& path) {
  std::ifstream in(path);
  char c = 0;
  if (!(in >> c)) return 0;
  return c;
}

}  // namespace

bool IsRotationalDeviceUnder(const std::string& sys_root, uint64_t device) {
  const std::string node = sys_root + "/dev/block/" + std::to_string(major(device)) + ":" +
                           std::to_string(minor(device));
  // A whole disk has its own queue; a partition's queue belongs to its parent disk, which is
  // the folder above the partition's once the link is followed.
  char flag = FirstCharOf(node + "/queue/rotational");
  if (flag == 0) flag = FirstCharOf(node + "/../queue/rotational");
  return flag == '1';
}

bool IsRotationalDevice(uint64_t device) {
  return IsRotationalDeviceUnder("/sys", device);
}

}  // namespace quelvane
