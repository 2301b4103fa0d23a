// Makes the two benchmark trees of the duplicate pass, the same bytes on every run.
//   dupes_tree_gen small DIR   100,000 files of 0-64 KiB in 2,000 folders; 20 % are copies
//                              of 2,000 originals (10 copies each)
//   dupes_tree_gen big DIR     60 files of 1-24 MiB and one copy of each in another folder
// A tree that is already complete (the marker DIR.complete beside it exists) is left alone.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr uint64_t kKiB = 1024;
constexpr uint64_t kMiB = 1024 * kKiB;
const char* const kExtensions[] = {"mp4", "jpg", "txt", "doc", "mp3"};

uint64_t Mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

// The content of file number `seed`: its length and its bytes follow from the seed alone.
void Fill(std::vector<char>& bytes, uint64_t length, uint64_t seed) {
  bytes.resize(length);
  uint64_t state = Mix(seed);
  for (uint64_t at = 0; at < length; at += 8) {
    state = Mix(state);
    std::memcpy(bytes.data() + at, &state, std::min<uint64_t>(8, length - at));
  }
}

bool WriteFile(const std::string& path, const std::vector<char>& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) {
      ::close(fd);
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return ::close(fd) == 0;
}

bool MakeDir(const std::string& path) {
  return ::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
}

std::string Padded(uint64_t n, int width) {
  std::string s = std::to_string(n);
  return std::string(s.size() < static_cast<size_t>(width) ? width - s.size() : 0, '0') + s;
}

bool MakeSmall(const std::string& root) {
  constexpr uint64_t kFiles = 100000, kFolders = 2000, kPerFolder = kFiles / kFolders;
  std::vector<char> bytes;
  uint64_t copies = 0;
  for (uint64_t i = 0; i < kFiles; ++i) {
    const uint64_t folder = i / kPerFolder;
    const std::string dir = root + "/d" + Padded(folder / 50, 2) + "/f" + Padded(folder, 4);
    if (i % kPerFolder == 0 && (!MakeDir(root + "/d" + Padded(folder / 50, 2)) || !MakeDir(dir))) {
      return false;
    }
    // One file in five is a copy, spread over the extensions; originals are the second file of
    // each folder, which is never a copy.
    const bool copy = (i / 5) % 5 == i % 5;
    uint64_t seed = i;
    if (copy) seed = 1 + 50 * ((copies++ * 7) % kFolders);  // each original gets ten copies
    Fill(bytes, Mix(seed ^ 0x5157) % (64 * kKiB + 1), seed);
    const std::string path = dir + "/file" + Padded(i, 6) + "." + kExtensions[i % 5];
    if (!WriteFile(path, bytes)) return false;
  }
  return true;
}

bool MakeBig(const std::string& root) {
  if (!MakeDir(root + "/originals") || !MakeDir(root + "/copies")) return false;
  std::vector<char> bytes;
  for (uint64_t i = 0; i < 60; ++i) {
    Fill(bytes, 1 * kMiB + Mix(i ^ 0xB16) % (23 * kMiB + 1), 1000000 + i);
    const std::string name = "/movie" + Padded(i, 2) + ".mp4";
    if (!WriteFile(root + "/originals" + name, bytes)) return false;
    if (!WriteFile(root + "/copies" + name, bytes)) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || (std::strcmp(argv[1], "small") != 0 && std::strcmp(argv[1], "big") != 0)) {
    std::fprintf(stderr, "usage: dupes_tree_gen small|big DIR\n");
    return 2;
  }
  const std::string root = argv[2];
  const std::string marker = root + ".complete";
  if (::access(marker.c_str(), F_OK) == 0) return 0;
  if (!MakeDir(root)) {
    std::perror(root.c_str());
    return 1;
  }
  const bool ok = std::strcmp(argv[1], "small") == 0 ? MakeSmall(root) : MakeBig(root);
  if (!ok || !WriteFile(marker, {})) {
    std::perror("writing the tree");
    return 1;
  }
  return 0;
}
