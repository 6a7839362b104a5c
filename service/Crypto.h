// Hashes, HMAC, random bytes and password hashing for the reference service,
// all on OpenSSL's libcrypto. Free functions are safe from any thread; a
// Sha1Stream belongs to one thread at a time.
#pragma once

#include <openssl/evp.h>

#include <memory>
#include <string>
#include <string_view>

namespace varnelo::service {

// Raw 20-byte SHA-1 digest.
std::string sha1(std::string_view data);
// Raw 20-byte HMAC-SHA1.
std::string hmacSha1(std::string_view key, std::string_view data);
// Bytes from the system's cryptographic random source.
std::string randomBytes(size_t count);
std::string toHex(std::string_view bytes);
// Lower-case hexadecimal; false on odd length or a non-hex character.
bool fromHex(std::string_view hex, std::string& out);
// Comparison whose time does not depend on where the texts differ.
bool constantTimeEqual(std::string_view a, std::string_view b);
// PBKDF2-HMAC-SHA256 of the password with the salt; 32 raw bytes.
std::string hashPassword(std::string_view password, std::string_view salt);

// Incremental SHA-1 for bodies that arrive in pieces.
class Sha1Stream {
 public:
  Sha1Stream();
  void update(const void* data, size_t size);
  // Raw 20-byte digest; the stream starts over afterwards.
  std::string finish();

 private:
  struct Free {
    void operator()(EVP_MD_CTX* ctx) const noexcept { EVP_MD_CTX_free(ctx); }
  };
  std::unique_ptr<EVP_MD_CTX, Free> ctx_;
};

}  // namespace varnelo::service
