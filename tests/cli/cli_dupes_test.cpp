#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "../support/fixture.h"
#include "../support/run_process.h"

namespace quelvane {
namespace {

namespace fs = std::filesystem;
using namespace quelvane::testing;

const std::string kCli = QUELVANE_CLI_PATH;

class CliDupesTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(m_tmp.ok()); }
  void Write(const std::string& rel, const std::string& bytes) { WriteFile(m_tmp / rel, bytes); }
  TempDir m_tmp;
  std::string m_dir = m_tmp.path();
};

TEST_F(CliDupesTest, JsonGroupsMatchMd5sum) {
  std::string big(300000, '\0');
  for (size_t i = 0; i < big.size(); ++i)
    big[i] = static_cast<char>(i * 131 % 251);
  Write("a/one.jpg", big);
  Write("b/two.jpg", big);
  std::string other = big;
  other.back() ^= 1;
  Write("c/other.jpg", other);  // same size and prefix, another last byte
  Write("e1.jpg", "");
  Write("e2.jpg", "");
  fs::create_hard_link(m_dir + "/e1.jpg", m_dir + "/e3.jpg");
  std::string json_path = m_dir + "/out.json";
  auto r = RunProcess(
      kCli, {"--dupes", "-j", "2", "-e", "jpg", "-q", "-f", "json", "-o", json_path, m_dir});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "查找完成，共找到6项文件。其中发现重复文件：2组。\n");
  std::string script = R"PY(
import json, subprocess, sys
d = json.load(open(sys.argv[1], encoding='utf-8'))
groups = d['groups']
assert [g['label'] for g in groups] == ['重复文件第1组', '重复文件第2组'], groups
by_label = {}
for row in d['rows']:
    by_label.setdefault(row['dup_state'], []).append(row)
for g in groups:
    rows = by_label[g['label']]
    assert [r['path'] for r in rows] == g['paths']
    for p in g['paths']:
        md5 = subprocess.run(['md5sum', p], capture_output=True, text=True).stdout.split()[0]
        assert md5 == g['md5'], (p, md5, g['md5'])
sizes = sorted(g['bytes'] for g in groups)
assert sizes == [0, 300000], sizes
empty = [g for g in groups if g['bytes'] == 0][0]
assert empty['md5'] == 'd41d8cd98f00b204e9800998ecf8427e'
assert len(empty['paths']) == 2  # the hard link is one file, not a duplicate
assert [r['seq'] for r in d['rows']] == [str(i) for i in range(1, 7)]
none = [r for r in d['rows'] if r['dup_state'] == '无']
assert sorted(r['name'] for r in none) == ['e3.jpg', 'other.jpg'], none
)PY";
  std::ofstream(m_dir + "/check.py") << script;
  auto py = RunProcess("/usr/bin/python3", {m_dir + "/check.py", json_path});
  EXPECT_EQ(py.status, 0) << py.err;
}

TEST_F(CliDupesTest, NoCandidatesMessage) {
  Write("a.mp3", "1");
  Write("b.mp3", "22");
  auto r = RunProcess(kCli, {"-d", "-e", "mp3", "-q", m_dir});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "查找完成，共找到2项文件。没有发现重复文件。\n");
  EXPECT_NE(r.out.find("\t无\t\n"), std::string::npos);
}

TEST_F(CliDupesTest, DeleteDupesKeepsTheFirstOfEachGroup) {
  Write("a/keep.txt", "same bytes");
  Write("b/dup.txt", "same bytes");
  Write("c/dup2.txt", "same bytes");
  auto dry = RunProcess(kCli, {"-d", "-e", "txt", "-q", "--delete-dupes", "--dry-run", m_dir});
  EXPECT_EQ(dry.status, 0) << dry.err;
  EXPECT_NE(dry.err.find("delete\t" + m_dir + "/b/dup.txt\t" + m_dir + "/a/keep.txt\n"),
            std::string::npos)
      << dry.err;
  auto r = RunProcess(kCli, {"-d", "-e", "txt", "-q", "--delete-dupes", "-y", m_dir});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("删除成功！"), std::string::npos) << r.err;
  EXPECT_TRUE(fs::exists(m_dir + "/a/keep.txt"));
  EXPECT_FALSE(fs::exists(m_dir + "/b/dup.txt"));
  EXPECT_FALSE(fs::exists(m_dir + "/c/dup2.txt"));
}

}  // namespace
}  // namespace quelvane
