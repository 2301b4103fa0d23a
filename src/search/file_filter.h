#pragma once
// Decides for each file of the walk whether it becomes a row of the result list, and makes that
// row. The rules come from a FilterSettings snapshot and are prepared once, when the filter is
// made; Examine may then run on a worker thread while another thread reads ExaminedCount.
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dir_walker.h"
#include "results/result_list.h"
#include "search/filter_settings.h"

namespace quelvane {

class FileFilter {
 public:
  explicit FileFilter(const FilterSettings& settings);

  // Counts the entry, then runs the extension test, the name test and (only then, from one stat
  // of the entry) the size test. The row carries ColName, ColPath, ColSize, ColCreated,
  // ColModified and the file's facts; ColSeq is left to the list's owner. No row for a file that
  // has gone.
  std::optional<RowData> Examine(const WalkEntry& entry) const;

  // The decision without the file system: extension, then the rule table on the switches.
  bool Passes(std::string_view name, uint64_t bytes) const;

  bool ExtensionMatches(std::string_view name) const;
  bool NamePasses(std::string_view name) const;
  bool SizePasses(uint64_t bytes) const;

  // Files handed to Examine since this filter was made. Readable from any thread.
  uint64_t ExaminedCount() const { return m_examined.load(std::memory_order_relaxed); }

  // The size limit in bytes, from SizeValue and SizeUnit.
  int64_t SizeLimit() const { return m_size_limit; }

  // The extensions a list names, lower-cased, in order, each once. Commas "," and "，" separate;
  // blanks around an element and a leading "*." or "." are dropped; an element left empty by that
  // is discarded, an element typed empty stays (as "") and stands for "no extension".
  static std::vector<std::string> ExtensionElements(std::string_view list);

 private:
  enum class Rule { Always, Size, Name, Both, Never };
  enum class Comparison { SkipLarger, SkipEqual, SkipSmaller, Invalid };
  enum class NameMode { Include, Skip, Off };

  bool NeedsName() const { return m_rule == Rule::Name || m_rule == Rule::Both; }
  bool NeedsSize() const { return m_rule == Rule::Size || m_rule == Rule::Both; }

  std::vector<std::string> m_extensions;  // lower-cased, none empty
  bool m_matches_no_extension = false;
  Rule m_rule = Rule::Never;
  Comparison m_comparison = Comparison::Invalid;
  int64_t m_size_limit = 0;
  NameMode m_name_mode = NameMode::Off;
  std::vector<std::string> m_keywords;  // the empty ones left out: they are never found
  mutable std::atomic<uint64_t> m_examined{0};
};

}  // namespace quelvane
