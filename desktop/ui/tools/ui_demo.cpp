// varnelo-ui-demo: the application's windows and tray over a canned backend,
// for screenshots and for the tray protocol test. Not installed.
//
//   varnelo-ui-demo --screens DIR --lang zh|en   every window, and the status
//                                                window shown where no tray
//                                                host runs, as PNG files in DIR
//   varnelo-ui-demo --tray --lang en             the tray only; reads lines
//                                                "state N", "notice CODE",
//                                                "balloon TEXT", "face", "quit"
//                                                on standard input and answers
//                                                "ok" to each ("face" first
//                                                prints "tray" or "window")
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QSocketNotifier>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWizard>

#include <cstdio>
#include <iostream>
#include <string>

#include "CHeldDeletionsDlg.h"
#include "CMainWizardDialog.h"
#include "CSettingDlg.h"
#include "CStatusWindow.h"
#include "CSyncSelectionDlg.h"
#include "CTrayNotifyIcon.h"
#include "EngineNotice.h"
#include "FakeBackend.h"
#include "SettingsStore.h"
#include "Translations.h"
#include "TrayHostMonitor.h"
#include "TrayIds.h"
#include "TrayPresenter.h"

using namespace varnelo::desktop;

namespace {

void settle(int ms = 300) {
  QTest::qWait(ms);  // let the X server draw before the grab
}

bool grab(QWidget* w, const QString& file) {
  settle();
  QScreen* screen = w->screen();
  const QRect r = w->frameGeometry();
  const QPixmap shot = screen->grabWindow(0, r.x(), r.y(), r.width(), r.height());
  const bool ok = shot.save(file);
  std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(file));
  return ok;
}

void show(QWidget* w) {
  w->move(40, 40);
  w->show();
  w->raise();
  w->activateWindow();
  (void)QTest::qWaitForWindowExposed(w, 5000);
}

void fillDemo(test::FakeBackend& b) {
  b.state = 0;
  b.account =
      R"({"user":{"username":"alice","email":"alice@example.org","nickname":"Alice","native":true}})";
  b.tree = {{"home", {"Documents", "Photos", "Music", "Projects"}},
            {"home/Photos", {"2023", "2024", "Holidays"}},
            {"home/Projects", {"varnelo", "website"}},
            {"home/Documents", {}},
            {"home/Music", {}}};
  b.excluded = {"home/Music", "home/Photos/2023"};
  b.held = {{"Documents/report-2024.pdf", true, 1},
            {"Documents/budget.xlsx", true, 1},
            {"Photos/Holidays", false, 48},
            {"Photos/2024/sunset.jpg", false, 1},
            {"Projects/website", true, 23}};
}

