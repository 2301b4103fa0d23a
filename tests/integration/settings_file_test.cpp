#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/file_replace.h"
#include "platform/ini_file.h"
#include "search/settings_file.h"
#include "search/settings_form.h"
#include "view/recording_view.h"

namespace quelvane {
namespace {

namespace fs = std::filesystem;

// Runs each test inside a fresh current directory.
class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/quelvane-settings-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    m_dir = tmpl;
    m_old = fs::current_path();
    fs::current_path(m_dir);
  }
  void TearDown() override {
    fs::current_path(m_old);
    fs::remove_all(m_dir);
  }
  std::string FileText() {
    std::string bytes;
    ReadWholeFile(m_dir + "/dataconfig.ini", bytes);
    return bytes;
  }
  void WriteFile(const std::string& bytes) {
    std::ofstream(m_dir + "/dataconfig.ini", std::ios::binary) << bytes;
  }
  std::string m_dir;
  fs::path m_old;
};

TEST(IniFile, ReadRules) {
  IniFile ini = IniFile::Parse(
      "\xEF\xBB\xBF[a]\nk=  v  \r\nk=second\n junk line\n[ b ]\r\n key =\"q\"\n[a]\nz=1\n");
  EXPECT_EQ(ini.Read("a", "k"), "  v  ");    // values exactly as written
  EXPECT_EQ(ini.Read("b", "key"), "\"q\"");  // names compared without end blanks
  EXPECT_EQ(ini.Read("a", "z"), "");         // first matching section only
  EXPECT_EQ(ini.Read("missing", "k"), "");
  EXPECT_EQ(ini.Read("a", "missing"), "");
}

TEST(IniFile, HostileInputIsHarmless) {
  std::string junk;
  for (int i = 0; i < 4096; ++i)
    junk.push_back(static_cast<char>((i * 7919) & 0xFF));
  IniFile::Parse(junk).Serialize();
  std::string big = "[s]\nk=" + std::string(1 << 20, 'x') + "\n";
  EXPECT_EQ(IniFile::Parse(big).Read("s", "k").size(), kIniValueLimit);
  // A cut never splits a character: 3-byte characters, 10239 = 3 * 3413.
  std::string wide = "[s]\nk=a";
  for (int i = 0; i < 5000; ++i)
    wide += "中";
  EXPECT_EQ(IniFile::Parse(wide).Read("s", "k").size(), 1 + 3 * 3412u);
  EXPECT_EQ(IniFile::Parse("[s]\nk=\xFF\xFE\n[").Read("s", "k"), "\xFF\xFE");
  EXPECT_EQ(IniFile::Parse("[\n=\n[]]\n==\n").Read("", ""), "");
}

TEST_F(SettingsFileTest, NameWithTrailingBlankIsWrittenExactlyAndFoundWithout) {
  WriteSetting("全局_单选名称项 ", "全局_单选名称项 ", "2");
  EXPECT_EQ(FileText(), "[全局_单选名称项 ]\r\n全局_单选名称项 =2\r\n");
  EXPECT_EQ(ReadSetting("全局_单选名称项", "全局_单选名称项"), "2");
}

TEST_F(SettingsFileTest, DirectoriesFirstRunAndExit) {
  Directories dirs = LoadDirectories();
  EXPECT_EQ(dirs.search, "");
  EXPECT_EQ(dirs.target, "");
  WriteFile(
      "[文件后缀]\r\n文件后缀=mp4\r\n[保存目录]\r\n保存目录=/out\r\n[载入目录]\n载入目录=/in\n");
  dirs = LoadDirectories();
  EXPECT_EQ(dirs.search, "/in");
  EXPECT_EQ(dirs.target, "/out");
  SaveDirectoriesAtExit({"/in/中文", ""});
  EXPECT_EQ(FileText(), "[载入目录]\r\n载入目录=/in/中文\r\n[保存目录]\r\n保存目录=\r\n");
}

