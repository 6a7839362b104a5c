// OAuth consumers and tokens of the reference service: request tokens (with
// their verifier once a user authorised them in the browser) and access
// tokens. Called from the request threads; every operation takes the Store's
// lock.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

#include "Store.h"

namespace varnelo::service {

enum class TokenKind : int { kRequest = 1, kAccess = 2 };

struct TokenInfo {
  std::string secret;
  std::string consumer;
  TokenKind kind = TokenKind::kAccess;
  int64_t user = 0;
  std::string verifier;
  int64_t created = 0;
};

struct TokenPair {
  std::string token;
  std::string secret;
};

class Tokens {
 public:
  // Request tokens not exchanged within this time are refused.
  static constexpr int64_t kRequestTokenLifetimeSeconds = 3600;

  explicit Tokens(Store& store) : store_(store) {}

  // Creates the consumer or replaces its secret.
  void ensureConsumer(const std::string& key, const std::string& secret);
  bool consumerSecret(const std::string& key, std::string* secret);

  TokenPair issue(const std::string& consumer, TokenKind kind, int64_t user);
  // False for unknown and for expired request tokens.
  bool lookup(const std::string& token, TokenInfo* out);
  // Binds a request token to the user who signed in on the authorise page
  // and returns the verifier to show. False when the token is unknown.
  bool authorize(const std::string& requestToken, int64_t user, std::string* verifier);
  // Consumes an authorised request token for an access token of the same
  // consumer and user. False when the verifier does not match.
  bool exchange(const std::string& requestToken, const std::string& verifier, TokenPair* access);

  // Nonces seen recently, kept across a restart of the service (saved on a
  // clean stop, loaded on start) so a replay cannot slip through a restart.
  void saveNonces(const std::unordered_map<std::string, int64_t>& nonces);
  std::unordered_map<std::string, int64_t> loadNonces();

 private:
  Store& store_;
};

}  // namespace varnelo::service
