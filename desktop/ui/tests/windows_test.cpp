#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include "qstring_print.h"

#include "CHeldDeletionsDlg.h"
#include "CMainWizardDialog.h"
#include "CSettingDlg.h"
#include "CTriStateTree.h"
#include "FakeBackend.h"
#include "FolderMove.h"
#include "LoginErrors.h"
#include "ModalAnswers.h"
#include "SettingsStore.h"
#include "ShellIntegration.h"
#include "Strings.h"
#include "Translations.h"

using namespace varnelo::desktop;
using varnelo::desktop::test::answerNextBox;
using varnelo::desktop::test::chooseInNextDialog;
using varnelo::desktop::test::FakeBackend;

namespace {

QString u(const char* s) {
  return QString::fromUtf8(s);
}

QByteArray readFileForTest(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

TEST(LoginErrorTest, TableWithAndWithoutAProxy) {
  struct Row {
    int result;
    const char* noProxy;
    const char* withProxy;
  };
  const Row rows[] = {
      {5, "解析代理地址失败,请检查您的代理设置!", "连接服务器失败,请检查您的代理设置!"},
      {6, "解析服务器地址失败,请检查您的网络设置!", "连接服务器失败,请检查您的代理设置!"},
      {7, "连接服务器失败,请检查您的网络连接!", "连接服务器失败,请检查您的代理设置!"},
      {28, "连接服务器超时,请检查您的网络连接!", "连接服务器失败,请检查您的代理设置!"},
      {35, "连接服务器失败,请检查您的网络连接!", "连接服务器失败,请检查您的代理设置!"},
      {-115, "帐户未激活,请到注册邮箱查收激活邮件!", "帐户未激活,请到注册邮箱查收激活邮件!"},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(loginErrorText(r.result, false, kLoginNative, "w"), u(r.noProxy)) << r.result;
    EXPECT_EQ(loginErrorText(r.result, true, kLoginNative, "w"), u(r.withProxy)) << r.result;
  }
  // -116: the passport is not bound; a service account is not registered.
  EXPECT_EQ(loginErrorText(-116, false, kLoginPassport, "www.example"),
            u("未绑定Varnelo，请到www.example绑定"));
  EXPECT_EQ(loginErrorText(-116, true, kLoginNative, "www.example"),
            u("帐户未注册，请先到www.example注册"));
  // No text of the table: the type's own.
  for (int rc : {401, 404, -1, -105}) EXPECT_TRUE(loginErrorText(rc, false, 0, "w").isEmpty());
  EXPECT_EQ(loginFailureText(401, false, kLoginPassport, "w"),
            u("登录失败,请检查您的Tolmar通行证或密码!"));
  EXPECT_EQ(loginFailureText(401, false, kLoginNative, "w"), u("登录失败,请检查您的用户名或密码!"));
  EXPECT_EQ(loginFailureText(-105, false, kLoginVerifier, "w"),
            u("登录失败,请检查您的OAuth验证码!"));
}

TEST(SyncFolderTest, ValidationAndDefault) {
  QTemporaryDir tmp;
  const FolderCheck relative = validateSyncFolder("Varnelo");
  EXPECT_FALSE(relative.ok);
  EXPECT_EQ(relative.message, u("不能使用相对路径作为同步目录，请重新指定!\n    Varnelo"));
  // Below a file: a folder that can never be made.
  QFile plain(tmp.path() + "/plain");
  ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
  plain.close();
  const FolderCheck blocked = validateSyncFolder(tmp.path() + "/plain/x");
  EXPECT_FALSE(blocked.ok);
  EXPECT_EQ(blocked.message, u("创建同步目录失败，请重新指定!\n    ") + tmp.path() + "/plain/x");
  const FolderCheck made = validateSyncFolder(tmp.path() + "/a//b/");
  EXPECT_TRUE(made.ok);
  EXPECT_EQ(made.path, tmp.path() + "/a/b");
  EXPECT_TRUE(QFileInfo(made.path).isDir());

  EXPECT_EQ(defaultSyncFolder("", "/home/u"), "/home/u/Varnelo");
  EXPECT_EQ(defaultSyncFolder(tmp.path() + "/a/b", "/home/u"), tmp.path() + "/a/b");
  EXPECT_EQ(defaultSyncFolder("/nonexistent/deep/x", "/home/u"), "/home/u/Varnelo");
  EXPECT_EQ(defaultSyncFolder("relative", "/home/u"), "/home/u/Varnelo");
}

TEST(WizardTest, PassportLoginRegistersTheDeviceAndMovesOn) {
  FakeBackend backend;
  CMainWizardDialog wizard(backend);
  wizard.show();
  CLoginPage* login = wizard.loginPage();
  EXPECT_EQ(login->type(), kLoginPassport);
  EXPECT_EQ(login->accountType()->currentText(), u("Tolmar通行证"));
  EXPECT_EQ(login->normalPanel()->accountLabel->text(), u("Tolmar通行证:"));
  EXPECT_EQ(login->normalPanel()->hostName->text(), "laptop");
  EXPECT_TRUE(login->normalPanel()->registerLink->text().contains(
      "http://acct.example/login/register_kuv?from=varnelo-pc"));
  EXPECT_EQ(login->title(), u("登录 Varnelo"));

  login->normalPanel()->account->setText("alice");
  login->normalPanel()->password->setText("pw");
  login->normalPanel()->hostName->setText("desk");
  wizard.next();
  EXPECT_TRUE(login->busy());
  EXPECT_EQ(login->statusLabel()->text(), u("正在连接服务器..."));
  ASSERT_TRUE(QTest::qWaitFor([&] { return wizard.currentPage() == wizard.finishPage(); }, 5000));
  EXPECT_EQ(backend.lastType, kLoginPassport);
  EXPECT_EQ(backend.lastUser, "alice");
  EXPECT_EQ(backend.registeredHost, "desk");
  EXPECT_EQ(backend.states, (std::vector<int>{32, 64}));
}

TEST(WizardTest, RejectedLoginStaysWithTheTypesMessage) {
  FakeBackend backend;
  backend.loginResult = -116;
  CMainWizardDialog wizard(backend);
  wizard.show();
  CLoginPage* login = wizard.loginPage();
  login->accountType()->setCurrentIndex(1);  // the service's own account
  EXPECT_EQ(login->type(), kLoginNative);
  EXPECT_FALSE(login->normalPanel()->registerLink->isVisibleTo(login));
  EXPECT_TRUE(login->normalPanel()->forgotLink->text().contains(
      "http://acct.example/forget_password?from=pc"));
  wizard.next();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !login->busy(); }, 5000));
  EXPECT_EQ(wizard.currentPage(), login);
  EXPECT_EQ(login->statusLabel()->text(), u("帐户未注册，请先到www.example注册"));
  EXPECT_EQ(login->statusLabel()->palette().color(QPalette::WindowText), QColor(Qt::red));
  EXPECT_EQ(backend.state, 16);
  EXPECT_TRUE(backend.registeredHost.empty());
}

