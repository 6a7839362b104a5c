#include "DesktopUi.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPointer>

#include <chrono>
#include <mutex>
#include <thread>

#include "AppEventSink.h"
#include "AppMessages.h"
#include "Application.h"
#include "CHeldDeletionsDlg.h"
#include "CMainWizardDialog.h"
#include "CSettingDlg.h"
#include "CTrayNotifyIcon.h"
#include "EngineNotice.h"
#include "IAppBackend.h"
#include "LoginErrors.h"
#include "ShellIntegration.h"
#include "Strings.h"
#include "TextFormat.h"
#include "Translations.h"
#include "TrayHostMonitor.h"
#include "TrayIcons.h"
#include "TrayIds.h"
#include "TrayPresenter.h"
#include "TrayWatcher.h"
#include "platform/files.h"
#include "varnelo/IVarnelo2.h"
#include "varnelo/SyncState.h"
#include "varnelo/meta.h"

namespace varnelo::desktop {

namespace {

int64_t steadyMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

QString hostOf(const std::string& base) {
  const QString b = QString::fromStdString(base);
  const qsizetype start = b.indexOf(QLatin1String("://"));
  return start < 0 ? b : b.mid(start + 3).section(QLatin1Char('/'), 0, 0);
}

// The windows' backend over the application object and its engine.
class EngineBackend final : public IAppBackend {
 public:
  explicit EngineBackend(Application& app) : app_(app) {}
  ~EngineBackend() override { varnelo_destroy_inner_token(requestToken_); }

