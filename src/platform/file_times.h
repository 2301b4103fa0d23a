#pragma once
// The local-time texts of the list's time columns: "yyyy-MM-dd HH:mm:ss", 24-hour clock.
#include <cstdint>
#include <string>

#include "platform/dir_walker.h"

namespace quelvane {

struct TimeTexts {
  std::string created;  // empty when the file system keeps no birth time
  std::string modified;
};

// Formats seconds since the epoch as local time. Remembers the offset from UTC for the quarter
// hour last asked about, so a run of files from the same period costs no time-zone lookup. Reads
// the time zone the process had when the offset was looked up: call tzset() and use a fresh
// formatter after changing TZ.
class LocalTimeFormatter {
 public:
  // Empty when the time cannot be represented.
  std::string Format(int64_t seconds);

 private:
  bool OffsetFor(int64_t seconds, int64_t& offset);

  int64_t m_bucket = 0;
  int64_t m_offset = 0;
  bool m_valid = false;
};

// Created from the birth time (never the change time), modified from the modification time.
// Uses one formatter per thread.
TimeTexts FileTimeTexts(const FileStat& stat);

}  // namespace quelvane
