// What the application's windows (the tray icon, the login wizard that is
// also the hidden main window, the settings sheet, balloons) do for the
// application core. desktop/ui implements it and hands it to the program
// with Application::setUi; until then, and in a headless run, the no-op
// defaults below stand in, so the program runs without any window.
//
// Every operation runs on the UI thread except the three engine* ones,
// which the engine's event sink calls on engine threads (record state under
// your own lock and post; never touch a window there).
#pragma once

#include <QString>
#include <memory>

#include "AppMessages.h"
#include "varnelo/IVarneloEvent.h"

namespace varnelo::desktop {

class Application;

class AppUi {
 public:
  virtual ~AppUi() = default;

  // The main window and the tray come up (after the engine exists and before
  // the login thread starts) ...
  virtual void start(Application& app) { (void)app; }
  // ... and go at the orderly exit, before the main window is destroyed:
  // stop the tray watcher thread (wait at most 500 ms) and remove the icon.
  virtual void stop() {}

  // The private messages that belong to the windows: UM_TRAY_NOTIFY,
  // UM_RELOAD_BALLOON, UM_TRAY_STATUS, UM_TRAY_PROGRESS.
  virtual void handleMessage(AppMessage& message) { (void)message; }

  // UM_SHOW_MAIN: show (kShowShow, the login wizard at its first page) or
  // hide the main window.
  virtual void showMain(int showCommand) { (void)showCommand; }
  virtual bool isMainVisible() const { return false; }
  // Restores a minimised main window and raises it.
  virtual void bringMainToFront() {}
  // After an unlink: the wizard starts again at its first page.
  virtual void restartWizard() {}

  // The window commands among the tray menu's: kCmdPauseResume,
  // kCmdSettings, kCmdAbout (the core handles the others). True when handled.
  virtual bool runCommand(int commandId) {
    (void)commandId;
    return false;
  }

  // kind: 0 warning, 1 error, 2 information, 3 none, 4 own icon.
  virtual void showBalloon(int kind, const QString& title, const QString& text, int timeoutMs) {
    (void)kind, (void)title, (void)text, (void)timeoutMs;
  }

  // "-sendto"'s folder chooser, rooted at the sync folder; empty when the
  // user cancels.
  virtual QString chooseFolder(const QString& title, const QString& root) {
    (void)title, (void)root;
    return QString();
  }

  // The check of the sync folder at each start of sync when the engine's
  // folder is not a directory: ask the user to re-create it or choose
  // another (and set it). Without windows nothing is created: the folder
  // may be an unmounted disk.
  virtual void syncFolderMissing(const QString& folder) { (void)folder; }

  // The folder's shortcuts (file-manager bookmark) for `folder`, made again
  // when opening the folder had to fall back to its path.
  virtual void registerFolderShortcut(const QString& folder) { (void)folder; }
  // The account was unlinked: remove the shortcuts, reset the progress
  // counters and the quota record.
  virtual void accountUnlinked() {}

  // The engine's event sink, when the windows bring their own (it then does
  // the core's part too: the application state, the file state cache's
  // queue, UM_UNLINK_DEVICE on 401). Null: the core's sink is used, which
  // applies its part and hands each report on to the three below.
  virtual IVarneloEvent* eventSink() { return nullptr; }

  // Engine threads: the core's sink's reports, after it applied its part.
  virtual void engineDownloaded(const char* path) { (void)path; }
  virtual void engineUploaded(const char* path) { (void)path; }
  virtual void engineResult(int code, const char* path) { (void)code, (void)path; }
};

// The windows, made by desktop/ui (the program calls it when that library
// is built).
std::unique_ptr<AppUi> createAppUi();

}  // namespace varnelo::desktop
