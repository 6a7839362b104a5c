#include "Tree.h"

#include <algorithm>
#include <ctime>
#include <map>
#include <set>

#include "Crypto.h"
#include "Log.h"
#include "TextCase.h"

namespace varnelo::service {
namespace {

int64_t now() {
  return static_cast<int64_t>(time(nullptr));
}

// A version only has to differ from every other one the service gave out:
// a random prefix drawn once per thread (so per run as well) and a count.
// Drawing 16 random bytes for each of the many versions a commit makes (the
// entry and every folder above it) cost more than the rest of the update.
std::string newVersion() {
  thread_local const std::string prefix = randomBytes(8);
  thread_local uint64_t count = 0;
  std::string version = prefix;
  ++count;
  for (int shift = 56; shift >= 0; shift -= 8) {
    version.push_back(static_cast<char>((count >> shift) & 0xff));
  }
  return version;
}

void readEntry(const Statement& st, Entry* e) {
  e->id = st.columnInt64(0);
  e->parent = st.columnInt64(1);
  e->name = st.columnText(2);
  e->type = static_cast<int>(st.columnInt64(3));
  e->ver = st.columnBlob(4);
  e->size = st.columnInt64(5);
  e->chunkSize = st.columnInt64(6);
  e->keys = st.columnBlob(7);
  e->editTime = st.columnText(8);
  e->mime = st.columnText(9);
}

// Helpers below run inside the caller's StoreLock and transaction.
class Ops {
 public:
  Ops(Database& db, int64_t account) : db_(db), account_(account) {}

  int64_t home() {
    Statement& st =
        db_.query("SELECT id FROM entries WHERE account = ? AND parent = 0 AND trashed = 0");
    st.bind(1, account_);
    if (st.step() == SQLITE_ROW) return st.columnInt64(0);
    db_.query(
           "INSERT INTO entries(account, parent, name, name_key, type, ver) "
           "VALUES(?, 0, 'home', 'home', 2, ?)")
        .bind(1, account_)
        .bindBlob(2, newVersion())
        .run();
    return db_.lastInsertId();
  }

  bool byId(int64_t id, Entry* out) {
    Statement& st = db_.query(
        "SELECT id, parent, name, type, ver, size, chunk_size, keys, edit_time, mime "
        "FROM entries WHERE id = ?");
    st.bind(1, id);
    if (st.step() != SQLITE_ROW) return false;
    readEntry(st, out);
    return true;
  }

  bool child(int64_t parent, const std::string& name, Entry* out) {
    Statement& st = db_.query(
        "SELECT id, parent, name, type, ver, size, chunk_size, keys, edit_time, mime FROM "
        "entries WHERE account = ? AND parent = ? AND name_key = ? AND trashed = 0");
    st.bind(1, account_).bind(2, parent).bind(3, foldCase(name));
    if (st.step() != SQLITE_ROW) return false;
    readEntry(st, out);
    return true;
  }

  // Walks the components; kNotFound when one is missing or a file stands
  // where a folder is needed. `walked`, when given, gets the folders passed
  // through: walked[i] is the folder parts[i] names.
  Status resolve(const std::vector<std::string>& parts, Entry* out,
                 std::vector<Entry>* walked = nullptr) {
    if (walked) walked->clear();
    if (!byId(home(), out)) return kServerError;
    out->path = out->name;
    for (size_t i = 1; i < parts.size(); ++i) {
      if (out->type != kTypeFolder) return kNotFound;
      if (walked) walked->push_back(*out);
      std::string prefix = out->path;
      if (!child(out->id, parts[i], out)) return kNotFound;
      out->path = prefix + "/" + out->name;
    }
    return kOk;
  }

