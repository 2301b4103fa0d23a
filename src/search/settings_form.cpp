#include "search/settings_form.h"

#include "platform/text.h"
#include "search/settings_file.h"

namespace quelvane {
namespace {

// Section and key of each form entry.
const std::string kSecExt = "文件后缀";
const std::string kSecType = "选择类型";
const std::string kSecCmp = "限制类型";
const std::string kSecSize = "限制大小";
const std::string kSecUnit = "限制单位";
const std::string kSecNames = "限制名称";
const std::string kSecSizeOn = "筛大小";
const std::string kSecNameOn = "筛名称";
const std::string kKeyOn = "是否";
// Written with a trailing blank; the INI layer ignores blanks at the ends of names, so the
// value is found again when read without it.
const std::string kNameModeWrite = "全局_单选名称项 ";
const std::string kNameModeRead = "全局_单选名称项";
const std::string kSizeFlag = "全局_筛大小 ";
const std::string kTrue = "真";
const std::string kFalse = "假";

}  // namespace

void ResetSettingsForm(SettingsForm& form) {
  form.文件类型 = "请选择内容";
  form.限制大小类型 = "请选择";
  form.单位 = "请选择单位";
  form.限制名称 = "关键词用英文逗号隔开。如：预览视频,样片";
  form.大小数值 = "填写整数";
  form.文件后缀 = kExtensionPrompt;
  form.是否筛选大小 = kFilterOff;
  form.是否限制名称 = kFilterOff;
}

void LoadSettingsForm(SettingsForm& form, FilterSettings& settings) {
  IniFile ini = LoadSettingsIni();
  form.文件后缀 = ini.Read(kSecExt, kSecExt);
  form.限制名称 = ini.Read(kSecNames, kSecNames);
  form.大小数值 = ini.Read(kSecSize, kSecSize);
  form.文件类型 = ini.Read(kSecType, kSecType);
  form.限制大小类型 = ini.Read(kSecCmp, kSecCmp);
  form.单位 = ini.Read(kSecUnit, kSecUnit);
  form.是否筛选大小 = ini.Read(kSecSizeOn, kKeyOn);
  form.是否限制名称 = ini.Read(kSecNameOn, kKeyOn);
  settings.NameModeNumber = TextToInteger(ini.Read(kNameModeRead, kNameModeRead));
  settings.SizeFilterFlag = ini.Read(kSizeFlag, kSizeFlag) == kTrue;
  if (form.文件后缀.empty() && form.限制名称.empty() && form.大小数值.empty()) {
    ResetSettingsForm(form);
  }
  settings.ExtensionList = form.文件后缀;
  settings.SizeFilterMode = form.是否筛选大小;
  settings.SizeValue = TextToInteger(form.大小数值);
  settings.SizeUnit = form.单位;
  settings.NameKeywords = form.限制名称;
  settings.NameFilterMode = form.是否限制名称;
}

bool ApplyFilterSettings(const SettingsForm& form, FilterSettings& settings, View& view) {
  if (form.文件后缀.empty() || form.文件后缀 == kExtensionPrompt) {
    view.ShowMessage(kMsgInfo, "请选择或填写文件类型!");
    return false;
  }
  int64_t name_mode = settings.NameModeNumber;
  settings = FilterSettings{};
  settings.NameModeNumber = name_mode;
  settings.ExtensionList = form.文件后缀;
  settings.SizeFilterMode = form.是否筛选大小;
  settings.SizeComparison = form.限制大小类型;
  settings.SizeValue = TextToInteger(form.大小数值);
  settings.SizeUnit = form.单位;
  settings.NameFilterMode = form.是否限制名称;
  settings.NameKeywords = form.限制名称;
  settings.ShowDuplicates = form.显示相同;
  if (form.是否限制名称 == kNameInclude) settings.NameModeNumber = 1;
  if (form.是否限制名称 == kNameSkip) settings.NameModeNumber = 2;
  settings.SizeFilterFlag = form.是否筛选大小 == kFilterOn;

  // The whole new file in one step: the eight form entries, then the two flags.
  RewriteSettings({
      {kSecExt, kSecExt, form.文件后缀},
      {kSecType, kSecType, form.文件类型},
      {kSecCmp, kSecCmp, form.限制大小类型},
      {kSecSize, kSecSize, form.大小数值},
      {kSecUnit, kSecUnit, form.单位},
      {kSecNames, kSecNames, form.限制名称},
      {kSecSizeOn, kKeyOn, form.是否筛选大小},
      {kSecNameOn, kKeyOn, form.是否限制名称},
      {kNameModeWrite, kNameModeWrite, ToDecimal(settings.NameModeNumber)},
      {kSizeFlag, kSizeFlag, settings.SizeFilterFlag ? kTrue : kFalse},
  });

  if (form.是否筛选大小 != kFilterOn) return true;
  if (form.限制大小类型 == kChoosePrompt) {
    view.ShowMessage(kMsgInfo, "您选择了筛选大小，但却未设置筛选大小参数，请选择下面参数！");
    return false;
  }
  if (form.大小数值 == "填写整数") {
    view.ShowMessage(kMsgInfo, "请填写筛选大小！");
    return false;
  }
  if (form.单位 == kUnitPrompt) {
    view.ShowMessage(kMsgInfo, "请选择单位！");
    return false;
  }
  return true;
}

void SelectSizeComparison(SettingsForm& form, FilterSettings& settings, const std::string& item) {
  form.限制大小类型 = item;
  settings.SizeComparison = item;
}

void SelectSizeUnit(SettingsForm& form, FilterSettings& settings, const std::string& item) {
  form.单位 = item;
  settings.SizeUnit = item;
}

}  // namespace quelvane