  int32_t requestToken(std::string* key) override {
    std::lock_guard lock(tokenMutex_);
    varnelo_destroy_inner_token(requestToken_);
    requestToken_ = nullptr;
    const int32_t rc = varnelo_auth_request_token(&consumerToken(), &requestToken_);
    if (rc == 200 && requestToken_ && requestToken_->key) *key = requestToken_->key;
    return rc;
  }
  int32_t loginWithPassword(int type, const std::string& user,
                            const std::string& password) override {
    varnelo_token_pair* access = nullptr;
    int32_t rc = varnelo_auth_quick_token(user.c_str(), password.c_str(), &consumerToken(), &access,
                                          type == kLoginPassport ? "kuv" : "native");
    if (rc == 200) rc = engineLogin(user, access);
    varnelo_destroy_inner_token(access);
    return rc;
  }
  int32_t loginWithVerifier(const std::string& code) override {
    std::lock_guard lock(tokenMutex_);
    if (!requestToken_) return -105;
    varnelo_token_pair* access = nullptr;
    int32_t rc = varnelo_auth_access_token(&consumerToken(), requestToken_, code.c_str(), &access);
    if (rc == 200) rc = engineLogin(std::string(), access);
    varnelo_destroy_inner_token(access);
    return rc;
  }
  int32_t registerDevice(const std::string& hostName) override {
    const int32_t rc = app_.device().registerDevice(app_.session(), hostName);
    if (rc != 200) {
      auto lock = app_.engineLock();
      app_.engine()->unlinkAccount();
      app_.forgetSession();
    }
    return rc;
  }
  std::string deviceName() override { return app_.device().deviceName(); }
  bool proxySet() override {
    const ProxySettings p = app_.settings().proxy();
    return p.typeStored && p.settingType != 0;
  }
  int appState() override { return app_.state().get(); }
  void setAppState(int state) override { app_.state().set(state); }
  void openUrl(const QString& url) override { app_.open(url.toStdString()); }
  QString accountWebBase() override { return QString::fromStdString(webSiteBase()); }
  QString supportSiteBase() override { return QString::fromStdString(webSiteBase()); }
  QString webSiteHost() override { return hostOf(webSiteBase()); }
  int syncMode() override {
    auto lock = app_.engineLock();
    return app_.engine()->getSyncMode();
  }
  void setSyncMode(int mode) override {
    auto lock = app_.engineLock();
    app_.engine()->setSyncMode(mode);
  }
  QString lastSyncFolder() override {
    return QString::fromStdString(app_.settings().lastSyncFolder());
  }
  QString syncFolder() override { return QString::fromStdString(app_.syncFolder()); }
  int32_t setSyncFolder(const QString& folder) override {
    const int32_t rc = app_.mountSyncFolder(folder.toStdString());
    if (rc == 200) registerFolderBookmark(folder);
    return rc;
  }
  void startSync(bool fromWizard) override { app_.post(UM_START_SYNC, fromWizard ? 1 : 0); }
  void stopSync() override { app_.stopSync(false); }
  void renameStatePaths(const QString& from, const QString& to) override {
    app_.stateCache().rename(from.toStdString() + "/", to.toStdString() + "/");
  }
  void adoptMovedFolder() override {
    // The engine records the folder's device and inode beside its journal;
    // without that record it identifies the folder again by the marker file
    // inside it, which the copy carried over (a folder without the marker
    // would still be held). The journal, keyed by remote paths, stays.
    const std::string record = platform::files::joinPath(app_.dataFolder(), "root.id");
    if (std::error_code ec = platform::files::removeFile(record);
        ec && !platform::files::isAbsence(ec))
      qWarning("windows: cannot forget the old folder's identity: %s", ec.message().c_str());
  }
  void removeStatePaths(const QStringList& folders) override {
    for (const QString& f : folders) app_.stateCache().remove(f.toStdString() + "/");
  }
  bool hasCredentials() override { return app_.session() != nullptr; }
  bool listFolders(const QString& remotePath, QStringList* names) override {
    varnelo_meta_get_result* result = nullptr;
    const int32_t rc =
        varnelo_meta_get(app_.session(), remotePath.toUtf8().constData(), &result, nullptr, 1, 0);
    if (rc != 200 || !result) {
      varnelo_meta_destroy_get_result(result);
      return false;
    }
    const int32_t count = varnelo_array_size(result->entries);
    for (int32_t i = 0; i < count; ++i) {
      varnelo_meta_entry e{};
      if (varnelo_meta_entry_array_at(result->entries, i, &e) != 200 || !e.path) continue;
      if (!(e.type & 2)) continue;  // folders only
      const QString path = QString::fromUtf8(e.path);
      *names << path.section(QLatin1Char('/'), -1);
    }
    varnelo_meta_destroy_get_result(result);
    return true;
  }
  QStringList excludedFolders() override {
    QStringList out;
    IExcludeDirs* list = nullptr;
    auto lock = app_.engineLock();
    if (app_.engine()->getExcludeDirs(&list) == 200 && list) {
      for (uint32_t i = 0; i < list->count(); ++i)
        if (const char* p = list->at(i)) out << QString::fromUtf8(p);
      list->release();
    }
    return out;
  }
  void setExcludedFolders(const QStringList& paths) override {
    std::vector<QByteArray> bytes;
    std::vector<const char*> ptrs;
    for (const QString& p : paths) bytes.push_back(p.toUtf8());
    for (const QByteArray& b : bytes) ptrs.push_back(b.constData());
    auto lock = app_.engineLock();
    app_.engine()->setExcludeDirs(ptrs.data(), static_cast<uint32_t>(ptrs.size()));
  }
  bool readAutostart() override { return !varnelo::desktop::readAutostart().isEmpty(); }
  bool setAutostart(bool on) override {
    if (on) return varnelo::desktop::setAutostart();
    removeAutostart();
    return true;
  }
  bool showTrayBalloon() override { return app_.settings().showTrayBalloon(); }
  void setShowTrayBalloon(bool on) override { app_.settings().setShowTrayBalloon(on); }
  bool useHttps() override { return app_.settings().useHttps(); }
  void setUseHttps(bool on) override {
    app_.settings().setUseHttps(on);
    if (on)
      qputenv("USE_HTTPS", "true");
    else
      qunsetenv("USE_HTTPS");
  }
  void reloadBalloonSetting() override { app_.post(UM_RELOAD_BALLOON); }
  std::string accountInfo() override { return app_.accountInfo(); }
  bool unlinkDevice() override { return app_.unlinkDevice(true); }
  void pushNetworkSettings() override { app_.pushEnvironment(); }
  uint64_t heldDeletionCount() override {
    varnelo_sync_holds holds{};
    return varnelo_get_sync_holds2(app_.engine(), &holds) == 200 ? holds.heldDeletions : 0;
  }
  std::vector<HeldDeletion> heldDeletions() override {
    std::vector<HeldDeletion> out;
    varnelo_held_list* list = nullptr;
    {
      auto lock = app_.engineLock();
      if (varnelo_list_held_deletions2(app_.engine(), &list) != 200) return out;
    }
    // The list is the caller's copy: read without the engine's lock.
    const int32_t size = varnelo_held_list_size(list);
    for (int32_t i = 0; i < size; ++i) {
      varnelo_held_deletion d{};
      if (varnelo_held_list_at(list, i, &d) != 200 || !d.path) continue;
      out.push_back({QString::fromUtf8(d.path), d.direction == VARNELO_HELD_DELETED_HERE, d.files});
    }
    varnelo_destroy_held_list(list);
    return out;
  }
  int32_t releaseHeldDeletions(bool confirm) override {
    auto lock = app_.engineLock();
    return confirm ? varnelo_confirm_deletions2(app_.engine())
                   : varnelo_restore_deletions2(app_.engine());
  }

