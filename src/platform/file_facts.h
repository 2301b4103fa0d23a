#pragma once
// Shared by the platform layer: the identity of a file on disk.
#include <cstdint>

namespace quelvane {

struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool operator==(const FileIdentity&) const = default;
};

}  // namespace quelvane
