#pragma once

#include <string>
#include <string_view>

namespace quelvane {

// Converts UTF-8 texts to GB18030 bytes, whose byte order is the character-code order of the
// Chinese system code page. One converter serves many texts; not thread-safe.
class Gb18030Encoder {
 public:
  Gb18030Encoder();
  ~Gb18030Encoder();
  Gb18030Encoder(const Gb18030Encoder&) = delete;
  Gb18030Encoder& operator=(const Gb18030Encoder&) = delete;

  // Writes the encoding of text into out; false when the text cannot be converted (it is not
  // valid UTF-8, or no converter exists on this system).
  bool Encode(std::string_view text, std::string& out);

 private:
  void* m_handle;  // iconv_t
};

}  // namespace quelvane