 private:
  int32_t engineLogin(const std::string& user, const varnelo_token_pair* access) {
    auto lock = app_.engineLock();
    const int32_t rc = app_.engine()->login(user.c_str(), &consumerToken(), access);
    app_.forgetSession();
    return rc;
  }

  Application& app_;
  std::mutex tokenMutex_;  // guards requestToken_ between the UI and the login worker
  varnelo_token_pair* requestToken_ = nullptr;
};

}  // namespace

class DesktopUi final : public AppUi {
 public:
  void start(Application& app) override {
    app_ = &app;
    backend_ = std::make_unique<EngineBackend>(app);
    wizard_ = std::make_unique<CMainWizardDialog>(*backend_);
    QObject::connect(wizard_.get(), &CMainWizardDialog::cancelledByUser,
                     [this] { app_->post(UM_QUIT); });
    icon_ = std::make_unique<CTrayNotifyIcon>();
    QObject::connect(icon_.get(), &CTrayNotifyIcon::command, [this](int id) {
      if (id == kCmdHeldDeletions)
        showHeldDeletions();
      else if (id == kCmdAdoptFolder)
        adoptFolder();
      else
        app_->runCommand(id);
    });
    // The held-deletions balloon opens the dialog when clicked.
    QObject::connect(icon_.get(), &CTrayNotifyIcon::balloonClicked, [this] {
      if (presenter_->hasNotice(kNoticeDeletionsHeld))
        showHeldDeletions();
      else if (presenter_->hasNotice(kNoticeFolderUnavailable))
        adoptFolder();
    });
    TrayPresenter::Hooks hooks;
    hooks.nowMs = steadyMs;
    hooks.readStatus = [this](TransferSnapshot* s) {
      IVarneloStatus* status = nullptr;
      auto lock = app_->engineLock();
      if (app_->engine()->getStatus(&status) != 200 || !status) return false;
      const char* file = status->currentFile();
      s->hasFile = file && *file;
      s->file = QString::fromUtf8(file ? file : "");
      s->total = status->currentTotal();
      s->done = status->currentDone();
      s->uploadSpeed = status->uploadSpeed();
      s->downloadSpeed = status->downloadSpeed();
      status->release();
      return true;
    };
    hooks.fetchQuota = [this](Quota*) { return fetchQuotaLater(); };
    hooks.readHolds = [this](bool* unavailable, uint64_t* held) {
      varnelo_sync_holds holds{};
      if (varnelo_get_sync_holds2(app_->engine(), &holds) != 200) return false;
      *unavailable = holds.folderUnavailable != 0;
      *held = holds.heldDeletions;
      return true;
    };
    hooks.setAppState = [this](int s) { app_->state().set(s); };
    hooks.balloonsEnabled = [this] { return app_->settings().showTrayBalloon(); };
    presenter_ = std::make_unique<TrayPresenter>(model_, *icon_, applicationVersion(), hooks);
    auto post = [this](const TrayPost& p) {
      if (p.kind == TrayPost::Status) app_->post(UM_TRAY_STATUS, p.state);
      if (p.kind == TrayPost::Progress) app_->post(UM_TRAY_PROGRESS, p.state);
      if (p.kind == TrayPost::ShowShutdown) app_->post(UM_SHOW_SHUTDOWN);
    };
    listener_ = app.state().addListener([this, post](int, int now) {
      model_.shutdownAfterSync = app_->shutdownAfterSync();
      onAppStateForTray(model_, now, post);
    });
    watcher_ = std::make_unique<TrayWatcher>(model_, post, steadyMs);
    // Without a tray host (stock GNOME) the status window is the face.
    hosts_ = std::make_unique<TrayHostMonitor>();
    QObject::connect(hosts_.get(), &TrayHostMonitor::availableChanged, icon_.get(),
                     &CTrayNotifyIcon::setHostAvailable);
    hosts_->start();
    icon_->create(kIconOffline, formatText(str(156), {QString(applicationVersion())}));
    presenter_->onTrayStatus(app.state().get());
    watcher_->start();
  }

