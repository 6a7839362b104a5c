#include "ConfigInfo.h"

#include "EngineSqlite.h"

#include <cstdlib>

namespace varnelo {
namespace {

constexpr int kOk = 200;
constexpr int kNotFound = 404;

// Leading decimal digits (with an optional sign) of `text`; 0 when none.
int parseLeadingInt(const std::string& text) {
  return static_cast<int>(std::strtol(text.c_str(), nullptr, 10));
}

}  // namespace

ConfigInfo::~ConfigInfo() = default;

int SyncConfigInfo::open(const std::string& path) {
  const bool wasOpen = db_.isOpen();
  auto openTables = [&] {
    int rc = db_.isOpen() ? SQLITE_OK : db_.open(path, 0600);
    if (rc == SQLITE_OK) {
      rc = db_.exec(
          "CREATE TABLE IF NOT EXISTS config (id INTEGER PRIMARY KEY,key TEXT NOT NULL "
          "UNIQUE,value TEXT);");
    }
    if (rc == SQLITE_OK) {
      rc = db_.exec(
          "CREATE TABLE IF NOT EXISTS sync_vol(id INTEGER PRIMARY KEY,serverPath TEXT  NOT "
          "NULL UNIQUE,localPath TEXT  NOT NULL UNIQUE,name TEXT  NOT NULL);");
    }
    return rc;
  };
  // A damaged file would refuse every sign-in for good; set aside, it costs
  // a new sign-in and setup instead.
  const int rc = wasOpen ? openTables()
                         : sqlite::openSettingDamagedAside(path, openTables, [&] { db_.close(); });
  return rc == SQLITE_OK ? kOk : kDatabaseError;
}

int SyncConfigInfo::get(const std::string& key, std::string& value) {
  if (!db_.isOpen()) return kNotFound;
  auto st = db_.prepare("select value from config where key = ?;");
  if (!st.valid()) return kNotFound;
  st.bind(1, key);
  if (st.step() != SQLITE_ROW) return kNotFound;
  value = st.columnText(0);
  return kOk;
}

int SyncConfigInfo::set(const std::string& key, const std::string& value) {
  if (!db_.isOpen()) return kDatabaseError;
  std::string old;
  sqlite::Statement st;
  if (get(key, old) == kOk) {
    st = db_.prepare("UPDATE config SET value = ? WHERE key = ?;");
    if (!st.valid()) return kDatabaseError;
    st.bind(1, value).bind(2, key);
  } else {
    st = db_.prepare("insert into config values(NULL, ?, ?);");
    if (!st.valid()) return kDatabaseError;
    st.bind(1, key).bind(2, value);
  }
  return st.run() ? kOk : kDatabaseError;
}

int SyncConfigInfo::remove(const std::string& key) {
  if (!db_.isOpen()) return kDatabaseError;
  std::string old;
  if (get(key, old) != kOk) return kOk;
  auto st = db_.prepare("DELETE from config WHERE key = ?;");
  if (!st.valid()) return kDatabaseError;
  st.bind(1, key);
  return st.run() ? kOk : kDatabaseError;
}

int SyncConfigInfo::getInt(const std::string& key, int& value) {
  std::string text;
  const int rc = get(key, text);
  if (rc == kOk) value = parseLeadingInt(text);
  return rc;
}

int SyncConfigInfo::setInt(const std::string& key, int value) {
  return set(key, std::to_string(value));
}

int SyncConfigInfo::listVolumes(std::vector<VolumeRecord>& out) {
  if (!db_.isOpen()) return kNotFound;
  auto st = db_.prepare("select serverPath, localPath, Name from sync_vol;");
  if (!st.valid()) return kNotFound;
  bool any = false;
  while (st.step() == SQLITE_ROW) {
    out.push_back({st.columnText(0), st.columnText(1), st.columnText(2)});
    any = true;
  }
  return any ? kOk : kNotFound;
}

int SyncConfigInfo::getVolume(const std::string& serverPath, std::string& localPath,
                              std::string& name) {
  if (!db_.isOpen()) return kNotFound;
  auto st = db_.prepare("select localPath, name from sync_vol where serverPath = ?;");
  if (!st.valid()) return kNotFound;
  st.bind(1, serverPath);
  if (st.step() != SQLITE_ROW) return kNotFound;
  localPath = st.columnText(0);
  name = st.columnText(1);
  return kOk;
}

int SyncConfigInfo::putVolume(const std::string& serverPath, const std::string& localPath,
                              const std::string& name) {
  if (!db_.isOpen()) return kDatabaseError;
  std::string oldLocal, oldName;
  sqlite::Statement st;
  if (getVolume(serverPath, oldLocal, oldName) == kOk) {
    st = db_.prepare("UPDATE sync_vol SET localPath = ?, name = ? WHERE serverPath = ?;");
    if (!st.valid()) return kDatabaseError;
    st.bind(1, localPath).bind(2, name).bind(3, serverPath);
  } else {
    st = db_.prepare("insert into sync_vol values(NULL, ?, ?, ?);");
    if (!st.valid()) return kDatabaseError;
    st.bind(1, serverPath).bind(2, localPath).bind(3, name);
  }
  return st.run() ? kOk : kDatabaseError;
}

int SyncConfigInfo::getExcludeDirs(std::vector<std::string>& out) {
  std::string text;
  const int rc = get("excludeDirs", text);
  if (rc == kOk) out = decodeExcludeDirs(text);
  return rc;
}

int SyncConfigInfo::putExcludeDirs(const std::vector<std::string>& dirs) {
  return set("excludeDirs", encodeExcludeDirs(dirs));
}

std::string SyncConfigInfo::encodeExcludeDirs(const std::vector<std::string>& dirs) {
  std::string text;
  for (const auto& d : dirs) {
    text += d;
    text += '|';
  }
  return text;
}

std::vector<std::string> SyncConfigInfo::decodeExcludeDirs(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t bar; (bar = text.find('|', start)) != std::string::npos; start = bar + 1) {
    out.push_back(text.substr(start, bar - start));
  }
  return out;
}

}  // namespace varnelo
