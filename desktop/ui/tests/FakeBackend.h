// A backend for window tests: records what the windows ask for and answers
// from its fields. Login calls may come from the login page's worker thread;
// the test reads the results only after the page reports the end.
#pragma once

#include <QStringList>

#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "IAppBackend.h"

namespace varnelo::desktop::test {

class FakeBackend : public IAppBackend {
 public:
  int32_t requestToken(std::string* key) override {
    *key = "reqkey";
    return requestTokenResult;
  }
  int32_t loginWithPassword(int type, const std::string& user, const std::string&) override {
    lastType = type;
    lastUser = user;
    return loginResult;
  }
  int32_t loginWithVerifier(const std::string& code) override {
    lastCode = code;
    return loginResult;
  }
  int32_t registerDevice(const std::string& host) override {
    registeredHost = host;
    return registerResult;
  }
  std::string deviceName() override { return "laptop"; }
  bool proxySet() override { return proxy; }
  int appState() override { return state; }
  void setAppState(int s) override {
    state = s;
    states.push_back(s);
  }
  void openUrl(const QString& url) override { opened << url; }
  QString accountWebBase() override { return "http://acct.example"; }
  QString supportSiteBase() override { return "http://help.example"; }
  QString webSiteHost() override { return "www.example"; }
  int syncMode() override { return mode; }
  void setSyncMode(int m) override {
    mode = m;
    calls << QStringLiteral("mode %1").arg(m);
  }
  QString lastSyncFolder() override { return last; }
  QString syncFolder() override { return folder; }
  int32_t setSyncFolder(const QString& f) override {
    calls << "folder " + f;
    if (mountResult != 200) return mountResult;
    folder = f;
    return 200;
  }
  void startSync(bool fromWizard) override { calls << (fromWizard ? "start wizard" : "start"); }
  void stopSync() override { calls << "stop"; }
  void renameStatePaths(const QString& a, const QString& b) override {
    calls << "rename " + a + " " + b;
  }
  void removeStatePaths(const QStringList& l) override { calls << "remove " + l.join(","); }
  void adoptMovedFolder() override { calls << "adopt"; }
  bool hasCredentials() override { return true; }
  bool listFolders(const QString& path, QStringList* names) override {
    ++listings;
    const auto it = tree.find(path);
    if (it == tree.end()) return false;
    *names = it->second;
    return true;
  }
  QStringList excludedFolders() override { return excluded; }
  void setExcludedFolders(const QStringList& l) override {
    excluded = l;
    calls << "exclude " + l.join(",");
  }
  bool readAutostart() override { return autostart; }
  bool setAutostart(bool on) override {
    autostart = on;
    calls << QStringLiteral("autostart %1").arg(on);
    return true;
  }
  bool showTrayBalloon() override { return balloons; }
  void setShowTrayBalloon(bool on) override {
    balloons = on;
    calls << QStringLiteral("balloons %1").arg(on);
  }
  bool useHttps() override { return https; }
  void setUseHttps(bool on) override {
    https = on;
    calls << QStringLiteral("https %1").arg(on);
  }
  void reloadBalloonSetting() override { calls << "reload balloons"; }
  std::string accountInfo() override { return account; }
  bool unlinkDevice() override {
    calls << "unlink";
    return true;
  }
  void pushNetworkSettings() override { calls << "push"; }
  uint64_t heldDeletionCount() override { return held.size(); }
  std::vector<HeldDeletion> heldDeletions() override { return held; }
  int32_t releaseHeldDeletions(bool confirm) override {
    calls << QStringLiteral("release %1").arg(confirm);
    return 200;
  }

  std::atomic<int32_t> requestTokenResult{200}, loginResult{200}, registerResult{200};
  int lastType = -1;
  std::string lastUser, lastCode, registeredHost;
  bool proxy = false, autostart = false, balloons = true, https = false;
  int state = 16, mode = 3, listings = 0;
  int32_t mountResult = 200;
  std::vector<int> states;
  QStringList opened, calls, excluded;
  QString last, folder = "/tmp/varnelo-ui-test/Varnelo";
  std::string account;
  std::map<QString, QStringList> tree;
  std::vector<HeldDeletion> held;
};

}  // namespace varnelo::desktop::test
