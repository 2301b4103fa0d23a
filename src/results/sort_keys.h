#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace quelvane {

// Seconds since 0001-01-01 00:00:00 of a date-and-time text "yyyy-MM-dd HH:mm:ss" (the time
// part may be missing, seconds too, and '/' may separate the date); nullopt for a text that is
// not a date.
std::optional<int64_t> ParseDateTimeKey(std::string_view text);

}  // namespace quelvane
