#pragma once
// Names for files that go into the target directory: the plain name, and when that is taken,
// the name with the clash suffix before its extension, then numbered ones.

#include <string>
#include <string_view>

namespace quelvane {

// Put between a name's stem and its extension when the name is taken in the target.
inline constexpr std::string_view ClashSuffix = "（有重名的——Quelvane）";

// The extension with its dot, from the last "." of the last path component on
// ("archive.tar.gz" gives ".gz"); empty when that component has no ".".
std::string DotExtensionOf(std::string_view text);

// The last path component without its extension; empty when the text ends in "/".
std::string StemOf(std::string_view text);

// directory + "/" + name, with exactly one "/" between them (just the name for an empty
// directory).
std::string JoinPath(std::string_view directory, std::string_view name);

// target + "/" + stem + ClashSuffix + extension.
std::string ClashTargetName(std::string_view target, std::string_view name);

// The clash names in the order they are tried: number 1 is ClashTargetName, number n >= 2 is
// target + "/" + stem + ClashSuffix + "(n)" + extension.
std::string NumberedClashName(std::string_view target, std::string_view name, int number);

// True when the name can stand alone in a directory: not empty, no "/", not "." or "..".
bool IsPlainFileName(std::string_view name);

}  // namespace quelvane