TEST(WizardTest, ExternalAccountWithoutNetworkShowsTheBoxAndResets) {
  FakeBackend backend;
  backend.requestTokenResult = 7;
  CMainWizardDialog wizard(backend);
  wizard.show();
  CLoginPage* login = wizard.loginPage();
  QString seen;
  answerNextBox(&seen);
  login->accountType()->setCurrentIndex(2);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !seen.isEmpty(); }, 5000));
  EXPECT_EQ(seen, u("连接服务器失败,请检查您的网络连接!"));
  EXPECT_EQ(login->accountType()->currentIndex(), 0);
  EXPECT_EQ(login->type(), kLoginPassport);

  // With the network: two links; following one opens it and asks for the code.
  backend.requestTokenResult = 200;
  login->accountType()->setCurrentIndex(2);
  ASSERT_TRUE(QTest::qWaitFor([&] { return login->type() == kLoginWeb; }, 5000));
  EXPECT_EQ(login->title(), u("登录 Varnelo (OAuth)"));
  EXPECT_TRUE(login->webPanel()->googleLink->text().contains(
      "http://acct.example/oauth/authorize?oauth_token=reqkey&amp;provider=google"));
  emit login->webPanel()->passportLink->linkActivated(
      "http://acct.example/oauth/authorize?oauth_token=reqkey&provider=kuv");
  EXPECT_EQ(backend.opened.last(),
            "http://acct.example/oauth/authorize?oauth_token=reqkey&provider=kuv");
  EXPECT_EQ(login->type(), kLoginVerifier);
  login->codePanel()->code->setText("123456");
  wizard.next();
  ASSERT_TRUE(QTest::qWaitFor([&] { return wizard.currentPage() == wizard.finishPage(); }, 5000));
  EXPECT_EQ(backend.lastCode, "123456");
}

