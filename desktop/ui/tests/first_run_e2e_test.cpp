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
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QWizard>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "qstring_print.h"

#include "Application.h"
#include "CHeldDeletionsDlg.h"
#include "CMainWizardDialog.h"
#include "CTrayNotifyIcon.h"
#include "DesktopUi.h"
#include "EngineNotice.h"
#include "LoginThread.h"
#include "MainWindow.h"
#include "ServiceProcess.h"
#include "ShellIntegration.h"
#include "Strings.h"
#include "TrayIds.h"
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

// The program's start-up as desktop/app does it, over a real service.
class DesktopAppTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(service_.started()) << service_.error();
    ASSERT_TRUE(service_.addUser("alice", "secret"));
    service_.exportEnvironment();
    qputenv("XDG_CONFIG_HOME", (home_.path() + "/config").toUtf8());
    qputenv("XDG_CACHE_HOME", (home_.path() + "/cache").toUtf8());
    qputenv("VARNELO_REMOTE_POLL_MS", "1000");
    const QString dataFolder = home_.path() + "/data/";
    QDir().mkpath(dataFolder);
    app_ = std::make_unique<Application>(dataFolder.toStdString());
    app_->openStores();
    app_->pushEnvironment();
    ASSERT_EQ(app_->createEngine(), 200);
    app_->setOpener([this](const std::string& target) {  // no file manager in a test
      opened_.push_back(target);
      return true;
    });
    windows_ = createAppUi();
    app_->setUi(windows_.get());
    app_->attachEventSink();
    window_ = std::make_unique<MainWindow>(*app_);
    app_->setMainWindow(window_.get());
    app_->setCommandHandler([this](int id) { window_->runCommand(id); });
    app_->stateWorker().start();
    app_->ui().start(*app_);
    login_ = std::make_unique<LoginThread>(*app_);
    ASSERT_TRUE(login_->start());
  }

  void TearDown() override {
    if (login_) login_->stop();
    if (app_) {
      app_->ui().stop();
      app_->stateWorker().stop();
      app_->shutdown();
      app_->setMainWindow(nullptr);
      app_->setUi(nullptr);
    }
    qunsetenv("VARNELO_REMOTE_POLL_MS");
  }

  // Signs in through the wizard as a user would and sets `folder`.
  void signInAndSetFolder(const QString& folder) {
    CMainWizardDialog* wizard = wizardOf(*windows_);
    ASSERT_NE(wizard, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return wizard->isVisible(); }, 30000));
    EXPECT_EQ(app_->state().get(), kAppLoginNeeded);
    CLoginPage* page = wizard->loginPage();
    page->accountType()->setCurrentIndex(1);  // the service's own account
    QTest::keyClicks(page->normalPanel()->account, "alice");
    QTest::keyClicks(page->normalPanel()->password, "secret");
    page->normalPanel()->hostName->setText("test-desk");
    QTest::mouseClick(wizard->button(QWizard::NextButton), Qt::LeftButton);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return wizard->currentPage() == wizard->finishPage(); }, 60000))
        << page->statusLabel()->text().toStdString();
    EXPECT_EQ(app_->device().deviceName(), "test-desk");
    wizard->finishPage()->folderEdit()->setText(folder);
    QTest::mouseClick(wizard->button(QWizard::FinishButton), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !wizard->isVisible(); }, 30000));
    EXPECT_EQ(QString::fromStdString(app_->syncFolder()), folder);
  }

  // Remote files whose path holds `part`.
  int remoteFiles(const std::string& part) {
    Json::Value tree;
    if (!service_.dumpTree("alice", &tree)) return -1;
    int n = 0;
    for (const Json::Value& e : tree["entries"])
      n += e["path"].asString().find(part) != std::string::npos && e["type"].asString() != "dir" &&
           e["type"].asString() != "folder";
    return n;
  }

  varnelo::test::ServiceProcess service_;
  QTemporaryDir home_;
  std::unique_ptr<Application> app_;
  std::unique_ptr<AppUi> windows_;
  std::unique_ptr<MainWindow> window_;
  std::unique_ptr<LoginThread> login_;
  std::vector<std::string> opened_;
};

TEST_F(DesktopAppTest, FirstRunSignsInSetsTheFolderAndFilesFlowBothWays) {
  const QString folder = home_.path() + "/Varnelo";
  signInAndSetFolder(folder);
  EXPECT_TRUE(QString::fromUtf8(readFile(bookmarksPath())).contains("/Varnelo"));

  // Files both ways.
  ASSERT_TRUE(writeFile(folder + "/from-wizard-pc.txt", "made here"));
  OtherComputer other;
  ASSERT_EQ(other.start(home_.path() + "/other", "alice", "secret"), 200);
  ASSERT_TRUE(writeFile(other.path("docs/from-other-pc.txt"), "made there"));
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return readFile(folder + "/docs/from-other-pc.txt") == "made there"; }, 90000));
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return readFile(other.path("from-wizard-pc.txt")) == "made here"; }, 90000));

  // The tray: once nothing moved for ten seconds, sync complete.
  TrayPresenter* tray = trayOf(*windows_);
  ASSERT_NE(tray, nullptr);
  ASSERT_TRUE(QTest::qWaitFor([&] { return tray->tooltip().endsWith(str(112)); }, 60000))
      << tray->tooltip().toStdString();
}

