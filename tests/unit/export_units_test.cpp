// Pure pieces of the export: names, sheet split, cell texts, xlsx escapes, compound file layout.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "fileops/cfb_writer.h"
#include "fileops/export_command.h"
#include "fileops/workbook.h"
#include "fileops/xlsx_writer.h"

namespace quelvane {
namespace {

TEST(ExportName, KeptWhenItEndsInAWorkbookExtensionOtherwiseTheFilterIsAppended) {
  struct Case {
    std::string typed;
    int filter;
    std::string written;
  } cases[] = {
      {"/d/liste", 0, "/d/liste.xls"},           {"/d/liste", 1, "/d/liste.xlsx"},
      {"/d/liste.xls", 0, "/d/liste.xls"},  // not liste.xls.xls
      {"/d/liste.xls", 1, "/d/liste.xls"},       {"/d/liste.XLSX", 0, "/d/liste.XLSX"},
      {"/d/liste.Xls", 1, "/d/liste.Xls"},       {"/d/liste.txt", 1, "/d/liste.txt.xlsx"},
      {"/d/liste.xlsm", 0, "/d/liste.xlsm.xls"}, {"/d/列表", 7, "/d/列表.xls"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(WorkbookNameFor({c.typed, c.filter}), c.written) << c.typed;
  EXPECT_EQ(FormatOfName("a.XLS"), WorkbookFormat::Xls);
  EXPECT_EQ(FormatOfName("a.xLsX"), WorkbookFormat::Xlsx);
  EXPECT_EQ(FormatOfName("a.xls.bak"), WorkbookFormat::None);
  EXPECT_FALSE(IsWorkbookName("xls"));
}

TEST(ExportSheets, EachSheetHoldsOneRowFewerThanItsSizeForTheTitles) {
  EXPECT_EQ(SheetCountFor(0, kXlsSheetRows), 1u);
  EXPECT_EQ(SheetCountFor(65535, kXlsSheetRows), 1u);
  EXPECT_EQ(SheetCountFor(65536, kXlsSheetRows), 2u);
  EXPECT_EQ(SheetCountFor(70000, kXlsSheetRows), 2u);
  EXPECT_EQ(SheetCountFor(131071, kXlsSheetRows), 3u);
  EXPECT_EQ(SheetCountFor(1048575, kXlsxSheetRows), 1u);
  EXPECT_EQ(SheetCountFor(1048576, kXlsxSheetRows), 2u);
  EXPECT_EQ(SheetName(0), "Sheet1");
  EXPECT_EQ(SheetName(2), "Sheet3");
}

TEST(ExportCellText, InvalidBytesBecomeReplacementCharactersAndLongTextsAreCut) {
  std::string scratch;
  EXPECT_EQ(CellTextOf("abc", scratch), "abc");
  EXPECT_EQ(CellTextOf("a\xff"
                       "b",
                       scratch),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(CellTextOf("\xe4\xb8", scratch), "\xEF\xBF\xBD\xEF\xBF\xBD");
  // 32766 units and then a character of two units: the pair is not split.
  std::string text(32766, 'a');
  text += "😀";
  EXPECT_EQ(CellTextOf(text, scratch), std::string(32766, 'a'));
  std::string wide;
  for (int i = 0; i < 40000; ++i)
    wide += "长";
  std::u16string units;
  AppendUtf16(CellTextOf(wide, scratch), units);
  EXPECT_EQ(units.size(), kMaxCellUnits);
}

TEST(ExportXlsxEscape, TextsReadBackUnchangedAfterTheFormatsDecoding) {
  struct Case {
    std::string text, escaped;
  } cases[] = {
      {"plain 文本", "plain 文本"},
      {"_x0041_", "_x005F_x0041_"},
      {"a_X00e9_b", "a_x005F_X00e9_b"},
      {"_x0041", "_x005F_x0041"},  // the next character might be an escape
      {"_x12_", "_x12_"},
      {"_xZZZZ_", "_xZZZZ_"},
      {"a\x01z", "a_x0001_z"},
      {"tab\tline\nfeed", "tab\tline\nfeed"},
      {"cr\r", "cr_x000D_"},
      {std::string("\0", 1), "_x0000_"},
      {"_x0041\x01", "_x005F_x0041_x0001_"},
      {"\xef\xbf\xbe\xef\xbf\xbf", "_xFFFE__xFFFF_"},
      {"<&>", "<&>"},  // XML escaping is the library's
  };
  for (const auto& c : cases)
    EXPECT_EQ(EscapeXlsxText(c.text), c.escaped) << c.text;
  // Never longer than a cell holds, never cut inside an escape.
  std::string controls(10000, '\x01');
  std::string escaped = EscapeXlsxText(controls);
  EXPECT_EQ(escaped.size(), kMaxCellUnits / 7 * 7);
  EXPECT_EQ(escaped.substr(escaped.size() - 7), "_x0001_");
}

TEST(ExportCompoundFile, FatSectorsBeyondTheHeaderNeedDifatSectors) {
  CfbLayout small = PlanCompoundFile(100);
  EXPECT_EQ(small.stream_bytes, kCfbMiniStreamCutoff);  // padded out of the mini stream
  EXPECT_EQ(small.stream_sectors, 8u);
  EXPECT_EQ(small.fat_sectors, 1u);
  EXPECT_EQ(small.difat_sectors, 0u);
  EXPECT_EQ(small.file_size, 512u * (1 + 8 + 1 + 1));

  // 109 FAT sectors map 13952 sectors: the stream, the directory and the FAT itself.
  uint64_t largest = uint64_t{13952 - 1 - 109} * 512;
  EXPECT_EQ(PlanCompoundFile(largest).fat_sectors, 109u);
  EXPECT_EQ(PlanCompoundFile(largest).difat_sectors, 0u);
  CfbLayout over = PlanCompoundFile(largest + 1);
  EXPECT_EQ(over.fat_sectors, 110u);
  EXPECT_EQ(over.difat_sectors, 1u);
  // Each DIFAT sector names 127 more FAT sectors.
  CfbLayout big = PlanCompoundFile(uint64_t{300} * 128 * 512);
  EXPECT_EQ(big.difat_sectors, (big.fat_sectors - 109 + 126) / 127);
  EXPECT_GE(uint64_t{big.fat_sectors} * 128,
            uint64_t{big.stream_sectors} + 1 + big.fat_sectors + big.difat_sectors);
}

TEST(ExportCompoundFile, WritesTheStreamAfterTheHeaderAndRefusesAWrongLength) {
  std::vector<uint8_t> file;
  ByteSink sink = [&](const uint8_t* data, size_t size) {
    file.insert(file.end(), data, data + size);
    return 0;
  };
  std::vector<uint8_t> stream(5000, 0xAB);
  auto produce = [&](const ByteSink& out) { return out(stream.data(), stream.size()); };
  ASSERT_EQ(WriteCompoundFile(sink, {u"Workbook", stream.size(), {}}, produce), 0);
  EXPECT_EQ(file.size(), PlanCompoundFile(stream.size()).file_size);
  EXPECT_EQ(std::memcmp(file.data(), "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8), 0);
  EXPECT_EQ(std::memcmp(file.data() + 512, stream.data(), stream.size()), 0);

  file.clear();
  EXPECT_EQ(WriteCompoundFile(sink, {u"Workbook", stream.size() + 1, {}}, produce), EINVAL);
  ByteSink full = [](const uint8_t*, size_t) { return ENOSPC; };
  EXPECT_EQ(WriteCompoundFile(full, {u"Workbook", stream.size(), {}}, produce), ENOSPC);
  EXPECT_EQ(WriteCompoundFile(sink, {u"Workbook", kCfbMaxStreamSize + 1, {}}, produce), EFBIG);
}

TEST(ExportMessage, FailureTextIsTheCLocalesErrorText) {
  EXPECT_EQ(ExportFailureMessage(ENOENT), "导出失败：No such file or directory");
  EXPECT_EQ(ExportFailureMessage(ENOTDIR), "导出失败：Not a directory");
  EXPECT_EQ(ExportFailureMessage(ENOSPC), "导出失败：No space left on device");
}

}  // namespace
}  // namespace quelvane
