#include "platform/file_times.h"

#include <time.h>

#include <cstdio>

namespace quelvane {
namespace {

// Offsets from UTC change at most once within any quarter hour.
constexpr int64_t kBucketSeconds = 900;
constexpr int64_t kSecondsPerDay = 86400;
// Beyond this the fast path's arithmetic is not trusted; localtime_r decides instead.
constexpr int64_t kFastLimit = int64_t{1} << 40;

struct Civil {
  int64_t year;
  int month;
  int day;
  int hour;
  int minute;
  int second;
};

int64_t FloorDiv(int64_t a, int64_t b) {
  const int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// The proleptic Gregorian date of a day count since 1970-01-01 (eras of 400 years, with March
// as the first month so the leap day comes last).
Civil CivilFromLocalSeconds(int64_t local) {
  const int64_t days = FloorDiv(local, kSecondsPerDay);
  const int64_t in_day = local - days * kSecondsPerDay;
  const int64_t shifted = days + 719468;  // days from 0000-03-01
  const int64_t era = FloorDiv(shifted, 146097);
  const int64_t day_of_era = shifted - era * 146097;
  const int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const int64_t day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const int64_t month_index = (5 * day_of_year + 2) / 153;  // 0 = March
  Civil c;
  c.day = static_cast<int>(day_of_year - (153 * month_index + 2) / 5 + 1);
  c.month = static_cast<int>(month_index < 10 ? month_index + 3 : month_index - 9);
  c.year = year_of_era + era * 400 + (c.month <= 2 ? 1 : 0);
  c.hour = static_cast<int>(in_day / 3600);
  c.minute = static_cast<int>(in_day / 60 % 60);
  c.second = static_cast<int>(in_day % 60);
  return c;
}

bool SameFields(const Civil& c, const struct tm& t) {
  return c.year == t.tm_year + int64_t{1900} && c.month == t.tm_mon + 1 && c.day == t.tm_mday &&
         c.hour == t.tm_hour && c.minute == t.tm_min && c.second == t.tm_sec;
}

void PutDigits(char* out, int64_t value, int width) {
  for (int i = width - 1; i >= 0; --i) {
    out[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
}

std::string FormatCivil(const Civil& c) {
  if (c.year < 0 || c.year > 9999) {
    char text[64];
    const int n =
        std::snprintf(text, sizeof text, "%04lld-%02d-%02d %02d:%02d:%02d",
                      static_cast<long long>(c.year), c.month, c.day, c.hour, c.minute, c.second);
    return n > 0 ? std::string(text, static_cast<size_t>(n)) : std::string();
  }
  std::string text = "0000-00-00 00:00:00";
  PutDigits(&text[0], c.year, 4);
  PutDigits(&text[5], c.month, 2);
  PutDigits(&text[8], c.day, 2);
  PutDigits(&text[11], c.hour, 2);
  PutDigits(&text[14], c.minute, 2);
  PutDigits(&text[17], c.second, 2);
  return text;
}

bool LocalTime(int64_t seconds, struct tm& out) {
  const time_t t = static_cast<time_t>(seconds);
  return localtime_r(&t, &out) != nullptr;
}

}  // namespace

// The offset of the quarter hour that holds `seconds`, looked up when that quarter hour is new.
// A quarter hour in which the offset changes, or where the arithmetic disagrees with the time
// zone (zones that count leap seconds), is not remembered.
bool LocalTimeFormatter::OffsetFor(int64_t seconds, int64_t& offset) {
  if (seconds > kFastLimit || seconds < -kFastLimit) return false;
  const int64_t bucket = FloorDiv(seconds, kBucketSeconds);
  if (m_valid && bucket == m_bucket) {
    offset = m_offset;
    return true;
  }
  const int64_t first = bucket * kBucketSeconds;
  const int64_t last = first + kBucketSeconds - 1;
  struct tm at_first;
  struct tm at_last;
  if (!LocalTime(first, at_first) || !LocalTime(last, at_last)) return false;
  if (at_first.tm_gmtoff != at_last.tm_gmtoff) return false;
  const int64_t candidate = at_first.tm_gmtoff;
  if (!SameFields(CivilFromLocalSeconds(first + candidate), at_first) ||
      !SameFields(CivilFromLocalSeconds(last + candidate), at_last)) {
    return false;
  }
  m_bucket = bucket;
  m_offset = candidate;
  m_valid = true;
  offset = candidate;
  return true;
}

std::string LocalTimeFormatter::Format(int64_t seconds) {
  int64_t offset = 0;
  if (OffsetFor(seconds, offset)) return FormatCivil(CivilFromLocalSeconds(seconds + offset));
  struct tm local;
  if (!LocalTime(seconds, local)) return {};
  const Civil c{local.tm_year + int64_t{1900},
                local.tm_mon + 1,
                local.tm_mday,
                local.tm_hour,
                local.tm_min,
                local.tm_sec};
  return FormatCivil(c);
}

TimeTexts FileTimeTexts(const FileStat& stat) {
  thread_local LocalTimeFormatter formatter;
  TimeTexts texts;
  if (stat.has_birth_time) texts.created = formatter.Format(stat.born.seconds);
  texts.modified = formatter.Format(stat.modified.seconds);
  return texts;
}

}  // namespace quelvane
