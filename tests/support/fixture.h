#pragma once
// Small helpers the tests share: a temporary folder, whole-file reads and writes, seeded bytes
// and the system's md5sum as an independent reference.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace quelvane::testing {

// A fresh folder under base, removed with everything in it at the end.
class TempDir {
 public:
  explicit TempDir(const std::string& base = "/tmp") {
    std::string pattern = base + "/quelvane-test-XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) m_path = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!m_path.empty()) std::filesystem::remove_all(m_path, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  bool ok() const { return !m_path.empty(); }
  const std::string& path() const { return m_path; }
  std::string operator/(const std::string& name) const { return m_path + "/" + name; }

 private:
  std::string m_path;
};

// Writes bytes to path, making the folders above it.
inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// True when the name exists, links included.
inline bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

// Bytes that differ from file to file and from place to place.
inline std::string Content(uint64_t length, uint32_t seed) {
  std::string bytes(length, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (auto& b : bytes) {
    x = x * 1664525u + 1013904223u;
    b = static_cast<char>(x >> 24);
  }
  return bytes;
}

// The digest as the system's md5sum prints it.
inline std::string Md5sumOf(const std::string& path) {
  const std::string command = "md5sum '" + path + "'";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return "";
  char line[64] = {};
  const size_t n = fread(line, 1, 32, pipe);
  pclose(pipe);
  return std::string(line, n);
}

}  // namespace quelvane::testing
