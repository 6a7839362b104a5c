#include "Accounts.h"

#include <ctime>

#include "Crypto.h"
#include "Log.h"
#include "TextCase.h"

namespace varnelo::service {

bool Accounts::validProvider(const std::string& provider) {
  return provider == "native" || provider == "kuv";
}

bool Accounts::validState(const std::string& state) {
  return state == "active" || state == "inactive" || state == "unbound";
}

bool Accounts::readUser(Statement& st, User* out) {
  if (st.step() != SQLITE_ROW) return false;
  if (out) {
    out->id = st.columnInt64(0);
    out->name = st.columnText(1);
    out->provider = st.columnText(2);
    out->email = st.columnText(3);
    out->state = st.columnText(4);
    out->quota = st.columnInt64(5);
    out->used = st.columnInt64(6);
  }
  return true;
}

bool Accounts::upsertUser(const std::string& name, const std::string& password,
                          const std::string& provider, const std::string& state, int64_t quota,
                          User* out) {
  if (name.empty() || !validProvider(provider) || !validState(state) || quota < 0) return false;
  std::string salt = randomBytes(16);
  std::string hash = hashPassword(password, salt);
  std::string email = name.find('@') != std::string::npos ? name : name + "@users.varnelo.local";
  StoreLock lock(store_);
  Database& db = store_.db();
  Statement& upsert = db.query(
      "INSERT INTO users(name, name_key, provider, email, salt, password, state, quota) "
      "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8) ON CONFLICT(provider, name_key) DO UPDATE SET "
      "salt = ?5, password = ?6, state = ?7, quota = ?8");
  upsert.bind(1, name).bind(2, foldCase(name)).bind(3, provider).bind(4, email);
  upsert.bindBlob(5, salt).bindBlob(6, hash).bind(7, state).bind(8, quota);
  if (!upsert.run()) return false;
  Statement& st = db.query(
      "SELECT id, name, provider, email, state, quota, used FROM users "
      "WHERE provider = ? AND name_key = ?");
  st.bind(1, provider).bind(2, foldCase(name));
  return readUser(st, out);
}

SignInResult Accounts::signIn(const std::string& name, const std::string& password,
                              const std::string& provider, User* out) {
  if (provider == "smart") {
    SignInResult r = signIn(name, password, "native", out);
    return r == SignInResult::kUnknown ? signIn(name, password, "kuv", out) : r;
  }
  if (!validProvider(provider)) return SignInResult::kUnknown;
  std::string salt, hash;
  User user;
  {
    StoreLock lock(store_);
    Statement& st = store_.db().query(
        "SELECT id, name, provider, email, state, quota, used, salt, password FROM users "
        "WHERE provider = ?1 AND (name_key = ?2 OR lower(email) = ?2) ORDER BY name_key = ?2 DESC");
    st.bind(1, provider).bind(2, foldCase(name));
    if (!readUser(st, &user)) return SignInResult::kUnknown;
    salt = st.columnBlob(7);
    hash = st.columnBlob(8);
  }
  // Hashing is slow on purpose; it runs without the store's lock.
  if (!constantTimeEqual(hashPassword(password, salt), hash)) return SignInResult::kWrongPassword;
  if (out) *out = user;
  if (user.state == "inactive") return SignInResult::kInactive;
  if (user.state == "unbound") return SignInResult::kUnbound;
  return SignInResult::kOk;
}

bool Accounts::findUser(int64_t id, User* out) {
  StoreLock lock(store_);
  Statement& st = store_.db().query(
      "SELECT id, name, provider, email, state, quota, used FROM users WHERE id = ?");
  st.bind(1, id);
  return readUser(st, out);
}

bool Accounts::findUserByName(const std::string& name, User* out) {
  StoreLock lock(store_);
  Statement& st = store_.db().query(
      "SELECT id, name, provider, email, state, quota, used FROM users WHERE name_key = ? "
      "ORDER BY provider = 'native' DESC");
  st.bind(1, foldCase(name));
  return readUser(st, out);
}

bool Accounts::setQuota(const std::string& name, int64_t quota) {
  if (quota < 0) return false;
  StoreLock lock(store_);
  Database& db = store_.db();
  db.query("UPDATE users SET quota = ? WHERE name_key = ?")
      .bind(1, quota)
      .bind(2, foldCase(name))
      .run();
  return db.changes() > 0;
}

void Accounts::setDevice(int64_t user, const std::string& devId, const std::string& devName) {
  StoreLock lock(store_);
  store_.db()
      .query(
          "INSERT INTO devices(user, dev_id, dev_name) VALUES(?1, ?2, ?3) "
          "ON CONFLICT(user, dev_id) DO UPDATE SET dev_name = ?3")
      .bind(1, user)
      .bind(2, devId)
      .bind(3, devName)
      .run();
}

bool Accounts::unlinkDevice(int64_t user, const std::string& devId) {
  StoreLock lock(store_);
  Database& db = store_.db();
  db.query("DELETE FROM devices WHERE user = ? AND dev_id = ?").bind(1, user).bind(2, devId).run();
  return db.changes() > 0;
}

std::vector<std::pair<std::string, std::string>> Accounts::listDevices(int64_t user) {
  StoreLock lock(store_);
  Statement& st =
      store_.db().query("SELECT dev_id, dev_name FROM devices WHERE user = ? ORDER BY rowid");
  st.bind(1, user);
  std::vector<std::pair<std::string, std::string>> out;
  while (st.step() == SQLITE_ROW) out.emplace_back(st.columnText(0), st.columnText(1));
  return out;
}

bool Accounts::storeLog(const std::string& remote, const std::string& body) {
  StoreLock lock(store_);
  return store_.db()
      .query("INSERT INTO log_uploads(time, remote, body) VALUES(?, ?, ?)")
      .bind(1, static_cast<int64_t>(time(nullptr)))
      .bind(2, remote)
      .bindBlob(3, body)
      .run();
}

std::vector<LogUpload> Accounts::logs() {
  StoreLock lock(store_);
  Statement& st = store_.db().query("SELECT id, time, remote, body FROM log_uploads ORDER BY id");
  std::vector<LogUpload> out;
  while (st.step() == SQLITE_ROW)
    out.push_back({st.columnInt64(0), st.columnInt64(1), st.columnText(2), st.columnBlob(3)});
  return out;
}

}  // namespace varnelo::service
