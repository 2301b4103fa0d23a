#include "platform/text.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace quelvane {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Length of the longest leading decimal number at text[pos] (sign, digits, fraction, exponent),
// 0 when none starts there.
size_t NumberLength(std::string_view text, size_t pos) {
  size_t i = pos;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  size_t digits = 0;
  while (i < text.size() && IsDigit(text[i]))
    ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    size_t j = i + 1;
    size_t frac = 0;
    while (j < text.size() && IsDigit(text[j]))
      ++j, ++frac;
    if (digits + frac > 0) i = j, digits += frac;
  }
  if (digits == 0) return 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    size_t j = i + 1;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
    size_t exp_digits = 0;
    while (j < text.size() && IsDigit(text[j]))
      ++j, ++exp_digits;
    if (exp_digits > 0) i = j;
  }
  return i - pos;
}

}  // namespace

double LeadingNumber(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size() && IsBlank(text[pos]))
    ++pos;
  size_t len = NumberLength(text, pos);
  if (len == 0) return 0.0;
  std::string_view number = text.substr(pos, len);
  bool negative = number[0] == '-';
  if (number[0] == '+' || number[0] == '-') number.remove_prefix(1);
  double value = 0.0;
  auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
  (void)end;
  if (ec == std::errc::result_out_of_range) {
    // Either too large or too small in magnitude: find which from the exponent's sign.
    size_t e = number.find_first_of("eE");
    bool tiny = e != std::string_view::npos && e + 1 < number.size() && number[e + 1] == '-';
    value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
  } else if (ec != std::errc()) {
    value = 0.0;
  }
  return negative ? -value : value;
}

int64_t TextToInteger(std::string_view text) {
  double value = std::trunc(LeadingNumber(text));
  constexpr double kMax = 9223372036854775807.0;  // rounds to 2^63
  if (value >= kMax) return std::numeric_limits<int64_t>::max();
  if (value <= -kMax) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(value);
}

std::string NarrowFullWidth(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c0 = static_cast<unsigned char>(text[i]);
    if (c0 == 0xEF && i + 2 < text.size()) {
      unsigned char c1 = static_cast<unsigned char>(text[i + 1]);
      unsigned char c2 = static_cast<unsigned char>(text[i + 2]);
      // U+FF01..U+FF3F is EF BC 81..BF, U+FF40..U+FF5E is EF BD 80..9E.
      if (c1 == 0xBC && c2 >= 0x81 && c2 <= 0xBF) {
        out.push_back(static_cast<char>(c2 - 0x81 + 0x21));
        i += 2;
        continue;
      }
      if (c1 == 0xBD && c2 >= 0x80 && c2 <= 0x9E) {
        out.push_back(static_cast<char>(c2 - 0x80 + 0x60));
        i += 2;
        continue;
      }
    }
    if (c0 == 0xE3 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
        static_cast<unsigned char>(text[i + 2]) == 0x80) {
      out.push_back(' ');
      i += 2;
      continue;
    }
    out.push_back(static_cast<char>(c0));
  }
  return out;
}

double SortNumber(std::string_view text) {
  // Most texts hold no multibyte characters at all; skip the copy for them.
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return LeadingNumber(NarrowFullWidth(text));
  }
  return LeadingNumber(text);
}

std::string FormatSizeText(uint64_t bytes) {
  if (bytes == 0) return "0";
  if (bytes < 1024) return std::to_string(bytes) + " B";
  static const char* const kUnits[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
  int unit = 0;
  unsigned __int128 divisor = 1024;
  // From 1000 units on, the next unit is used.
  while (unit < 5 && bytes / divisor >= 1000) {
    divisor *= 1024;
    ++unit;
  }
  uint64_t whole = static_cast<uint64_t>(bytes / divisor);
  int decimals = whole < 10 ? 2 : whole < 100 ? 1 : 0;
  unsigned __int128 scale = decimals == 2 ? 100 : decimals == 1 ? 10 : 1;
  // Truncated, never rounded.
  uint64_t scaled = static_cast<uint64_t>(static_cast<unsigned __int128>(bytes) * scale / divisor);
  std::string text = std::to_string(scaled / static_cast<uint64_t>(scale));
  if (decimals > 0) {
    std::string frac = std::to_string(scaled % static_cast<uint64_t>(scale));
    while (static_cast<int>(frac.size()) < decimals)
      frac.insert(frac.begin(), '0');
    text += "." + frac;
  }
  return text + " " + kUnits[unit];
}

std::vector<std::string> SplitList(std::string_view text) {
  std::vector<std::string> parts;
  if (text.empty()) return parts;
  size_t start = 0;
  while (true) {
    size_t comma = text.find(',', start);
    if (comma == std::string_view::npos) {
      if (start < text.size() || parts.empty()) parts.emplace_back(text.substr(start));
      break;
    }
    parts.emplace_back(text.substr(start, comma - start));
    start = comma + 1;
  }
  return parts;
}

std::string ExtensionOf(std::string_view name) {
  size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return {};
  return std::string(name.substr(dot + 1));
}

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

bool EndsWithIgnoreAsciiCase(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() &&
         EqualsIgnoreAsciiCase(text.substr(text.size() - suffix.size()), suffix);
}

size_t Utf8SequenceLength(std::string_view text, size_t pos) {
  if (pos >= text.size()) return 0;
  auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char c = byte(pos);
  if (c < 0x80) return 1;
  size_t len;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
    if (c == 0xE0) lo = 0xA0;  // no overlongs
    if (c == 0xED) hi = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (pos + len > text.size()) return 0;
  if (byte(pos + 1) < lo || byte(pos + 1) > hi) return 0;
  for (size_t i = 2; i < len; ++i) {
    if ((byte(pos + i) & 0xC0) != 0x80) return 0;
  }
  return len;
}

bool IsValidUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    size_t len = Utf8SequenceLength(text, i);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

std::string ToValidUtf8(std::string_view text) {
  if (IsValidUtf8(text)) return std::string(text);
  std::string out;
  out.reserve(text.size() + 8);
  for (size_t i = 0; i < text.size();) {
    size_t len = Utf8SequenceLength(text, i);
    if (len == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
    } else {
      out.append(text.substr(i, len));
      i += len;
    }
  }
  return out;
}

size_t Utf8CutLength(std::string_view text, size_t max_bytes) {
  if (text.size() <= max_bytes) return text.size();
  // A valid sequence that starts before the cut and ends after it is dropped whole; invalid
  // bytes are cut anywhere, since there is no character to split.
  for (size_t back = 1; back <= 3 && back <= max_bytes; ++back) {
    size_t start = max_bytes - back;
    size_t len = Utf8SequenceLength(text, start);
    if (len > back) return start;
    if (len != 0) break;
  }
  return max_bytes;
}

std::string ToDecimal(int64_t value) {
  return std::to_string(value);
}

}  // namespace quelvane