  ~DesktopUi() override {
    stop();
    // A usage request runs for at most the client's 30 s time-out.
    if (quotaThread_.joinable()) quotaThread_.join();
  }

  void stop() override {
    if (watcher_) watcher_->stop();
    if (app_ && listener_) app_->state().removeListener(listener_);
    listener_ = 0;
    hosts_.reset();
    if (icon_) icon_->remove();
  }

  void handleMessage(AppMessage& m) override {
    if (!presenter_) return;
    model_.shutdownAfterSync = app_->shutdownAfterSync();
    icon_->setShutdownChecked(app_->shutdownAfterSync());
    switch (m.message()) {
      case UM_TRAY_STATUS:
        presenter_->onTrayStatus(static_cast<int>(m.wParam));
        break;
      case UM_TRAY_PROGRESS:
        presenter_->onTrayProgress();
        break;
      case UM_RELOAD_BALLOON:
        presenter_->reloadBalloonSetting();
        break;
      default:
        break;
    }
  }

  void showMain(int command) override {
    if (!wizard_) return;
    if (command == kShowHide) {
      wizard_->hide();
    } else {
      wizard_->show();
      wizard_->raise();
      wizard_->activateWindow();
    }
  }
  bool isMainVisible() const override { return wizard_ && wizard_->isVisible(); }
  void bringMainToFront() override {
    if (!wizard_) return;
    wizard_->showNormal();
    wizard_->raise();
    wizard_->activateWindow();
  }
  void restartWizard() override {
    if (wizard_) wizard_->restart();
  }

  bool runCommand(int id) override {
    if (id == kCmdPauseResume) {
      const auto action = presenter_->pauseActionFor();
      auto lock = app_->engineLock();
      if (action == TrayPresenter::PauseAction::Pause) app_->engine()->pauseSync();
      if (action == TrayPresenter::PauseAction::Resume) app_->engine()->resumeSync(false);
      return true;
    }
    if (id == kCmdSettings) {
      if (settingsOpen_) return true;  // one sheet at a time
      settingsOpen_ = true;
      CSettingDlg sheet(*backend_, app_->settings());
      sheet.exec();
      settingsOpen_ = false;
      if (isMainVisible()) bringMainToFront();
      return true;
    }
    if (id == kCmdAbout) {
      QMessageBox::about(nullptr, withoutMnemonic(str(32791)),
                         formatText(str(156), {QString(applicationVersion())}));
      return true;
    }
    return false;
  }

