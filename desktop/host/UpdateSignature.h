// Is an update authentic? The publisher signs the manifest's version, URL
// and installer digest with its Ed25519 key; the host trusts the public key
// built in (VARNELO_UPDATE_PUBLIC_KEY) and, beside it, the one in the file
// named by VARNELO_UPDATE_KEY (how a test or a private service adds its
// own). All checks run on OpenSSL's libcrypto. Thread safe.
//
//   TrustedKeys keys = TrustedKeys::from_build_and_environment();
//   if (auto why = verify_manifest(manifest, keys)) log(*why);           // refused
//   if (auto why = verify_installer(path, manifest.sha256)) log(*why);   // refused
#pragma once

#include <openssl/evp.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "UpdateManifest.h"

namespace varnelo::host {

class TrustedKeys {
 public:
  // Adds a key given as base64 of its raw 32 bytes (surrounding white space
  // allowed); false when it is not one.
  bool add(std::string_view base64);
  static TrustedKeys from_build_and_environment();
  bool empty() const { return keys_.empty(); }
  const std::vector<std::string>& raw() const { return keys_; }

 private:
  std::vector<std::string> keys_;  // raw 32-byte public keys
};

// Nothing when the manifest carries a digest, an expiry and a signature by
// one of the keys over update_message(...); otherwise the reason. Does not
// look at the clock: see check_fresh.
std::optional<std::string> verify_manifest(const UpdateManifest& manifest, const TrustedKeys& keys);

// Nothing when an authentic manifest is still current: it has not expired
// at `now` (Unix seconds) and its sequence is not below `lastSequence`, the
// highest this host accepted before (a replayed older manifest is lower).
std::optional<std::string> check_fresh(const UpdateManifest& manifest, int64_t now,
                                       int64_t lastSequence);

// Nothing when the file's SHA-256 is `sha256` (lower-case hex); otherwise
// the reason.
std::optional<std::string> verify_installer(const std::string& path, std::string_view sha256);

// SHA-256 over bytes that arrive in pieces (a download as it streams).
class Sha256Stream {
 public:
  Sha256Stream();
  void update(const void* data, size_t size);
  // Lower-case hex; call once.
  std::string finish_hex();

 private:
  struct Free {
    void operator()(EVP_MD_CTX* ctx) const noexcept { EVP_MD_CTX_free(ctx); }
  };
  std::unique_ptr<EVP_MD_CTX, Free> ctx_;
};

// Strict base64 (standard alphabet, padding required); nothing on anything else.
std::optional<std::string> base64_decode(std::string_view text);

}  // namespace varnelo::host
