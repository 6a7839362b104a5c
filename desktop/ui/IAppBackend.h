// What the windows (wizard, settings sheet, selective sync, held deletions)
// ask of the rest of the application: the engine, the settings store, the
// service calls and the desktop. The program implements it over the real
// engine (EngineBackend); tests implement it over a fake or a real engine.
// Every call comes from the UI thread, except the login calls, which the
// login page runs on its own worker thread (one at a time).
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <string>
#include <vector>

namespace varnelo::desktop {

struct HeldDeletion {
  QString path;         // shown to the user
  bool remote = false;  // true: would be deleted on the service (deleted locally)
  uint64_t files = 1;   // synced files it covers (a folder: all below it)
};

class IAppBackend {
 public:
  virtual ~IAppBackend() = default;

  // --- Login (worker thread) ---
  // varnelo_auth_request_token, keeping the token; its key on 200.
  virtual int32_t requestToken(std::string* key) = 0;
  // quick_token with the provider ("kuv" for type 1, "native" for type 0),
  // then the engine's login.
  virtual int32_t loginWithPassword(int type, const std::string& user,
                                    const std::string& password) = 0;
  // access_token with the kept request token and the code, then the login;
  // -105 without a request token.
  virtual int32_t loginWithVerifier(const std::string& code) = 0;
  // Registers this PC under `hostName`; on failure the engine is logged out.
  virtual int32_t registerDevice(const std::string& hostName) = 0;

  // --- UI thread ---
  virtual std::string deviceName() = 0;
  virtual bool proxySet() = 0;  // a stored "proxySettingType" other than 0
  virtual int appState() = 0;
  virtual void setAppState(int state) = 0;
  virtual void openUrl(const QString& url) = 0;
  // AccountServiceBase as the browser is sent to it (plain HTTP), the
  // support site and the web site's host name for messages.
  virtual QString accountWebBase() = 0;
  virtual QString supportSiteBase() = 0;
  virtual QString webSiteHost() = 0;

  virtual int syncMode() = 0;  // 1 upload only, 3 two-way
  virtual void setSyncMode(int mode) = 0;
  virtual QString lastSyncFolder() = 0;
  virtual QString syncFolder() = 0;  // the mounted local folder, or empty
  // Mounts `folder` for "/home", reports the device, adds the bookmark and
  // stores "lastSyncFolder". 200 on success.
  virtual int32_t setSyncFolder(const QString& folder) = 0;
  virtual void startSync(bool fromWizard) = 0;
  virtual void stopSync() = 0;
  // Renames the file state cache's paths from one folder to another.
  virtual void renameStatePaths(const QString& from, const QString& to) = 0;
  // The sync folder was copied to its new place (another file system): the
  // same folder with a new device and inode. The engine takes it as the one
  // it synced, by the marker file that came along, at the next start,
  // instead of holding it as "not the folder synced before".
  virtual void adoptMovedFolder() = 0;
  virtual void removeStatePaths(const QStringList& localFolders) = 0;

  // Selective sync: whether the service can be asked, the child folders of
  // a remote folder ("home", "home/Photos"), the excluded list.
  virtual bool hasCredentials() = 0;
  virtual bool listFolders(const QString& remotePath, QStringList* names) = 0;
  virtual QStringList excludedFolders() = 0;
  virtual void setExcludedFolders(const QStringList& remotePaths) = 0;

  // Settings.
  virtual bool readAutostart() = 0;
  virtual bool setAutostart(bool on) = 0;
  virtual bool showTrayBalloon() = 0;
  virtual void setShowTrayBalloon(bool on) = 0;
  virtual bool useHttps() = 0;
  virtual void setUseHttps(bool on) = 0;    // stores it and sets / removes USE_HTTPS
  virtual void reloadBalloonSetting() = 0;  // UM_RELOAD_BALLOON
  virtual std::string accountInfo() = 0;    // the stored JSON
  // UnlinkDevice(showWizard = true); true when unlinked.
  virtual bool unlinkDevice() = 0;
  // The proxy and speed records live in SettingsStore; pushing them again
  // into the environment is the backend's.
  virtual void pushNetworkSettings() = 0;

  // Held deletions: how many files, the entries the engine names, and the
  // user's answer: confirm carries them out, otherwise they are kept (what
  // was deleted here is downloaded again, what was deleted on the service
  // uploaded again). 200, or the engine's code.
  virtual uint64_t heldDeletionCount() = 0;
  virtual std::vector<HeldDeletion> heldDeletions() = 0;
  virtual int32_t releaseHeldDeletions(bool confirm) = 0;
};

}  // namespace varnelo::desktop