  void showBalloon(int kind, const QString& title, const QString& text, int timeoutMs) override {
    if (presenter_) presenter_->showBalloon(BalloonRequest::make(kind, title, text, timeoutMs));
  }

  QString chooseFolder(const QString& title, const QString& root) override {
    return QFileDialog::getExistingDirectory(nullptr, title, root);
  }

  void syncFolderMissing(const QString& folder) override {
    QMessageBox box(QMessageBox::Warning, str(170), formatText(str(177), {folder}),
                    QMessageBox::Ok | QMessageBox::Cancel);
    bool made = box.exec() == QMessageBox::Ok && QDir().mkpath(folder);
    QString chosen = folder;
    if (!made) {
      chosen = QFileDialog::getExistingDirectory(nullptr, str(133), QDir::homePath());
      if (chosen.isEmpty()) {
        chosen = defaultSyncFolder(backend_->lastSyncFolder(), QDir::homePath());
        QDir().mkpath(chosen);
      }
    }
    backend_->setSyncFolder(chosen);
  }

  void registerFolderShortcut(const QString& folder) override { registerFolderBookmark(folder); }
  void accountUnlinked() override {
    if (app_) unregisterFolderBookmark(backend_->lastSyncFolder());
    model_.resetForUnlink();
  }

  CMainWizardDialog* wizard() const { return wizard_.get(); }
  TrayPresenter* presenter() const { return presenter_.get(); }
  CTrayNotifyIcon* icon() const { return icon_.get(); }

  IVarneloEvent* eventSink() override {
    if (!sink_) {
      // The engine may report before start() has seen the application; until
      // then a report changes nothing (app_ is set once, on the UI thread,
      // before sync starts).
      AppEventSink::Hooks h;
      h.appState = [this] { return app_ ? app_->state().get() : 0; };
      h.setAppState = [this](int s) {
        if (app_) app_->state().set(s);
      };
      h.enqueueFileState = [this](const std::string& p, int s) {
        if (app_) app_->stateWorker().enqueue(p, s);
      };
      h.postBalloon = [this](const BalloonRequest& b) {
        if (icon_)
          QMetaObject::invokeMethod(
              icon_.get(), [this, b] { presenter_->showBalloon(b); }, Qt::QueuedConnection);
      };
      h.postUnlinkDevice = [this] {
        if (app_) app_->post(UM_UNLINK_DEVICE, 1);
      };
      h.postNotice = [this](int code, const std::string& path) {
        if (icon_)
          QMetaObject::invokeMethod(
              icon_.get(), [this, code, path] { presenter_->onNotice(code, path); },
              Qt::QueuedConnection);
      };
      sink_ = std::make_unique<AppEventSink>(model_, h);
    }
    return sink_.get();
  }

 private:
  // The usage is asked for on a thread of its own, so that a slow service
  // never holds up the menu; the answer comes back to the UI thread.
  QuotaFetch fetchQuotaLater() {
    if (quotaFailed_) {
      quotaFailed_ = false;  // this answer ends one round of asking
      return QuotaFetch::Failed;
    }
    if (quotaBusy_) return QuotaFetch::Pending;
    const varnelo_credentials* session = app_->session();
    varnelo_credentials* copy = nullptr;
    // Our own copy: an unlink may free the engine's while the request runs.
    if (!session ||
        varnelo_auth_combine(session->user, &session->consumer, &session->access, &copy) != 200)
      return QuotaFetch::Failed;
    if (quotaThread_.joinable()) quotaThread_.join();
    quotaBusy_ = true;
    quotaThread_ = std::thread([this, copy] {
      varnelo_meta_info_record info{};
      const bool ok = varnelo_meta_info(copy, &info) == 200;
      varnelo_destroy_token(copy);
      QMetaObject::invokeMethod(
          icon_.get(),
          [this, ok, info] {
            quotaBusy_ = false;
            if (ok && (info.used != 0 || info.total != 0))
              model_.setQuota({info.used, info.total});
            else
              quotaFailed_ = true;
            presenter_->refreshUsage();
          },
          Qt::QueuedConnection);
    });
    return QuotaFetch::Pending;
  }

