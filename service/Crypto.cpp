#include "Crypto.h"

#include <openssl/crypto.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <stdexcept>

namespace varnelo::service {

std::string sha1(std::string_view data) {
  unsigned char digest[SHA_DIGEST_LENGTH];
  SHA1(reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest);
  return std::string(reinterpret_cast<char*>(digest), sizeof digest);
}

std::string hmacSha1(std::string_view key, std::string_view data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()),
       reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest, &length);
  return std::string(reinterpret_cast<char*>(digest), length);
}

std::string randomBytes(size_t count) {
  std::string out(count, '\0');
  if (RAND_bytes(reinterpret_cast<unsigned char*>(out.data()), static_cast<int>(count)) != 1) {
    // Without a random source no capability or token would be safe.
    throw std::runtime_error("RAND_bytes failed");
  }
  return out;
}

std::string toHex(std::string_view bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out.push_back(kDigits[c >> 4]);
    out.push_back(kDigits[c & 15]);
  }
  return out;
}

bool fromHex(std::string_view hex, std::string& out) {
  auto value = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  if (hex.size() % 2 != 0) return false;
  out.clear();
  for (size_t i = 0; i < hex.size(); i += 2) {
    int hi = value(hex[i]), lo = value(hex[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out.push_back(static_cast<char>(hi * 16 + lo));
  }
  return true;
}

bool constantTimeEqual(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

std::string hashPassword(std::string_view password, std::string_view salt) {
  unsigned char out[32];
  PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                    reinterpret_cast<const unsigned char*>(salt.data()),
                    static_cast<int>(salt.size()), 20000, EVP_sha256(), sizeof out, out);
  return std::string(reinterpret_cast<char*>(out), sizeof out);
}

Sha1Stream::Sha1Stream() : ctx_(EVP_MD_CTX_new()) {
  EVP_DigestInit_ex(ctx_.get(), EVP_sha1(), nullptr);
}

void Sha1Stream::update(const void* data, size_t size) {
  EVP_DigestUpdate(ctx_.get(), data, size);
}

std::string Sha1Stream::finish() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_DigestFinal_ex(ctx_.get(), digest, &length);
  EVP_DigestInit_ex(ctx_.get(), EVP_sha1(), nullptr);
  return std::string(reinterpret_cast<char*>(digest), length);
}

}  // namespace varnelo::service
