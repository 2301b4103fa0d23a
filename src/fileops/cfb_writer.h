#pragma once
// A Compound File Binary container, version 3 (512-byte sectors), holding one stream in its
// root storage: the container of an Excel 97-2003 workbook. The stream's bytes are produced
// while the container is written, so it never has to be held in memory twice.

#include <array>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

namespace quelvane {

// Receives output bytes; returns 0 or an errno value, after which the writer stops.
using ByteSink = std::function<int(const uint8_t* data, size_t size)>;

inline void AppendLe16(std::vector<uint8_t>& out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}
inline void AppendLe32(std::vector<uint8_t>& out, uint32_t value) {
  AppendLe16(out, value & 0xFFFF);
  AppendLe16(out, value >> 16);
}
inline void StoreLe16(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
}
inline void StoreLe32(uint8_t* at, uint32_t value) {
  StoreLe16(at, value & 0xFFFF);
  StoreLe16(at + 2, value >> 16);
}

inline constexpr uint32_t kCfbSectorSize = 512;
// Streams shorter than this belong in the mini stream; the writer pads them up to it instead.
inline constexpr uint64_t kCfbMiniStreamCutoff = 4096;
// Version 3 stream sizes are 32-bit and workbook offsets are signed 32-bit.
inline constexpr uint64_t kCfbMaxStreamSize = 0x7FFFFFFF;
// FAT sector numbers the header holds; more need DIFAT sectors of 127 numbers each.
inline constexpr uint32_t kCfbHeaderDifatEntries = 109;

struct CfbLayout {
  uint64_t stream_bytes = 0;      // the stream's size as recorded (padded to the cutoff)
  uint32_t stream_sectors = 0;    // sectors 0 .. stream_sectors - 1
  uint32_t directory_sector = 0;  // the one directory sector, right after the stream
  uint32_t fat_sectors = 0;       // after the directory sector
  uint32_t difat_sectors = 0;     // after the FAT sectors
  uint64_t file_size = 0;         // header plus all sectors
};

// Where everything goes for a stream of the given size.
CfbLayout PlanCompoundFile(uint64_t stream_size);

struct CfbStream {
  std::u16string_view name;              // at most 31 UTF-16 units
  uint64_t size = 0;                     // exact number of bytes produce writes
  std::array<uint8_t, 16> root_clsid{};  // class id of the root storage
};

// Writes header, stream sectors, directory, FAT and DIFAT to out. produce must hand exactly
// stream.size bytes to the sink it is given; it returns 0 or an errno value. Returns 0 or the
// first errno (EFBIG for a stream beyond kCfbMaxStreamSize, EINVAL for a bad name or a
// producer that wrote another number of bytes).
int WriteCompoundFile(const ByteSink& out, const CfbStream& stream,
                      const std::function<int(const ByteSink&)>& produce);

}  // namespace quelvane