TEST(WizardTest, AdvancedSettingsMakeFinishATwoStepAction) {
  QTemporaryDir tmp;
  FakeBackend backend;
  backend.last = tmp.path() + "/Sync";
  backend.mode = 3;
  CMainWizardDialog wizard(backend);
  wizard.show();
  wizard.loginPage()->normalPanel()->account->setText("a");
  wizard.next();
  ASSERT_TRUE(QTest::qWaitFor([&] { return wizard.currentPage() == wizard.finishPage(); }, 5000));
  CFinishPage* finish = wizard.finishPage();
  EXPECT_EQ(finish->folderEdit()->text(), tmp.path() + "/Sync");
  EXPECT_TRUE(finish->twoWay()->isChecked());
  EXPECT_EQ(wizard.button(QWizard::FinishButton)->text(), u("完成"));
  finish->advancedBox()->setChecked(true);
  EXPECT_EQ(wizard.button(QWizard::FinishButton)->text(), u("下一步(&N) >"));
  wizard.button(QWizard::FinishButton)->click();
  EXPECT_TRUE(finish->advancedShowing());
  EXPECT_TRUE(wizard.isVisible());
  EXPECT_TRUE(backend.calls.isEmpty());
  EXPECT_EQ(wizard.button(QWizard::FinishButton)->text(), u("完成"));
  finish->uploadOnly()->setChecked(true);

  // A relative folder is refused and the page stays.
  finish->folderEdit()->setText("Varnelo");
  QString seen;
  answerNextBox(&seen);
  wizard.button(QWizard::FinishButton)->click();
  EXPECT_EQ(seen, u("不能使用相对路径作为同步目录，请重新指定!\n    Varnelo"));
  EXPECT_TRUE(wizard.isVisible());

  finish->folderEdit()->setText(tmp.path() + "/Sync/");
  wizard.button(QWizard::FinishButton)->click();
  EXPECT_FALSE(wizard.isVisible());
  EXPECT_EQ(backend.calls,
            (QStringList{"mode 1", "folder " + tmp.path() + "/Sync", "start wizard"}));
  EXPECT_TRUE(QFileInfo(tmp.path() + "/Sync").isDir());
}

namespace {

std::map<QString, QStringList> sampleTree() {
  return {{"home", {"Photos", "Music", "Docs"}},
          {"home/Photos", {"2023", "2024"}},
          {"home/Photos/2023", {}},
          {"home/Photos/2024", {}},
          {"home/Music", {}},
          {"home/Docs", {"Work"}},
          {"home/Docs/Work", {}}};
}

}  // namespace

