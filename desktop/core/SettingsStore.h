// The application's own settings, kept as text values under text keys in
// "appconfig.db" of the data folder (integers as decimal text, booleans as
// 0/1). Opened once at start and kept open; when it cannot be opened every
// read fails and the defaults below apply.
//
//   SettingsStore settings;
//   settings.open(dataFolder + "/appconfig.db");
//   ProxySettings proxy = settings.proxy();
//
// Thread safe: the UI thread writes, the scheduler and the windows read; one
// mutex serialises the use of the connection.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "ConfigTable.h"
#include "sqlite/Sqlite.h"

namespace varnelo::desktop {

struct ProxySettings {
  bool typeStored = false;  // "proxySettingType" was ever stored
  int settingType = 0;      // 0 none, 1 the system's settings, 2 the manual ones below
  std::string proxyType;    // "HTTP", "SOCKS4" or "SOCKS5"
  std::string address;      // dotted IPv4 address
  int port = 8080;
  bool auth = false;
  std::string user;
  std::string password;
};

struct SpeedSettings {
  bool limitUpload = false;
  bool limitDownload = false;
  uint32_t uploadKBps = 200;
  uint32_t downloadKBps = 200;
};

class SettingsStore {
 public:
  // Opens (creating when missing, owner-only) and creates the table. False
  // when the database cannot be used; the store then answers defaults.
  bool open(const std::string& path);
  void close();

  // The raw table: 200/404 for reads, 200/-4 for writes.
  int32_t get(const std::string& key, std::string& value);
  int32_t getInt(const std::string& key, int64_t& value);
  int32_t set(const std::string& key, const std::string& value);
  int32_t setInt(const std::string& key, int64_t value);

  // Device id and name ("devId", "devName"); both written together, nothing
  // written when the id is empty. Empty when missing.
  std::string deviceId();
  std::string deviceName();
  void setDevice(const std::string& id, const std::string& name);

  bool useHttps();
  void setUseHttps(bool on);
  std::string lastSyncFolder();
  void setLastSyncFolder(const std::string& folder);
  // The account's user-information JSON as the service returned it.
  std::string accountInfo();
  void setAccountInfo(const std::string& json);
  ProxySettings proxy();
  void setProxy(const ProxySettings& proxy);  // stores every member, the type included
  SpeedSettings speed();
  void setSpeed(const SpeedSettings& speed);
  std::string dataCacheDir();
  void setDataCacheDir(const std::string& folder);
  bool showTrayBalloon();
  void setShowTrayBalloon(bool on);

  // Older versions kept the account in five keys; they are written empty at
  // every start and never read.
  void clearLegacyAccountKeys();

 private:
  std::string text(const char* key);
  bool flag(const char* key, bool fallback);
  int64_t integer(const char* key, int64_t fallback);

  std::mutex mutex_;  // guards db_ and table_ (kept statements on one connection)
  sqlite::Database db_;
  ConfigTable table_;
};

}  // namespace varnelo::desktop
