#include "Tokens.h"

#include <ctime>

#include "Crypto.h"

namespace varnelo::service {

void Tokens::ensureConsumer(const std::string& key, const std::string& secret) {
  StoreLock lock(store_);
  store_.db()
      .query(
          "INSERT INTO consumers(key, secret) VALUES(?1, ?2) "
          "ON CONFLICT(key) DO UPDATE SET secret = ?2")
      .bind(1, key)
      .bind(2, secret)
      .run();
  // Dropped while the Store's lock is still held: a lookup that read the
  // old secret before this write cannot put it back after it (it stores
  // its answer under the Store's lock too).
  secrets_.erase(key);
}

bool Tokens::consumerSecret(const std::string& key, std::string* secret) {
  const auto now = std::chrono::steady_clock::now();
  if (secrets_.find(key, now, secret)) return true;
  StoreLock lock(store_);
  Statement& st = store_.db().query("SELECT secret FROM consumers WHERE key = ?");
  st.bind(1, key);
  if (st.step() != SQLITE_ROW) return false;
  *secret = st.columnText(0);
  secrets_.put(key, *secret, now);
  return true;
}

TokenPair Tokens::issue(const std::string& consumer, TokenKind kind, int64_t user) {
  TokenPair pair{toHex(randomBytes(20)), toHex(randomBytes(20))};
  StoreLock lock(store_);
  store_.db()
      .query(
          "INSERT INTO tokens(token, secret, consumer, kind, user, created) "
          "VALUES(?, ?, ?, ?, ?, ?)")
      .bind(1, pair.token)
      .bind(2, pair.secret)
      .bind(3, consumer)
      .bind(4, static_cast<int64_t>(kind))
      .bind(5, user)
      .bind(6, static_cast<int64_t>(time(nullptr)))
      .run();
  return pair;
}

bool Tokens::lookup(const std::string& token, TokenInfo* out) {
  const auto now = std::chrono::steady_clock::now();
  if (tokens_.find(token, now, out)) return true;
  StoreLock lock(store_);
  Statement& st = store_.db().query(
      "SELECT secret, consumer, kind, user, verifier, created FROM tokens WHERE token = ?");
  st.bind(1, token);
  if (st.step() != SQLITE_ROW) return false;
  out->secret = st.columnText(0);
  out->consumer = st.columnText(1);
  out->kind = static_cast<TokenKind>(st.columnInt64(2));
  out->user = st.columnInt64(3);
  out->verifier = st.columnText(4);
  out->created = st.columnInt64(5);
  if (out->kind == TokenKind::kRequest) {
    return time(nullptr) - out->created <= kRequestTokenLifetimeSeconds;
  }
  tokens_.put(token, *out, now);
  return true;
}

bool Tokens::authorize(const std::string& requestToken, int64_t user, std::string* verifier) {
  std::string code = toHex(randomBytes(4));
  StoreLock lock(store_);
  Database& db = store_.db();
  db.query("UPDATE tokens SET user = ?, verifier = ? WHERE token = ? AND kind = ? AND created >= ?")
      .bind(1, user)
      .bind(2, code)
      .bind(3, requestToken)
      .bind(4, static_cast<int64_t>(TokenKind::kRequest))
      .bind(5, static_cast<int64_t>(time(nullptr)) - kRequestTokenLifetimeSeconds)
      .run();
  if (db.changes() == 0) return false;
  *verifier = code;
  return true;
}

bool Tokens::exchange(const std::string& requestToken, const std::string& verifier,
                      TokenPair* access) {
  TokenInfo info;
  if (!lookup(requestToken, &info) || info.kind != TokenKind::kRequest || info.user == 0 ||
      info.verifier.empty() || !constantTimeEqual(info.verifier, verifier)) {
    return false;
  }
  {
    StoreLock lock(store_);
    Database& db = store_.db();
    // The request token is single-use: whoever deletes it gets the access token.
    db.query("DELETE FROM tokens WHERE token = ? AND kind = ?")
        .bind(1, requestToken)
        .bind(2, static_cast<int64_t>(TokenKind::kRequest))
        .run();
    if (db.changes() == 0) return false;
  }
  *access = issue(info.consumer, TokenKind::kAccess, info.user);
  return true;
}

void Tokens::saveNonces(const std::unordered_map<std::string, int64_t>& nonces) {
  StoreLock lock(store_);
  Database& db = store_.db();
  Transaction tx(db);
  db.exec("DELETE FROM nonces");
  for (const auto& [key, time] : nonces) {
    db.query("INSERT OR REPLACE INTO nonces(key, time) VALUES(?, ?)")
        .bind(1, key)
        .bind(2, time)
        .run();
  }
  tx.commit();
}

std::unordered_map<std::string, int64_t> Tokens::loadNonces() {
  StoreLock lock(store_);
  Statement& st = store_.db().query("SELECT key, time FROM nonces");
  std::unordered_map<std::string, int64_t> out;
  while (st.step() == SQLITE_ROW) out.emplace(st.columnText(0), st.columnInt64(1));
  return out;
}

}  // namespace varnelo::service