TEST(TriStateTreeTest, ToggleAndOrRules) {
  const auto tree = sampleTree();
  CTriStateTree view([&](const QString& p, QStringList* names) {
    const auto it = tree.find(p);
    if (it == tree.end()) return false;
    *names = it->second;
    return true;
  });
  view.setExcluded({});
  QTreeWidgetItem* photos = view.nodeFor("home/Photos");
  ASSERT_NE(photos, nullptr);
  EXPECT_EQ(photos->text(0), "Photos");
  EXPECT_EQ(view.root()->text(0), "Varnelo");

  // One of two sub-folders: the parent is partly checked.
  view.toggle(view.nodeFor("home/Photos/2023"));
  EXPECT_EQ(CTriStateTree::stateOf(photos), CTriStateTree::kPartly);
  EXPECT_EQ(CTriStateTree::stateOf(view.root()), CTriStateTree::kPartly);
  EXPECT_EQ(photos->checkState(0), Qt::PartiallyChecked);
  EXPECT_EQ(view.excluded(), QStringList{"home/Photos/2023"});

  // Every sub-folder: still partly checked, and each one is listed.
  view.toggle(view.nodeFor("home/Photos/2024"));
  EXPECT_EQ(CTriStateTree::stateOf(photos), CTriStateTree::kPartly);
  EXPECT_EQ(view.excluded(), (QStringList{"home/Photos/2023", "home/Photos/2024"}));

  // A partly checked folder clicked becomes unchecked with its subtree: one entry.
  view.toggle(photos);
  EXPECT_EQ(CTriStateTree::stateOf(photos), CTriStateTree::kUnchecked);
  EXPECT_EQ(view.excluded(), QStringList{"home/Photos"});
  // ... and clicked again, checked with its subtree.
  view.toggle(photos);
  EXPECT_TRUE(view.excluded().isEmpty());
  EXPECT_EQ(CTriStateTree::stateOf(view.root()), CTriStateTree::kChecked);

  // A click on the box (not our call) follows the same rule.
  QTreeWidgetItem* music = view.nodeFor("/home/Music");
  music->setCheckState(0, Qt::Unchecked);
  EXPECT_EQ(view.excluded(), QStringList{"home/Music"});
}

TEST(TriStateTreeTest, ExcludedListIsRestoredAndChildrenInheritOnLoad) {
  const auto tree = sampleTree();
  int listings = 0;
  CTriStateTree view([&](const QString& p, QStringList* names) {
    ++listings;
    const auto it = tree.find(p);
    if (it == tree.end()) return false;
    *names = it->second;
    return true;
  });
  view.setExcluded({"/home/Docs", "home/Photos/2024", "home/Gone"});
  // "Gone" is not listed (any more): kept all the same.
  EXPECT_EQ(view.excluded(), (QStringList{"home/Gone", "home/Photos/2024", "home/Docs"}));
  // Loaded lazily: Docs' children are loaded only when it is expanded.
  const int before = listings;
  QTreeWidgetItem* docs = view.nodeFor("home/Docs");
  docs->setExpanded(true);
  EXPECT_EQ(listings, before + 1);
  EXPECT_EQ(CTriStateTree::stateOf(docs->child(0)), CTriStateTree::kUnchecked);
  EXPECT_EQ(CTriStateTree::stateOf(view.nodeFor("home/Photos/2023")), CTriStateTree::kChecked);
  // A listing that fails leaves the node without children.
  EXPECT_EQ(view.nodeFor("home/Music/x"), nullptr);
}

