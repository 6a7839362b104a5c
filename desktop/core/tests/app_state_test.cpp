// The application state's listeners, the private messages as Qt events and
// the string table.
#include <gtest/gtest.h>

#include <QObject>
#include <thread>
#include <vector>

#include "AppMessages.h"
#include "AppState.h"
#include "Strings.h"
#include "TestApp.h"

namespace varnelo::desktop {
namespace {

TEST(AppStateTest, ListenersHearEachChangeOnce) {
  AppState state(kAppConnecting);
  std::vector<std::pair<int, int>> heard;
  int token = state.addListener([&](int from, int to) { heard.emplace_back(from, to); });
  state.set(kAppConnecting);  // unchanged: silent
  state.set(kAppLoginNeeded);
  state.set(kAppIdle);
  state.removeListener(token);
  state.set(kAppStopping);
  EXPECT_EQ(heard, (std::vector<std::pair<int, int>>{{32, 16}, {16, 0}}));
  EXPECT_EQ(state.get(), kAppStopping);
  EXPECT_TRUE(isSyncingState(3));
  EXPECT_FALSE(isSyncingState(4));
  EXPECT_FALSE(isSyncingState(0));
}

TEST(AppStateTest, ChangesFromManyThreadsArriveAsAChain) {
  AppState state;
  std::vector<std::pair<int, int>> heard;  // written by listeners, serialised by the state
  state.addListener([&](int from, int to) { heard.emplace_back(from, to); });
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&state, t] {
      for (int i = 0; i < 500; ++i) state.set((i + t) % 2 ? kAppUploading : kAppDownloading);
    });
  }
  for (auto& t : threads) t.join();
  ASSERT_FALSE(heard.empty());
  EXPECT_EQ(heard.front().first, kAppIdle);
  for (size_t i = 1; i < heard.size(); ++i) EXPECT_EQ(heard[i].first, heard[i - 1].second);
  EXPECT_EQ(heard.back().second, state.get());
}

class Receiver : public QObject {
 public:
  bool event(QEvent* e) override {
    if (!isAppMessage(e)) return QObject::event(e);
    auto* m = static_cast<AppMessage*>(e);
    got.emplace_back(m->message(), m->wParam);
    m->result = 99;
    return true;
  }
  std::vector<std::pair<int, qintptr>> got;
};

TEST(AppMessagesTest, PostedFromAnotherThreadArriveInOrderWithTheirNumbers) {
  test::coreApp();
  ASSERT_TRUE(registerAppMessages());
  Receiver r;
  std::thread poster([&r] {
    postAppMessage(&r, UM_START_SYNC, 1);
    postAppMessage(&r, UM_QUIT);
  });
  poster.join();
  EXPECT_TRUE(r.got.empty());  // delivered by the receiver's thread's loop only
  QCoreApplication::sendPostedEvents(&r);
  EXPECT_EQ(r.got, (std::vector<std::pair<int, qintptr>>{{1176, 1}, {1179, 0}}));
  EXPECT_EQ(sendAppMessage(&r, UM_UNLINK_DEVICE, 1), 99);
  QEvent other(QEvent::User);
  EXPECT_FALSE(isAppMessage(&other));
}

TEST(StringsTest, SourceTextsAreTheProductsOwn) {
  test::coreApp();
  EXPECT_EQ(str(kStrInitFailed), QString::fromUtf8("程序初始化失败"));
  EXPECT_EQ(str(kStrError), QString::fromUtf8("错误"));
  EXPECT_EQ(QString::asprintf(str(kStrShutdownCountdown).toUtf8().constData(), 30),
            QString::fromUtf8("如果您什么都不做，您的电脑将在 30 秒内自动关机。"));
  EXPECT_EQ(str(166), QString::fromUtf8("正在同步数据...\n下载速度为%s, 上传速度为%s"));
  EXPECT_TRUE(str(1).isNull());
  EXPECT_EQ(sourceText(3), nullptr);
}

}  // namespace
}  // namespace varnelo::desktop
