// The hidden main window's messages and commands, and the shut-down
// countdown dialog, with Qt's offscreen platform. The windows' side is a
// recorder of what the core asked of it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QThread>
#include <cstdlib>

#include "AppUi.h"
#include "Application.h"
#include "CShutdownDlg.h"
#include "HandOver.h"
#include "HandOverServer.h"
#include "LoginThread.h"
#include "MainWindow.h"
#include "Strings.h"
#include "TempDir.h"
#include "WaitFor.h"
#include "platform/local_pipe.h"
#include "platform/sync_primitives.h"

namespace varnelo::desktop {
namespace {

QApplication& guiApp() {
  static int argc = 1;
  static char name[] = "desktop_app_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return new QApplication(argc, argv);
  }();
  return *app;
}

class RecordingUi : public AppUi {
 public:
  void stop() override { calls.push_back("stop"); }
  void showMain(int command) override { calls.push_back("show " + std::to_string(command)); }
  bool isMainVisible() const override { return visible; }
  void bringMainToFront() override { calls.push_back("front"); }
  bool runCommand(int id) override {
    calls.push_back("command " + std::to_string(id));
    return true;
  }
  void showBalloon(int kind, const QString& title, const QString& text, int ms) override {
    calls.push_back("balloon " + std::to_string(kind) + " " + title.toStdString() + " " +
                    text.toStdString() + " " + std::to_string(ms));
  }
  void handleMessage(AppMessage& m) override {
    calls.push_back("message " + std::to_string(m.message()));
  }
  bool visible = false;
  std::vector<std::string> calls;
};

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    guiApp();
    registerAppMessages();
    setenv("VARNELO_SERVICE", "files.example:81:444", 1);
    app_.setUi(&ui_);
    app_.setMainWindow(&window_);
    app_.setOpener([this](const std::string& target) {
      opened_.push_back(target);
      return true;
    });
    app_.setPowerOff([this] {
      ++powerOffs_;
      return true;
    });
  }
  void TearDown() override { unsetenv("VARNELO_SERVICE"); }

  test::TempDir dir_;
  Application app_{dir_.path()};
  MainWindow window_{app_};
  RecordingUi ui_;
  std::vector<std::string> opened_;
  int powerOffs_ = 0;
};

TEST_F(MainWindowTest, WebPagesOfTheMenu) {
  for (int id : {kCmdOpenHomePage, kCmdHelp, kCmdAccountPage, kCmdFeedback, kCmdMoreSpace}) {
    window_.runCommand(id);
  }
  EXPECT_EQ(opened_, (std::vector<std::string>{"http://files.example:81/?from=pc",
                                               "http://files.example:81/help?from=pc",
                                               "http://files.example:81/account?from=pc",
                                               "http://files.example:81/feedback?from=pc",
                                               "http://files.example:81/start?from=pc"}));
  window_.runCommand(kCmdSettings);
  window_.runCommand(kCmdPauseResume);
  EXPECT_EQ(ui_.calls, (std::vector<std::string>{"command 32785", "command 32774"}));
}

TEST_F(MainWindowTest, MessagesReachTheirHandlers) {
  postAppMessage(&window_, UM_SHOW_MAIN, kShowShow);
  postAppMessage(&window_, UM_TRAY_STATUS, 0);
  postAppMessage(&window_, UM_RELOAD_BALLOON);
  QCoreApplication::sendPostedEvents(&window_);
  EXPECT_EQ(ui_.calls, (std::vector<std::string>{"show 5", "message 1182", "message 1178"}));
  // No engine, no sign-in: unlinking is refused.
  EXPECT_EQ(sendAppMessage(&window_, UM_UNLINK_DEVICE, 1), 0);
}

TEST_F(MainWindowTest, HandedOverLines) {
  window_.handleCommandLine("");
  ui_.visible = true;
  window_.handleCommandLine("");
  window_.handleCommandLine("something else");
  EXPECT_EQ(ui_.calls, (std::vector<std::string>{"front", "front"}));
  ui_.calls.clear();

  window_.handleCommandLine("-upgrade");
  ASSERT_EQ(ui_.calls.size(), 1u);
  EXPECT_EQ(ui_.calls[0], "balloon 2 " + str(kStrUpgradingTitle).toStdString() + " " +
                              str(kStrUpgradingText).toStdString() + " 2000");
  // The exit follows two seconds later, without blocking the loop meanwhile.
  ASSERT_TRUE(test::waitFor([&] {
    QCoreApplication::processEvents();
    return ui_.calls.size() == 2;
  }));
  EXPECT_EQ(ui_.calls[1], "stop");

  // "-quit" goes through the message queue; a second exit is not repeated.
  window_.handleCommandLine("-quit");
  QCoreApplication::sendPostedEvents(&window_);
  window_.handleCommandLine("-uninst");
  EXPECT_EQ(ui_.calls.size(), 2u);
  // Without a sync folder "-sendto" and "-extlink" do nothing.
  window_.handleCommandLine("-sendto /tmp");
  window_.handleCommandLine("-extlink /tmp/x");
  EXPECT_TRUE(opened_.empty());
}

