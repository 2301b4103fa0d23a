#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// OpenSSL's context type, kept out of every includer.
struct evp_md_ctx_st;

namespace quelvane {

// The 16 bytes of an MD5 digest.
using Md5Digest = std::array<uint8_t, 16>;

// 32 lower-case hexadecimal characters, two per byte in order.
std::string DigestToText(const Md5Digest& digest);

// MD5 (RFC 1321) over OpenSSL's EVP interface. Copying a hasher copies its running state, so a
// digest of the bytes so far can be taken without ending the original.
class Md5Hasher {
 public:
  Md5Hasher();  // ready to take bytes, as after Init
  ~Md5Hasher();
  Md5Hasher(const Md5Hasher& other);
  Md5Hasher& operator=(const Md5Hasher& other);
  Md5Hasher(Md5Hasher&& other) noexcept;
  Md5Hasher& operator=(Md5Hasher&& other) noexcept;

  // Starts over with no bytes; the text becomes empty.
  void Init();
  void Update(const void* data, size_t length);
  void Update(std::string_view bytes) { Update(bytes.data(), bytes.size()); }
  // Ends the digest; Digest and Text hold it until the next Init.
  void Final();

  const Md5Digest& Digest() const { return m_digest; }
  // Empty until Final.
  const std::string& Text() const { return m_text; }

  // The digest text of one whole byte string.
  static std::string DigestOf(std::string_view bytes);

 private:
  evp_md_ctx_st* m_ctx = nullptr;
  Md5Digest m_digest{};
  std::string m_text;
};

}  // namespace quelvane
