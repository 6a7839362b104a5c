#include "MainWindow.h"

#include <QCoreApplication>
#include <QTimer>
#include <QtGlobal>

#include "AppUi.h"
#include "Application.h"
#include "CShutdownDlg.h"
#include "FolderCopy.h"
#include "HandOver.h"
#include "Strings.h"
#include "platform/files.h"
#include "platform/text.h"
#include "varnelo/meta.h"

namespace varnelo::desktop {
namespace {

// A link id goes into an address unescaped, so only plain characters pass.
bool plainLinkId(const char* id) {
  if (!id || !*id) return false;
  for (const char* p = id; *p; ++p) {
    const char c = *p;
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
          c == '_' || c == '.' || c == '~')) {
      return false;
    }
  }
  return true;
}

}  // namespace

MainWindow::MainWindow(Application& app) : app_(app) {
  setObjectName("varnelo-main-window");
}

MainWindow::~MainWindow() = default;

bool MainWindow::event(QEvent* e) {
  if (!isAppMessage(e)) return QObject::event(e);
  handleMessage(*static_cast<AppMessage*>(e));
  return true;
}

void MainWindow::handleMessage(AppMessage& m) {
  switch (m.message()) {
    case UM_UNLINK_DEVICE:
      m.result = app_.unlinkDevice(m.wParam != 0) ? 1 : 0;
      break;
    case UM_START_SYNC:
      app_.startSyncAfterLogin(m.wParam == 1);
      break;
    case UM_QUIT:
      orderlyExit();
      break;
    case UM_SHOW_MAIN:
      app_.ui().showMain(static_cast<int>(m.wParam));
      break;
    case UM_SHOW_SHUTDOWN:
      showShutdownDialog();
      break;
    default:  // the tray's messages
      app_.ui().handleMessage(m);
      break;
  }
}

void MainWindow::orderlyExit() {
  if (exiting_) return;
  exiting_ = true;
  app_.ui().stop();
  if (shutdownDialog_) shutdownDialog_->hide();
  QCoreApplication::exit(0);
}

void MainWindow::frontOrFolder() {
  if (app_.ui().isMainVisible()) {
    app_.ui().bringMainToFront();
  } else {
    app_.openSyncFolder();
  }
}

void MainWindow::handleCommandLine(const QString& text) {
  qInfo("varnelo: handed over [%s]", text.toUtf8().constData());
  const HandOver h = parseHandOver(text.toStdString());
  switch (h.kind) {
    case HandOverSwitch::ExtLink:
      publishLink(QString::fromStdString(h.argument));
      break;
    case HandOverSwitch::SendTo:
      sendTo(QString::fromStdString(h.argument));
      break;
    case HandOverSwitch::Quit:
      app_.post(UM_QUIT);
      break;
    case HandOverSwitch::Uninst:
      orderlyExit();
      break;
    case HandOverSwitch::Upgrade:
      // The upgrade waits for this process to end; the balloon says why the
      // icon goes away. The exit follows the balloon without blocking the
      // event loop meanwhile.
      app_.ui().showBalloon(2, str(kStrUpgradingTitle), str(kStrUpgradingText), 2000);
      QTimer::singleShot(2000, this, [this] { orderlyExit(); });
      break;
    case HandOverSwitch::Empty:
    case HandOverSwitch::Other:
      frontOrFolder();
      break;
  }
}

void MainWindow::publishLink(const QString& argument) {
  const std::string root = app_.syncFolder();
  const std::string remote = remotePathOf(singlePath(argument.toStdString()), root);
  const varnelo_credentials* session = app_.session();
  if (remote.empty() || !session) return;
  char* id = nullptr;
  int32_t rc;
  {
    auto lock = app_.engineLock();
    rc = varnelo_meta_mklink(session, remote.c_str(), &id);
  }
  if (rc == 200 && plainLinkId(id)) {
    app_.openWebPage(std::string("/link?id=") + id + "&from=pc");
  } else if (rc == 200) {
    qWarning("share link: the service sent an unusable link id");
  } else {
    qWarning("share link for [%s] failed (%d)", remote.c_str(), rc);
  }
  varnelo_meta_destroy_linkid(id);
}

void MainWindow::sendTo(const QString& argument) {
  const std::string root = app_.syncFolder();
  if (root.empty()) return;
  const QString picked = app_.ui().chooseFolder(str(kStrSendToTitle), QString::fromStdString(root));
  if (picked.isEmpty() || picked.compare(argument, Qt::CaseInsensitive) == 0) return;
  copyInto(splitPaths(argument.toStdString()), picked.toStdString());
}

void MainWindow::toggleShutdownAfterSync() {
  const bool on = !app_.shutdownAfterSync();
  app_.setShutdownAfterSync(on);
  if (!on && shutdownDialog_) shutdownDialog_->hide();
}

void MainWindow::showShutdownDialog() {
  if (!shutdownDialog_) {
    shutdownDialog_ =
        std::make_unique<CShutdownDlg>([this] { app_.powerOff(); }, [this] { app_.post(UM_QUIT); });
  }
  shutdownDialog_->start();
}

void MainWindow::runCommand(int id) {
  switch (id) {
    case kCmdCancel:
      if (app_.ui().isMainVisible()) orderlyExit();
      return;
    case kCmdOpenHomePage:
      app_.openWebPage("/?from=pc");
      return;
    case kCmdHelp:
      app_.openWebPage("/help?from=pc");
      return;
    case kCmdExit:
      orderlyExit();
      return;
    case kCmdOpenFolder:
      frontOrFolder();
      return;
    case kCmdAccountPage:
      app_.openWebPage("/account?from=pc");
      return;
    case kCmdFeedback:
      app_.openWebPage("/feedback?from=pc");
      return;
    case kCmdShutdownAfterSync:
      toggleShutdownAfterSync();
      return;
    case kCmdMoreSpace:
      app_.openWebPage("/start?from=pc");
      return;
    default:
      if (!app_.ui().runCommand(id)) qWarning("main window: no action for command %d", id);
      return;
  }
}

}  // namespace varnelo::desktop
