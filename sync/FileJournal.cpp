#include "FileJournal.h"

#include <cstdlib>
#include <unordered_set>

#include "Log.h"
#include "platform/text.h"

namespace varnelo::sync {
namespace {

// Every column by name: the two stamp columns were added to journals made
// without them, and a statement that named no columns would depend on it.
#define JOURNAL_COLUMNS "id,pid,name,type,sigLo,sigHi,fileSize,editTime,changeTime,inode"

// Kept in the order the journal has always prepared them.
constexpr const char* kStatementTexts[] = {
    "SELECT id FROM file_journal WHERE pid==? AND name==?",
    "SELECT type FROM file_journal WHERE id==?",
    "SELECT " JOURNAL_COLUMNS " FROM file_journal WHERE id==?",
    "SELECT " JOURNAL_COLUMNS " FROM file_journal WHERE id>0",
    "INSERT INTO file_journal(" JOURNAL_COLUMNS ") VALUES(NULL, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
    "INSERT INTO file_journal(" JOURNAL_COLUMNS ") VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
    "UPDATE file_journal SET sigLo=?, sigHi=?, fileSize=?, editTime=?, changeTime=?, inode=? "
    "WHERE pid==? AND name=? AND type=?",
    "UPDATE file_journal SET name=? WHERE id==?",
    "DELETE FROM file_journal WHERE id==?",
    "SELECT COUNT(*) FROM file_journal",
    "SELECT SUM(fileSize) FROM file_journal",
    "DELETE FROM file_journal",
    "INSERT INTO db_config VALUES(?, ?)",
    "UPDATE db_config SET value=? WHERE key=?",
    "SELECT value FROM db_config WHERE key=?",
    "SELECT " JOURNAL_COLUMNS " FROM file_journal WHERE pid==?",
    "INSERT OR REPLACE INTO commit_intent VALUES(?, ?, ?, ?, ?, ?, ?)",
    "SELECT fileSize, editTime, changeTime, inode, chunkSize, keysDigest FROM commit_intent "
    "WHERE path==?",
    "DELETE FROM commit_intent WHERE path==?",
};
#undef JOURNAL_COLUMNS

constexpr const char* kCreateJournalTable =
    "CREATE TABLE IF NOT EXISTS file_journal(id INTEGER PRIMARY KEY,pid INTEGER,name TEXT NOT "
    "NULL,type INTEGER,sigLo INTEGER,sigHi INTEGER,fileSize INTEGER,editTime INTEGER,UNIQUE(pid, "
    "name))";
// A commit sent whose outcome was not yet recorded (CommitIntent.h).
constexpr const char* kCreateIntentTable =
    "CREATE TABLE IF NOT EXISTS commit_intent(path TEXT PRIMARY KEY,fileSize INTEGER,editTime "
    "INTEGER,changeTime INTEGER,inode INTEGER,chunkSize INTEGER,keysDigest BLOB)";
constexpr const char* kCreateConfigTable =
    "CREATE TABLE IF NOT EXISTS db_config(key TEXT PRIMARY KEY,value TEXT)";
constexpr const char* kInsertRoot =
    "INSERT INTO file_journal(id,pid,name,type,sigLo,sigHi,fileSize,editTime) "
    "VALUES(0, -1, '$', 2, 0, 0, 0, 0)";
// The change time and inode a file had when it was synced: a journal made
// before they were recorded gains the columns, its rows hold NULL (read as 0,
// "not recorded") until their files are synced again.
constexpr const char* kStampColumns[] = {"changeTime", "inode"};
constexpr const char* kDbVersionKey = "dbVersion";

JournalEntry entryFromRow(const sqlite::Statement& st) {
  JournalEntry e;
  e.id = st.columnInt64(0);
  e.pid = st.columnInt64(1);
  e.name = st.columnText(2);
  e.type = st.columnInt(3);
  e.signature = FileJournal::signatureFromWords(st.columnInt64(4), st.columnInt64(5));
  e.fileSize = st.columnInt64(6);
  e.editTime = st.columnInt64(7);
  e.changeTime = st.columnInt64(8);  // NULL reads as 0
  e.inode = st.columnInt64(9);
  return e;
}

// A stamp not recorded is stored as NULL, as the rows of older journals hold.
void bindStamp(sqlite::Statement& st, int first, const FileStamp& stamp) {
  if (stamp.changeTime != 0)
    st.bind(first, stamp.changeTime);
  else
    st.bindNull(first);
  if (stamp.inode != 0)
    st.bind(first + 1, stamp.inode);
  else
    st.bindNull(first + 1);
}

// Non-empty components of a journal path.
std::vector<std::string_view> componentsOf(std::string_view path) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

}  // namespace

std::string journalPathOf(std::string_view path) {
  return platform::asciiLower(path);
}

void FileJournal::signatureWords(const VersionSignature& sig, int64_t& lo, int64_t& hi) {
  uint64_t l = 0, h = 0;
  for (int i = 7; i >= 0; --i) {
    l = (l << 8) | sig[i];
    h = (h << 8) | sig[8 + i];
  }
  lo = static_cast<int64_t>(l);
  hi = static_cast<int64_t>(h);
}

VersionSignature FileJournal::signatureFromWords(int64_t lo, int64_t hi) {
  VersionSignature sig{};
  auto l = static_cast<uint64_t>(lo);
  auto h = static_cast<uint64_t>(hi);
  for (int i = 0; i < 8; ++i) {
    sig[i] = static_cast<uint8_t>(l >> (8 * i));
    sig[8 + i] = static_cast<uint8_t>(h >> (8 * i));
  }
  return sig;
}

int FileJournal::open(const std::string& path, int flags) {
  if (db_.isOpen()) return kAccessDenied;
  int rc = db_.openWithFlags(path, flags, 0600);
  if (rc != SQLITE_OK) {
    log_write(kLogError, kModuleSync, "failed to open journal:[%s], sqlite error:[%d]",
              path.c_str(), rc);
    log_location();
    return rc;
  }
  // WAL keeps a crash from costing more than the last writes; a file system
  // that cannot share memory still gets a working (rollback) journal.
  if (const int wal = db_.useWal(); wal != SQLITE_OK) {
    log_write(kLogWarning, kModuleSync, "journal:[%s] runs without WAL, sqlite error:[%d]",
              path.c_str(), wal);
  }
  rc = db_.exec(kCreateJournalTable);
  if (rc == SQLITE_OK) rc = addStampColumns();
  if (rc == SQLITE_OK) rc = db_.exec(kCreateConfigTable);
  if (rc == SQLITE_OK) rc = db_.exec(kCreateIntentTable);
  if (rc == SQLITE_OK) {
    db_.exec(kInsertRoot);  // fails harmlessly when the root row exists
    for (int i = 0; i < kStatementCount; ++i) {
      stmts_[i] = db_.prepare(kStatementTexts[i]);
      if (!stmts_[i].valid()) {
        rc = sqlite3_errcode(db_.get());
        if (rc == SQLITE_OK) rc = SQLITE_ERROR;
        break;
      }
    }
  }
  if (rc != SQLITE_OK) {
    log_write(kLogError, kModuleSync, "failed to prepare journal:[%s], sqlite error:[%d] %s",
              path.c_str(), rc, db_.errorMessage());
    log_location();
    close();
  }
  return rc;
}

int FileJournal::addStampColumns() {
  std::unordered_set<std::string> present;
  {
    sqlite::Statement info = db_.prepare("PRAGMA table_info(file_journal)");
    if (!info.valid()) return SQLITE_ERROR;
    int rc;
    while ((rc = info.step()) == SQLITE_ROW) present.insert(info.columnText(1));
    if (rc != SQLITE_DONE) return rc;
  }
  for (const char* column : kStampColumns) {
    if (present.count(column)) continue;
    const std::string alter =
        std::string("ALTER TABLE file_journal ADD COLUMN ") + column + " INTEGER";
    if (const int rc = db_.exec(alter.c_str()); rc != SQLITE_OK) return rc;
    log_write(kLogInfo, kModuleSync, "journal column added:[%s]", column);
  }
  return SQLITE_OK;
}

void FileJournal::close() noexcept {
  for (auto& st : stmts_) st = sqlite::Statement();
  db_.close();
}

int FileJournal::lookupChild(int64_t pid, std::string_view name, int64_t& id) {
  if (!isOpen()) return SQLITE_MISUSE;
  auto& st = stmts_[kSelectIdByName];
  sqlite::ResetGuard guard(st);
  st.bind(1, pid).bind(2, platform::asciiLower(name));
  const int rc = st.step();
  if (rc == SQLITE_ROW) {
    id = st.columnInt64(0);
    return SQLITE_OK;
  }
  return rc == SQLITE_DONE ? kNotFound : rc;
}

int FileJournal::lookupPath(std::string_view path, int64_t& id) {
  int64_t current = kRootId;
  for (std::string_view part : componentsOf(path)) {
    if (const int rc = lookupChild(current, part, current); rc != SQLITE_OK) return rc;
  }
  id = current;
  return SQLITE_OK;
}

int FileJournal::getType(int64_t id) {
  if (!isOpen()) return 0;
  auto& st = stmts_[kSelectType];
  sqlite::ResetGuard guard(st);
  st.bind(1, id);
  return st.step() == SQLITE_ROW ? st.columnInt(0) : 0;
}

int FileJournal::getEntry(int64_t id, JournalEntry& out) {
  if (!isOpen()) return SQLITE_MISUSE;
  auto& st = stmts_[kSelectById];
  sqlite::ResetGuard guard(st);
  st.bind(1, id);
  const int rc = st.step();
  if (rc == SQLITE_ROW) {
    out = entryFromRow(st);
    return SQLITE_OK;
  }
  return rc == SQLITE_DONE ? kNotFound : rc;
}

int FileJournal::listInto(sqlite::Statement& st, std::vector<JournalEntry>& out) {
  sqlite::ResetGuard guard(st);
  out.clear();
  int rc;
  while ((rc = st.step()) == SQLITE_ROW) out.push_back(entryFromRow(st));
  return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

int FileJournal::listAll(std::vector<JournalEntry>& out) {
  if (!isOpen()) return SQLITE_MISUSE;
  return listInto(stmts_[kSelectAll], out);
}

int FileJournal::listChildren(int64_t pid, std::vector<JournalEntry>& out) {
  if (!isOpen()) return SQLITE_MISUSE;
  // listInto steps the statement to its end and resets it before it
  // returns, so a caller may list again while it walks what it got.
  auto& st = stmts_[kSelectChildren];
  st.bind(1, pid);
  return listInto(st, out);
}

int FileJournal::put(int64_t pid, std::string_view name, int type, const VersionSignature& sig,
                     int64_t fileSize, int64_t editTime, const FileStamp& stamp) {
  if (!isOpen()) return SQLITE_MISUSE;
  if ((getType(pid) & kTypeFolder) == 0) return kParentNotFolder;
  const std::string lowered = platform::asciiLower(name);
  int64_t lo, hi;
  signatureWords(sig, lo, hi);

  auto& insert = stmts_[kInsertNew];
  int rc;
  {
    sqlite::ResetGuard guard(insert);
    insert.bind(1, pid).bind(2, lowered).bind(3, type).bind(4, lo).bind(5, hi);
    insert.bind(6, fileSize).bind(7, editTime);
    bindStamp(insert, 8, stamp);
    rc = insert.step();
  }
  if (rc == SQLITE_DONE) return SQLITE_OK;
  // Only an existing row turns the insert into an update; a full disk or an
  // I/O error is reported as it is.
  if ((rc & 0xff) != SQLITE_CONSTRAINT) return rc;

  auto& update = stmts_[kUpdateEntry];
  sqlite::ResetGuard guard(update);
  update.bind(1, lo).bind(2, hi).bind(3, fileSize).bind(4, editTime);
  bindStamp(update, 5, stamp);
  update.bind(7, pid).bind(8, lowered).bind(9, type);
  rc = update.step();
  if (rc != SQLITE_DONE) return rc;
  return db_.changes() == 0 ? kNothingUpdated : SQLITE_OK;
}

int FileJournal::putPath(std::string_view path, int type, const VersionSignature& sig,
                         int64_t fileSize, int64_t editTime, const FileStamp& stamp) {
  const size_t slash = path.rfind('/');
  const std::string_view parent =
      slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  if (name.empty()) return kNoLastComponent;
  int64_t pid;
  if (const int rc = lookupPath(parent, pid); rc != SQLITE_OK) return rc;
  return put(pid, name, type, sig, fileSize, editTime, stamp);
}

int FileJournal::rename(int64_t id, std::string_view newName) {
  if (!isOpen()) return SQLITE_MISUSE;
  auto& st = stmts_[kUpdateName];
  sqlite::ResetGuard guard(st);
  st.bind(1, platform::asciiLower(newName)).bind(2, id);
  const int rc = st.step();
  return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

int FileJournal::deleteRow(int64_t id) {
  auto& st = stmts_[kDeleteById];
  sqlite::ResetGuard guard(st);
  st.bind(1, id);
  const int rc = st.step();
  return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

int FileJournal::removeTree(int type, int64_t id) {
  if (!isOpen()) return SQLITE_MISUSE;
  // Depth first without recursion: a deep tree cannot exhaust the stack, and
  // the visited set keeps a damaged journal (a row listed below itself) from
  // looping forever.
  struct Pending {
    int64_t id;
    int type;
    bool expanded;
  };
  // One transaction: a crash never leaves rows whose parent is gone, and a
  // large tree costs one commit instead of one per row.
  sqlite::Transaction transaction(db_);
  std::vector<Pending> stack{{id, type, false}};
  std::unordered_set<int64_t> visited{id};
  std::vector<JournalEntry> children;
  int result = SQLITE_OK;
  while (!stack.empty()) {
    Pending& top = stack.back();
    if (!top.expanded && (top.type & kTypeFolder) != 0) {
      top.expanded = true;
      const int64_t parent = top.id;
      // A child that cannot be listed is left; its parent row still goes.
      if (listChildren(parent, children) != SQLITE_OK) continue;
      for (auto it = children.rbegin(); it != children.rend(); ++it) {
        if (visited.insert(it->id).second) stack.push_back({it->id, it->type, false});
      }
      continue;
    }
    const Pending done = top;
    stack.pop_back();
    if (done.id == kRootId) continue;  // the root row stays
    const int rc = deleteRow(done.id);
    // Only the outcome of the requested row is the result; failures below it
    // do not stop its deletion.
    if (stack.empty()) result = rc;
  }
  if (transaction.began() && !transaction.commit()) return SQLITE_IOERR;
  return result;
}

int FileJournal::removePath(std::string_view path) {
  int64_t id;
  if (const int rc = lookupPath(path, id); rc != SQLITE_OK) return rc;
  return removeTree(kTypeAll, id);
}

int FileJournal::clear() {
  if (!isOpen()) return SQLITE_MISUSE;
  auto& st = stmts_[kDeleteAll];
  sqlite::ResetGuard guard(st);
  const int rc = st.step();
  return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

int FileJournal::count(int64_t& rows) {
  if (!isOpen()) return SQLITE_MISUSE;
  auto& st = stmts_[kCountRows];
  sqlite::ResetGuard guard(st);
  const int rc = st.step();
  if (rc != SQLITE_ROW) return rc;
  rows = st.columnInt64(0);
  return SQLITE_OK;
}

int FileJournal::totalSize(int64_t& bytes) {
  if (!isOpen()) return SQLITE_MISUSE;
  auto& st = stmts_[kSumSizes];
  sqlite::ResetGuard guard(st);
  const int rc = st.step();
  if (rc != SQLITE_ROW) return rc;
  bytes = st.columnInt64(0);
  return SQLITE_OK;
}

int FileJournal::getDbVersion(int& version) {
  if (!isOpen()) return SQLITE_MISUSE;
  auto& st = stmts_[kSelectConfig];
  sqlite::ResetGuard guard(st);
  st.bind(1, kDbVersionKey);
  const int rc = st.step();
  if (rc == SQLITE_DONE) return kNotFound;
  if (rc != SQLITE_ROW) return rc;
  version = static_cast<int>(std::strtol(st.columnText(0).c_str(), nullptr, 10));
  return SQLITE_OK;
}

int FileJournal::setDbVersion(int version) {
  if (!isOpen()) return SQLITE_MISUSE;
  const std::string text = std::to_string(version);
  {
    auto& insert = stmts_[kInsertConfig];
    sqlite::ResetGuard guard(insert);
    insert.bind(1, kDbVersionKey).bind(2, text);
    if (insert.step() == SQLITE_DONE) return SQLITE_OK;
  }
  auto& update = stmts_[kUpdateConfig];
  sqlite::ResetGuard guard(update);
  update.bind(1, text).bind(2, kDbVersionKey);
  const int rc = update.step();
  if (rc != SQLITE_DONE) return rc;
  return db_.changes() == 0 ? kNothingUpdated : SQLITE_OK;
}

int FileJournal::putCommitIntent(std::string_view path, const CommitIntent& intent) {
  if (!isOpen()) return SQLITE_MISUSE;
  auto& st = stmts_[kPutIntent];
  sqlite::ResetGuard guard(st);
  st.bind(1, journalPathOf(path)).bind(2, intent.fileSize).bind(3, intent.editTime);
  st.bind(4, intent.stamp.changeTime).bind(5, intent.stamp.inode).bind(6, intent.chunkSize);
  st.bindBlob(7, intent.keysDigest.data(), intent.keysDigest.size());
  const int rc = st.step();
  return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

int FileJournal::getCommitIntent(std::string_view path, CommitIntent& out) {
  if (!isOpen()) return SQLITE_MISUSE;
  auto& st = stmts_[kSelectIntent];
  sqlite::ResetGuard guard(st);
  st.bind(1, journalPathOf(path));
  const int rc = st.step();
  if (rc == SQLITE_DONE) return kNotFound;
  if (rc != SQLITE_ROW) return rc;
  out.fileSize = st.columnInt64(0);
  out.editTime = st.columnInt64(1);
  out.stamp = {st.columnInt64(2), st.columnInt64(3)};
  out.chunkSize = st.columnInt64(4);
  out.keysDigest = st.columnText(5);
  return SQLITE_OK;
}

int FileJournal::removeCommitIntent(std::string_view path) {
  if (!isOpen()) return SQLITE_MISUSE;
  auto& st = stmts_[kDeleteIntent];
  sqlite::ResetGuard guard(st);
  st.bind(1, journalPathOf(path));
  const int rc = st.step();
  return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

}  // namespace varnelo::sync