TEST(SettingsTest, ApplyWritesOnlyWhatChanged) {
  QTemporaryDir tmp;
  SettingsStore settings;
  ASSERT_TRUE(settings.open((tmp.path() + "/appconfig.db").toStdString()));
  FakeBackend backend;
  backend.state = 0;
  backend.account =
      R"({"user":{"username":"bob","nickname":"Bobby","accounts":[{"type":"kuv","login":"bob@kuv"}]}})";
  CSettingDlg sheet(backend, settings);
  EXPECT_EQ(sheet.tabs()->count(), 5);
  EXPECT_EQ(sheet.tabs()->tabText(0), u("一般"));
  EXPECT_EQ(sheet.tabs()->tabText(4), u("高级"));
  EXPECT_EQ(sheet.account->labels[0]->text(), u("昵称:"));
  EXPECT_EQ(sheet.account->values[0]->text(), "Bobby");
  EXPECT_EQ(sheet.account->values[1]->text(), "bob@kuv");
  EXPECT_EQ(sheet.account->values[2]->text(), "laptop");

  sheet.apply();
  EXPECT_TRUE(backend.calls.isEmpty());
  std::string value;
  EXPECT_EQ(settings.get("limitUpload", value), 404);
  EXPECT_EQ(settings.get("proxySettingType", value), 404);

  sheet.general->balloons->setChecked(false);
  sheet.apply();
  EXPECT_EQ(backend.calls, (QStringList{"balloons 0", "reload balloons"}));
  backend.calls.clear();
  sheet.apply();
  EXPECT_TRUE(backend.calls.isEmpty());

  // An upload limit left empty is saved as 200.
  sheet.bandwidth->upLimited->setChecked(true);
  sheet.bandwidth->upSpeed->clear();
  sheet.apply();
  EXPECT_EQ(sheet.bandwidth->upSpeed->text(), "200");
  EXPECT_TRUE(settings.speed().limitUpload);
  EXPECT_EQ(settings.speed().uploadKBps, 200u);
  EXPECT_EQ(backend.calls, QStringList{"push"});

  // The manual proxy fields follow the radio and the authentication box.
  EXPECT_FALSE(sheet.proxy->address->isEnabled());
  EXPECT_EQ(sheet.proxy->address->text(), "0.0.0.0");
  sheet.proxy->manual->setChecked(true);
  EXPECT_TRUE(sheet.proxy->address->isEnabled());
  EXPECT_FALSE(sheet.proxy->user->isEnabled());
  sheet.proxy->auth->setChecked(true);
  EXPECT_TRUE(sheet.proxy->user->isEnabled());
  sheet.proxy->address->setText("10.0.0.1");
  sheet.proxy->type->setCurrentIndex(2);
  sheet.apply();
  EXPECT_EQ(settings.proxy().settingType, 2);
  EXPECT_EQ(settings.proxy().proxyType, "SOCKS5");
  EXPECT_EQ(settings.proxy().address, "10.0.0.1");

  // The sync mode: stop, set, start.
  backend.calls.clear();
  sheet.advanced->uploadOnly->setChecked(true);
  sheet.apply();
  EXPECT_EQ(backend.calls, (QStringList{"stop", "mode 1", "start"}));
}

TEST(SettingsTest, UploadOnlyHidesTheDownloadLimitAndStateGatesSelection) {
  QTemporaryDir tmp;
  SettingsStore settings;
  ASSERT_TRUE(settings.open((tmp.path() + "/appconfig.db").toStdString()));
  FakeBackend backend;
  backend.mode = 1;
  backend.state = 16;
  CSettingDlg sheet(backend, settings);
  EXPECT_FALSE(sheet.bandwidth->downGroup->isVisibleTo(&sheet));
  EXPECT_FALSE(sheet.advanced->select->isEnabled());
  EXPECT_TRUE(sheet.advanced->uploadOnly->isChecked());
}

