// What the wizard and the settings sheet refuse to take, and what a window
// restored from minimised keeps.
#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "qstring_print.h"

#include "CLoginPanels.h"
#include "CMainWizardDialog.h"
#include "CSettingDlg.h"
#include "FakeBackend.h"
#include "SettingsStore.h"
#include "Strings.h"

using namespace varnelo::desktop;
using varnelo::desktop::test::FakeBackend;

namespace {

void signIn(CMainWizardDialog& wizard) {
  CLoginPage* login = wizard.loginPage();
  login->normalPanel()->account->setText("alice");
  login->normalPanel()->password->setText("pw");
  wizard.next();
  ASSERT_TRUE(QTest::qWaitFor([&] { return wizard.currentPage() == wizard.finishPage(); }, 5000));
}

}  // namespace

TEST(InputChecksTest, AnEmptyHostNameIsRefusedBeforeAnythingIsSent) {
  FakeBackend backend;
  CMainWizardDialog wizard(backend);
  wizard.show();
  CLoginPage* login = wizard.loginPage();
  login->normalPanel()->account->setText("alice");
  login->normalPanel()->password->setText("pw");
  login->normalPanel()->hostName->setText("   ");
  wizard.next();
  EXPECT_FALSE(login->busy());
  EXPECT_EQ(wizard.currentPage(), login);
  EXPECT_EQ(login->statusLabel()->text(), str(14302));
  EXPECT_EQ(backend.lastType, -1);  // no sign-in was tried
  EXPECT_TRUE(backend.states.empty());
  login->normalPanel()->hostName->setText("desk");
  wizard.next();
  ASSERT_TRUE(QTest::qWaitFor([&] { return wizard.currentPage() == wizard.finishPage(); }, 5000));
  EXPECT_EQ(backend.registeredHost, "desk");
}

TEST(InputChecksTest, RestoringTheWizardKeepsItsPageOnlyTheProgramsShowStartsAgain) {
  FakeBackend backend;
  CMainWizardDialog wizard(backend);
  wizard.show();
  signIn(wizard);
  // Restored from minimised or uncovered: show events, the page stays.
  QShowEvent shown;
  QApplication::sendEvent(&wizard, &shown);
  wizard.showMinimized();
  wizard.showNormal();
  EXPECT_EQ(wizard.currentPage(), wizard.finishPage());
  // Hidden and shown again by the program (after an unlink): the login page.
  wizard.hide();
  wizard.show();
  EXPECT_EQ(wizard.currentPage(), wizard.loginPage());
}

TEST(InputChecksTest, AManualProxyWithoutAnAddressIsRefusedAndNothingIsWritten) {
  QTemporaryDir tmp;
  SettingsStore settings;
  ASSERT_TRUE(settings.open((tmp.path() + "/appconfig.db").toStdString()));
  FakeBackend backend;
  backend.state = 0;
  CSettingDlg sheet(backend, settings);
  sheet.show();
  sheet.proxy->manual->setChecked(true);
  for (const char* address : {"", "0.0.0.0", "  "}) {
    sheet.proxy->address->setText(address);
    QString seen;
    QTimer::singleShot(0, [&] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        seen = box->text();
        box->buttons().first()->click();
      }
    });
    sheet.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    EXPECT_EQ(seen, str(14303)) << address;
    EXPECT_TRUE(sheet.isVisible()) << "the sheet stays open";
    EXPECT_EQ(sheet.tabs()->currentWidget(), sheet.proxy);
    EXPECT_FALSE(settings.proxy().typeStored) << address;
    EXPECT_FALSE(backend.calls.contains("push"));
  }
  sheet.proxy->address->setText("proxy.example.org");
  sheet.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
  EXPECT_FALSE(sheet.isVisible());
  EXPECT_EQ(settings.proxy().settingType, 2);
  EXPECT_EQ(settings.proxy().address, "proxy.example.org");
}