TEST_F(MainWindowTest, HandOverPipeDeliversOnTheUiThreadOnceItIsThereAndStopsWithALineInHand) {
  const char* saved = std::getenv("XDG_RUNTIME_DIR");
  const std::string savedRuntime = saved ? saved : "";
  setenv("XDG_RUNTIME_DIR", dir_.path().c_str(), 1);
  const std::string pipe = "{hand-over-test}";
  QObject target;
  std::vector<QString> lines;
  {
    HandOverServer server;
    ASSERT_TRUE(server.start(pipe));
    // A line that comes while the program is still starting waits for the
    // window it goes to.
    ASSERT_FALSE(platform::pipeSend(pipe, handOverMessage({"-extlink", "/a b"})));
    // The pipe takes its clients in turn: one after the line (a message it
    // drops, not being text) gets no answer while the line waits.
    std::string reply;
    EXPECT_EQ(platform::pipeCall(pipe, "\xff", reply, 16, 300), std::errc::timed_out);
    server.setTarget(&target, [&](const QString& line) { lines.push_back(line); });
    ASSERT_TRUE(test::waitFor([&] {
      QCoreApplication::processEvents();
      return !lines.empty();
    }));
    EXPECT_EQ(lines, std::vector<QString>{"-extlink \"/a b\""});
    // A line in hand whose handling does not end does not hold up the stop.
    QThread busyThread;
    busyThread.start();
    QObject busy;
    busy.moveToThread(&busyThread);
    platform::Event entered{platform::Event::Reset::Manual};
    platform::Event release{platform::Event::Reset::Manual};
    server.setTarget(&busy, [&](const QString&) {
      entered.set();
      release.wait();
    });
    ASSERT_FALSE(platform::pipeSend(pipe, handOverMessage({"-quit"})));
    ASSERT_TRUE(entered.waitFor(std::chrono::seconds(10)));
    server.stop();
    EXPECT_FALSE(server.serving());
    release.set();
    busyThread.quit();
    busyThread.wait();
  }
  EXPECT_EQ(lines.size(), 1u);
  if (saved) {
    setenv("XDG_RUNTIME_DIR", savedRuntime.c_str(), 1);
  } else {
    unsetenv("XDG_RUNTIME_DIR");
  }
}

TEST_F(MainWindowTest, ShutdownAfterSyncCountsDownAndCanBeCancelled) {
  EXPECT_FALSE(app_.shutdownAfterSync());
  window_.runCommand(kCmdShutdownAfterSync);
  EXPECT_TRUE(app_.shutdownAfterSync());
  sendAppMessage(&window_, UM_SHOW_SHUTDOWN);
  CShutdownDlg* dialog = window_.shutdownDialog();
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ(dialog->windowTitle(), QString::fromUtf8("Varnelo同步完成"));
  EXPECT_EQ(dialog->countdownText(),
            QString::fromUtf8("如果您什么都不做，您的电脑将在 30 秒内自动关机。"));
  ASSERT_TRUE(test::waitFor([&] {
    QCoreApplication::processEvents();
    return dialog->secondsLeft() == 29;
  }));
  dialog->cancelButton()->click();
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(powerOffs_, 0);

  sendAppMessage(&window_, UM_SHOW_SHUTDOWN);  // the same dialog, from 30 again
  EXPECT_EQ(window_.shutdownDialog(), dialog);
  EXPECT_EQ(dialog->secondsLeft(), 30);
  window_.runCommand(kCmdShutdownAfterSync);  // turning it off hides it
  EXPECT_FALSE(dialog->isVisible());

  sendAppMessage(&window_, UM_SHOW_SHUTDOWN);
  dialog->shutdownButton()->click();
  EXPECT_EQ(powerOffs_, 1);
  QCoreApplication::sendPostedEvents(&window_);  // UM_QUIT: the orderly exit
  EXPECT_EQ(ui_.calls, (std::vector<std::string>{"stop"}));
}

}  // namespace
}  // namespace varnelo::desktop

namespace varnelo::desktop {
namespace {

TEST_F(MainWindowTest, LoginWithoutAStoredTokenAsksForTheWizard) {
  ASSERT_EQ(app_.createEngine(), 200);  // a fresh data folder: no token stored
  LoginThread login(app_);
  login.run();
  EXPECT_EQ(app_.state().get(), kAppLoginNeeded);
  QCoreApplication::sendPostedEvents(&window_);
  EXPECT_EQ(ui_.calls, (std::vector<std::string>{"show 5"}));
}

}  // namespace
}  // namespace varnelo::desktop
