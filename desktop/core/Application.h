// The application object: owns what lives as long as the process (the data
// folder, the settings store, the file state cache and its worker, the
// device, the application state, the engine and its event sink) and
// carries out what the private messages ask for that needs no window (start
// of sync after login, unlink, opening the folder and web pages, the
// orderly stop of sync). desktop/app's start-up makes it; the windows reach
// everything through it.
//
//   Application app(dataFolder);
//   app.openStores();
//   app.pushEnvironment();
//   if (int32_t rc = app.createEngine(); rc != 200) return rc;
//   app.setUi(&windows);
//   app.attachEventSink();          // the engine's events start here
//   app.setMainWindow(&mainWindow);
//
// Threads: the UI thread calls everything unless said otherwise. The engine
// is called by one thread at a time: hold engineLock() around engine calls
// made off the UI thread (the login thread) and around UI-thread calls that
// may overlap them.
#pragma once

#include <QObject>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "AppState.h"
#include "AppUi.h"
#include "Device.h"
#include "EngineEvents.h"
#include "FileStateCache.h"
#include "FileStateWorker.h"
#include "SettingsStore.h"
#include "varnelo/IVarnelo2.h"

namespace varnelo::desktop {

// The version of this build (the project's one version setting).
const char* applicationVersion();

// The consumer pair this build signs with (the build's settings).
const varnelo_token_pair& consumerToken();

// "http://host:httpPort" of the service named by VARNELO_SERVICE (its
// default when unset); empty when the text is malformed.
std::string webSiteBase();

class Application {
 public:
  explicit Application(std::string dataFolder);
  ~Application();  // releases the engine if shutdown() did not
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  // Start-up steps, in this order. openStores: appconfig.db and
  // statecache.db, the device id and name (the stored legacy keys are
  // cleared). False when a database cannot be used (the defaults apply).
  bool openStores();
  // The network settings into the environment (CURL_*, USE_HTTPS).
  void pushEnvironment();
  // The engine from varnelo_new2 over the data folder. 200 or the
  // factory's code.
  int32_t createEngine();
  // Gives the engine its event sink: the windows' own when they bring one,
  // else the core's. After setUi.
  void attachEventSink();

  void setUi(AppUi* ui);  // null restores the headless default
  AppUi& ui() { return *ui_; }
  void setMainWindow(QObject* window) { mainWindow_ = window; }
  QObject* mainWindow() const { return mainWindow_; }
  // Posts a private message to the main window; any thread.
  void post(int message, qintptr wParam = 0) const;
  // Carries out a command of the tray menu (AppCommandId) on the main
  // window; UI thread.
  void runCommand(int commandId) {
    if (commandHandler_) commandHandler_(commandId);
  }
  void setCommandHandler(std::function<void(int)> handler) { commandHandler_ = std::move(handler); }

  const std::string& dataFolder() const { return dataFolder_; }
  SettingsStore& settings() { return settings_; }
  FileStateCache& stateCache() { return stateCache_; }
  FileStateWorker& stateWorker() { return stateWorker_; }
  Device& device() { return device_; }
  AppState& state() { return state_; }
  IVarnelo2* engine() const { return engine_; }
  // The core's sink (given to the engine unless the windows bring one).
  IVarneloEvent& eventSink() { return events_; }
  std::unique_lock<std::mutex> engineLock() { return std::unique_lock(engineMutex_); }
  // The engine's credentials handle, fetched on first use and kept; null
  // while not signed in.
  const varnelo_credentials* session();
  void forgetSession();

  // The account's user information as last fetched (stored at exit).
  std::string accountInfo();
  void setAccountInfo(const std::string& json);

  // The local folder mounted for "/home", "" when none.
  std::string syncFolder();
  // Every mounted local folder.
  std::vector<std::string> volumeFolders();

  // UM_START_SYNC: device name, account information, the folder check, the
  // chunk cache, the file state cache's roots, then the engine's sync.
  void startSyncAfterLogin(bool fromWizard);
  // Sets `folder` (an existing directory) as the sync folder: mounted for
  // "/home", the device reported, remembered as "lastSyncFolder". 200 or
  // the engine's code; -101 when it is not a directory.
  int32_t mountSyncFolder(const std::string& folder);
  // Stops the engine's sync (waiting for it unless `atExit`) and marks the
  // file state cache not running.
  void stopSync(bool atExit);
  // UM_UNLINK_DEVICE: unregisters this computer and signs out. False when
  // nothing was done (waiting for login, or the sign-out failed).
  bool unlinkDevice(bool showWizard);

  // Opens the sync folder in the file manager; a request while one runs is
  // ignored.
  void openSyncFolder();
  // Opens WebSiteBase + `page` ("/help?from=pc") in the browser.
  void openWebPage(const std::string& page);
  // How folders and addresses are opened (the platform's launcher unless a
  // test puts a recorder in its place). True when it was started.
  using Opener = std::function<bool(const std::string& target)>;
  void setOpener(Opener opener) { opener_ = std::move(opener); }
  bool open(const std::string& target);
  // How programs are started (the update host) and the computer powered
  // off; the same platform launcher in normal use.
  using Runner =
      std::function<bool(const std::string& program, const std::vector<std::string>& arguments)>;
  void setRunner(Runner runner) { runner_ = std::move(runner); }
  bool run(const std::string& program, const std::vector<std::string>& arguments);
  using PowerOff = std::function<bool()>;
  void setPowerOff(PowerOff powerOff) { powerOff_ = std::move(powerOff); }
  bool powerOff();

  // The tray menu's "shut down when sync completes" option; any thread.
  bool shutdownAfterSync() const { return shutdownAfterSync_.load(); }
  void setShutdownAfterSync(bool on) { shutdownAfterSync_.store(on); }

  // The end of the process's use of the engine: stop of sync at exit
  // (states 256, then 8), the device id and the account information
  // stored, the engine released.
  void shutdown();

 private:
  std::string chunkCacheFolder();
  void openChunkCache();

  const std::string dataFolder_;
  SettingsStore settings_;
  FileStateCache stateCache_;
  FileStateWorker stateWorker_{stateCache_};
  Device device_;
  AppState state_;
  EngineEvents events_{*this};
  AppUi headless_;
  AppUi* ui_ = &headless_;
  QObject* mainWindow_ = nullptr;
  Opener opener_;
  std::function<void(int)> commandHandler_;
  Runner runner_;
  PowerOff powerOff_;
  std::atomic<bool> shutdownAfterSync_{false};
  bool opening_ = false;  // openSyncFolder is running (UI thread only)

  std::mutex engineMutex_;  // held by the thread that calls the engine
  IVarnelo2* engine_ = nullptr;
  std::atomic<const varnelo_credentials*> session_{nullptr};
  std::mutex accountMutex_;  // guards accountInfo_
  std::string accountInfo_;
};

}  // namespace varnelo::desktop
