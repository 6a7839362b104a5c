// The first run of the program against a real varnelo-service: the login
// wizard, driven like a user with QTest, signs in with a password, registers
// this computer, takes the sync folder and starts the sync; files then flow
// both ways (a second computer on the same account) and the tray's state line
// reads "sync complete".
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QWizard>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qstring_print.h"

#include "Application.h"
#include "CMainWizardDialog.h"
#include "DesktopUi.h"
#include "LoginThread.h"
#include "MainWindow.h"
#include "ServiceProcess.h"
#include "ShellIntegration.h"
#include "Strings.h"
#include "TrayPresenter.h"
#include "varnelo/IVarnelo2.h"
#include "varnelo/account.h"

using namespace varnelo::desktop;

namespace {

bool writeFile(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  // Written beside and moved in, so no change event sees half a file.
  QFile f(path + ".part");
  if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) return false;
  f.close();
  return QFile::rename(path + ".part", path);
}

QByteArray readFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A second computer on the account: a plain engine over its own folders.
class OtherComputer {
 public:
  int32_t start(const QString& dir, const char* user, const char* password) {
    root_ = dir + "/Sync";
    const QString data = dir + "/data/";
    QDir().mkpath(root_);
    QDir().mkpath(data);
    varnelo_token_pair* access = nullptr;
    int32_t rc = varnelo_auth_quick_token(user, password, &consumerToken(), &access, "native");
    if (rc != 200) return rc;
    rc = varnelo_new2(data.toUtf8().constData(), &engine_);
    if (rc == 200) rc = engine_->login(user, &consumerToken(), access);
    varnelo_destroy_inner_token(access);
    if (rc == 200)
      rc = engine_->getChunkCache()->open((data + "chunks.db").toUtf8().constData(),
                                          (data + "cache").toUtf8().constData());
    if (rc == 200) rc = engine_->mountVolume("home", root_.toUtf8().constData());
    if (rc == 200) rc = engine_->startSync(false);
    return rc;
  }
  ~OtherComputer() {
    if (engine_) engine_->release();
  }
  QString path(const QString& rel) const { return root_ + "/" + rel; }

 private:
  varnelo::IVarnelo2* engine_ = nullptr;
  QString root_;
};

}  // namespace

TEST(FirstRunTest, WizardSignsInSetsTheFolderAndFilesFlowBothWays) {
  varnelo::test::ServiceProcess service;
  ASSERT_TRUE(service.started()) << service.error();
  ASSERT_TRUE(service.addUser("alice", "secret"));
  service.exportEnvironment();
  QTemporaryDir home;
  qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8());
  qputenv("XDG_CACHE_HOME", (home.path() + "/cache").toUtf8());
  qputenv("VARNELO_REMOTE_POLL_MS", "1000");
  const QString dataFolder = home.path() + "/data/";
  QDir().mkpath(dataFolder);

  // The program's start-up, as desktop/app does it.
  Application app(dataFolder.toStdString());
  app.openStores();
  app.pushEnvironment();
  ASSERT_EQ(app.createEngine(), 200);
  std::vector<std::string> opened;  // no file manager or browser in a test
  app.setOpener([&opened](const std::string& target) {
    opened.push_back(target);
    return true;
  });
  std::unique_ptr<AppUi> windows = createAppUi();
  app.setUi(windows.get());
  app.attachEventSink();
  MainWindow window(app);
  app.setMainWindow(&window);
  app.setCommandHandler([&window](int id) { window.runCommand(id); });
  app.stateWorker().start();
  app.ui().start(app);
  LoginThread login(app);
  ASSERT_TRUE(login.start());

  // No account yet: the wizard comes up at the login page.
  CMainWizardDialog* wizard = wizardOf(*windows);
  ASSERT_NE(wizard, nullptr);
  ASSERT_TRUE(QTest::qWaitFor([&] { return wizard->isVisible(); }, 30000));
  EXPECT_EQ(app.state().get(), kAppLoginNeeded);
  CLoginPage* page = wizard->loginPage();
  page->accountType()->setCurrentIndex(1);  // the service's own account
  QTest::keyClicks(page->normalPanel()->account, "alice");
  QTest::keyClicks(page->normalPanel()->password, "secret");
  page->normalPanel()->hostName->setText("test-desk");
  QTest::mouseClick(wizard->button(QWizard::NextButton), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return wizard->currentPage() == wizard->finishPage(); }, 60000))
      << page->statusLabel()->text().toStdString();
  EXPECT_EQ(app.device().deviceName(), "test-desk");

  const QString folder = home.path() + "/Varnelo";
  wizard->finishPage()->folderEdit()->setText(folder);
  QTest::mouseClick(wizard->button(QWizard::FinishButton), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !wizard->isVisible(); }, 30000));
  EXPECT_EQ(QString::fromStdString(app.syncFolder()), folder);
  EXPECT_TRUE(QString::fromUtf8(readFile(bookmarksPath())).contains("/Varnelo"));

  // Files both ways.
  ASSERT_TRUE(writeFile(folder + "/from-wizard-pc.txt", "made here"));
  OtherComputer other;
  ASSERT_EQ(other.start(home.path() + "/other", "alice", "secret"), 200);
  ASSERT_TRUE(writeFile(other.path("docs/from-other-pc.txt"), "made there"));
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return readFile(folder + "/docs/from-other-pc.txt") == "made there"; }, 90000));
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return readFile(other.path("from-wizard-pc.txt")) == "made here"; }, 90000));

  // The tray: once nothing moved for ten seconds, sync complete.
  TrayPresenter* tray = trayOf(*windows);
  ASSERT_NE(tray, nullptr);
  ASSERT_TRUE(QTest::qWaitFor([&] { return tray->tooltip().endsWith(str(112)); }, 60000))
      << tray->tooltip().toStdString();

  login.stop();
  app.ui().stop();
  app.stateWorker().stop();
  app.shutdown();
  app.setMainWindow(nullptr);
  app.setUi(nullptr);
  qunsetenv("VARNELO_REMOTE_POLL_MS");
}
