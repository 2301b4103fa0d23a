#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "../support/fixture.h"
#include "../support/run_process.h"

namespace quelvane {
namespace {

namespace fs = std::filesystem;
using namespace quelvane::testing;

const std::string kCli = QUELVANE_CLI_PATH;

class CliFindTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(m_tmp.ok()); }
  void Write(const std::string& rel, const std::string& bytes) { WriteFile(m_tmp / rel, bytes); }
  TempDir m_tmp;
  std::string m_dir = m_tmp.path();
};

TEST(CliUsage, ErrorsExitTwoWithOneLine) {
  const std::vector<std::vector<std::string>> cases = {
      {"/tmp"},
      {"--ext", "mp4", "--skip-size", "gt", "/tmp"},
      {"--ext", "mp4", "--size", "3", "--unit", "KB", "/tmp"},
      {"--ext", "mp4", "--skip-size", "gt", "--size", "x", "--unit", "KB", "/tmp"},
      {"--ext", "mp4", "--name", "include", "/tmp"},
      {"--preset", "music", "/tmp"},
      {"--ext", "mp4", "--format", "xml", "/tmp"},
      {"--ext", "mp4", "--unit", "TB", "/tmp"},
      {"--ext", "mp4", "--delete-dupes", "--yes", "/tmp"},
      {"--ext", "mp4", "--copy-to", "/a", "--move-to", "/b", "/tmp"},
      {"--ext", "mp4", "--export", "list.csv", "/tmp"},
      {"--ext", "mp4", "--delete-checked", "/tmp"},  // stdin is not a terminal, no --yes
      {"--ext", "mp4", "--bogus", "/tmp"},
      {"--ext", "mp4"},
  };
  for (const auto& args : cases) {
    auto r = RunProcess(kCli, args);
    std::string joined;
    for (const auto& a : args)
      joined += a + " ";
    EXPECT_EQ(r.status, 2) << joined;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << joined << r.err;
    EXPECT_TRUE(r.out.empty()) << joined;
  }
}

