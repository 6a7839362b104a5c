// The settings store over a real appconfig.db, the environment it hands to
// the transport, and the account information it keeps.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "AccountInfo.h"
#include "NetworkEnvironment.h"
#include "SettingsStore.h"
#include "TempDir.h"
#include "sqlite/Sqlite.h"

namespace varnelo::desktop {
namespace {

using test::TempDir;

TEST(SettingsStoreTest, KeepsValuesAcrossReopenInAnOwnerOnlyFile) {
  TempDir dir;
  const std::string path = dir.file("appconfig.db");
  {
    SettingsStore s;
    ASSERT_TRUE(s.open(path));
    EXPECT_EQ(s.set("lastSyncFolder", "/home/u/it's mine"), 200);  // a quote must not break SQL
    EXPECT_EQ(s.set("lastSyncFolder", "/home/u/Varnelo"), 200);    // replaces
    s.setDevice("", "ignored");                                    // no id: nothing written
    s.setDevice("{ID}", "pc");
  }
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  SettingsStore s;
  ASSERT_TRUE(s.open(path));
  EXPECT_EQ(s.lastSyncFolder(), "/home/u/Varnelo");
  EXPECT_EQ(s.deviceId(), "{ID}");
  EXPECT_EQ(s.deviceName(), "pc");
  std::string value;
  EXPECT_EQ(s.get("missing", value), 404);
  EXPECT_EQ(s.set("odd", "x'); DROP TABLE config; --"), 200);
  EXPECT_EQ(s.get("odd", value), 200);
  EXPECT_EQ(value, "x'); DROP TABLE config; --");
  int64_t n = 7;
  EXPECT_EQ(s.set("text", "abc"), 200);
  EXPECT_EQ(s.getInt("text", n), 200);
  EXPECT_EQ(n, 0);

  // Exactly one table of the expected shape.
  sqlite::Database db;
  ASSERT_EQ(db.openPrivate(path), SQLITE_OK);
  sqlite::Statement q = db.prepare("select sql from sqlite_master where type = 'table';");
  ASSERT_EQ(q.step(), SQLITE_ROW);
  EXPECT_EQ(q.columnText(0),
            "CREATE TABLE config (id INTEGER PRIMARY KEY,key TEXT NOT NULL UNIQUE,value TEXT)");
  EXPECT_EQ(q.step(), SQLITE_DONE);
}

TEST(SettingsStoreTest, DefaultsWhenMissingOrUnopened) {
  TempDir dir;
  for (bool opened : {true, false}) {
    SettingsStore s;
    if (opened) {
      ASSERT_TRUE(s.open(dir.file("appconfig.db")));
    }
    EXPECT_FALSE(s.useHttps());
    EXPECT_FALSE(s.showTrayBalloon());
    EXPECT_EQ(s.lastSyncFolder(), "");
    ProxySettings p = s.proxy();
    EXPECT_FALSE(p.typeStored);
    EXPECT_EQ(p.settingType, 0);
    EXPECT_EQ(p.port, 8080);
    SpeedSettings speed = s.speed();
    EXPECT_FALSE(speed.limitUpload);
    EXPECT_FALSE(speed.limitDownload);
    EXPECT_EQ(speed.uploadKBps, 200u);
    EXPECT_EQ(speed.downloadKBps, 200u);
  }
  SettingsStore unopened;
  EXPECT_EQ(unopened.set("a", "b"), -4);
  EXPECT_FALSE(unopened.open(dir.file("no/such/folder/appconfig.db")));
}

TEST(SettingsStoreTest, TypedRecordsRoundTrip) {
  TempDir dir;
  SettingsStore s;
  ASSERT_TRUE(s.open(dir.file("appconfig.db")));
  ProxySettings p;
  p.settingType = 2;
  p.proxyType = "SOCKS5";
  p.address = "10.0.0.1";
  p.port = 1080;
  p.auth = true;
  p.user = "me";
  p.password = "pa'ss";
  s.setProxy(p);
  ProxySettings back = s.proxy();
  EXPECT_TRUE(back.typeStored);
  EXPECT_EQ(back.settingType, 2);
  EXPECT_EQ(back.proxyType, "SOCKS5");
  EXPECT_EQ(back.address, "10.0.0.1");
  EXPECT_EQ(back.port, 1080);
  EXPECT_TRUE(back.auth);
  EXPECT_EQ(back.user, "me");
  EXPECT_EQ(back.password, "pa'ss");
  std::string raw;
  ASSERT_EQ(s.get("proxyAuth", raw), 200);
  EXPECT_EQ(raw, "1");

  s.setSpeed({true, false, 3, 500});
  SpeedSettings speed = s.speed();
  EXPECT_TRUE(speed.limitUpload);
  EXPECT_FALSE(speed.limitDownload);
  EXPECT_EQ(speed.uploadKBps, 3u);
  EXPECT_EQ(speed.downloadKBps, 500u);
  EXPECT_EQ(s.set("uploadSpeedLimit", "-5"), 200);
  EXPECT_EQ(s.speed().uploadKBps, 200u);

  s.setUseHttps(true);
  s.setShowTrayBalloon(true);
  EXPECT_TRUE(s.useHttps());
  EXPECT_TRUE(s.showTrayBalloon());
  s.clearLegacyAccountKeys();
  ASSERT_EQ(s.get("nickName", raw), 200);
  EXPECT_EQ(raw, "");
}

std::vector<EnvChange> changesFor(const ProxySettings& proxy, const SpeedSettings& speed,
                                  bool https = false) {
  NetworkSettings s;
  s.userAgent = "ua";
  s.proxy = proxy;
  s.speed = speed;
  s.useHttps = https;
  return networkEnvironment(s);
}

std::optional<std::string> valueOf(const std::vector<EnvChange>& changes, const char* name,
                                   bool* present = nullptr) {
  for (const EnvChange& c : changes) {
    if (c.name == name) {
      if (present) *present = true;
      return c.value;
    }
  }
  if (present) *present = false;
  return std::nullopt;
}

TEST(NetworkEnvironmentTest, SpeedLimitsAreAQuarterAndAtLeastOne) {
  EXPECT_EQ(speedLimitValue(true, 200), "50");
  EXPECT_EQ(speedLimitValue(true, 3), "1");
  EXPECT_EQ(speedLimitValue(true, 4), "1");
  EXPECT_EQ(speedLimitValue(true, 7), "1");
  EXPECT_EQ(speedLimitValue(true, 8), "2");
  EXPECT_EQ(speedLimitValue(true, 0), std::nullopt);
  EXPECT_EQ(speedLimitValue(false, 200), std::nullopt);
  auto changes = changesFor({}, {true, false, 200, 200});
  bool present = false;
  EXPECT_EQ(valueOf(changes, "CURL_UPLOAD_SPEEDLIMIT", &present), "50");
  EXPECT_EQ(valueOf(changes, "CURL_DOWNLOAD_SPEEDLIMIT", &present), std::nullopt);
  EXPECT_TRUE(present);  // removed, not left alone
}

TEST(NetworkEnvironmentTest, ProxyRules) {
  // Never stored: nothing about the proxy is touched, no reshare.
  auto none = changesFor({}, {});
  bool present = true;
  for (const char* name : {"CURL_PROXY_SETTINGTYPE", "CURL_PROXY", "CURL_PROXYTYPE",
                           "CURL_PROXYUSERPWD", "CURL_RESHARE_HANDLE", "USE_HTTPS"}) {
    valueOf(none, name, &present);
    EXPECT_FALSE(present) << name;
  }
  EXPECT_EQ(none.front(), (EnvChange{"CURL_USERAGENT", "ua"}));

  ProxySettings manual;
  manual.typeStored = true;
  manual.settingType = 2;
  manual.address = "10.1.2.3";
  manual.proxyType = "HTTP";
  for (int port : {0, 65536}) {
    manual.port = port;
    auto c = changesFor(manual, {});
    EXPECT_EQ(valueOf(c, "CURL_PROXY"), "10.1.2.3:80");
  }
  manual.port = 3128;
  auto c = changesFor(manual, {}, true);
  EXPECT_EQ(valueOf(c, "CURL_PROXY_SETTINGTYPE", &present), std::nullopt);
  EXPECT_TRUE(present);
  EXPECT_EQ(valueOf(c, "CURL_PROXY"), "10.1.2.3:3128");
  EXPECT_EQ(valueOf(c, "CURL_PROXYTYPE"), "HTTP");
  valueOf(c, "CURL_PROXYUSERPWD", &present);
  EXPECT_FALSE(present);  // no authentication: left as it was
  EXPECT_EQ(valueOf(c, "CURL_RESHARE_HANDLE"), "true");
  EXPECT_EQ(valueOf(c, "USE_HTTPS"), "true");
  manual.auth = true;
  manual.user = "u";
  manual.password = "p:w";
  EXPECT_EQ(valueOf(changesFor(manual, {}), "CURL_PROXYUSERPWD"), "u:p:w");

  ProxySettings system;
  system.typeStored = true;
  system.settingType = 1;
  system.address = "10.1.2.3";  // ignored unless manual
  auto s = changesFor(system, {});
  EXPECT_EQ(valueOf(s, "CURL_PROXY_SETTINGTYPE"), "auto");
  EXPECT_EQ(valueOf(s, "CURL_PROXY", &present), std::nullopt);
  EXPECT_TRUE(present);
  EXPECT_EQ(s.back().name, "CURL_DOWNLOAD_SPEEDLIMIT");
}

TEST(NetworkEnvironmentTest, PushSetsAndRemovesVariables) {
  TempDir dir;
  SettingsStore s;
  ASSERT_TRUE(s.open(dir.file("appconfig.db")));
  setenv("CURL_PROXY", "stale:1", 1);
  ProxySettings off;
  off.settingType = 0;
  s.setProxy(off);
  s.setSpeed({true, true, 200, 0});
  pushNetworkSettings(s, "varnelo-win/1 (b:x86_64; o:Linux)");
  EXPECT_STREQ(getenv("CURL_USERAGENT"), "varnelo-win/1 (b:x86_64; o:Linux)");
  EXPECT_EQ(getenv("CURL_PROXY"), nullptr);
  EXPECT_EQ(getenv("CURL_PROXY_SETTINGTYPE"), nullptr);
  EXPECT_STREQ(getenv("CURL_RESHARE_HANDLE"), "true");
  EXPECT_STREQ(getenv("CURL_UPLOAD_SPEEDLIMIT"), "50");
  EXPECT_EQ(getenv("CURL_DOWNLOAD_SPEEDLIMIT"), nullptr);
  pushSpeedLimits({false, true, 200, 12});
  EXPECT_EQ(getenv("CURL_UPLOAD_SPEEDLIMIT"), nullptr);
  EXPECT_STREQ(getenv("CURL_DOWNLOAD_SPEEDLIMIT"), "3");
  for (const char* name : {"CURL_USERAGENT", "CURL_RESHARE_HANDLE", "CURL_DOWNLOAD_SPEEDLIMIT"})
    unsetenv(name);
}

TEST(AccountInfoTest, ReadsTheUserRecord) {
  AccountInfo info;
  EXPECT_EQ(parseAccountInfo("{not json", info), -1);
  EXPECT_EQ(parseAccountInfo(std::string(20000, '['), info), -1);
  ASSERT_EQ(parseAccountInfo(R"({"user":{"email":"a@b.c","username":"ann","nickname":"A",
      "id":"42","native":true,"accounts":[]}})",
                             info),
            200);
  EXPECT_EQ(info["email"], "a@b.c");
  EXPECT_EQ(info["username"], "ann");
  EXPECT_EQ(info["nickname"], "A");
  EXPECT_EQ(info["id"], "42");
  EXPECT_EQ(info["type"], "native");

  AccountInfo linked;
  ASSERT_EQ(parseAccountInfo(R"({"user":{"username":"ann","email":"a@b.c","native":false,
      "accounts":[{"type":"kuv_passport","login":"ann.kuv"},
                  {"type":"google","email":"ann@gmail"}]}})",
                             linked),
            200);
  EXPECT_EQ(linked["type"], "kuv");  // Google after the passport does not win
  EXPECT_EQ(linked["username"], "ann.kuv");
  EXPECT_EQ(linked["email"], "a@b.c");

  AccountInfo google;
  ASSERT_EQ(parseAccountInfo(R"({"user":{"id":7,"accounts":[{"type":"google",
      "email":"g@gmail"},{"type":"kuv","login":5}]}})",
                             google),
            200);
  EXPECT_EQ(google.count("id"), 0u);  // not a string
  EXPECT_EQ(google["type"], "kuv");   // a later passport entry still sets the type
  EXPECT_EQ(google["email"], "g@gmail");
  EXPECT_EQ(google.count("username"), 0u);

  AccountInfo odd;
  EXPECT_EQ(parseAccountInfo(R"([1,2])", odd), 200);
  EXPECT_EQ(parseAccountInfo(R"({"user":{"accounts":[null,3,{"type":1}]}})", odd), 200);
  EXPECT_TRUE(odd.empty());
}

}  // namespace
}  // namespace varnelo::desktop