TEST_F(DesktopAppTest, HeldDeletionsAreReleasedFromTheTrayWithoutATerminal) {
  const QString folder = home_.path() + "/Varnelo";
  signInAndSetFolder(folder);
  for (int i = 0; i < 30; ++i)
    ASSERT_TRUE(writeFile(folder + QStringLiteral("/bulk/f%1.txt").arg(i), "x"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return remoteFiles("bulk/") == 30; }, 90000))
      << remoteFiles("bulk/");

  // Most of the tree goes at once: the engine holds the deletions.
  for (int i = 0; i < 25; ++i) QFile::remove(folder + QStringLiteral("/bulk/f%1.txt").arg(i));
  TrayPresenter* tray = trayOf(*windows_);
  CTrayNotifyIcon* icon = trayIconOf(*windows_);
  ASSERT_TRUE(QTest::qWaitFor([&] { return tray->hasNotice(kNoticeDeletionsHeld); }, 90000));
  EXPECT_TRUE(tray->tooltip().contains(str(14202))) << tray->tooltip().toStdString();
  EXPECT_EQ(remoteFiles("bulk/"), 30);
  ASSERT_NE(icon->action(kCmdHeldDeletions), nullptr);

  // The user opens the question from the tray menu and deletes.
  QString text;
  QTimer::singleShot(0, [&text] {
    auto* dlg = qobject_cast<CHeldDeletionsDlg*>(QApplication::activeModalWidget());
    ASSERT_NE(dlg, nullptr);
    for (QLabel* l : dlg->findChildren<QLabel*>()) text += l->text();
    for (QPushButton* b : dlg->findChildren<QPushButton*>())
      if (b->text() == str(14208)) b->click();
  });
  icon->action(kCmdHeldDeletions)->trigger();
  EXPECT_TRUE(text.contains("25")) << text.toStdString();
  ASSERT_TRUE(QTest::qWaitFor([&] { return remoteFiles("bulk/") == 5; }, 90000))
      << remoteFiles("bulk/");
  EXPECT_FALSE(tray->hasNotice(kNoticeDeletionsHeld));
}

TEST_F(DesktopAppTest, HeldDeletionsAreListedAndKeptFromTheTray) {
  const QString folder = home_.path() + "/Varnelo";
  signInAndSetFolder(folder);
  for (int i = 0; i < 30; ++i)
    ASSERT_TRUE(writeFile(folder + QStringLiteral("/bulk/f%1.txt").arg(i), "x"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return remoteFiles("bulk/") == 30; }, 90000))
      << remoteFiles("bulk/");
  for (int i = 0; i < 25; ++i) QFile::remove(folder + QStringLiteral("/bulk/f%1.txt").arg(i));
  TrayPresenter* tray = trayOf(*windows_);
  CTrayNotifyIcon* icon = trayIconOf(*windows_);
  ASSERT_TRUE(QTest::qWaitFor([&] { return tray->hasNotice(kNoticeDeletionsHeld); }, 90000));
  ASSERT_NE(icon->action(kCmdHeldDeletions), nullptr);

  // The dialog names what the engine holds; the user keeps it.
  QStringList paths, actions;
  QTimer::singleShot(0, [&] {
    auto* dlg = qobject_cast<CHeldDeletionsDlg*>(QApplication::activeModalWidget());
    ASSERT_NE(dlg, nullptr);
    for (int i = 0; i < dlg->list()->topLevelItemCount(); ++i) {
      paths << dlg->list()->topLevelItem(i)->text(0);
      actions << dlg->list()->topLevelItem(i)->text(1);
    }
    for (QPushButton* b : dlg->findChildren<QPushButton*>())
      if (b->text() == str(14209)) b->click();
  });
  icon->action(kCmdHeldDeletions)->trigger();
  EXPECT_EQ(paths.size(), 25) << paths.join(' ').toStdString();
  EXPECT_TRUE(paths.contains("bulk/f7.txt")) << paths.join(' ').toStdString();
  EXPECT_EQ(actions.count(str(14210)), paths.size()) << "every one was deleted here";

  auto localFiles = [&] { return QDir(folder + "/bulk").entryList(QDir::Files).size(); };
  EXPECT_TRUE(QTest::qWaitFor([&] { return localFiles() == 30; }, 90000)) << localFiles();
  EXPECT_EQ(remoteFiles("bulk/"), 30) << "nothing was deleted on the service";
  EXPECT_TRUE(QTest::qWaitFor([&] { return !tray->hasNotice(kNoticeDeletionsHeld); }, 30000));
  EXPECT_EQ(icon->action(kCmdHeldDeletions), nullptr) << "nothing is held any more";
}
