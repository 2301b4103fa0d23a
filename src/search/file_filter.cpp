#include "search/file_filter.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "platform/file_times.h"
#include "platform/text.h"

namespace quelvane {
namespace {

constexpr std::string_view kFullWidthComma = "\xEF\xBC\x8C";    // U+FF0C
constexpr std::string_view kIdeographicSpace = "\xE3\x80\x80";  // U+3000

// Drops ASCII blanks, tabs and ideographic spaces from both ends.
std::string_view TrimBlanks(std::string_view text) {
  for (;;) {
    if (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
      text.remove_prefix(1);
    } else if (text.starts_with(kIdeographicSpace)) {
      text.remove_prefix(kIdeographicSpace.size());
    } else {
      break;
    }
  }
  for (;;) {
    if (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
      text.remove_suffix(1);
    } else if (text.ends_with(kIdeographicSpace)) {
      text.remove_suffix(kIdeographicSpace.size());
    } else {
      break;
    }
  }
  return text;
}

std::string FullWidthCommasToAscii(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t pos = 0;
  for (;;) {
    const size_t hit = text.find(kFullWidthComma, pos);
    if (hit == std::string_view::npos) break;
    out.append(text.substr(pos, hit - pos));
    out.push_back(',');
    pos = hit + kFullWidthComma.size();
  }
  out.append(text.substr(pos));
  return out;
}

// SizeValue times the unit's factor, truncated toward zero and held within 64 bits. A unit that
// is none of b, kb, mb, gb (the prompt, say) gives 0.
int64_t ComputeSizeLimit(int64_t value, std::string_view unit_text) {
  const std::string unit = AsciiLower(unit_text);
  if (unit == "b") return value;
  double factor = 0;
  if (unit == "kb") {
    factor = 1024.0;
  } else if (unit == "mb") {
    factor = 1048576.0;
  } else if (unit == "gb") {
    factor = 1073741824.0;
  } else {
    return 0;
  }
  const double product = static_cast<double>(value) * factor;
  constexpr double kTwoTo63 = 9223372036854775808.0;
  if (product >= kTwoTo63) return std::numeric_limits<int64_t>::max();
  if (product <= -kTwoTo63) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(product);
}

}  // namespace

std::vector<std::string> FileFilter::ExtensionElements(std::string_view list) {
  std::vector<std::string> elements;
  for (const std::string& part : SplitList(FullWidthCommasToAscii(list))) {
    std::string element;
    if (!part.empty()) {
      std::string_view text = TrimBlanks(part);
      if (text.starts_with("*.")) {
        text.remove_prefix(2);
      } else if (text.starts_with(".")) {
        text.remove_prefix(1);
      }
      text = TrimBlanks(text);
      if (text.empty()) continue;  // emptied by the trimming: not a wish for "no extension"
      element = AsciiLower(text);
    }
    if (std::find(elements.begin(), elements.end(), element) == elements.end()) {
      elements.push_back(std::move(element));
    }
  }
  return elements;
}

FileFilter::FileFilter(const FilterSettings& settings) {
  for (std::string& element : ExtensionElements(settings.ExtensionList)) {
    if (element.empty()) {
      m_matches_no_extension = true;
    } else {
      m_extensions.push_back(std::move(element));
    }
  }

  const bool size_off = settings.SizeFilterMode == kFilterOff;
  const bool size_on = settings.SizeFilterMode == kFilterOn;
  if (settings.NameFilterMode == kNameInclude) {
    m_name_mode = NameMode::Include;
  } else if (settings.NameFilterMode == kNameSkip) {
    m_name_mode = NameMode::Skip;
  }
  const bool name_off = settings.NameFilterMode == kFilterOff;
  const bool name_on = m_name_mode != NameMode::Off;
  // Any switch text other than the window's own values lets no file through.
  if ((size_off || size_on) && (name_off || name_on)) {
    if (size_on) {
      m_rule = name_on ? Rule::Both : Rule::Size;
    } else {
      m_rule = name_on ? Rule::Name : Rule::Always;
    }
  }

  if (settings.SizeComparison == kSkipLarger) {
    m_comparison = Comparison::SkipLarger;
  } else if (settings.SizeComparison == kSkipEqual) {
    m_comparison = Comparison::SkipEqual;
  } else if (settings.SizeComparison == kSkipSmaller) {
    m_comparison = Comparison::SkipSmaller;
  }
  m_size_limit = ComputeSizeLimit(settings.SizeValue, settings.SizeUnit);

  for (std::string& keyword : SplitList(settings.NameKeywords)) {
    if (!keyword.empty()) m_keywords.push_back(std::move(keyword));
  }
}

bool FileFilter::ExtensionMatches(std::string_view name) const {
  const std::string extension = ExtensionOf(name);
  if (extension.empty()) return m_matches_no_extension;
  for (const std::string& element : m_extensions) {
    if (EqualsIgnoreAsciiCase(extension, element)) return true;
  }
  return false;
}

bool FileFilter::NamePasses(std::string_view name) const {
  if (m_name_mode == NameMode::Off) return true;
  const bool found = std::any_of(m_keywords.begin(), m_keywords.end(), [name](const auto& k) {
    return name.find(k) != std::string_view::npos;
  });
  return m_name_mode == NameMode::Include ? found : !found;
}

// The comparison names the sizes to skip.
bool FileFilter::SizePasses(uint64_t bytes) const {
  switch (m_comparison) {
    case Comparison::SkipLarger:
      return std::cmp_less_equal(bytes, m_size_limit);
    case Comparison::SkipEqual:
      return std::cmp_not_equal(bytes, m_size_limit);
    case Comparison::SkipSmaller:
      return std::cmp_greater_equal(bytes, m_size_limit);
    case Comparison::Invalid:
      break;
  }
  return false;
}

bool FileFilter::Passes(std::string_view name, uint64_t bytes) const {
  if (!ExtensionMatches(name) || m_rule == Rule::Never) return false;
  if (NeedsName() && !NamePasses(name)) return false;
  if (NeedsSize() && !SizePasses(bytes)) return false;
  return true;
}

std::optional<RowData> FileFilter::Examine(const WalkEntry& entry) const {
  m_examined.fetch_add(1, std::memory_order_relaxed);
  const std::string_view name = entry.Name();
  if (!ExtensionMatches(name) || m_rule == Rule::Never) return std::nullopt;
  if (NeedsName() && !NamePasses(name)) return std::nullopt;
  // The first and only look at the file's metadata: size, identity and times all come from it.
  const std::optional<FileStat>& stat = entry.Stat();
  if (!stat) return std::nullopt;
  if (NeedsSize() && !SizePasses(stat->bytes)) return std::nullopt;

  RowData row;
  row.cells[ColName] = std::string(name);
  row.cells[ColPath] = std::string(entry.Path());
  row.cells[ColSize] = FormatSizeText(stat->bytes);
  TimeTexts times = FileTimeTexts(*stat);
  row.cells[ColCreated] = std::move(times.created);
  row.cells[ColModified] = std::move(times.modified);
  row.facts = {stat->bytes, stat->device, stat->inode};
  return row;
}

}  // namespace quelvane