  // Finds or creates the folders of parts[0..count); kConflict when a file
  // is in the way. The folder's display path goes to *path. `walked` is what
  // resolve() of the same parts passed through in this transaction, with
  // nothing changed since: those folders are not looked up again.
  Status ensureFolders(const std::vector<std::string>& parts, size_t count,
                       const std::string& editTime, Entry* folder,
                       const std::vector<Entry>* walked = nullptr) {
    size_t known = walked ? std::min(walked->size(), count) : 0;
    if (known > 0) {
      *folder = (*walked)[known - 1];
    } else {
      if (!byId(home(), folder)) return kServerError;
      folder->path = folder->name;
      known = 1;
    }
    for (size_t i = known; i < count; ++i) {
      std::string prefix = folder->path;
      Entry next;
      if (child(folder->id, parts[i], &next)) {
        if (next.type != kTypeFolder) return kConflict;
      } else {
        next = insert(folder->id, parts[i], kTypeFolder, editTime);
      }
      *folder = next;
      folder->path = prefix + "/" + next.name;
    }
    return kOk;
  }

  Entry insert(int64_t parent, const std::string& name, int type, const std::string& editTime) {
    Entry e;
    e.parent = parent;
    e.name = name;
    e.type = type;
    e.ver = newVersion();
    e.editTime = editTime;
    db_.query(
           "INSERT INTO entries(account, parent, name, name_key, type, ver, edit_time) "
           "VALUES(?, ?, ?, ?, ?, ?, ?)")
        .bind(1, account_)
        .bind(2, parent)
        .bind(3, name)
        .bind(4, foldCase(name))
        .bind(5, static_cast<int64_t>(type))
        .bindBlob(6, e.ver)
        .bind(7, editTime)
        .run();
    e.id = db_.lastInsertId();
    return e;
  }

  // Gives the entry and every folder above it a new version, in one
  // statement (a file five folders down renews six rows). UNION, not
  // UNION ALL: a chain that ever looped would end, not hang.
  void touch(int64_t id) {
    db_.query(
           "WITH RECURSIVE chain(id) AS (SELECT ?1 UNION "
           "SELECT e.parent FROM entries e JOIN chain ON e.id = chain.id WHERE e.parent != 0) "
           "UPDATE entries SET ver = randomblob(16) WHERE id IN chain")
        .bind(1, id)
        .run();
  }

  bool isBelow(int64_t id, int64_t ancestor) {
    while (id != 0) {
      if (id == ancestor) return true;
      Statement& st = db_.query("SELECT parent FROM entries WHERE id = ?");
      st.bind(1, id);
      id = st.step() == SQLITE_ROW ? st.columnInt64(0) : 0;
    }
    return false;
  }

  int64_t subtreeBytes(int64_t id) {
    Statement& st = db_.query(
        "WITH RECURSIVE t(id) AS (SELECT ?1 UNION ALL SELECT e.id FROM entries e JOIN t ON "
        "e.parent = t.id WHERE e.trashed = 0) "
        "SELECT coalesce(sum(size), 0) FROM entries WHERE type = 1 AND id IN t");
    st.bind(1, id);
    return st.step() == SQLITE_ROW ? st.columnInt64(0) : 0;
  }

  void deleteSubtree(int64_t id) {
    db_.query(
           "WITH RECURSIVE t(id) AS (SELECT ?1 UNION ALL SELECT e.id FROM entries e JOIN t ON "
           "e.parent = t.id) DELETE FROM entries WHERE id IN t")
        .bind(1, id)
        .run();
  }

  void addUsed(int64_t delta) {
    db_.query("UPDATE users SET used = max(0, used + ?) WHERE id = ?")
        .bind(1, delta)
        .bind(2, account_)
        .run();
  }

  bool quotaAllows(int64_t delta) {
    Statement& st = db_.query("SELECT used, quota FROM users WHERE id = ?");
    st.bind(1, account_);
    if (st.step() != SQLITE_ROW) return false;
    return delta <= 0 || st.columnInt64(0) + delta <= st.columnInt64(1);
  }

  int64_t childCount(int64_t id) {
    Statement& st = db_.query("SELECT count(*) FROM entries WHERE parent = ? AND trashed = 0");
    st.bind(1, id);
    return st.step() == SQLITE_ROW ? st.columnInt64(0) : 0;
  }

