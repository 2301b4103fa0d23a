#pragma once

#include <cstdint>
#include <string>

namespace quelvane {

// True when the block device that holds files of this device number (st_dev) spins: its
// queue/rotational under /sys/dev/block/MAJOR:MINOR reads 1, for a partition the parent
// disk's. A device that cannot be found there (virtual, network, unknown) counts as not
// rotational.
bool IsRotationalDevice(uint64_t device);

// The same under another root than /sys, for tests.
bool IsRotationalDeviceUnder(const std::string& sys_root, uint64_t device);

}  // namespace quelvane