TEST(FolderMoveTest, TargetsAndCopy) {
  QTemporaryDir tmp;
  const QString cur = tmp.path() + "/Varnelo";
  QDir().mkpath(cur + "/sub");
  QFile f(cur + "/sub/a.txt");
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("hello");
  f.close();
  QFile::link(cur + "/sub/a.txt", cur + "/link");
  EXPECT_EQ(classifyMoveTarget(cur, cur + "/"), MoveTarget::Same);
  EXPECT_EQ(classifyMoveTarget(cur, cur + "/sub"), MoveTarget::Nested);
  EXPECT_EQ(classifyMoveTarget(cur, tmp.path()), MoveTarget::Nested);
  EXPECT_EQ(classifyMoveTarget(cur, tmp.path() + "/VarneloX"), MoveTarget::Empty);
  EXPECT_EQ(classifyMoveTarget(cur, tmp.path() + "/Varnelo2"), MoveTarget::Empty);
  EXPECT_EQ(classifyMoveTarget(tmp.path() + "/Varnelo2", cur), MoveTarget::NotEmpty);

  EXPECT_EQ(copyFolderContents(cur, tmp.path() + "/New", [](int, int) { return true; }), 0);
  QFile copy(tmp.path() + "/New/sub/a.txt");
  ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
  EXPECT_EQ(copy.readAll(), "hello");
  EXPECT_FALSE(QFileInfo::exists(tmp.path() + "/New/link"));
  EXPECT_TRUE(QFileInfo::exists(cur + "/sub/a.txt"));  // the old folder stays
  EXPECT_EQ(copyFolderContents(cur, tmp.path() + "/N2", [](int done, int) { return done < 1; }),
            kCopyCancelled);
}

// Writes `bytes` to `path`, making its folders first.
static bool writeMade(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).path());
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// A cancelled move into an empty folder takes its copy back, and only it: a
// file that came into the folder meanwhile stays, with its folder.
TEST(FolderMoveTest, TakingBackACopyLeavesWhatElseCameIn) {
  QTemporaryDir tmp;
  const QString cur = tmp.path() + "/Varnelo";
  const QString target = tmp.path() + "/Target";
  for (const char* name : {"/a.txt", "/sub/b.txt", "/sub/c.txt", "/z.txt"})
    ASSERT_TRUE(writeMade(cur + name, "ours"));
  QStringList made;
  const auto cancelLate = [&](int done, int total) {
    if (done == total - 1) {
      EXPECT_TRUE(writeMade(target + "/sub/theirs.txt", "theirs"));
    }
    return done < total - 1;
  };
  ASSERT_EQ(copyFolderContents(cur, target, cancelLate, &made), kCopyCancelled);
  ASSERT_FALSE(made.isEmpty());
  EXPECT_EQ(made.first(), target);
  removeMade(made);
  EXPECT_TRUE(QFileInfo::exists(target + "/sub/theirs.txt"));
  EXPECT_EQ(QDir(target).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
            QStringList{"sub"});
  EXPECT_EQ(QDir(target + "/sub").entryList(QDir::Files | QDir::Hidden), QStringList{"theirs.txt"});
  EXPECT_TRUE(QFileInfo::exists(cur + "/sub/b.txt"));  // the old folder stays whole

  // Without anything foreign, nothing of the copy is left, the folder included.
  made.clear();
  const auto cancelBeforeTheLast = [](int done, int total) { return done < total - 1; };
  ASSERT_EQ(copyFolderContents(cur, tmp.path() + "/Other", cancelBeforeTheLast, &made),
            kCopyCancelled);
  removeMade(made);
  EXPECT_FALSE(QFileInfo::exists(tmp.path() + "/Other"));
}

// Into a folder that is not empty, a file of the same name is replaced (the
// user agreed to it), but only by a whole copy: one that fails keeps it.
TEST(FolderMoveTest, AFailedCopyKeepsTheFileItWouldHaveReplaced) {
  QTemporaryDir tmp;
  const auto read = [](const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
  };
  const QString cur = tmp.path() + "/Varnelo";
  const QString target = tmp.path() + "/Target";
  ASSERT_TRUE(writeMade(cur + "/sub/a.txt", "hello"));
  ASSERT_TRUE(writeMade(target + "/sub/a.txt", "theirs"));
  ASSERT_TRUE(writeMade(target + "/keep.txt", "kept"));

  // A copy that cannot be written whole: the files this process writes may
  // not grow past 64 KiB for a moment (as on a full disk).
  ASSERT_TRUE(writeMade(cur + "/sub/a.txt", QByteArray(1 << 20, 'x')));
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit small = old;
  small.rlim_cur = 64 * 1024;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const int failed = copyFolderContents(cur, target, [](int, int) { return true; });
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(failed, -1);
  EXPECT_EQ(read(target + "/sub/a.txt"), "theirs");
  EXPECT_EQ(QDir(target + "/sub").entryList(QDir::Files | QDir::Hidden).size(), 1);

  ASSERT_TRUE(writeMade(cur + "/sub/a.txt", "hello"));
  EXPECT_EQ(copyFolderContents(cur, target, [](int, int) { return true; }), 0);
  EXPECT_EQ(read(target + "/sub/a.txt"), "hello");
  EXPECT_EQ(read(target + "/keep.txt"), "kept");
}

