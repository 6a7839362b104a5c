// A throw-away Ed25519 publisher key for the host's tests: signs manifests
// the way the update service does and hands out its public half in the
// form the host trusts.
#pragma once

#include <openssl/evp.h>

#include <ctime>
#include <memory>
#include <string>

#include "UpdateManifest.h"

namespace varnelo::host::test {

class SigningKey {
 public:
  SigningKey() : key_(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519")) {}

  std::string publicBase64() const {
    unsigned char raw[32];
    size_t length = sizeof raw;
    EVP_PKEY_get_raw_public_key(key_.get(), raw, &length);
    return base64(raw, length);
  }

  std::string sign(const std::string& message) const {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    unsigned char signature[64];
    size_t length = sizeof signature;
    EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key_.get());
    EVP_DigestSign(ctx.get(), signature, &length,
                   reinterpret_cast<const unsigned char*>(message.data()), message.size());
    return base64(signature, length);
  }

  // Fills in the signature over the manifest's version, URL, digest, expiry
  // and sequence; a manifest without an expiry gets one a day ahead.
  void signManifest(UpdateManifest& m) const {
    if (m.expires == 0) m.expires = static_cast<int64_t>(time(nullptr)) + 86400;
    m.signature = sign(update_message(m.version, m.url, m.sha256, m.expires, m.sequence));
  }

  static std::string base64(const unsigned char* data, size_t length) {
    std::string out(4 * ((length + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), data,
                            static_cast<int>(length));
    out.resize(static_cast<size_t>(n));
    return out;
  }

  static std::string sha256Hex(const std::string& bytes) {
    unsigned char digest[32];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
      hex += kDigits[digest[i] >> 4];
      hex += kDigits[digest[i] & 15];
    }
    return hex;
  }

 private:
  struct Free {
    void operator()(EVP_PKEY* key) const noexcept { EVP_PKEY_free(key); }
  };
  std::unique_ptr<EVP_PKEY, Free> key_;
};

}  // namespace varnelo::host::test