TEST_F(SettingsFileTest, RewriteKeepsModeAndFailureKeepsOldFile) {
  WriteFile("[载入目录]\r\n载入目录=/keep\r\n");
  ASSERT_EQ(chmod((m_dir + "/dataconfig.ini").c_str(), 0600), 0);
  SaveDirectoriesAtExit({"/new", "/t"});
  struct stat st {};
  ASSERT_EQ(stat((m_dir + "/dataconfig.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // A rename onto a directory fails; the old content must survive and no temp file remain.
  fs::create_directory(m_dir + "/sub");
  fs::create_directory(m_dir + "/sub/inner");
  EXPECT_NE(ReplaceFileContents(m_dir + "/sub", "x"), 0);
  int entries = 0;
  for (auto& e : fs::directory_iterator(m_dir))
    entries += (void(e), 1);
  EXPECT_EQ(entries, 2);  // dataconfig.ini and sub
  EXPECT_NE(FileText().find("/new"), std::string::npos);
}

TEST_F(SettingsFileTest, LoadOnEmptyFileResetsForm) {
  SettingsForm form;
  FilterSettings settings;
  settings.SizeComparison = "大于";
  LoadSettingsForm(form, settings);
  EXPECT_EQ(form.文件类型, "请选择内容");
  EXPECT_EQ(settings.ExtensionList, "如需添加类型用,(半角逗号)隔开。");
  EXPECT_EQ(settings.SizeFilterMode, "不筛选");
  EXPECT_EQ(settings.SizeValue, 0);
  EXPECT_EQ(settings.SizeUnit, "请选择单位");
  EXPECT_EQ(settings.NameKeywords, "关键词用英文逗号隔开。如：预览视频,样片");
  EXPECT_EQ(settings.NameFilterMode, "不筛选");
  EXPECT_EQ(settings.SizeComparison, "大于");  // not taken from the form on opening
}

TEST_F(SettingsFileTest, LoadWithSomeEntriesDoesNotReset) {
  WriteFile(
      "[限制大小]\r\n限制大小=12.9MB\r\n[全局_单选名称项 ]\r\n全局_单选名称项 =2\r\n"
      "[全局_筛大小 ]\r\n全局_筛大小 =真\r\n");
  SettingsForm form;
  FilterSettings settings;
  LoadSettingsForm(form, settings);
  EXPECT_EQ(form.文件后缀, "");
  EXPECT_EQ(form.单位, "");
  EXPECT_EQ(settings.SizeValue, 12);
  EXPECT_EQ(settings.NameModeNumber, 2);
  EXPECT_TRUE(settings.SizeFilterFlag);
}

TEST_F(SettingsFileTest, ApplyChecksMessagesAndEntries) {
  struct Case {
    std::string ext, size_on, cmp, value, unit;
    bool closes;
    std::string message;  // empty: none
    bool writes;
  } cases[] = {
      {"", "不筛选", "请选择", "填写整数", "请选择单位", false, "请选择或填写文件类型!", false},
      {"如需添加类型用,(半角逗号)隔开。", "筛选", "大于", "1", "KB", false, "请选择或填写文件类型!",
       false},
      {"mp4", "不筛选", "请选择", "填写整数", "请选择单位", true, "", true},
      {"mp4", "筛选", "请选择", "1", "KB", false,
       "您选择了筛选大小，但却未设置筛选大小参数，请选择下面参数！", true},
      {"mp4", "筛选", "大于", "填写整数", "KB", false, "请填写筛选大小！", true},
      {"mp4", "筛选", "大于", "5", "请选择单位", false, "请选择单位！", true},
      {"mp4", "筛选", "大于", "5", "GB", true, "", true},
  };
  for (const auto& c : cases) {
    fs::remove(m_dir + "/dataconfig.ini");
    WriteFile("[载入目录]\r\n载入目录=/in\r\n");
    SettingsForm form;
    form.文件后缀 = c.ext;
    form.是否筛选大小 = c.size_on;
    form.限制大小类型 = c.cmp;
    form.大小数值 = c.value;
    form.单位 = c.unit;
    form.是否限制名称 = "跳过以下关键词";
    form.显示相同 = true;
    FilterSettings settings;
    settings.ExtensionList = "old";
    RecordingView view;
    EXPECT_EQ(ApplyFilterSettings(form, settings, view), c.closes) << c.message;
    if (c.message.empty()) {
      EXPECT_TRUE(view.log.empty());
    } else {
      EXPECT_EQ(view.log, std::vector<std::string>{"message|64|信息：|" + c.message});
    }
    if (!c.writes) {
      EXPECT_EQ(settings.ExtensionList, "old");
      EXPECT_EQ(FileText(), "[载入目录]\r\n载入目录=/in\r\n");
      continue;
    }
    EXPECT_EQ(settings.ExtensionList, c.ext);
    EXPECT_EQ(settings.SizeComparison, c.cmp);
    EXPECT_TRUE(settings.ShowDuplicates);
    EXPECT_EQ(settings.NameModeNumber, 2);
    EXPECT_EQ(
        FileText(),
        "[文件后缀]\r\n文件后缀=" + c.ext +
            "\r\n[选择类型]\r\n选择类型=请选择文件类型\r\n"
            "[限制类型]\r\n限制类型=" +
            c.cmp + "\r\n[限制大小]\r\n限制大小=" + c.value +
            "\r\n[限制单位]\r\n限制单位=" + c.unit +
            "\r\n[限制名称]\r\n限制名称="
            "多个关键词用英文逗号隔开。如：预览视频,样片\r\n[筛大小]\r\n是否=" +
            c.size_on +
            "\r\n[筛名称]\r\n是否=跳过以下关键词\r\n[全局_单选名称项 ]\r\n全局_单选名称项 =2\r\n"
            "[全局_筛大小 ]\r\n全局_筛大小 =" +
            (c.size_on == "筛选" ? "真" : "假") + "\r\n");
  }
}

TEST_F(SettingsFileTest, NameModeKeptWhenNotChosen) {
  SettingsForm form;
  form.文件后缀 = "mp3";
  FilterSettings settings;
  settings.NameModeNumber = 1;
  RecordingView view;
  EXPECT_TRUE(ApplyFilterSettings(form, settings, view));
  EXPECT_EQ(settings.NameModeNumber, 1);
  EXPECT_EQ(ReadSetting("全局_单选名称项", "全局_单选名称项"), "1");
  SelectSizeComparison(form, settings, "大于");
  SelectSizeUnit(form, settings, "MB");
  EXPECT_EQ(settings.SizeComparison, "大于");
  EXPECT_EQ(settings.SizeUnit, "MB");
  EXPECT_EQ(settings.SizeFilterMode, "不筛选");
}

}  // namespace
}  // namespace quelvane
