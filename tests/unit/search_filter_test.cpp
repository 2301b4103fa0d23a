// The file filter's rules, as tables of cases.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "search/file_filter.h"
#include "search/filter_settings.h"

#include "../support/filter_settings.h"

namespace quelvane {
namespace {

constexpr int64_t kGiB = 1073741824;

using quelvane::testing::Settings;

FilterSettings SizeRule(const std::string& comparison, int64_t value, const std::string& unit) {
  FilterSettings s = Settings("mp4");
  s.SizeFilterMode = kFilterOn;
  s.SizeComparison = comparison;
  s.SizeValue = value;
  s.SizeUnit = unit;
  return s;
}

FilterSettings NameRule(const std::string& mode, const std::string& keywords) {
  FilterSettings s = Settings("mp4");
  s.NameFilterMode = mode;
  s.NameKeywords = keywords;
  return s;
}

TEST(FileFilterExtensions, ElementsOfAList) {
  struct Case {
    std::string list;
    std::vector<std::string> elements;
  };
  const std::vector<Case> cases = {
      {"mp3, .avi\xEF\xBC\x8C*.mkv", {"mp3", "avi", "mkv"}},  // "，" separates like ","
      {"mp3, ", {"mp3"}},                                     // emptied by trimming: dropped
      {"mp3,", {"mp3"}},                                      // empty last part: dropped
      {",mp3", {"", "mp3"}},                                  // typed empty: kept
      {"mp3,,avi", {"mp3", "", "avi"}},
      {"MP3,mp3,Mp3", {"mp3"}},
      {"\xE3\x80\x80jpg\t, \t png \xE3\x80\x80", {"jpg", "png"}},  // U+3000, tab, blank
      {"*., ., *", {"*"}},
      {"", {}},
      {"txt", {"txt"}},
      {"\xE6\x96\x87\xE4\xBB\xB6", {"\xE6\x96\x87\xE4\xBB\xB6"}},  // non-ASCII kept as it is
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FileFilter::ExtensionElements(c.list), c.elements) << c.list;
  }
}

TEST(FileFilterExtensions, MatchingNames) {
  struct Case {
    std::string list;
    std::string name;
    bool matches;
  };
  const std::vector<Case> cases = {
      {"mp3", "song.mp3", true},
      {"mp3", "SONG.MP3", true},  // case does not matter
      {"jpg", "IMG_0001.JPG", true},
      {"JPG", "photo.jpg", true},
      {"mp3", "song.mp4", false},
      {"mp3", "mp3", false},  // no extension at all
      {"gz", "archive.tar.gz", true},
      {"tar", "archive.tar.gz", false},
      {",mp3", "README", true},  // the typed-empty element: no extension
      {",mp3", "notes.", true},
      {",mp3", "a.mp3", true},
      {",mp3", "a.txt", false},
      {"mp3,,avi", "README", true},
      {"mp3,", "README", false},
      {"mp3, ", "README", false},
      {"mp3, avi", "film.avi", true},
      {"mp3\xEF\xBC\x8C"
       "avi",
       "film.avi", true},
      {"*.mkv", "film.mkv", true},
      {"mp4", ".hidden.mp4", true},
      {"", "a.mp4", false},
  };
  for (const Case& c : cases) {
    const FileFilter filter(Settings(c.list));
    EXPECT_EQ(filter.ExtensionMatches(c.name), c.matches) << c.list << " / " << c.name;
  }
}

TEST(FileFilterSize, LimitFromValueAndUnit) {
  struct Case {
    int64_t value;
    std::string unit;
    int64_t limit;
  };
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  const std::vector<Case> cases = {
      {532, "B", 532},    {532, "b", 532},   {1, "kb", 1024},     {1, "KB", 1024},
      {3, "Mb", 3145728}, {1, "gb", kGiB},   {5, "GB", 5 * kGiB}, {7, kUnitPrompt, 0},
      {7, "TB", 0},       {7, "", 0},        {kMax, "GB", kMax},  {kMin, "GB", kMin},
      {-1, "KB", -1024},  {kMax, "B", kMax},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FileFilter(SizeRule(kSkipLarger, c.value, c.unit)).SizeLimit(), c.limit)
        << c.value << " " << c.unit;
  }
}