  // The folder at the sync folder's path is not the one synced before; only
  // the user may take it as it is now: a full comparison that deletes
  // nothing on either side.
  void adoptFolder() {
    const QString folder = QString::fromStdString(app_->syncFolder());
    QMessageBox box(QMessageBox::Question, str(14216), formatText(str(14217), {folder}),
                    QMessageBox::Yes | QMessageBox::No);
    box.button(QMessageBox::Yes)->setText(str(14134));
    box.button(QMessageBox::No)->setText(str(14135));
    box.setDefaultButton(QMessageBox::No);
    if (box.exec() != QMessageBox::Yes) return;
    app_->stopSync(false);
    {
      auto lock = app_->engineLock();
      const int32_t rc = app_->engine()->startSync(true);
      if (rc != 200) qWarning("windows: starting the sync over the folder failed (%d)", rc);
    }
    presenter_->clearNotice(kNoticeFolderUnavailable);
  }

  // Delete carries the held deletions out, Keep brings them back; a dialog
  // closed without an answer leaves them held (the menu item stays).
  void showHeldDeletions() {
    const std::vector<HeldDeletion> held = backend_->heldDeletions();
    // The text counts the entries listed; without a list, the files held.
    CHeldDeletionsDlg dlg(held.empty() ? backend_->heldDeletionCount() : held.size(), held);
    if (dlg.exec() != QDialog::Accepted || dlg.answer() == CHeldDeletionsDlg::kNone) return;
    const bool confirm = dlg.answer() == CHeldDeletionsDlg::kDelete;
    const int32_t rc = backend_->releaseHeldDeletions(confirm);
    if (rc == 200)
      presenter_->clearNotice(kNoticeDeletionsHeld);
    else
      qWarning("windows: %s the held deletions failed (%d)", confirm ? "releasing" : "keeping", rc);
  }

  Application* app_ = nullptr;
  TrayModel model_;
  std::unique_ptr<EngineBackend> backend_;
  std::unique_ptr<CMainWizardDialog> wizard_;
  std::unique_ptr<CTrayNotifyIcon> icon_;
  std::unique_ptr<TrayHostMonitor> hosts_;
  std::unique_ptr<TrayPresenter> presenter_;
  std::unique_ptr<TrayWatcher> watcher_;
  std::unique_ptr<AppEventSink> sink_;
  int listener_ = 0;
  bool settingsOpen_ = false;
  bool quotaBusy_ = false;    // UI thread: a usage request runs
  bool quotaFailed_ = false;  // UI thread: the last one failed
  std::thread quotaThread_;   // the usage request; joined before the next and at the end
};

CMainWizardDialog* wizardOf(AppUi& ui) {
  auto* d = dynamic_cast<DesktopUi*>(&ui);
  return d ? d->wizard() : nullptr;
}

TrayPresenter* trayOf(AppUi& ui) {
  auto* d = dynamic_cast<DesktopUi*>(&ui);
  return d ? d->presenter() : nullptr;
}

CTrayNotifyIcon* trayIconOf(AppUi& ui) {
  auto* d = dynamic_cast<DesktopUi*>(&ui);
  return d ? d->icon() : nullptr;
}

std::unique_ptr<AppUi> createAppUi() {
  // The desktop's language picks the texts, before the first window.
  if (QCoreApplication* app = QCoreApplication::instance()) installTranslations(*app);
  // Every window's icon, and the launcher entry the desktop matches them to
  // (and notifications to); style and icon theme stay the desktop's own.
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
    QGuiApplication::setWindowIcon(applicationIcon());
    QGuiApplication::setDesktopFileName(QStringLiteral("varnelo"));
  }
  return std::make_unique<DesktopUi>();
}

}  // namespace varnelo::desktop