int screens(const QString& dir, const QString& lang) {
  QDir().mkpath(dir);
  QTemporaryDir tmp;
  test::FakeBackend backend;
  fillDemo(backend);
  // The pictures show the user's real folder (scripts/screenshots sets HOME).
  backend.folder = QDir::homePath() + "/Varnelo";
  backend.last = backend.folder;
  SettingsStore settings;
  settings.open((tmp.path() + "/appconfig.db").toStdString());
  int failures = 0;
  auto name = [&](const char* what) { return dir + "/" + what + "-" + lang + ".png"; };

  {
    CMainWizardDialog wizard(backend);
    show(&wizard);
    failures += !grab(&wizard, name("wizard-login"));
    wizard.loginPage()->accountType()->setCurrentIndex(2);
    (void)QTest::qWaitFor([&] { return wizard.loginPage()->type() == kLoginWeb; }, 5000);
    failures += !grab(&wizard, name("wizard-login-web"));
    wizard.loginPage()->enterType(kLoginVerifier);
    failures += !grab(&wizard, name("wizard-login-code"));
    wizard.loginPage()->accountType()->setCurrentIndex(0);
    wizard.loginPage()->normalPanel()->account->setText("alice");
    wizard.loginPage()->normalPanel()->password->setText("secret");
    wizard.next();
    (void)QTest::qWaitFor([&] { return wizard.currentPage() == wizard.finishPage(); }, 5000);
    failures += !grab(&wizard, name("wizard-finish"));
    wizard.finishPage()->advancedBox()->setChecked(true);
    wizard.finishPage()->validatePage();
    failures += !grab(&wizard, name("wizard-finish-advanced"));
    wizard.hide();
  }
  {
    backend.state = 0;  // signed in and synced
    CSettingDlg sheet(backend, settings);
    show(&sheet);
    const char* tabs[] = {"settings-general", "settings-account", "settings-proxy",
                          "settings-bandwidth", "settings-advanced"};
    for (int i = 0; i < 5; ++i) {
      sheet.tabs()->setCurrentIndex(i);
      failures += !grab(&sheet, name(tabs[i]));
    }
    sheet.hide();
  }
  {
    CSyncSelectionDlg dlg(
        [&](const QString& p, QStringList* n) { return backend.listFolders(p, n); },
        backend.excluded);
    show(&dlg);
    dlg.tree()->expandAll();
    failures += !grab(&dlg, name("selective-sync"));
  }
  {
    CHeldDeletionsDlg dlg(backend.held.size(), backend.held);
    show(&dlg);
    failures += !grab(&dlg, name("held-deletions"));
  }
  {
    // No tray host: the status window is the application's face.
    TrayModel model;
    CTrayNotifyIcon icon;
    icon.setHostAvailable(false);
    model.setQuota({int64_t{3} << 30, int64_t{10} << 30});
    TrayPresenter tray(model, icon, VARNELO_VERSION, {});
    icon.create(kIconNormal, "Varnelo");
    tray.onTrayStatus(0);
    CStatusWindow* window = icon.statusWindow();
    window->move(40, 40);
    (void)QTest::qWaitForWindowExposed(window, 5000);
    failures += !grab(window, name("status-window"));
    // And with its menu open: the tray's own.
    QTimer::singleShot(800, [&] {
      QMenu* menu = icon.menu();
      const QRect r = window->frameGeometry().united(menu->frameGeometry()).adjusted(-4, -4, 4, 4);
      const QPixmap shot = window->screen()->grabWindow(0, r.x(), r.y(), r.width(), r.height());
      const bool ok = shot.save(name("status-window-menu"));
      std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(name("status-window-menu")));
      failures += !ok;
      menu->hide();
    });
    window->menuButton()->showMenu();  // returns when the menu closes
  }
  return failures == 0 ? 0 : 1;
}

int trayOnly() {
  auto* model = new TrayModel;
  auto* icon = new CTrayNotifyIcon;
  TrayPresenter::Hooks hooks;
  hooks.balloonsEnabled = [] { return true; };
  auto* tray = new TrayPresenter(*model, *icon, VARNELO_VERSION, hooks);
  model->setQuota({int64_t{1} << 30, int64_t{10} << 30});
  auto* hosts = new TrayHostMonitor;
  QObject::connect(hosts, &TrayHostMonitor::availableChanged, icon,
                   &CTrayNotifyIcon::setHostAvailable);
  hosts->start();
  icon->create(kIconNormal, "Varnelo");
  QObject::connect(icon, &CTrayNotifyIcon::balloonClicked, [] {
    std::printf("clicked\n");
    std::fflush(stdout);
  });
  auto* in = new QSocketNotifier(0, QSocketNotifier::Read);
  QObject::connect(in, &QSocketNotifier::activated, [=] {
    std::string line;
    if (!std::getline(std::cin, line) || line == "quit") {
      in->setEnabled(false);
      QCoreApplication::quit();
      return;
    }
    if (line.rfind("state ", 0) == 0) tray->onTrayStatus(std::stoi(line.substr(6)));
    if (line.rfind("notice ", 0) == 0)
      tray->onNotice(std::stoi(line.substr(7)), "/media/usb/Varnelo");
    if (line.rfind("balloon ", 0) == 0)
      tray->showBalloon(BalloonRequest::make(kBalloonInfo, "Varnelo",
                                             QString::fromStdString(line.substr(8)), 500));
    if (line == "face") std::printf("%s\n", icon->hostAvailable() ? "tray" : "window");
    std::printf("ok\n");
    std::fflush(stdout);
  });
  std::printf("ready\n");
  std::fflush(stdout);
  return QApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  app.setQuitOnLastWindowClosed(false);
  const QStringList args = app.arguments();
  auto value = [&](const char* flag, const QString& fallback) {
    const qsizetype i = args.indexOf(flag);
    return i >= 0 && i + 1 < args.size() ? args[i + 1] : fallback;
  };
  const QString lang = value("--lang", "zh");
  installTranslations(app, lang == "en" ? QLocale(QLocale::English, QLocale::UnitedStates)
                                        : QLocale(QLocale::Chinese, QLocale::China));
  if (args.contains("--tray")) return trayOnly();
  if (args.contains("--screens")) return screens(value("--screens", "."), lang);
  std::fprintf(stderr, "usage: varnelo-ui-demo --screens DIR [--lang zh|en] | --tray\n");
  return 2;
}
