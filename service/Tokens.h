// OAuth consumers and tokens of the reference service: request tokens (with
// their verifier once a user authorised them in the browser) and access
// tokens. Called from the request threads; every operation takes the Store's
// lock (the consumer-secret cache has its own small lock).
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
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

  // How long a consumer's secret or an access token read from the database
  // is used without reading it again. A change made through this object
  // takes effect at once; one made by another process on the same database
  // (an `add-user` of another build beside a running service) within this
  // time.
  static constexpr std::chrono::milliseconds kConsumerSecretLife{2000};

  explicit Tokens(Store& store, std::chrono::milliseconds secretLife = kConsumerSecretLife)
      : store_(store),
        secrets_(secretLife, kMaxCachedConsumers),
        tokens_(secretLife, kMaxCachedTokens) {}

  // Creates the consumer or replaces its secret.
  void ensureConsumer(const std::string& key, const std::string& secret);
  // Every signed request asks this; a known consumer's secret is answered
  // from memory for a short while. An unknown key is never remembered.
  bool consumerSecret(const std::string& key, std::string* secret);

  TokenPair issue(const std::string& consumer, TokenKind kind, int64_t user);
  // False for unknown and for expired request tokens. An access token
  // never changes once issued, so every signed request's lookup is answered
  // from memory for a while, like a consumer's secret; request tokens are
  // always read (they are authorised and consumed).
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
  // Answers read from the database, each used for `life` after it was read;
  // past `bound` entries it empties itself instead of growing.
  template <class Value>
  class RecentAnswers {
   public:
    using Clock = std::chrono::steady_clock;
    RecentAnswers(std::chrono::milliseconds life, size_t bound) : life_(life), bound_(bound) {}
    bool find(const std::string& key, Clock::time_point now, Value* out) {
      std::lock_guard<std::mutex> lock(mutex_);
      auto it = entries_.find(key);
      if (it == entries_.end()) return false;
      if (now - it->second.readAt < life_) {
        *out = it->second.value;
        return true;
      }
      entries_.erase(it);
      return false;
    }
    void put(const std::string& key, const Value& value, Clock::time_point readAt) {
      std::lock_guard<std::mutex> lock(mutex_);
      if (entries_.size() >= bound_) entries_.clear();
      entries_[key] = Entry{value, readAt};
    }
    void erase(const std::string& key) {
      std::lock_guard<std::mutex> lock(mutex_);
      entries_.erase(key);
    }

   private:
    struct Entry {
      Value value;
      Clock::time_point readAt;
    };
    const std::chrono::milliseconds life_;
    const size_t bound_;
    std::mutex mutex_;  // guards entries_; never held while waiting for the Store's lock
    std::unordered_map<std::string, Entry> entries_;
  };

  // Known consumers are few (one per client build).
  static constexpr size_t kMaxCachedConsumers = 16;
  // Access tokens in use at once: one per signed-in client.
  static constexpr size_t kMaxCachedTokens = 1024;

  Store& store_;
  RecentAnswers<std::string> secrets_;  // consumer key → secret
  RecentAnswers<TokenInfo> tokens_;     // access token → what it stands for
};

}  // namespace varnelo::service
