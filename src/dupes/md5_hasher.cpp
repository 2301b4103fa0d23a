#include "dupes/md5_hasher.h"

#include <openssl/evp.h>

#include <new>
#include <utility>

namespace quelvane {

namespace {

// Fetched once: an implicit fetch on every Init costs more than hashing a small file.
const EVP_MD* Md5Algorithm() {
  static EVP_MD* const md = EVP_MD_fetch(nullptr, "MD5", nullptr);
  return md != nullptr ? md : EVP_md5();
}

EVP_MD_CTX* NewContext() {
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  if (ctx == nullptr) throw std::bad_alloc();
  return ctx;
}

}  // namespace

std::string DigestToText(const Md5Digest& digest) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text(digest.size() * 2, '0');
  for (size_t i = 0; i < digest.size(); ++i) {
    text[2 * i] = kHex[digest[i] >> 4];
    text[2 * i + 1] = kHex[digest[i] & 0x0F];
  }
  return text;
}

Md5Hasher::Md5Hasher() : m_ctx(NewContext()) {
  Init();
}

Md5Hasher::~Md5Hasher() {
  EVP_MD_CTX_free(m_ctx);
}

Md5Hasher::Md5Hasher(const Md5Hasher& other)
    : m_ctx(NewContext()), m_digest(other.m_digest), m_text(other.m_text) {
  if (other.m_ctx == nullptr || EVP_MD_CTX_copy_ex(m_ctx, other.m_ctx) != 1) Init();
}

Md5Hasher& Md5Hasher::operator=(const Md5Hasher& other) {
  if (this != &other) {
    Md5Hasher copy(other);
    *this = std::move(copy);
  }
  return *this;
}

Md5Hasher::Md5Hasher(Md5Hasher&& other) noexcept
    : m_ctx(std::exchange(other.m_ctx, nullptr)),
      m_digest(other.m_digest),
      m_text(std::move(other.m_text)) {}

Md5Hasher& Md5Hasher::operator=(Md5Hasher&& other) noexcept {
  if (this != &other) {
    std::swap(m_ctx, other.m_ctx);
    m_digest = other.m_digest;
    m_text = std::move(other.m_text);
  }
  return *this;
}

void Md5Hasher::Init() {
  if (m_ctx == nullptr) m_ctx = NewContext();
  EVP_DigestInit_ex(m_ctx, Md5Algorithm(), nullptr);
  m_digest = {};
  m_text.clear();
}

void Md5Hasher::Update(const void* data, size_t length) {
  if (m_ctx == nullptr) Init();
  EVP_DigestUpdate(m_ctx, data, length);
}

void Md5Hasher::Final() {
  if (m_ctx == nullptr) Init();
  unsigned int length = 0;
  EVP_DigestFinal_ex(m_ctx, m_digest.data(), &length);
  m_text = DigestToText(m_digest);
}

std::string Md5Hasher::DigestOf(std::string_view bytes) {
  Md5Hasher hasher;
  hasher.Update(bytes);
  hasher.Final();
  return hasher.Text();
}

}  // namespace quelvane
