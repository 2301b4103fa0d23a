// Spinning-disk detection over a made-up /sys tree.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/block_device.h"

namespace quelvane {
namespace {

namespace fs = std::filesystem;

class BlockDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "quelvane-sys-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    m_root = pattern;
    fs::create_directories(m_root + "/dev/block");
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(m_root, ignored);
  }

  // A disk folder under devices/, its partitions inside it, and the dev/block links, laid out
  // as the kernel does.
  void Disk(const std::string& name, int major_number, const char* rotational, int partitions) {
    const std::string disk = m_root + "/devices/pci0/block/" + name;
    fs::create_directories(disk + "/queue");
    if (rotational != nullptr) std::ofstream(disk + "/queue/rotational") << rotational << "\n";
    Link(major_number, 0, "../../devices/pci0/block/" + name);
    for (int p = 1; p <= partitions; ++p) {
      const std::string part = name + std::to_string(p);
      fs::create_directories(disk + "/" + part);
      std::ofstream(disk + "/" + part + "/partition") << p << "\n";
      Link(major_number, p, "../../devices/pci0/block/" + name + "/" + part);
    }
  }
  void Link(int major_number, int minor_number, const std::string& target) {
    fs::create_symlink(target, m_root + std::string("/dev/block/") + std::to_string(major_number) +
                                   ":" + std::to_string(minor_number));
  }

  std::string m_root;
};

TEST_F(BlockDeviceTest, DiskAndPartitionTakeTheDisksQueueFlag) {
  Disk("sda", 8, "1", 2);
  Disk("nvme0n1", 259, "0", 1);
  Disk("vdb", 252, nullptr, 0);  // no flag at all
  EXPECT_TRUE(IsRotationalDeviceUnder(m_root, makedev(8, 0)));
  EXPECT_TRUE(IsRotationalDeviceUnder(m_root, makedev(8, 1)));
  EXPECT_TRUE(IsRotationalDeviceUnder(m_root, makedev(8, 2)));
  EXPECT_FALSE(IsRotationalDeviceUnder(m_root, makedev(259, 0)));
  EXPECT_FALSE(IsRotationalDeviceUnder(m_root, makedev(259, 1)));
  EXPECT_FALSE(IsRotationalDeviceUnder(m_root, makedev(252, 0)));
  // Not a block device at all (a virtual file system's anonymous device), or unknown.
  EXPECT_FALSE(IsRotationalDeviceUnder(m_root, makedev(0, 45)));
  EXPECT_FALSE(IsRotationalDeviceUnder(m_root + "/missing", makedev(8, 1)));
}

TEST_F(BlockDeviceTest, TheRealSystemAnswersForTheTempFolder) {
  struct stat st {};
  ASSERT_EQ(::stat(m_root.c_str(), &st), 0);
  // Whatever the disk is, the question is answered without failing; /proc is virtual.
  (void)IsRotationalDevice(st.st_dev);
  ASSERT_EQ(::stat("/proc/self", &st), 0);
  EXPECT_FALSE(IsRotationalDevice(st.st_dev));
}

}  // namespace
}  // namespace quelvane
