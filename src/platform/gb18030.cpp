#include "platform/gb18030.h"

#include <iconv.h>

namespace quelvane {

Gb18030Encoder::Gb18030Encoder() {
  iconv_t cd = iconv_open("GB18030", "UTF-8");
  m_handle = cd == reinterpret_cast<iconv_t>(-1) ? nullptr : cd;
}

Gb18030Encoder::~Gb18030Encoder() {
  if (m_handle) iconv_close(static_cast<iconv_t>(m_handle));
}

bool Gb18030Encoder::Encode(std::string_view text, std::string& out) {
  out.clear();
  bool ascii = true;
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) {
      ascii = false;
      break;
    }
  }
  // ASCII is the same in both encodings.
  if (ascii) {
    out.assign(text);
    return true;
  }
  if (!m_handle) return false;
  iconv_t cd = static_cast<iconv_t>(m_handle);
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  // GB18030 needs at most 4 bytes per character, and a UTF-8 character has at least 1 byte.
  out.resize(text.size() * 4 + 4);
  char* in = const_cast<char*>(text.data());
  size_t in_left = text.size();
  char* dst = out.data();
  size_t out_left = out.size();
  if (iconv(cd, &in, &in_left, &dst, &out_left) == static_cast<size_t>(-1) || in_left != 0) {
    out.clear();
    return false;
  }
  out.resize(out.size() - out_left);
  return true;
}

}  // namespace quelvane