TEST(HeldDeletionsTest, ListsAndAnswers) {
  std::vector<HeldDeletion> held{
      {"Photos/a.jpg", true, 1}, {"Docs/b.txt", false, 1}, {"Music", false, 30}};
  CHeldDeletionsDlg dlg(held.size(), held);
  EXPECT_EQ(dlg.list()->topLevelItemCount(), 3);
  EXPECT_FALSE(dlg.list()->isHidden());
  EXPECT_EQ(dlg.list()->topLevelItem(0)->text(0), u("Photos/a.jpg"));
  EXPECT_EQ(dlg.list()->topLevelItem(0)->text(1), u("本地删除，将从网盘删除"));
  EXPECT_EQ(dlg.list()->topLevelItem(1)->text(1), u("网盘删除，将从本地删除"));
  EXPECT_EQ(dlg.list()->topLevelItem(2)->text(0), u("Music（30 个文件）"));
  QPushButton* keep = nullptr;
  for (QPushButton* b : dlg.findChildren<QPushButton*>())
    if (b->text() == u("保留(&K)")) keep = b;
  ASSERT_NE(keep, nullptr);
  EXPECT_TRUE(keep->isDefault());
  keep->click();
  EXPECT_EQ(dlg.answer(), CHeldDeletionsDlg::kKeep);
  QString text;
  for (QLabel* l : dlg.findChildren<QLabel*>()) text += l->text();
  EXPECT_TRUE(text.contains(u("以下 3 个文件或目录"))) << text.toStdString();
  EXPECT_TRUE(text.contains(u("网盘删除的文件将重新上传"))) << "what Keep does is said";
}

TEST(ShellIntegrationTest, OneBookmarkOfOursWhateverTheFolderOrLanguageWas) {
  QTemporaryDir tmp;
  qputenv("XDG_CONFIG_HOME", tmp.path().toUtf8());
  QDir().mkpath(tmp.path() + "/gtk-3.0");
  const QByteArray users = "file:///home/u/Music Music\nfile:///home/u/Work Tolmar%20Work\n";
  {
    // Earlier versions' lines: older sync folders, in both languages.
    QFile f(bookmarksPath());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(users + u("file:///home/u/Old Tolmar网盘\n").toUtf8() +
            "file:///home/u/Older Tolmar Disk\nfile:///home/u/Varnelo Tolmar Disk\n");
  }
  const auto content = [] { return readFileForTest(bookmarksPath()); };
  for (const char* lang : {"en", "zh"}) {
    installTranslations(*QCoreApplication::instance(),
                        QLocale(lang == QByteArray("en") ? QLocale::English : QLocale::Chinese));
    EXPECT_TRUE(registerFolderBookmark("/home/u/Varnelo"));
    EXPECT_EQ(content(), users + "file:///home/u/Varnelo Varnelo\n") << lang;
  }
  // A new sync folder replaces our line; the user's own lines never move.
  EXPECT_TRUE(registerFolderBookmark("/media/usb/Varnelo"));
  EXPECT_EQ(content(), users + "file:///media/usb/Varnelo Varnelo\n");
  qunsetenv("XDG_CONFIG_HOME");
}

