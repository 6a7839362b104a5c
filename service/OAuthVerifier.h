// Verifies OAuth 1.0 HMAC-SHA1 signatures of incoming requests from scratch:
// known consumer, a valid token of the required kind for that consumer, the
// signature over the RFC 5849 base string, a timestamp within +-600 s and a
// nonce not seen within that window. Called from every request thread; the
// nonce memory has its own lock.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "Tokens.h"
#include "UrlCodec.h"

namespace varnelo::service {

// What the verifier needs of one request.
struct SignedRequest {
  std::string method;                // "GET", "POST", "PUT"
  std::string scheme;                // "http" or "https"
  std::string host;                  // the Host header as sent
  std::string target;                // raw request target: path and query
  std::string authorization;         // the Authorization header, or empty
  std::vector<QueryParam> formBody;  // parameters of a form-encoded body
};

enum class TokenRequirement { kNone, kRequest, kAccess };

enum class OAuthResult {
  kOk,
  kMalformed,
  kUnknownConsumer,
  kUnknownToken,
  kBadSignature,
  kStaleTimestamp,
  kReplayedNonce
};

const char* oauthResultName(OAuthResult result);

struct Caller {
  std::string consumer;
  std::string token;
  TokenInfo tokenInfo;            // when a token was required
  std::vector<QueryParam> query;  // the decoded query of the target
};

class OAuthVerifier {
 public:
  static constexpr int64_t kWindowSeconds = 600;

  // clock returns Unix seconds; tests of the stale-timestamp path keep the
  // real one and sign with old times instead.
  explicit OAuthVerifier(Tokens& tokens, std::function<int64_t()> clock = nullptr);

  OAuthResult verify(const SignedRequest& request, TokenRequirement requirement, Caller* out);

  // Moves the remembered nonces to and from the store across a restart.
  void saveNonces();
  void loadNonces();

  // The base string of a request, exposed for tests of the signing helper.
  static std::string baseString(const std::string& method, const std::string& baseUrl,
                                std::vector<QueryParam> params);

 private:
  // A nonce is remembered by 16 bytes of the SHA-1 digest of consumer,
  // token and nonce, not by their text: a busy client sends hundreds of
  // thousands of requests within the window, and the text takes some four
  // times the room.
  using NonceKey = std::array<char, 16>;
  struct NonceHash {
    size_t operator()(const NonceKey& key) const noexcept {
      size_t h;
      std::memcpy(&h, key.data(), sizeof h);  // a digest is spread already
      return h;
    }
  };
  static NonceKey nonceKey(std::string_view text);
  bool rememberNonce(const NonceKey& key, int64_t timestamp, int64_t now);

  Tokens& tokens_;
  std::function<int64_t()> clock_;
  // Guards nonces_ and lastPrune_.
  std::mutex nonceMutex_;
  std::unordered_map<NonceKey, int64_t, NonceHash> nonces_;
  int64_t lastPrune_ = 0;
};

}  // namespace varnelo::service
