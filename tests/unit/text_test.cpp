#include <gtest/gtest.h>

#include <limits>

#include "platform/text.h"

namespace quelvane {
namespace {

TEST(FormatSizeText, ReferenceValues) {
  const std::pair<uint64_t, const char*> cases[] = {
      {0, "0"},
      {1, "1 B"},
      {532, "532 B"},
      {1023, "1023 B"},
      {1024, "1.00 KB"},
      {1536, "1.50 KB"},
      {10191, "9.95 KB"},
      {100353, "98.0 KB"},
      {1022286, "998 KB"},
      {1024000, "0.97 MB"},
      {1046862, "0.99 MB"},
      {1048576, "1.00 MB"},
      {1048574619, "999 MB"},
      {1073741775, "0.99 GB"},
      {5ull << 30, "5.00 GB"},
      {1ull << 40, "1.00 TB"},
      {1ull << 50, "1.00 PB"},
      {1ull << 60, "1.00 EB"},
      {std::numeric_limits<uint64_t>::max(), "15.9 EB"},
  };
  for (const auto& [bytes, text] : cases)
    EXPECT_EQ(FormatSizeText(bytes), text) << bytes;
}

TEST(LeadingNumber, ReadsLongestDecimalPrefix) {
  const std::pair<const char*, double> cases[] = {
      {"", 0},
      {"abc", 0},
      {"12abc", 12},
      {"  -3.5e2x", -350},
      {"1.45 KB", 1.45},
      {"+7", 7},
      {".5", 0.5},
      {"5.", 5},
      {"1e", 1},
      {"1e+", 1},
      {"-", 0},
      {".", 0},
      {"0x1A", 0},
      {"inf", 0},
      {"nan", 0},
      {"\t 42", 42},
      {"1e400", std::numeric_limits<double>::infinity()},
      {"1e-400", 0},
  };
  for (const auto& [text, value] : cases)
    EXPECT_EQ(LeadingNumber(text), value) << text;
}

TEST(TextToInteger, TruncatesTowardZeroAndClamps) {
  EXPECT_EQ(TextToInteger("3.9"), 3);
  EXPECT_EQ(TextToInteger("-3.9"), -3);
  EXPECT_EQ(TextToInteger("填写整数"), 0);
  EXPECT_EQ(TextToInteger("99999999999999999999999"), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(TextToInteger("-1e300"), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(TextToInteger("5368709120"), 5368709120);
}

TEST(SortNumber, FullWidthDigitsAndIdeographicSpace) {
  EXPECT_EQ(SortNumber("\xEF\xBC\x91\xEF\xBC\x92"), 12);              // "１２"
  EXPECT_EQ(SortNumber("\xE3\x80\x80\xEF\xBC\x8D\xEF\xBC\x93"), -3);  // "　－３"
  EXPECT_EQ(SortNumber("中1"), 0);
}

TEST(SplitList, RuleTable) {
  using V = std::vector<std::string>;
  const std::pair<const char*, V> cases[] = {
      {"", V{}},
      {"mp3", V{"mp3"}},
      {",", V{""}},
      {",mp3", V{"", "mp3"}},
      {"mp3,", V{"mp3"}},
      {"mp3,,avi", V{"mp3", "", "avi"}},
      {"mp3, avi", V{"mp3", " avi"}},
      {"预览视频,样片", V{"预览视频", "样片"}},
  };
  for (const auto& [text, parts] : cases)
    EXPECT_EQ(SplitList(text), parts) << text;
}

TEST(ExtensionOf, AfterLastDot) {
  EXPECT_EQ(ExtensionOf("archive.tar.gz"), "gz");
  EXPECT_EQ(ExtensionOf("README"), "");
  EXPECT_EQ(ExtensionOf("notes."), "");
  EXPECT_EQ(ExtensionOf(".bashrc"), "bashrc");
  EXPECT_EQ(ExtensionOf("视频.MP4"), "MP4");
}

TEST(Utf8, ValidityAndReplacement) {
  EXPECT_TRUE(IsValidUtf8("中文 abc"));
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));          // overlong
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // surrogate
  EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // above U+10FFFF
  EXPECT_EQ(ToValidUtf8("a\xFF"
                        "b"),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(ToValidUtf8("\xE4\xB8"), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(Utf8, CutNeverSplitsACharacter) {
  const std::string text = "ab中文";  // 2 + 3 + 3 bytes
  EXPECT_EQ(Utf8CutLength(text, 100), text.size());
  EXPECT_EQ(Utf8CutLength(text, 2), 2u);
  EXPECT_EQ(Utf8CutLength(text, 3), 2u);
  EXPECT_EQ(Utf8CutLength(text, 4), 2u);
  EXPECT_EQ(Utf8CutLength(text, 5), 5u);
  EXPECT_EQ(Utf8CutLength(text, 7), 5u);
  EXPECT_EQ(Utf8CutLength("\xFF\xFF\xFF\xFF", 2), 2u);
}

}  // namespace
}  // namespace quelvane