TEST(CliUsage, VersionAndHelp) {
  auto version = RunProcess(kCli, {"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "quelvane-cli 1.0\n");
  auto help = RunProcess(kCli, {"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* option :
       {"--ext",          "--preset",   "--skip-size", "--size",    "--unit",
        "--name",         "--keywords", "--format",    "--output",  "--quiet",
        "--dupes",        "--threads",  "--copy-to",   "--move-to", "--delete-checked",
        "--delete-dupes", "--dry-run",  "--yes",       "--export",  "--version"}) {
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  }
}

TEST_F(CliFindTest, RefusedFindExitsTwo) {
  auto r = RunProcess(kCli, {"--ext", "mp4", m_dir + "/missing"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "查找目录不存在！\n");
  EXPECT_TRUE(r.out.empty());
}

TEST_F(CliFindTest, FixtureTreeListsExactlyTheRegularFiles) {
  Write("song.mp3", "abc");
  Write("SONG2.MP3", "");
  Write(".hidden.mp3", "h");
  Write("sub/deep/x.mp3", std::string(1536, 'x'));
  Write("sub/not.txt", "t");
  Write(std::string("bad\xff\xfe.mp3"), "b");
  Write("tab\tname.mp3", "t");
  fs::create_directory_symlink(m_dir, m_dir + "/sub/loop");
  fs::create_symlink(m_dir + "/song.mp3", m_dir + "/link.mp3");
  ASSERT_EQ(mkfifo((m_dir + "/pipe.mp3").c_str(), 0600), 0);

  auto r = RunProcess(kCli, {"--ext", "mp3", "--quiet", m_dir});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "查找完成，共找到6项文件。\n");
  std::vector<std::string> lines;
  std::stringstream ss(r.out);
  for (std::string line; std::getline(ss, line);)
    lines.push_back(line);
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[0], "序号\t名称\t路径\t大小\t创建时间\t修改时间\t是否存在重复\tmd5");
  auto cell = [&](int line, int column) {
    std::vector<std::string> cells;
    std::stringstream ls(lines[line]);
    for (std::string c; std::getline(ls, c, '\t');)
      cells.push_back(c);
    return column < static_cast<int>(cells.size()) ? cells[column] : std::string();
  };
  // Byte order of names within a directory, files before subdirectories.
  const std::string names[] = {".hidden.mp3", "SONG2.MP3",      std::string("bad\xff\xfe.mp3"),
                               "song.mp3",    "tab\\tname.mp3", "x.mp3"};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(cell(i + 1, 0), std::to_string(i + 1));
    EXPECT_EQ(cell(i + 1, 1), names[i]);
  }
  EXPECT_EQ(cell(6, 2), m_dir + "/sub/deep/x.mp3");
  EXPECT_EQ(cell(6, 3), "1.50 KB");
  EXPECT_EQ(cell(2, 3), "0");
  EXPECT_EQ(cell(4, 5).size(), 19u);  // yyyy-MM-dd HH:mm:ss
}

TEST_F(CliFindTest, JsonKeepsExactBytesThroughSurrogateEscapes) {
  const std::string odd = std::string("caf\xe9 \"q\" \\ 中.mp4");
  Write(odd, "12345");
  std::string out = m_dir + "/list.json";
  auto r = RunProcess(kCli, {"-e", "mp4", "-q", "-f", "json", "-o", out, m_dir});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string script =
      "import json,sys\n"
      "d=json.load(open(sys.argv[1],encoding='utf-8'))\n"
      "row=d['rows'][0]\n"
      "assert "
      "list(row)==['seq','name','path','size','bytes','created','modified','dup_state','md5']\n"
      "assert row['bytes']==5 and row['size']=='5 B' and row['seq']=='1'\n"
      "sys.stdout.buffer.write(row['name'].encode('utf-8','surrogateescape'))\n"
      "assert d['summary']=='查找完成，共找到1项文件。'\n";
  std::ofstream(m_dir + "/check.py") << script;
  auto py = RunProcess("/usr/bin/python3", {m_dir + "/check.py", out});
  EXPECT_EQ(py.status, 0) << py.err;
  EXPECT_EQ(py.out, odd);
}

TEST_F(CliFindTest, FiltersFromOptions) {
  Write("small.mp4", std::string(1000, 'a'));
  Write("exact.mp4", std::string(1024, 'a'));
  Write("big.mp4", std::string(2000, 'a'));
  Write("预览视频.mp4", "p");
  Write("clip.avi", "v");
  struct Case {
    std::vector<std::string> args;
    std::string expected;  // names, in list order, joined by ","
  } cases[] = {
      {{"--ext", "mp4", "--skip-size", "gt", "--size", "1", "--unit", "KB"},
       "exact.mp4,small.mp4,预览视频.mp4"},
      {{"--ext", "mp4", "--skip-size", "eq", "--size", "1", "--unit", "KB"},
       "big.mp4,small.mp4,预览视频.mp4"},
      {{"--ext", "mp4", "--skip-size", "lt", "--size", "1", "--unit", "KB"}, "big.mp4,exact.mp4"},
      {{"--ext", "mp4", "--name", "skip", "--keywords", "预览视频,样片"},
       "big.mp4,exact.mp4,small.mp4"},
      {{"--ext", "mp4", "--name", "include", "--keywords", "预览"}, "预览视频.mp4"},
      {{"--preset", "video"}, "big.mp4,clip.avi,exact.mp4,small.mp4,预览视频.mp4"},
      {{"--preset", "mp3", "--ext", "AVI"}, "clip.avi"},
      {{"--ext", "mp4, .AVI"}, "big.mp4,clip.avi,exact.mp4,small.mp4,预览视频.mp4"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"-q", m_dir});
    auto r = RunProcess(kCli, args);
    ASSERT_EQ(r.status, 0) << r.err;
    std::stringstream ss(r.out);
    std::string line, names;
    std::getline(ss, line);
    while (std::getline(ss, line)) {
      size_t a = line.find('\t'), b = line.find('\t', a + 1);
      names += (names.empty() ? "" : ",") + line.substr(a + 1, b - a - 1);
    }
    EXPECT_EQ(names, c.expected) << c.args[0] << " " << c.args.back();
  }
}

}  // namespace
}  // namespace quelvane
