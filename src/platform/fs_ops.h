#pragma once
// The file-system work of copy, move, delete and compare. Every call here refuses to replace an
// existing file and reports its outcome as a value: 0 for success or the errno of the failing
// step. Paths are the exact bytes the file system gave; nothing is converted.

#include <cerrno>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/file_facts.h"

namespace quelvane {

struct FsResult {
  int error = 0;  // 0 when the operation was done; an errno value otherwise
  bool ok() const { return error == 0; }
};

// One file that an operation could not handle, and why.
struct PathError {
  std::string path;
  int error = 0;
};

// Errors of our own making, beside the system's.
inline constexpr int kErrNotRegular = EINVAL;   // the path does not name a regular file
inline constexpr int kErrNotExpected = ESTALE;  // a different file than the one expected

// True when the name is present: a file, a directory, anything else, or a symbolic link
// (dangling or not), since any of them keeps the name from being used.
bool PathExists(const std::string& path);

// True when the path leads to a directory (symbolic links followed).
bool IsDirectory(const std::string& path);

struct FileStatus {
  bool regular = false;
  FileIdentity identity;
  uint64_t bytes = 0;
};
// lstat: what the name itself is, without following a symbolic link; nullopt when absent.
std::optional<FileStatus> StatNoFollow(const std::string& path);

// How the data of a copy travels. Kernel tries copy_file_range and falls back on its own;
// the later ones exist so that each way can be exercised.
enum class DataPath { Kernel, SendFile, ReadWrite };

// Copies a regular file to a name that must not exist yet. The source is opened without
// following a symbolic link; the destination is created exclusively, gets the source's
// modification time and permission bits, and is removed again if any step fails.
// EEXIST: the destination name is taken (nothing was written).
FsResult CopyFileNoReplace(const std::string& source, const std::string& destination,
                           DataPath first = DataPath::Kernel);

// Moves a regular file to a name that must not exist yet: a rename that cannot replace, or
// across file systems a copy flushed to disk and checked before the source is removed. Either
// the file ends up at the destination and nowhere else, or the source stays as it was.
// EEXIST: the destination name is taken.
FsResult MoveFileNoReplace(const std::string& source, const std::string& destination);

// Removes the file only when the name still denotes a regular file with the expected identity
// (and, when given, the expected byte count); otherwise nothing is removed (kErrNotRegular,
// kErrNotExpected, or the lstat error). The byte count guards against an inode number that the
// file system handed on to a new file after the old one was deleted.
FsResult DeleteFileVerified(const std::string& path, FileIdentity expected,
                            std::optional<uint64_t> expected_bytes = std::nullopt);

enum class Comparison {
  Equal,      // both are what was expected and hold the same bytes
  Different,  // both are what was expected, but sizes or bytes differ
  Unverified  // a file is missing, not regular, not the expected one, or both are one file
};
// Opens both without following symbolic links, checks each against its expected identity and
// that they are two distinct files, then compares them byte for byte.
Comparison CompareFilesVerified(const std::string& a, FileIdentity a_identity, const std::string& b,
                                FileIdentity b_identity);

}  // namespace quelvane
