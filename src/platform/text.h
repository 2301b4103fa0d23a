#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quelvane {

// The longest leading decimal number of a text (leading blanks skipped, optional sign,
// fraction and exponent); 0 when there is none.
double LeadingNumber(std::string_view text);
// The same, truncated toward zero and clamped to the 64-bit range.
int64_t TextToInteger(std::string_view text);
// The sort value of a text: full-width forms U+FF01..U+FF5E become ASCII, U+3000 a blank,
// then LeadingNumber.
double SortNumber(std::string_view text);
// Full-width ASCII forms to ASCII and U+3000 to a blank.
std::string NarrowFullWidth(std::string_view text);

// The byte-size text of the size column: "532 B", "0", "1.50 KB", "0.97 MB", ...
std::string FormatSizeText(uint64_t bytes);

// The list split: empty text gives nothing; no comma gives the whole text; empty inner parts
// are kept and an empty last part is dropped. Splits only at the ASCII comma.
std::vector<std::string> SplitList(std::string_view text);

// The text after the last dot of a file name; empty for "README" and "notes.".
std::string ExtensionOf(std::string_view name);

// ASCII-only case folding and comparison.
std::string AsciiLower(std::string_view text);
bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b);
bool EndsWithIgnoreAsciiCase(std::string_view text, std::string_view suffix);

// UTF-8 validity. Sequences are checked strictly (no overlongs, no surrogates, <= U+10FFFF).
bool IsValidUtf8(std::string_view text);
// The length of the valid UTF-8 sequence at text[pos], or 0 when the byte there starts none.
size_t Utf8SequenceLength(std::string_view text, size_t pos);
// Each byte of an invalid sequence becomes U+FFFD.
std::string ToValidUtf8(std::string_view text);
// The largest length <= max_bytes that does not split a UTF-8 sequence.
size_t Utf8CutLength(std::string_view text, size_t max_bytes);

std::string ToDecimal(int64_t value);

}  // namespace quelvane
