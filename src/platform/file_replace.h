#pragma once

#include <string>
#include <string_view>

namespace quelvane {

// Replaces the file at path with the given bytes in one step: writes a temporary file beside
// it (mode 0666 less the umask, or the mode of the file it replaces), flushes it and renames it
// over path. On failure the old file is untouched and the temporary file is gone.
// Returns 0 or the errno of the step that failed.
int ReplaceFileContents(const std::string& path, std::string_view bytes);

// Reads a whole file; false when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::string& out, size_t limit = 64u << 20);

// The process's current directory at this moment; empty when it cannot be had.
std::string CurrentDirectory();

// Removes a file; a missing file is not an error. Returns 0 or errno.
int RemoveFile(const std::string& path);

}  // namespace quelvane