TEST(FileFilterSize, ComparisonNamesTheSizesToSkip) {
  struct Case {
    std::string comparison;
    int64_t value;
    std::string unit;
    uint64_t bytes;
    bool passes;
  };
  const std::vector<Case> cases = {
      {kSkipLarger, 1, "KB", 1024, true},  // equal to the limit
      {kSkipLarger, 1, "KB", 1025, false},
      {kSkipLarger, 1, "KB", 0, true},
      {kSkipEqual, 1, "KB", 1024, false},
      {kSkipEqual, 1, "KB", 1023, true},
      {kSkipSmaller, 1, "KB", 1024, true},
      {kSkipSmaller, 1, "KB", 1023, false},
      // Unit still the prompt: the limit is 0.
      {kSkipLarger, 9, kUnitPrompt, 0, true},
      {kSkipLarger, 9, kUnitPrompt, 1, false},
      {kSkipEqual, 9, kUnitPrompt, 0, false},
      {kSkipEqual, 9, kUnitPrompt, 1, true},
      {kSkipSmaller, 9, kUnitPrompt, 0, true},
      {kSkipSmaller, 9, kUnitPrompt, 5, true},
      // No comparison chosen: nothing passes.
      {kChoosePrompt, 1, "KB", 0, false},
      {"", 1, "KB", 0, false},
      // Sizes beyond 32 bits compare as they are.
      {kSkipLarger, 4, "GB", 5 * kGiB, false},
      {kSkipLarger, 5, "GB", 5 * kGiB, true},
      {kSkipEqual, 5, "GB", 5 * kGiB, false},
      {kSkipEqual, 1, "GB", 5 * kGiB + 1024, true},
      {kSkipSmaller, 6, "GB", 5 * kGiB, false},
      {kSkipLarger, 2, "GB", 3 * kGiB, false},
      {kSkipSmaller, 2, "GB", 3 * kGiB, true},
      {kSkipLarger, 0, "B", std::numeric_limits<uint64_t>::max(), false},
      // A negative limit: every size is larger.
      {kSkipSmaller, -1, "KB", 0, true},
      {kSkipLarger, -1, "KB", 0, false},
  };
  for (const Case& c : cases) {
    const FileFilter filter(SizeRule(c.comparison, c.value, c.unit));
    EXPECT_EQ(filter.SizePasses(c.bytes), c.passes)
        << c.comparison << " " << c.value << c.unit << " bytes " << c.bytes;
  }
}

TEST(FileFilterName, KeywordsOfTheFileName) {
  struct Case {
    std::string mode;
    std::string keywords;
    std::string name;
    bool passes;
  };
  const std::string preview_or_sample = "预览视频,样片";
  const std::vector<Case> cases = {
      {kNameSkip, preview_or_sample, "样片1.mp4", false},
      {kNameSkip, preview_or_sample, "旅行.mp4", true},
      {kNameInclude, preview_or_sample, "预览视频样片.mp4", true},
      {kNameInclude, preview_or_sample, "旅行.mp4", false},
      // Not trimmed: the second keyword begins with a blank.
      {kNameInclude, "样片, 花絮", "花絮.mp4", false},
      {kNameInclude, "样片, 花絮", "旅行 花絮.mp4", true},
      // Case-sensitive.
      {kNameInclude, "Demo", "demo.mp4", false},
      {kNameInclude, "Demo", "Demo.mp4", true},
      // Only "," separates keywords.
      {kNameInclude, "样片\xEF\xBC\x8C花絮", "花絮.mp4", false},
      // Empty keywords are never found.
      {kNameInclude, "", "a.mp4", false},
      {kNameSkip, "", "a.mp4", true},
      {kNameInclude, ",", "a.mp4", false},
      {kNameInclude, ",样片", "样片.mp4", true},
      {kNameSkip, "x,,", "a.mp4", true},
      // The extension is part of the name.
      {kNameInclude, ".mp4", "a.mp4", true},
  };
  for (const Case& c : cases) {
    const FileFilter filter(NameRule(c.mode, c.keywords));
    EXPECT_EQ(filter.NamePasses(c.name), c.passes)
        << c.mode << " [" << c.keywords << "] " << c.name;
  }
}

// Which tests the two switches call for. The size test here passes for up to 1 KB, the name test
// for names without "skip".
TEST(FileFilterSwitches, TableOfTheTwoModes) {
  struct Case {
    std::string size_mode;
    std::string name_mode;
    // Whether a row comes for: both tests pass, only the size fails, only the name fails.
    bool all_pass;
    bool size_fails;
    bool name_fails;
  };
  const std::vector<Case> cases = {
      {kFilterOff, kFilterOff, true, true, true}, {kFilterOn, kFilterOff, true, false, true},
      {kFilterOff, kNameSkip, true, true, false}, {kFilterOn, kNameSkip, true, false, false},
      {"", kFilterOff, false, false, false},      {"筛选 ", kFilterOff, false, false, false},
      {kFilterOff, "", false, false, false},      {kFilterOn, "其他", false, false, false},
  };
  for (const Case& c : cases) {
    FilterSettings s = SizeRule(kSkipLarger, 1, "KB");
    s.SizeFilterMode = c.size_mode;
    s.NameFilterMode = c.name_mode;
    s.NameKeywords = "skip";
    const FileFilter filter(s);
    const std::string label = "[" + c.size_mode + "] [" + c.name_mode + "]";
    EXPECT_EQ(filter.Passes("keep.mp4", 10), c.all_pass) << label;
    EXPECT_EQ(filter.Passes("keep.mp4", 5000), c.size_fails) << label;
    EXPECT_EQ(filter.Passes("skip.mp4", 10), c.name_fails) << label;
    EXPECT_FALSE(filter.Passes("keep.txt", 10)) << label;  // the extension comes first
  }
}

}  // namespace
}  // namespace quelvane
