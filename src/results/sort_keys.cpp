#include "results/sort_keys.h"

namespace quelvane {
namespace {

// Reads 1 to max_digits digits at text[pos].
bool ReadNumber(std::string_view text, size_t& pos, int max_digits, int& value) {
  int digits = 0;
  value = 0;
  while (pos < text.size() && digits < max_digits && text[pos] >= '0' && text[pos] <= '9') {
    value = value * 10 + (text[pos] - '0');
    ++pos;
    ++digits;
  }
  return digits > 0;
}

bool IsLeap(int y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// Days from 0001-01-01 to the given date (proleptic Gregorian).
int64_t DaysFromCivil(int y, int m, int d) {
  int64_t yy = y - 1;
  int64_t days = yy * 365 + yy / 4 - yy / 100 + yy / 400;
  for (int i = 1; i < m; ++i)
    days += DaysInMonth(y, i);
  return days + d - 1;
}

}  // namespace

std::optional<int64_t> ParseDateTimeKey(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size() && text[pos] == ' ')
    ++pos;
  int y, mo, d, h = 0, mi = 0, s = 0;
  if (!ReadNumber(text, pos, 4, y)) return std::nullopt;
  if (pos >= text.size() || (text[pos] != '-' && text[pos] != '/')) return std::nullopt;
  char sep = text[pos++];
  if (!ReadNumber(text, pos, 2, mo)) return std::nullopt;
  if (pos >= text.size() || text[pos] != sep) return std::nullopt;
  ++pos;
  if (!ReadNumber(text, pos, 2, d)) return std::nullopt;
  if (y < 1 || mo < 1 || mo > 12 || d < 1 || d > DaysInMonth(y, mo)) return std::nullopt;
  size_t after_date = pos;
  while (pos < text.size() && text[pos] == ' ')
    ++pos;
  if (pos < text.size()) {
    if (pos == after_date) return std::nullopt;
    if (!ReadNumber(text, pos, 2, h)) return std::nullopt;
    if (pos >= text.size() || text[pos] != ':') return std::nullopt;
    ++pos;
    if (!ReadNumber(text, pos, 2, mi)) return std::nullopt;
    if (pos < text.size() && text[pos] == ':') {
      ++pos;
      if (!ReadNumber(text, pos, 2, s)) return std::nullopt;
    }
    while (pos < text.size() && text[pos] == ' ')
      ++pos;
    if (pos != text.size() || h > 23 || mi > 59 || s > 59) return std::nullopt;
  }
  return DaysFromCivil(y, mo, d) * 86400 + h * 3600 + mi * 60 + s;
}

}  // namespace quelvane