TEST(ShellIntegrationTest, BookmarkKeepsTheUsersLinesAndAutostartEntry) {
  QTemporaryDir tmp;
  qputenv("XDG_CONFIG_HOME", tmp.path().toUtf8());
  QDir().mkpath(tmp.path() + "/gtk-3.0");
  {
    QFile f(bookmarksPath());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("file:///home/u/Music Music\nsftp://host/srv\n");
  }
  auto content = [] {
    QFile f(bookmarksPath());
    f.open(QIODevice::ReadOnly);
    return QString::fromUtf8(f.readAll());
  };
  EXPECT_TRUE(registerFolderBookmark("/home/u/my sync/"));
  EXPECT_TRUE(registerFolderBookmark("/home/u/my sync"));  // twice: one line
  EXPECT_EQ(content(), u("file:///home/u/Music Music\nsftp://host/srv\n"
                         "file:///home/u/my%20sync Varnelo\n"));
  EXPECT_TRUE(unregisterFolderBookmark("/home/u/my sync"));
  EXPECT_EQ(content(), u("file:///home/u/Music Music\nsftp://host/srv\n"));
  // A line the user relabelled is no longer ours.
  {
    QFile f(bookmarksPath());
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write("file:///home/u/my%20sync Work\n");
  }
  EXPECT_TRUE(registerFolderBookmark("/home/u/my sync"));
  EXPECT_TRUE(unregisterFolderBookmark("/home/u/my sync"));
  EXPECT_TRUE(content().endsWith("file:///home/u/my%20sync Work\n"));

  EXPECT_TRUE(readAutostart().isEmpty());
  EXPECT_TRUE(setAutostart("/opt/var nelo/$bin/varnelohost"));
  EXPECT_EQ(readAutostart(), "/opt/var nelo/$bin/varnelohost");
  QFile entry(autostartPath());
  ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
  EXPECT_TRUE(entry.readAll().contains("Exec=\"/opt/var nelo/"));
  QFile legacy(autostartPath(u("Tolmar网盘Varnelo")));
  ASSERT_TRUE(legacy.open(QIODevice::WriteOnly));
  legacy.close();
  removeAutostart();
  EXPECT_TRUE(readAutostart().isEmpty());
  EXPECT_FALSE(QFileInfo::exists(autostartPath(u("Tolmar网盘Varnelo"))));
  qunsetenv("XDG_CONFIG_HOME");
}

TEST(SettingsTest, MovingTheSyncFolderCopiesRenamesAndRestarts) {
  QTemporaryDir tmp;
  SettingsStore settings;
  ASSERT_TRUE(settings.open((tmp.path() + "/appconfig.db").toStdString()));
  FakeBackend backend;
  backend.state = 0;
  backend.folder = tmp.path() + "/Varnelo";
  QDir().mkpath(backend.folder + "/docs");
  QFile f(backend.folder + "/docs/a.txt");
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("kept");
  f.close();
  CSettingDlg sheet(backend, settings);

  // The current folder again: nothing happens.
  chooseInNextDialog(backend.folder);
  sheet.advanced->change->click();
  EXPECT_TRUE(backend.calls.isEmpty());

  const QString target = tmp.path() + "/Moved";
  QDir().mkpath(target);
  chooseInNextDialog(target);
  QString question;
  answerNextBox(&question, QMessageBox::Yes);
  sheet.advanced->change->click();
  EXPECT_EQ(question, u("您确认要将同步目录移动到以下目录吗？\n    ") + target);
  EXPECT_EQ(backend.calls, (QStringList{"stop", "folder " + target,
                                        "rename " + tmp.path() + "/Varnelo " + target, "start"}));
  EXPECT_EQ(readFileForTest(target + "/docs/a.txt"), "kept");
  // One file system: the folder itself moved (renamed), nothing is left behind.
  EXPECT_FALSE(QFileInfo::exists(tmp.path() + "/Varnelo"));
  EXPECT_EQ(sheet.advanced->folder->text(), target);
}
