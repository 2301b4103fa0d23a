#include "fileops/cfb_writer.h"

#include <cerrno>

namespace quelvane {
namespace {

constexpr uint32_t kFreeSect = 0xFFFFFFFF;
constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kFatSect = 0xFFFFFFFD;
constexpr uint32_t kDifSect = 0xFFFFFFFC;
constexpr uint32_t kNoStream = 0xFFFFFFFF;
constexpr uint32_t kEntriesPerSector = kCfbSectorSize / 4;
constexpr uint32_t kDifatPerSector = kEntriesPerSector - 1;  // the last names the next one
constexpr size_t kDirEntrySize = 128;

uint32_t CeilDiv(uint64_t value, uint64_t by) {
  return static_cast<uint32_t>((value + by - 1) / by);
}

uint32_t DifatSectorsFor(uint32_t fat_sectors) {
  return fat_sectors <= kCfbHeaderDifatEntries
             ? 0
             : CeilDiv(fat_sectors - kCfbHeaderDifatEntries, kDifatPerSector);
}

std::vector<uint8_t> Header(const CfbLayout& layout) {
  std::vector<uint8_t> h;
  h.reserve(kCfbSectorSize);
  for (uint8_t b : {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1})
    h.push_back(b);
  h.resize(h.size() + 16, 0);  // header class id: zero
  AppendLe16(h, 0x003E);       // minor version
  AppendLe16(h, 0x0003);       // major version 3
  AppendLe16(h, 0xFFFE);       // little-endian byte order mark
  AppendLe16(h, 9);            // sector shift: 512 bytes
  AppendLe16(h, 6);            // mini sector shift: 64 bytes
  h.resize(h.size() + 6, 0);   // reserved
  AppendLe32(h, 0);            // directory sector count: always 0 in version 3
  AppendLe32(h, layout.fat_sectors);
  AppendLe32(h, layout.directory_sector);
  AppendLe32(h, 0);  // transaction signature
  AppendLe32(h, static_cast<uint32_t>(kCfbMiniStreamCutoff));
  AppendLe32(h, kEndOfChain);  // no mini FAT
  AppendLe32(h, 0);
  uint32_t first_fat = layout.directory_sector + 1;
  AppendLe32(h, layout.difat_sectors ? first_fat + layout.fat_sectors : kEndOfChain);
  AppendLe32(h, layout.difat_sectors);
  for (uint32_t i = 0; i < kCfbHeaderDifatEntries; ++i)
    AppendLe32(h, i < layout.fat_sectors ? first_fat + i : kFreeSect);
  return h;
}

void DirectoryEntry(std::vector<uint8_t>& out, std::u16string_view name, uint8_t type,
                    uint32_t child, const std::array<uint8_t, 16>& clsid, uint32_t start,
                    uint64_t size) {
  size_t begin = out.size();
  out.resize(begin + kDirEntrySize, 0);
  uint8_t* e = out.data() + begin;
  for (size_t i = 0; i < name.size(); ++i)
    StoreLe16(e + 2 * i, name[i]);
  StoreLe16(e + 64, name.empty() ? 0 : static_cast<uint32_t>((name.size() + 1) * 2));
  e[66] = type;
  e[67] = type == 0 ? 0 : 1;  // black: a tree of one node per level is a valid red-black tree
  StoreLe32(e + 68, kNoStream);
  StoreLe32(e + 72, kNoStream);
  StoreLe32(e + 76, child);
  for (size_t i = 0; i < clsid.size(); ++i)
    e[80 + i] = clsid[i];
  StoreLe32(e + 116, start);
  StoreLe32(e + 120, static_cast<uint32_t>(size));
  StoreLe32(e + 124, static_cast<uint32_t>(size >> 32));
}

std::vector<uint8_t> DirectorySector(const CfbLayout& layout, const CfbStream& stream) {
  std::vector<uint8_t> d;
  d.reserve(kCfbSectorSize);
  DirectoryEntry(d, u"Root Entry", 5, 1, stream.root_clsid, kEndOfChain, 0);
  DirectoryEntry(d, stream.name, 2, kNoStream, {}, 0, layout.stream_bytes);
  DirectoryEntry(d, {}, 0, kNoStream, {}, 0, 0);
  DirectoryEntry(d, {}, 0, kNoStream, {}, 0, 0);
  return d;
}

// The FAT and then the DIFAT sectors, as they follow the directory sector.
std::vector<uint8_t> AllocationSectors(const CfbLayout& layout) {
  std::vector<uint8_t> out;
  out.reserve(static_cast<size_t>(layout.fat_sectors + layout.difat_sectors) * kCfbSectorSize);
  for (uint32_t i = 0; i + 1 < layout.stream_sectors; ++i)
    AppendLe32(out, i + 1);
  AppendLe32(out, kEndOfChain);  // last stream sector
  AppendLe32(out, kEndOfChain);  // the directory
  for (uint32_t i = 0; i < layout.fat_sectors; ++i)
    AppendLe32(out, kFatSect);
  for (uint32_t i = 0; i < layout.difat_sectors; ++i)
    AppendLe32(out, kDifSect);
  while (out.size() < static_cast<size_t>(layout.fat_sectors) * kCfbSectorSize)
    AppendLe32(out, kFreeSect);

  uint32_t first_fat = layout.directory_sector + 1;
  uint32_t first_difat = first_fat + layout.fat_sectors;
  uint32_t fat_index = kCfbHeaderDifatEntries;
  for (uint32_t s = 0; s < layout.difat_sectors; ++s) {
    for (uint32_t i = 0; i < kDifatPerSector; ++i, ++fat_index)
      AppendLe32(out, fat_index < layout.fat_sectors ? first_fat + fat_index : kFreeSect);
    AppendLe32(out, s + 1 < layout.difat_sectors ? first_difat + s + 1 : kEndOfChain);
  }
  return out;
}

}  // namespace

CfbLayout PlanCompoundFile(uint64_t stream_size) {
  CfbLayout layout;
  layout.stream_bytes = stream_size < kCfbMiniStreamCutoff ? kCfbMiniStreamCutoff : stream_size;
  layout.stream_sectors = CeilDiv(layout.stream_bytes, kCfbSectorSize);
  layout.directory_sector = layout.stream_sectors;
  // The FAT covers every sector, its own and the DIFAT's included: grow until it fits.
  uint32_t fat = 1;
  for (;;) {
    uint32_t difat = DifatSectorsFor(fat);
    uint64_t sectors = uint64_t{layout.stream_sectors} + 1 + fat + difat;
    uint32_t need = CeilDiv(sectors, kEntriesPerSector);
    if (need <= fat) break;
    fat = need;
  }
  layout.fat_sectors = fat;
  layout.difat_sectors = DifatSectorsFor(fat);
  uint64_t sectors =
      uint64_t{layout.stream_sectors} + 1 + layout.fat_sectors + layout.difat_sectors;
  layout.file_size = (sectors + 1) * kCfbSectorSize;
  return layout;
}

int WriteCompoundFile(const ByteSink& out, const CfbStream& stream,
                      const std::function<int(const ByteSink&)>& produce) {
  if (stream.size > kCfbMaxStreamSize) return EFBIG;
  if (stream.name.empty() || stream.name.size() > 31) return EINVAL;
  CfbLayout layout = PlanCompoundFile(stream.size);

  std::vector<uint8_t> header = Header(layout);
  if (int err = out(header.data(), header.size())) return err;

  uint64_t written = 0;
  ByteSink counting = [&](const uint8_t* data, size_t size) {
    written += size;
    return written > stream.size ? EINVAL : out(data, size);
  };
  if (int err = produce(counting)) return err;
  if (written != stream.size) return EINVAL;

  // Zero fill up to the padded size and the end of the last sector.
  std::vector<uint8_t> zeros(kCfbSectorSize, 0);
  uint64_t pad = uint64_t{layout.stream_sectors} * kCfbSectorSize - written;
  while (pad > 0) {
    size_t n = pad < zeros.size() ? static_cast<size_t>(pad) : zeros.size();
    if (int err = out(zeros.data(), n)) return err;
    pad -= n;
  }

  std::vector<uint8_t> directory = DirectorySector(layout, stream);
  if (int err = out(directory.data(), directory.size())) return err;
  std::vector<uint8_t> allocation = AllocationSectors(layout);
  return out(allocation.data(), allocation.size());
}

}  // namespace quelvane
