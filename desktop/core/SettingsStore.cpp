#include "SettingsStore.h"

#include <QtGlobal>

namespace varnelo::desktop {

bool SettingsStore::open(const std::string& path) {
  std::lock_guard lock(mutex_);
  table_ = ConfigTable();
  if (int rc = db_.openPrivate(path); rc != SQLITE_OK) {
    qWarning("settings: cannot open %s (SQLite %d)", path.c_str(), rc);
    return false;
  }
  if (db_.exec(ConfigTable::kCreateSql) != SQLITE_OK || !table_.prepare(db_)) {
    qWarning("settings: cannot prepare %s: %s", path.c_str(), db_.errorMessage());
    table_ = ConfigTable();
    db_.close();
    return false;
  }
  return true;
}

void SettingsStore::close() {
  std::lock_guard lock(mutex_);
  table_ = ConfigTable();
  db_.close();
}

int32_t SettingsStore::get(const std::string& key, std::string& value) {
  std::lock_guard lock(mutex_);
  return table_.get(key, value);
}

int32_t SettingsStore::getInt(const std::string& key, int64_t& value) {
  std::lock_guard lock(mutex_);
  return table_.getInt(key, value);
}

int32_t SettingsStore::set(const std::string& key, const std::string& value) {
  std::lock_guard lock(mutex_);
  int32_t rc = table_.set(key, value);
  if (rc != 200) qWarning("settings: cannot store \"%s\"", key.c_str());
  return rc;
}

int32_t SettingsStore::setInt(const std::string& key, int64_t value) {
  return set(key, std::to_string(value));
}

std::string SettingsStore::text(const char* key) {
  std::string value;
  get(key, value);
  return value;
}

bool SettingsStore::flag(const char* key, bool fallback) {
  return integer(key, fallback ? 1 : 0) != 0;
}

int64_t SettingsStore::integer(const char* key, int64_t fallback) {
  int64_t value = fallback;
  getInt(key, value);
  return value;
}

std::string SettingsStore::deviceId() {
  return text("devId");
}
std::string SettingsStore::deviceName() {
  return text("devName");
}

void SettingsStore::setDevice(const std::string& id, const std::string& name) {
  if (id.empty()) return;
  set("devId", id);
  set("devName", name);
}

bool SettingsStore::useHttps() {
  return flag("useHttps", false);
}
void SettingsStore::setUseHttps(bool on) {
  setInt("useHttps", on ? 1 : 0);
}
std::string SettingsStore::lastSyncFolder() {
  return text("lastSyncFolder");
}
void SettingsStore::setLastSyncFolder(const std::string& folder) {
  set("lastSyncFolder", folder);
}
std::string SettingsStore::accountInfo() {
  return text("accountInfo");
}
void SettingsStore::setAccountInfo(const std::string& json) {
  set("accountInfo", json);
}

ProxySettings SettingsStore::proxy() {
  ProxySettings p;
  int64_t type = 0;
  p.typeStored = getInt("proxySettingType", type) == 200;
  p.settingType = static_cast<int>(type);
  p.proxyType = text("proxyType");
  p.address = text("proxyIp");
  p.port = static_cast<int>(integer("proxyPort", p.port));
  p.auth = flag("proxyAuth", false);
  p.user = text("proxyUser");
  p.password = text("proxyPasswd");
  return p;
}

void SettingsStore::setProxy(const ProxySettings& p) {
  setInt("proxySettingType", p.settingType);
  set("proxyType", p.proxyType);
  set("proxyIp", p.address);
  setInt("proxyPort", p.port);
  set("proxyAuth", p.auth ? "1" : "0");
  set("proxyUser", p.user);
  set("proxyPasswd", p.password);
}

SpeedSettings SettingsStore::speed() {
  SpeedSettings s;
  s.limitUpload = flag("limitUpload", false);
  s.limitDownload = flag("limitDownload", false);
  // A negative or oversized stored number is no limit the transport could
  // use; it falls back to the default like a missing one.
  auto kbps = [this](const char* key) {
    int64_t v = integer(key, 200);
    return v >= 0 && v <= UINT32_MAX ? static_cast<uint32_t>(v) : 200u;
  };
  s.uploadKBps = kbps("uploadSpeedLimit");
  s.downloadKBps = kbps("downloadSpeedLimit");
  return s;
}

void SettingsStore::setSpeed(const SpeedSettings& s) {
  setInt("limitUpload", s.limitUpload ? 1 : 0);
  setInt("limitDownload", s.limitDownload ? 1 : 0);
  setInt("uploadSpeedLimit", s.uploadKBps);
  setInt("downloadSpeedLimit", s.downloadKBps);
}

std::string SettingsStore::dataCacheDir() {
  return text("dataCacheDir");
}
void SettingsStore::setDataCacheDir(const std::string& folder) {
  set("dataCacheDir", folder);
}
bool SettingsStore::showTrayBalloon() {
  return flag("showTrayBalloon", false);
}
void SettingsStore::setShowTrayBalloon(bool on) {
  setInt("showTrayBalloon", on ? 1 : 0);
}

void SettingsStore::clearLegacyAccountKeys() {
  for (const char* key : {"user", "nickName", "email", "userId", "userType"}) set(key, "");
}

}  // namespace varnelo::desktop