  bool holds(const std::string& key) {
    Statement& st = db_.query("SELECT 1 FROM account_chunks WHERE account = ? AND key = ?");
    st.bind(1, account_).bindBlob(2, key);
    return st.step() == SQLITE_ROW;
  }

  // Copies src (and what is below it) under parent with the given name.
  void copyTree(const Entry& src, int64_t parent, const std::string& name) {
    Entry e = insert(parent, name, src.type, src.editTime);
    db_.query("UPDATE entries SET size = ?, chunk_size = ?, keys = ?, mime = ? WHERE id = ?")
        .bind(1, src.size)
        .bind(2, src.chunkSize)
        .bindBlob(3, src.keys)
        .bind(4, src.mime)
        .bind(5, e.id)
        .run();
    if (src.type != kTypeFolder) return;
    std::vector<Entry> kids;
    Statement& st = db_.query(
        "SELECT id, parent, name, type, ver, size, chunk_size, keys, edit_time, mime FROM "
        "entries WHERE parent = ? AND trashed = 0");
    st.bind(1, src.id);
    while (st.step() == SQLITE_ROW) {
      kids.emplace_back();
      readEntry(st, &kids.back());
    }
    for (const Entry& kid : kids) copyTree(kid, e.id, kid.name);
  }

 private:
  Database& db_;
  int64_t account_;
};

std::string joinPath(const std::vector<std::string>& parts) {
  std::string out;
  for (const auto& p : parts) out += (out.empty() ? "" : "/") + p;
  return out;
}

}  // namespace

Status Tree::parsePath(const std::string& path, std::vector<std::string>* parts) {
  parts->clear();
  std::string_view rest(path);
  if (!rest.empty() && rest.front() == '/') rest.remove_prefix(1);
  if (rest.find('\0') != std::string_view::npos) return kBadRequest;
  size_t start = 0;
  while (true) {
    size_t end = rest.find('/', start);
    std::string_view part =
        rest.substr(start, end == std::string_view::npos ? rest.npos : end - start);
    if (part.empty() || part == "." || part == ".." || part.size() > 255) return kBadRequest;
    parts->emplace_back(part);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  if (foldCase((*parts)[0]) != "home") return kBadRequest;
  return kOk;
}

bool Tree::validChunkSize(int64_t chunkSize) {
  // 64 KiB to 64 MiB: what the descriptor can say and a request body may hold.
  for (int n = 0; n <= 10; ++n) {
    if (chunkSize == (int64_t{1} << (n + 16))) return true;
  }
  return false;
}

Status Tree::get(int64_t account, const std::string& path, bool list, Entry* out,
                 std::vector<Entry>* children, int64_t keysUpTo) {
  std::vector<std::string> parts;
  if (Status s = parsePath(path, &parts); s != kOk) return s;
  StoreLock lock(store_);
  Database& db = store_.db();
  Ops ops(db, account);
  if (Status s = ops.resolve(parts, out); s != kOk) return s;
  if (out->type == kTypeFolder) out->fileCount = ops.childCount(out->id);
  if (!list || out->type != kTypeFolder) return kOk;
  Statement& st = db.query(
      "SELECT id, parent, name, type, ver, size, chunk_size, "
      "CASE WHEN type = 1 AND size BETWEEN 1 AND ?3 THEN keys ELSE x'' END, edit_time, mime, "
      "(SELECT count(*) FROM entries c WHERE c.parent = e.id AND c.trashed = 0) "
      "FROM entries e WHERE account = ?1 AND parent = ?2 AND trashed = 0 ORDER BY name_key");
  st.bind(1, account).bind(2, out->id).bind(3, keysUpTo);
  while (st.step() == SQLITE_ROW) {
    children->emplace_back();
    Entry& kid = children->back();
    readEntry(st, &kid);
    kid.fileCount = kid.type == kTypeFolder ? st.columnInt64(10) : 0;
    kid.path = out->path + "/" + kid.name;
  }
  return kOk;
}

Status Tree::mkdir(int64_t account, const std::string& path, const std::string& editTime,
                   Entry* out) {
  std::vector<std::string> parts;
  if (Status s = parsePath(path, &parts); s != kOk) return s;
  StoreLock lock(store_);
  Database& db = store_.db();
  Transaction tx(db);
  Ops ops(db, account);
  Entry parent;
  if (Status s = ops.ensureFolders(parts, parts.size() - 1, editTime, &parent); s != kOk) return s;
  if (parts.size() == 1 || ops.child(parent.id, parts.back(), out)) return kConflict;
  *out = ops.insert(parent.id, parts.back(), kTypeFolder, editTime);
  out->path = parent.path + "/" + out->name;
  ops.touch(out->id);
  ops.byId(out->id, out);
  out->path = parent.path + "/" + out->name;
  return published(account, tx.commit()) ? kOk : kServerError;
}

Status Tree::move(int64_t account, const std::string& from, const std::string& to) {
  std::vector<std::string> src, dst;
  if (Status s = parsePath(from, &src); s != kOk) return s;
  if (Status s = parsePath(to, &dst); s != kOk) return s;
  if (src.size() == 1 || dst.size() == 1) return kBadRequest;
  StoreLock lock(store_);
  Database& db = store_.db();
  Transaction tx(db);
  Ops ops(db, account);
  Entry entry;
  if (Status s = ops.resolve(src, &entry); s != kOk) return s;
  Entry parent;
  if (Status s = ops.ensureFolders(dst, dst.size() - 1, entry.editTime, &parent); s != kOk)
    return s;
  if (ops.isBelow(parent.id, entry.id)) return kBadRequest;  // into itself
  Entry existing;
  // A change of letter case only finds the entry itself under the new name.
  if (ops.child(parent.id, dst.back(), &existing) && existing.id != entry.id) return kConflict;
  int64_t oldParent = entry.parent;
  db.query("UPDATE entries SET parent = ?, name = ?, name_key = ? WHERE id = ?")
      .bind(1, parent.id)
      .bind(2, dst.back())
      .bind(3, foldCase(dst.back()))
      .bind(4, entry.id)
      .run();
  ops.touch(oldParent);
  ops.touch(entry.id);
  return published(account, tx.commit()) ? kOk : kServerError;
}

Status Tree::copy(int64_t account, const std::string& from, const std::string& to) {
  std::vector<std::string> src, dst;
  if (Status s = parsePath(from, &src); s != kOk) return s;
  if (Status s = parsePath(to, &dst); s != kOk) return s;
  if (dst.size() == 1) return kBadRequest;
  StoreLock lock(store_);
  Database& db = store_.db();
  Transaction tx(db);
  Ops ops(db, account);
  Entry entry;
  if (Status s = ops.resolve(src, &entry); s != kOk) return s;
  if (src.size() == 1) return kBadRequest;
  Entry parent;
  if (Status s = ops.ensureFolders(dst, dst.size() - 1, entry.editTime, &parent); s != kOk)
    return s;
  if (ops.isBelow(parent.id, entry.id)) return kBadRequest;
  Entry existing;
  if (ops.child(parent.id, dst.back(), &existing)) return kConflict;
  int64_t bytes = ops.subtreeBytes(entry.id);
  if (!ops.quotaAllows(bytes)) return kQuotaExceeded;
  ops.copyTree(entry, parent.id, dst.back());
  ops.addUsed(bytes);
  ops.touch(parent.id);
  return published(account, tx.commit()) ? kOk : kServerError;
}

Status Tree::remove(int64_t account, const std::string& path) {
  std::vector<std::string> parts;
  if (Status s = parsePath(path, &parts); s != kOk) return s;
  if (parts.size() == 1) return kBadRequest;
  StoreLock lock(store_);
  Database& db = store_.db();
  Transaction tx(db);
  Ops ops(db, account);
  Entry entry;
  if (Status s = ops.resolve(parts, &entry); s != kOk) return s;
  int64_t bytes = ops.subtreeBytes(entry.id);
  // The trash sequence orders deletions of the same path: newest first.
  Statement& seq = db.query("SELECT coalesce(max(trashed), 0) + 1 FROM entries WHERE account = ?");
  seq.bind(1, account);
  int64_t next = seq.step() == SQLITE_ROW ? seq.columnInt64(0) : 1;
  db.query("UPDATE entries SET trashed = ?, trash_path = ?, trash_key = ? WHERE id = ?")
      .bind(1, next)
      .bind(2, entry.path)
      .bind(3, foldCase(entry.path))
      .bind(4, entry.id)
      .run();
  ops.addUsed(-bytes);
  ops.touch(entry.parent);
  return published(account, tx.commit()) ? kOk : kServerError;
}

namespace {
struct Trashed {
  int64_t id = 0;
  std::string path;
  std::string key;
};

// Top entries in the trash at or below the path; the newest per path only
// when onlyNewest is set, shallow paths first.
std::vector<Trashed> trashedBelow(Database& db, int64_t account, const std::string& pathKey,
                                  bool onlyNewest) {
  Statement& st = db.query(
      "SELECT id, trash_path, trash_key FROM entries WHERE account = ?1 AND trashed <> 0 AND "
      "(trash_key = ?2 OR substr(trash_key, 1, length(?2) + 1) = ?2 || '/') "
      "ORDER BY length(trash_key), trash_key, trashed DESC");
  st.bind(1, account).bind(2, pathKey);
  std::vector<Trashed> out;
  std::set<std::string> seen;
  while (st.step() == SQLITE_ROW) {
    Trashed t{st.columnInt64(0), st.columnText(1), st.columnText(2)};
    if (onlyNewest && !seen.insert(t.key).second) continue;
    out.push_back(std::move(t));
  }
  return out;
}

Status batchResult(const std::vector<PathCode>& results) {
  if (results.empty()) return kNotFound;
  size_t ok = 0;
  for (const auto& r : results) ok += r.code == kOk;
  if (ok == results.size()) return kOk;
  if (ok == 0 && results.size() == 1) return results[0].code;
  return kPartial;
}
}  // namespace

Status Tree::undelete(int64_t account, const std::string& path, std::vector<PathCode>* results) {
  std::vector<std::string> parts;
  if (Status s = parsePath(path, &parts); s != kOk) return s;
  StoreLock lock(store_);
  Database& db = store_.db();
  Transaction tx(db);
  Ops ops(db, account);
  for (const Trashed& t : trashedBelow(db, account, foldCase(joinPath(parts)), true)) {
    std::vector<std::string> where;
    parsePath(t.path, &where);
    Entry parent, existing;
    Status s = ops.ensureFolders(where, where.size() - 1, "", &parent);
    if (s == kOk && ops.child(parent.id, where.back(), &existing)) s = kConflict;
    int64_t bytes = s == kOk ? ops.subtreeBytes(t.id) : 0;
    if (s == kOk && !ops.quotaAllows(bytes)) s = kQuotaExceeded;
    if (s == kOk) {
      db.query(
            "UPDATE entries SET trashed = 0, trash_path = '', trash_key = '', parent = ? "
            "WHERE id = ?")
          .bind(1, parent.id)
          .bind(2, t.id)
          .run();
      ops.addUsed(bytes);
      ops.touch(t.id);
    }
    results->push_back({t.path, s});
  }
  Status result = batchResult(*results);
  if (!published(account, tx.commit())) return kServerError;
  return result;
}

Status Tree::purge(int64_t account, const std::string& path, std::vector<PathCode>* results) {
  std::vector<std::string> parts;
  if (Status s = parsePath(path, &parts); s != kOk) return s;
  StoreLock lock(store_);
  Database& db = store_.db();
  Transaction tx(db);
  Ops ops(db, account);
  for (const Trashed& t : trashedBelow(db, account, foldCase(joinPath(parts)), false)) {
    ops.deleteSubtree(t.id);
    results->push_back({t.path, kOk});
  }
  Status result = batchResult(*results);
  if (!published(account, tx.commit())) return kServerError;
  return result;
}

namespace {
// kOk when base names the current version of the path (or is empty while the
// path does not exist).
Status checkBase(Ops& ops, const std::vector<std::string>& parts, const std::string& base,
                 Entry* existing, bool* exists, std::vector<Entry>* walked = nullptr) {
  Status s = ops.resolve(parts, existing, walked);
  *exists = s == kOk;
  if (s != kOk && s != kNotFound) return s;
  if (!*exists) return base.empty() ? kOk : kConflict;
  if (existing->type != kTypeFile || base.empty() || !constantTimeEqual(base, existing->ver)) {
    return kConflict;
  }
  return kOk;
}

Status checkShape(const PutRequest& put) {
  if (!Tree::validChunkSize(put.chunkSize) || put.fileSize < 0) return kBadRequest;
  int64_t expected = (put.fileSize + put.chunkSize - 1) / put.chunkSize;
  if (static_cast<int64_t>(put.keys.size()) != expected) return kBadRequest;
  for (const auto& key : put.keys) {
    if (key.size() != 20) return kBadRequest;
  }
  if (!put.base.empty() && put.base.size() != 16) return kBadRequest;
  return kOk;
}

std::string concatKeys(const std::vector<std::string>& keys) {
  std::string out;
  out.reserve(keys.size() * 20);
  for (const auto& k : keys) out += k;
  return out;
}
}  // namespace

Status Tree::preparePut(int64_t account, const PutRequest& put, std::vector<int64_t>* required) {
  std::vector<std::string> parts;
  if (Status s = parsePath(put.path, &parts); s != kOk) return s;
  if (parts.size() == 1) return kBadRequest;
  if (Status s = checkShape(put); s != kOk) return s;
  StoreLock lock(store_);
  Database& db = store_.db();
  Transaction tx(db);
  Ops ops(db, account);
  Entry existing;
  bool exists = false;
  if (Status s = checkBase(ops, parts, put.base, &existing, &exists); s != kOk) return s;
  // A chunk the account holds is asked for again when its file is missing or
  // not of the length it must have here: lost or cut short by a crash
  // before it reached the disk.
  std::set<std::string> listed;
  const size_t count = put.keys.size();
  for (size_t i = 0; i < count; ++i) {
    const int64_t length =
        i + 1 < count ? put.chunkSize : put.fileSize - static_cast<int64_t>(i) * put.chunkSize;
    if ((!ops.holds(put.keys[i]) || !chunks_.wholeOnDiskLocked(db, put.keys[i], length)) &&
        listed.insert(put.keys[i]).second) {
      required->push_back(static_cast<int64_t>(i));
    }
  }
  db.query("DELETE FROM pending_uploads WHERE created < ?")
      .bind(1, now() - kPendingLifetimeSeconds)
      .run();
  db.query(
        "INSERT OR REPLACE INTO pending_uploads(account, path_key, path, chunk_size, file_size, "
        "keys, created) VALUES(?, ?, ?, ?, ?, ?, ?)")
      .bind(1, account)
      .bind(2, foldCase(joinPath(parts)))
      .bind(3, joinPath(parts))
      .bind(4, put.chunkSize)
      .bind(5, put.fileSize)
      .bindBlob(6, concatKeys(put.keys))
      .bind(7, now())
      .run();
  return tx.commit() ? kOk : kServerError;
}

Status Tree::commitPut(int64_t account, const PutRequest& put, Entry* out) {
  StoreLock lock(store_);
  Database& db = store_.db();
  Transaction tx(db);
  if (!tx.active()) return kServerError;
  if (Status s = commitLocked(db, account, put, out); s != kOk) return s;
  return published(account, tx.commit()) ? kOk : kServerError;
}

Status Tree::commitSmallPut(int64_t account, const PutRequest& put, Entry* out,
                            const std::string* content) {
  if (put.keys.size() != 1) return kBadRequest;
  StoreLock lock(store_);
  Database& db = store_.db();
  // The chunk (its bytes when they go into the database) and the account's
  // hold on it; false when a statement failed.
  auto keepChunk = [&] {
    return (content == nullptr || chunks_.putLocked(db, put.keys.front(), *content)) &&
           db.query("INSERT OR IGNORE INTO account_chunks(account, key) VALUES(?, ?)")
               .bind(1, account)
               .bindBlob(2, put.keys.front())
               .run();
  };
  Status s = kServerError;
  {
    Transaction tx(db);
    if (tx.active() && keepChunk()) {
      s = commitLocked(db, account, put, out);
      if (s == kOk) return published(account, tx.commit()) ? kOk : kServerError;
    }
  }
  // Refused (a stale base, over quota, ...): the bytes were still received
  // and stored, so the account keeps the chunk and a later upload of the
  // same content needs no body.
  Transaction tx(db);
  if (tx.active() && keepChunk()) tx.commit();
  return s;
}

bool Tree::published(int64_t account, bool committed) {
  if (committed && feed_ != nullptr) feed_->changed(account);
  return committed;
}

Status Tree::commitLocked(Database& db, int64_t account, const PutRequest& put, Entry* out) {
  std::vector<std::string> parts;
  if (Status s = parsePath(put.path, &parts); s != kOk) return s;
  if (parts.size() == 1) return kBadRequest;
  if (Status s = checkShape(put); s != kOk) return s;
  Ops ops(db, account);
  Entry existing;
  bool exists = false;
  std::vector<Entry> walked;
  if (Status s = checkBase(ops, parts, put.base, &existing, &exists, &walked); s != kOk) return s;
  // Every chunk must be held by the account and the lengths must add up:
  // full chunks, then one shorter or full last chunk.
  int64_t total = 0;
  for (size_t i = 0; i < put.keys.size(); ++i) {
    if (!ops.holds(put.keys[i])) return kBadRequest;
    int64_t length = chunks_.lengthLocked(db, put.keys[i]);
    bool last = i + 1 == put.keys.size();
    if (length <= 0 || length > put.chunkSize || (!last && length != put.chunkSize)) {
      return kBadRequest;
    }
    total += length;
  }
  if (total != put.fileSize) return kBadRequest;
  int64_t delta = put.fileSize - (exists ? existing.size : 0);
  if (!ops.quotaAllows(delta)) return kQuotaExceeded;
  Entry parent;
  if (Status s = ops.ensureFolders(parts, parts.size() - 1, put.editTime, &parent, &walked);
      s != kOk) {
    return s;
  }
  std::string keys = concatKeys(put.keys);
  int64_t id =
      exists ? existing.id : ops.insert(parent.id, parts.back(), kTypeFile, put.editTime).id;
  db.query(
        "UPDATE entries SET size = ?, chunk_size = ?, keys = ?, edit_time = ?, mime = ? "
        "WHERE id = ?")
      .bind(1, put.fileSize)
      .bind(2, put.chunkSize)
      .bindBlob(3, keys)
      .bind(4, put.editTime)
      .bind(5, put.mime)
      .bind(6, id)
      .run();
  if (put.keys.size() > 64) {
    db.query("INSERT OR IGNORE INTO key_lists(hash, keys) VALUES(?, ?)")
        .bindBlob(1, sha1(keys))
        .bindBlob(2, keys)
        .run();
  }
  db.query("DELETE FROM pending_uploads WHERE account = ? AND path_key = ?")
      .bind(1, account)
      .bind(2, foldCase(joinPath(parts)))
      .run();
  ops.addUsed(delta);
  ops.touch(id);
  ops.byId(id, out);
  out->path = parent.path + "/" + out->name;
  return kOk;
}

void Tree::addChunk(int64_t account, const std::string& key) {
  StoreLock lock(store_);
  store_.db()
      .query("INSERT OR IGNORE INTO account_chunks(account, key) VALUES(?, ?)")
      .bind(1, account)
      .bindBlob(2, key)
      .run();
}

bool Tree::holdsChunk(int64_t account, const std::string& key) {
  StoreLock lock(store_);
  Ops ops(store_.db(), account);
  return ops.holds(key);
}

std::vector<DirtyChunk> Tree::dirtyChunks(int64_t account) {
  StoreLock lock(store_);
  Database& db = store_.db();
  Ops ops(db, account);
  Statement& st = db.query(
      "SELECT path, chunk_size, file_size, keys FROM pending_uploads WHERE account = ? AND "
      "created >= ? ORDER BY path_key");
  st.bind(1, account).bind(2, now() - kPendingLifetimeSeconds);
  struct Pending {
    std::string path;
    int64_t chunkSize, fileSize;
    std::string keys;
  };
  std::vector<Pending> pending;
  while (st.step() == SQLITE_ROW)
    pending.push_back({st.columnText(0), st.columnInt64(1), st.columnInt64(2), st.columnBlob(3)});
  std::vector<DirtyChunk> out;
  for (const Pending& p : pending) {
    size_t count = p.keys.size() / 20;
    for (size_t i = 0; i < count; ++i) {
      std::string key = p.keys.substr(i * 20, 20);
      if (ops.holds(key)) continue;
      int64_t offset = static_cast<int64_t>(i) * p.chunkSize;
      out.push_back({p.path, static_cast<int64_t>(i), key,
                     std::min(p.chunkSize, p.fileSize - offset), p.chunkSize});
    }
  }
  return out;
}

bool Tree::keyList(const std::string& hash, std::string* keys) {
  StoreLock lock(store_);
  Statement& st = store_.db().query("SELECT keys FROM key_lists WHERE hash = ?");
  st.bindBlob(1, hash);
  if (st.step() != SQLITE_ROW) return false;
  *keys = st.columnBlob(0);
  return true;
}

Status Tree::makeLink(int64_t account, const std::string& path, std::string* id) {
  Entry entry;
  std::vector<Entry> none;
  if (Status s = get(account, path, false, &entry, &none); s != kOk) return s;
  *id = toHex(randomBytes(16));
  StoreLock lock(store_);
  bool ok = store_.db()
                .query("INSERT INTO links(id, account, path, created) VALUES(?, ?, ?, ?)")
                .bind(1, *id)
                .bind(2, account)
                .bind(3, entry.path)
                .bind(4, now())
                .run();
  return ok ? kOk : kServerError;
}

Status Tree::resolveLink(const std::string& id, int64_t* account, Entry* out) {
  std::string path;
  {
    StoreLock lock(store_);
    Statement& st = store_.db().query("SELECT account, path FROM links WHERE id = ?");
    st.bind(1, id);
    if (st.step() != SQLITE_ROW) return kNotFound;
    *account = st.columnInt64(0);
    path = st.columnText(1);
  }
  std::vector<Entry> none;
  return get(*account, path, false, out, &none);
}

std::vector<TreeDumpRow> Tree::dump(int64_t account) {
  StoreLock lock(store_);
  Database& db = store_.db();
  Ops ops(db, account);
  std::vector<TreeDumpRow> out;
  std::vector<std::pair<int64_t, std::string>> folders{{ops.home(), "home"}};
  while (!folders.empty()) {
    auto [id, path] = folders.back();
    folders.pop_back();
    Statement& st = db.query(
        "SELECT id, parent, name, type, ver, size, chunk_size, keys, edit_time, mime FROM "
        "entries WHERE parent = ? AND trashed = 0");
    st.bind(1, id);
    std::vector<Entry> kids;
    while (st.step() == SQLITE_ROW) {
      kids.emplace_back();
      readEntry(st, &kids.back());
    }
    for (const Entry& kid : kids) {
      std::string kidPath = path + "/" + kid.name;
      out.push_back({kidPath, kid.type, kid.size, kid.keys, kid.chunkSize});
      if (kid.type == kTypeFolder) folders.emplace_back(kid.id, kidPath);
    }
  }
  std::sort(out.begin(), out.end(),
            [](const TreeDumpRow& a, const TreeDumpRow& b) { return a.path < b.path; });
  return out;
}

}  // namespace varnelo::service
