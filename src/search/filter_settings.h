#pragma once

#include <cstdint>
#include <string>

namespace quelvane {

// The active filters, held as the very texts the settings window shows.
struct FilterSettings {
  std::string ExtensionList;
  std::string SizeFilterMode;  // "筛选" or "不筛选"
  std::string SizeComparison;  // "小于", "等于", "大于" or the prompt "请选择"
  int64_t SizeValue = 0;
  std::string SizeUnit;        // "B", "KB", "MB", "GB" or the prompt "请选择单位"
  std::string NameFilterMode;  // "不筛选", "包含以下关键词", "跳过以下关键词"
  std::string NameKeywords;
  bool ShowDuplicates = false;
  int64_t NameModeNumber = 0;
  bool SizeFilterFlag = false;
};

// Texts the filter compares with.
inline const std::string kFilterOn = "筛选";
inline const std::string kFilterOff = "不筛选";
inline const std::string kSkipSmaller = "小于";
inline const std::string kSkipEqual = "等于";
inline const std::string kSkipLarger = "大于";
inline const std::string kChoosePrompt = "请选择";
inline const std::string kUnitPrompt = "请选择单位";
inline const std::string kNameInclude = "包含以下关键词";
inline const std::string kNameSkip = "跳过以下关键词";
inline const std::string kExtensionPrompt = "如需添加类型用,(半角逗号)隔开。";

}  // namespace quelvane
