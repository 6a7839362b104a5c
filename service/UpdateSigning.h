// The publisher's Ed25519 key that signs the update manifest, kept in the
// data folder: update-key.pem (PKCS#8, 0600) and update-key.pub (one line,
// base64 of the raw 32-byte public key, the form the client's build setting
// and VARNELO_UPDATE_KEY take). Created once, on the first start of either
// command. After load() the object is read-only and safe from any thread.
//
//   UpdateSigning signing;
//   if (!signing.load(dataDir)) return 1;
//   std::string signature = signing.sign(updateMessage(version, url, sha256));
#pragma once

#include <openssl/evp.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace varnelo::service {

class UpdateSigning {
 public:
  // Reads the key pair, creating it when update-key.pem is missing. False on
  // failure (logged).
  bool load(const std::string& dataDir);
  // Raw 64-byte signature; empty before load() or on failure.
  std::string sign(std::string_view message) const;
  // Base64 of the raw public key.
  const std::string& publicKey() const { return publicKey_; }

 private:
  struct Free {
    void operator()(EVP_PKEY* key) const noexcept { EVP_PKEY_free(key); }
  };
  std::unique_ptr<EVP_PKEY, Free> key_;
  std::string publicKey_;
};

// The text the signature covers. The client builds the same bytes from the
// manifest's members; a member holding a line break can never be signed, so
// no two manifests share a message.
std::string updateMessage(std::string_view version, std::string_view url, std::string_view sha256);

// The text of the second signature, which also covers when the manifest
// stops being valid (Unix seconds) and its publication's sequence number.
// Clients that know it check it (and refuse expired or replayed manifests);
// older ones go on checking the first.
std::string updateMessage2(std::string_view version, std::string_view url, std::string_view sha256,
                           int64_t expires, int64_t sequence);

// Lower-case hexadecimal SHA-256 of the bytes.
std::string sha256Hex(std::string_view bytes);

}  // namespace varnelo::service
