#pragma once

#include <string>

#include "search/filter_settings.h"
#include "view/view.h"

namespace quelvane {

// The nine values of the filter settings window, as the window shows them.
struct SettingsForm {
  std::string 文件类型 = "请选择文件类型";
  std::string 文件后缀 = "如需添加类型用,(半角逗号)隔开。";
  std::string 是否筛选大小 = "不筛选";
  std::string 限制大小类型 = "请选择";
  std::string 大小数值 = "填写整数";
  std::string 单位 = "请选择单位";
  std::string 是否限制名称 = "不筛选";
  std::string 限制名称 = "多个关键词用英文逗号隔开。如：预览视频,样片";
  bool 显示相同 = false;
};

// Fills the form from the settings file when the window opens, and takes six fields over into
// the settings.
void LoadSettingsForm(SettingsForm& form, FilterSettings& settings);
// Puts the prompt texts back (texts only).
void ResetSettingsForm(SettingsForm& form);
// The apply button. Returns true when the window is to close; false when a message was shown
// and the window stays open.
bool ApplyFilterSettings(const SettingsForm& form, FilterSettings& settings, View& view);
// Selecting an item of the comparison or unit box takes it over at once.
void SelectSizeComparison(SettingsForm& form, FilterSettings& settings, const std::string& item);
void SelectSizeUnit(SettingsForm& form, FilterSettings& settings, const std::string& item);

}  // namespace quelvane
