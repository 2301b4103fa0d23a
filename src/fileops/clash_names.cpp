#include "fileops/clash_names.h"

#include "platform/text.h"

namespace quelvane {

namespace {

// '/' and '.' are ASCII, so in UTF-8 (and in any byte string where they are never the trail of
// a multibyte character) searching for them never splits a character.
std::string_view LastComponent(std::string_view text) {
  size_t slash = text.rfind('/');
  return slash == std::string_view::npos ? text : text.substr(slash + 1);
}

}  // namespace

std::string DotExtensionOf(std::string_view text) {
  std::string_view component = LastComponent(text);
  size_t dot = component.rfind('.');
  return dot == std::string_view::npos ? std::string() : std::string(component.substr(dot));
}

std::string StemOf(std::string_view text) {
  std::string_view component = LastComponent(text);
  return std::string(component.substr(0, component.size() - DotExtensionOf(component).size()));
}

std::string JoinPath(std::string_view directory, std::string_view name) {
  std::string path(directory);
  if (!path.empty() && path.back() != '/') path += '/';
  path += name;
  return path;
}

std::string ClashTargetName(std::string_view target, std::string_view name) {
  return NumberedClashName(target, name, 1);
}

std::string NumberedClashName(std::string_view target, std::string_view name, int number) {
  std::string clash = StemOf(name);
  clash += ClashSuffix;
  if (number >= 2) {
    clash += '(';
    clash += ToDecimal(number);
    clash += ')';
  }
  clash += DotExtensionOf(name);
  return JoinPath(target, clash);
}

bool IsPlainFileName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

}  // namespace quelvane
