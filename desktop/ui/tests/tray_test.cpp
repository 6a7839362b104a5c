#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include "qstring_print.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <vector>

#include "AppEventSink.h"
#include "CStatusWindow.h"
#include "CTrayNotifyIcon.h"
#include "EngineNotice.h"
#include "Strings.h"
#include "TrayIds.h"
#include "TrayPresenter.h"
#include "TrayStateTable.h"
#include "TrayWatcher.h"

using namespace varnelo::desktop;

namespace {

QString u(const char* s) {
  return QString::fromUtf8(s);
}

struct Balloon {
  int kind;
  QString text, title;
  int timeout;
};

class FakeView : public ITrayView {
 public:
  void setIcon(int id) override {
    icon = id;
    animated = false;
  }
  void animate(int a, int) override {
    icon = a;
    animated = true;
  }
  void setTooltip(const QString& t) override { tooltip = t; }
  void showBalloon(int kind, const QString& text, const QString& title, int timeout) override {
    balloons.push_back({kind, text, title, timeout});
  }
  void setPauseItemText(const QString& t) override { pauseText = t; }
  void showUsageItem(const QString& t) override {
    usage = t;
    usageShown = true;
  }
  void hideUsageItem() override { usageShown = false; }
  void setShutdownChecked(bool) override {}
  void showHeldDeletionsItem(bool shown) override { heldItem = shown; }
  void showAdoptFolderItem(bool shown) override { adoptItem = shown; }

  int icon = 0;
  bool animated = false;
  QString tooltip, pauseText, usage;
  bool usageShown = false, heldItem = false, adoptItem = false;
  std::vector<Balloon> balloons;
};

struct TrayFixture : testing::Test {
  TrayModel model;
  FakeView view;
  int64_t now = 1000000;
  bool balloonsOn = true;
  TransferSnapshot status;
  bool statusAvailable = true;
  Quota fetched{int64_t{1} << 20, int64_t{10} << 30};
  bool fetchOk = true;
  bool pending = false;
  int fetches = 0;
  std::vector<int> appStates;
  TrayPresenter presenter{model, view, "1.2.3",
                          TrayPresenter::Hooks{
                              [this] { return now; },
                              [this](TransferSnapshot* s) {
                                *s = status;
                                return statusAvailable;
                              },
                              [this](Quota* q) {
                                ++fetches;
                                *q = fetched;
                                if (pending) return QuotaFetch::Pending;
                                return fetchOk ? QuotaFetch::Fetched : QuotaFetch::Failed;
                              },
                              [this](int s) { appStates.push_back(s); },
                              [this] { return balloonsOn; },
                              nullptr,
                          }};
};

}  // namespace

TEST(TrayStateTableTest, EachStateHasItsTextsAndIcon) {
  struct Row {
    int state;
    const char* menu;
    const char* line;
    int icon;
    UsageItem usage;
  };
  const Row rows[] = {
      {0, "暂停同步(&P)", "同步完成", kIconCompleted, UsageItem::Show},
      {16, "等待用户登录...", "等待用户登录...", kIconOffline, UsageItem::Hide},
      {32, "正在连接服务器...", "正在连接服务器...", kIconOffline, UsageItem::Hide},
      {64, "同步正在启动中...", "同步正在启动中...", kIconNormal, UsageItem::Hide},
      {128, "正在建立索引...", "正在建立索引...", kIconNormal, UsageItem::Show},
      {4, "恢复同步(&R)", "同步已暂停", kIconPaused, UsageItem::Show},
      {1024, "客户端版本太旧了", "您运行的是旧版本的客户端，现已无法使用，请下载最新版本",
       kIconOffline, UsageItem::Hide},
      {512, "暂停同步(&P)", "同步出错，稍后将自动重试", kIconError, UsageItem::Hide},
      {8, "空闲中...", "空闲中...", kIconNormal, UsageItem::Keep},
      {256, "空闲中...", "空闲中...", kIconNormal, UsageItem::Keep},
  };
  for (const Row& r : rows) {
    const TrayView v = trayViewFor(r.state, {});
    EXPECT_EQ(v.pauseItemText, u(r.menu)) << r.state;
    EXPECT_EQ(v.stateLine, u(r.line)) << r.state;
    EXPECT_EQ(v.iconId, r.icon) << r.state;
    EXPECT_FALSE(v.animate) << r.state;
    EXPECT_EQ(v.usage, r.usage) << r.state;
  }
  for (int s : {1, 2, 3}) {
    const TrayView v = trayViewFor(s, {});
    EXPECT_TRUE(v.animate);
    EXPECT_EQ(v.iconId, kIconSyncing1);
    EXPECT_EQ(v.pauseItemText, u("暂停同步(&P)"));
  }
}

TEST(TrayStateTableTest, CompletedWithErrorsLineFollowsTheCodes) {
  EXPECT_EQ(errorStateLine({-109}), u("有文件正在编辑，稍后将自动重试"));
  EXPECT_EQ(errorStateLine({402}), u("同步文件已超出您的Varnelo空间上限"));
  EXPECT_EQ(errorStateLine({28}), u("同步时网络传输出错，稍后将自动重试"));
  EXPECT_EQ(errorStateLine({0}), u("同步时网络传输出错，稍后将自动重试"));
  EXPECT_EQ(errorStateLine({-4}), u("同步出错，稍后将自动重试"));
  EXPECT_EQ(errorStateLine({402, -109}), u("同步出错，稍后将自动重试"));
}

TEST(TrayStateTableTest, ProgressLines) {
  TransferSnapshot s;
  EXPECT_EQ(progressLine(1, s), u("正在同步数据..."));
  s.hasFile = true;
  s.file = "Photos/abcdefghijklmnopqrstuvwxyz1234.jpg";
  EXPECT_EQ(progressLine(1, s), u("↑ abcdefghijklmnop...4.jpg 正在检查文件变化..."));
  s.total = 1000;
  s.done = 0;
  EXPECT_EQ(progressLine(2, s), u("↓ abcdefghijklmnop...4.jpg 正在检查文件变化..."));
  s.file = "a.txt";
  s.done = 250;
  EXPECT_EQ(progressLine(1, s), u("↑ a.txt 25.0%"));
  s.uploadSpeed = 2048;
  EXPECT_EQ(progressLine(1, s), u("↑ a.txt 25.0% 2.00KB/s"));
  s.done = 5000;  // more than the total: never above 100
  s.downloadSpeed = 1048576;
  EXPECT_EQ(progressLine(2, s), u("↓ a.txt 100.0% 1.00MB/s"));
  EXPECT_EQ(progressLine(3, s), u("正在同步数据...\n下载速度为1.00MB/s, 上传速度为2.00KB/s"));
  s.uploadSpeed = s.downloadSpeed = 0;
  EXPECT_EQ(progressLine(3, s), u("正在同步数据..."));
}

TEST(TrayStateTableTest, TooltipHoldsAtMost127Characters) {
  EXPECT_EQ(trayTooltip("1.0", u("同步完成")), u("Varnelo 1.0\n同步完成"));
  EXPECT_EQ(trayTooltip("1.0", QString(300, QLatin1Char('x'))).size(), 127);
}

TEST_F(TrayFixture, CompletionShowsOneBalloonWithBothCountsAndTheUsage) {
  presenter.onTrayStatus(1);
  EXPECT_TRUE(view.animated);
  for (int i = 0; i < 3; ++i) model.countUploaded();
  for (int i = 0; i < 2; ++i) model.countDownloaded();
  presenter.onTrayStatus(0);
  EXPECT_EQ(view.icon, kIconCompleted);
  EXPECT_EQ(view.tooltip, u("Varnelo 1.2.3\n同步完成"));
  ASSERT_EQ(view.balloons.size(), 1u);
  EXPECT_EQ(view.balloons[0].title, u("同步完成"));
  EXPECT_EQ(view.balloons[0].text, u("成功上传 3 个文件\n成功下载 2 个文件"));
  EXPECT_EQ(view.balloons[0].kind, kBalloonInfo);
  EXPECT_EQ(view.balloons[0].timeout, 500);
  EXPECT_EQ(model.idleSinceMs.load(), now);
  EXPECT_TRUE(view.usageShown);
  EXPECT_EQ(view.usage, u("已使用10.00GB容量中的1.00MB(0.0%)"));
  // The counters start again; the usage is not fetched twice.
  presenter.onTrayStatus(0);
  EXPECT_EQ(view.balloons.size(), 1u);
  EXPECT_EQ(fetches, 1);
}

TEST_F(TrayFixture, OnlyDownloadsAndResumingFromPause) {
  model.countDownloaded();
  presenter.onTrayStatus(2);
  presenter.onTrayStatus(0);
  ASSERT_EQ(view.balloons.size(), 1u);
  EXPECT_EQ(view.balloons[0].text, u("成功下载 1 个文件"));
  // Counted files that end in a pause -> idle step are not announced.
  model.countUploaded();
  presenter.onTrayStatus(4);
  EXPECT_EQ(view.pauseText, u("恢复同步(&R)"));
  EXPECT_EQ(presenter.pauseActionFor(), TrayPresenter::PauseAction::Resume);
  presenter.onTrayStatus(0);
  EXPECT_EQ(view.balloons.size(), 1u);
  EXPECT_EQ(presenter.pauseActionFor(), TrayPresenter::PauseAction::Pause);
  presenter.onTrayStatus(16);
  EXPECT_EQ(presenter.pauseActionFor(), TrayPresenter::PauseAction::None);
  EXPECT_FALSE(view.usageShown);
}

TEST_F(TrayFixture, ErrorsTurnCompletionInto512) {
  model.addError(402);
  presenter.onTrayStatus(1);
  presenter.onTrayStatus(0);
  EXPECT_EQ(model.displayedState.load(), 512);
  ASSERT_EQ(appStates.size(), 1u);
  EXPECT_EQ(appStates[0], 512);
  EXPECT_EQ(view.icon, kIconError);
  EXPECT_EQ(view.tooltip, u("Varnelo 1.2.3\n同步文件已超出您的Varnelo空间上限"));
  EXPECT_FALSE(view.usageShown);
  EXPECT_EQ(model.idleSinceMs.load(), -1);
}

TEST_F(TrayFixture, UsageItemFailsWhenTheQuotaIsUnknownOrInconsistent) {
  fetchOk = false;
  presenter.onTrayStatus(4);
  EXPECT_EQ(view.usage, u("获取容量信息失败"));
  fetchOk = true;
  fetched = {int64_t{11} << 30, int64_t{10} << 30};  // used above total
  presenter.onTrayStatus(128);
  EXPECT_EQ(view.usage, u("获取容量信息失败"));
  model.forgetQuota();
  fetched = {int64_t{5} << 30, int64_t{10} << 30};
  presenter.onTrayStatus(0);
  EXPECT_EQ(view.usage, u("已使用10.00GB容量中的5.00GB(50.0%)"));
}

TEST(TrayHoldsTest, NoticesEndWhenTheEngineLetsGo) {
  TrayModel model;
  FakeView view;
  int64_t now = 0;
  bool unavailable = true;
  uint64_t held = 3;
  TrayPresenter::Hooks hooks;
  hooks.nowMs = [&] { return now; };
  hooks.balloonsEnabled = [] { return true; };
  hooks.readHolds = [&](bool* u, uint64_t* h) {
    *u = unavailable;
    *h = held;
    return true;
  };
  TrayPresenter presenter(model, view, "1", hooks);
  presenter.onTrayStatus(0);
  presenter.onNotice(kNoticeFolderMissing, "/media/usb/Varnelo");
  presenter.onNotice(kNoticeDeletionsHeld, "");
  now += 2001;
  presenter.onTrayProgress();
  EXPECT_TRUE(presenter.hasNotice(kNoticeFolderMissing));
  unavailable = false;
  now += 1000;  // too soon to ask again
  presenter.onTrayProgress();
  EXPECT_TRUE(presenter.hasNotice(kNoticeFolderMissing));
  now += 1001;
  presenter.onTrayProgress();
  EXPECT_FALSE(presenter.hasNotice(kNoticeFolderMissing));
  EXPECT_TRUE(presenter.hasNotice(kNoticeDeletionsHeld));
  EXPECT_EQ(view.tooltip, u("Varnelo 1\n有删除操作等待您确认"));
  held = 0;
  now += 2001;
  presenter.onTrayProgress();
  EXPECT_FALSE(view.heldItem);
  EXPECT_EQ(view.tooltip, u("Varnelo 1\n同步完成"));
}

TEST_F(TrayFixture, UsageFetchedLaterFillsTheItemWhenItArrives) {
  pending = true;
  presenter.onTrayStatus(4);
  EXPECT_FALSE(view.usageShown);  // nothing shown until the answer
  model.setQuota({int64_t{2} << 30, int64_t{10} << 30});
  presenter.refreshUsage();
  EXPECT_TRUE(view.usageShown);
  EXPECT_EQ(view.usage, u("已使用10.00GB容量中的2.00GB(20.0%)"));
  presenter.onTrayStatus(16);
  presenter.refreshUsage();  // hidden stays hidden
  EXPECT_FALSE(view.usageShown);
}

TEST_F(TrayFixture, ProgressRefreshesAtMostEvery2001Ms) {
  presenter.onTrayStatus(1);
  status.hasFile = true;
  status.file = "big.iso";
  status.total = 100;
  status.done = 50;
  presenter.onTrayProgress();
  EXPECT_EQ(view.tooltip, u("Varnelo 1.2.3\n↑ big.iso 50.0%"));
  status.done = 60;
  now += 2000;
  presenter.onTrayProgress();
  EXPECT_EQ(view.tooltip, u("Varnelo 1.2.3\n↑ big.iso 50.0%"));
  now += 1;
  presenter.onTrayProgress();
  EXPECT_EQ(view.tooltip, u("Varnelo 1.2.3\n↑ big.iso 60.0%"));
  // Outside a syncing state progress does nothing.
  presenter.onTrayStatus(4);
  now += 5000;
  presenter.onTrayProgress();
  EXPECT_EQ(view.tooltip, u("Varnelo 1.2.3\n同步已暂停"));
}

TEST_F(TrayFixture, BalloonsOncePerPairAndOnlyWhenAllowed) {
  BalloonRequest quota =
      BalloonRequest::oncePerPath(kBalloonError, u("空间不足"), u("x"), 500, 402, "/a/b.txt");
  presenter.showBalloon(quota);
  presenter.showBalloon(quota);
  EXPECT_EQ(view.balloons.size(), 1u);
  quota.path = "/a/c.txt";
  presenter.showBalloon(quota);
  EXPECT_EQ(view.balloons.size(), 2u);
  // Read once, and again only on reload.
  balloonsOn = false;
  quota.path = "/a/d.txt";
  presenter.showBalloon(quota);
  EXPECT_EQ(view.balloons.size(), 3u);
  presenter.reloadBalloonSetting();
  quota.path = "/a/e.txt";
  presenter.showBalloon(quota);
  EXPECT_EQ(view.balloons.size(), 3u);
  // Long texts are cut to what a balloon holds.
  balloonsOn = true;
  presenter.reloadBalloonSetting();
  presenter.showBalloon(
      BalloonRequest::make(kBalloonInfo, QString(100, 't'), QString(400, 'm'), 500));
  EXPECT_EQ(view.balloons.back().title.size(), 63);
  EXPECT_EQ(view.balloons.back().text.size(), 255);
}

TEST_F(TrayFixture, NoticesOverrideTheStateLineUntilTheyEnd) {
  presenter.onTrayStatus(0);
  presenter.onNotice(kNoticeFolderUnavailable, "/media/usb/Varnelo");
  EXPECT_TRUE(view.adoptItem);
  EXPECT_EQ(view.icon, kIconError);
  EXPECT_EQ(view.tooltip, u("Varnelo 1.2.3\n同步目录不可用，同步已暂停"));
  ASSERT_EQ(view.balloons.size(), 1u);
  EXPECT_TRUE(view.balloons[0].text.contains("/media/usb/Varnelo"));
  presenter.onNotice(kNoticeFolderUnavailable, "/media/usb/Varnelo");
  EXPECT_EQ(view.balloons.size(), 1u);
  presenter.onNotice(200, "");
  EXPECT_FALSE(view.adoptItem);
  EXPECT_EQ(view.tooltip, u("Varnelo 1.2.3\n同步完成"));
  EXPECT_EQ(view.icon, kIconCompleted);

  presenter.onNotice(kNoticeDeletionsHeld, "");
  EXPECT_TRUE(view.heldItem);
  EXPECT_EQ(view.tooltip, u("Varnelo 1.2.3\n有删除操作等待您确认"));
  presenter.clearNotice(kNoticeDeletionsHeld);
  EXPECT_FALSE(view.heldItem);

  presenter.onNotice(kNoticeWatchUnavailable, "");
  EXPECT_EQ(view.tooltip, u("Varnelo 1.2.3\n同步完成\n无法监视同步目录的变化，将定期扫描"));
  EXPECT_EQ(view.icon, kIconCompleted);
  // The engine lets go of held deletions: the notice ends on the next tick.
  presenter.onNotice(kNoticeDeletionsHeld, "");
  EXPECT_TRUE(view.heldItem);
  presenter.onTrayProgress();  // no hook: nothing known, nothing changes
  EXPECT_TRUE(view.heldItem);

  // The login state says why nothing syncs and keeps its own line.
  presenter.onTrayStatus(16);
  EXPECT_EQ(view.tooltip, u("Varnelo 1.2.3\n等待用户登录..."));
}

TEST_F(TrayFixture, AJournalThatCannotBeOpenedIsSaidInsteadOfSyncComplete) {
  // The engine ended its sync at once; without the notice the tray would
  // go on saying that everything is in step.
  presenter.onTrayStatus(0);
  presenter.onNotice(kNoticeJournalUnavailable, "/home/me/.local/share/Varnelo/basefs.db");
  EXPECT_EQ(view.icon, kIconError);
  EXPECT_EQ(view.tooltip, u("Varnelo 1.2.3\n无法打开同步记录，同步未开始"));
  ASSERT_EQ(view.balloons.size(), 1u);
  EXPECT_TRUE(view.balloons[0].text.contains("/home/me/.local/share/Varnelo/basefs.db"));
  presenter.onNotice(200, "");  // a later run got through
  EXPECT_EQ(view.tooltip, u("Varnelo 1.2.3\n同步完成"));
  EXPECT_EQ(view.icon, kIconCompleted);
}

namespace {

struct Pass {
  explicit Pass(TrayModel& m) : model(m) {}
  TrayModel& model;
  TrayDebouncer debouncer;
  int64_t now = 0;
  std::vector<TrayPost> posts;
  // The UI side: a status post is shown at once.
  void apply(const TrayPost& p) {
    posts.push_back(p);
    if (p.kind == TrayPost::Status) {
      model.displayedState.store(p.state);
      model.idleSinceMs.store(p.state == 0 ? now : -1);
    }
  }
  void setState(int s) {
    onAppStateForTray(model, s, [this](const TrayPost& p) { apply(p); });
  }
  void ticks(int n) {
    for (int i = 0; i < n; ++i) {
      now += TrayDebouncer::kTickMs;
      for (const TrayPost& p : debouncer.tick(model.requestedState, model.displayedState,
                                              model.shutdownAfterSync, model.idleSinceMs, now))
        apply(p);
    }
  }
  int statusPosts(int state) const {
    int n = 0;
    for (const TrayPost& p : posts) n += p.kind == TrayPost::Status && p.state == state;
    return n;
  }
};

}  // namespace

TEST(TrayDebounceTest, ANinesecondPauseNeverShowsCompletionTenSecondsDo) {
  TrayModel model;
  Pass pass(model);
  pass.setState(1);
  EXPECT_EQ(pass.statusPosts(1), 1);
  pass.ticks(4);
  pass.setState(0);  // a pause between two transfers
  EXPECT_EQ(pass.statusPosts(0), 0);
  pass.ticks(36);  // 9 s
  EXPECT_EQ(pass.statusPosts(0), 0);
  EXPECT_EQ(model.displayedState.load(), 1);
  pass.setState(2);
  pass.ticks(2);
  pass.setState(0);
  pass.ticks(40);
  EXPECT_EQ(pass.statusPosts(0), 0);
  pass.ticks(1);  // the 40 ticks after the one that saw the change
  EXPECT_EQ(pass.statusPosts(0), 1);
  EXPECT_EQ(model.displayedState.load(), 0);
  pass.ticks(100);
  EXPECT_EQ(pass.statusPosts(0), 1);
}

TEST(TrayDebounceTest, PassWithPausesGivesOneBalloonCountingAllFiles) {
  TrayModel model;
  FakeView view;
  int64_t now = 0;
  TrayPresenter presenter(
      model, view, "1",
      {[&] { return now; }, nullptr, nullptr, nullptr, [] { return true; }, nullptr});
  TrayDebouncer debouncer;
  auto deliver = [&](const TrayPost& p) {
    if (p.kind == TrayPost::Status) presenter.onTrayStatus(p.state);
  };
  auto setState = [&](int s) { onAppStateForTray(model, s, deliver); };
  auto ticks = [&](int n) {
    for (int i = 0; i < n; ++i) {
      now += 250;
      for (const auto& p : debouncer.tick(model.requestedState, model.displayedState, false,
                                          model.idleSinceMs, now))
        deliver(p);
    }
  };
  for (int file = 0; file < 4; ++file) {
    setState(file % 2 ? 2 : 1);
    ticks(8);
    if (file % 2)
      model.countDownloaded();
    else
      model.countUploaded();
    setState(0);
    ticks(36);  // 9 s between files
  }
  EXPECT_TRUE(view.balloons.empty());
  ticks(5);
  ASSERT_EQ(view.balloons.size(), 1u);
  EXPECT_EQ(view.balloons[0].text, u("成功上传 2 个文件\n成功下载 2 个文件"));
}

TEST(TrayDebounceTest, ShutdownDialogOncePerIdlePeriodAfter150s) {
  TrayModel model;
  model.shutdownAfterSync = true;
  Pass pass(model);
  pass.setState(0);
  auto shutdowns = [&] {
    int n = 0;
    for (const auto& p : pass.posts) n += p.kind == TrayPost::ShowShutdown;
    return n;
  };
  pass.ticks(600);  // exactly 150 s
  EXPECT_EQ(shutdowns(), 0);
  pass.ticks(1);
  EXPECT_EQ(shutdowns(), 1);
  pass.ticks(100);
  EXPECT_EQ(shutdowns(), 1);
  // A new idle period asks again.
  pass.setState(1);
  pass.ticks(1);
  pass.setState(0);
  pass.ticks(41 + 601);
  EXPECT_EQ(shutdowns(), 2);
}

TEST(TrayWatcherTest, ThreadTicksUntilStopped) {
  TrayModel model;
  model.requestedState = model.displayedState = 1;
  std::atomic<int> progress{0};
  {
    TrayWatcher watcher(
        model,
        [&](const TrayPost& p) {
          if (p.kind == TrayPost::Progress) ++progress;
        },
        [] { return int64_t{0}; });
    watcher.start();
    EXPECT_TRUE(QTest::qWaitFor([&] { return progress.load() >= 2; }, 5000));
    watcher.stop();
    const int after = progress.load();
    watcher.stop();  // a second stop is harmless
    EXPECT_EQ(progress.load(), after);
  }
}

namespace {

struct SinkFixture : testing::Test {
  TrayModel model;
  int state = 0;
  std::vector<BalloonRequest> balloons;
  int unlinks = 0;
  std::vector<std::pair<std::string, int>> fileStates;
  AppEventSink sink{
      model,
      {[this] { return state; }, [this](int s) { state = s; },
       [this](const std::string& p, int s) { fileStates.emplace_back(p, s); },
       [this](const BalloonRequest& b) { balloons.push_back(b); }, [this] { ++unlinks; }, nullptr}};
};

}  // namespace

TEST_F(SinkFixture, ResultTable) {
  sink.result(5, nullptr);
  EXPECT_EQ(state, 32);
  sink.result(200, "x");
  EXPECT_EQ(state, 0);
  sink.result(200, "x");
  EXPECT_EQ(state, 0);
  state = 4;
  sink.result(200, "x");
  EXPECT_EQ(state, 4);
  sink.result(401, nullptr);
  EXPECT_EQ(unlinks, 1);
  sink.result(402, "/home/u/Varnelo/dir/big.bin");
  EXPECT_EQ(model.errors(), std::set<int>{402});
  ASSERT_EQ(balloons.size(), 1u);
  EXPECT_EQ(balloons[0].title, u("空间不足"));
  EXPECT_EQ(balloons[0].text, u("不能同步文件\"big.bin\": 空间不足"));
  EXPECT_TRUE(balloons[0].once);
  sink.result(-113, "/home/u/Varnelo/a:b");
  EXPECT_EQ(balloons[1].title, u("路径名错误"));
  EXPECT_TRUE(balloons[1].text.startsWith(u("不能同步文件或目录\"a:b\"")));
  EXPECT_EQ(balloons[1].kind, kBalloonInfo);
  sink.result(-118, nullptr);
  EXPECT_EQ(state, 1024);
  EXPECT_EQ(balloons[2].kind, kBalloonError);
  EXPECT_FALSE(balloons[2].once);
  sink.result(404, "x");
  EXPECT_EQ(balloons.size(), 3u);
}

TEST_F(SinkFixture, ErrorsEmptyWhenAPassStartsAndCountsNeedRealFiles) {
  sink.result(402, "a");
  sink.statusChanged(4);
  EXPECT_TRUE(model.hasErrors());
  sink.statusChanged(1);
  EXPECT_FALSE(model.hasErrors());
  EXPECT_EQ(state, 1);
  sink.result(402, "a");
  sink.statusChanged(3);  // still transferring: the pass goes on
  EXPECT_TRUE(model.hasErrors());

  const auto dir = std::filesystem::temp_directory_path() / "varnelo_sink_test";
  std::filesystem::create_directories(dir);
  const auto file = dir / "f.txt";
  std::ofstream(file) << "x";
  model.setQuota({1, 2});
  sink.uploaded(file.c_str());
  sink.uploaded((dir / "gone").c_str());
  sink.downloaded(file.c_str());
  sink.downloaded(dir.c_str());  // a folder is not a file
  EXPECT_EQ(model.takeCounts(), (std::pair<int, int>{1, 1}));
  EXPECT_EQ(model.quota().total, 0);
  sink.fileStateChanged(file.c_str(), 1);
  ASSERT_EQ(fileStates.size(), 1u);
  EXPECT_EQ(fileStates[0].second, 1);
  std::filesystem::remove_all(dir);
}

TEST(TrayIconTest, MenuOrderDefaultItemAndVariableItems) {
  CTrayNotifyIcon icon;
  const std::vector<int> expected = {kCmdOpenFolder,
                                     kCmdOpenHomePage,
                                     0,
                                     kCmdMoreSpace,
                                     0,
                                     kCmdPauseResume,
                                     kCmdShutdownAfterSync,
                                     kCmdSettings,
                                     0,
                                     kCmdAbout,
                                     kCmdHelp,
                                     kCmdFeedback,
                                     0,
                                     kCmdExit};
  auto ids = [&] {
    std::vector<int> out;
    for (QAction* a : icon.menu()->actions())
      out.push_back(a->isSeparator() ? 0 : a->data().toInt());
    return out;
  };
  EXPECT_EQ(ids(), expected);
  EXPECT_EQ(icon.menu()->defaultAction(), icon.action(kCmdOpenFolder));
  EXPECT_EQ(icon.action(kCmdOpenFolder)->text(), u("打开Varnelo文件夹(&O)"));
  EXPECT_EQ(icon.action(kCmdExit)->text(), u("退出(&X)"));
  EXPECT_FALSE(icon.action(kCmdMoreSpace)->isEnabled());

  icon.showUsageItem(u("已使用10.00GB容量中的1.00MB(0.0%)"));
  icon.showUsageItem(u("已使用10.00GB容量中的2.00MB(0.0%)"));
  std::vector<int> withUsage = expected;
  withUsage.insert(withUsage.begin() + 3, kCmdUsage);
  EXPECT_EQ(ids(), withUsage);
  EXPECT_EQ(icon.action(kCmdUsage)->text(), u("已使用10.00GB容量中的2.00MB(0.0%)"));
  EXPECT_TRUE(icon.action(kCmdMoreSpace)->isEnabled());
  icon.hideUsageItem();
  EXPECT_EQ(ids(), expected);
  EXPECT_EQ(icon.action(kCmdUsage), nullptr);
  EXPECT_FALSE(icon.action(kCmdMoreSpace)->isEnabled());

  icon.setPauseItemText(u("恢复同步(&R)"));
  EXPECT_EQ(icon.action(kCmdPauseResume)->text(), u("恢复同步(&R)"));
  icon.setTooltip(QString(200, QLatin1Char('t')));
  EXPECT_EQ(icon.tooltip().size(), 127);

  std::vector<int> commands;
  QObject::connect(&icon, &CTrayNotifyIcon::command, [&](int id) { commands.push_back(id); });
  icon.action(kCmdSettings)->trigger();
  // An XEmbed double click arrives as a click and then a double click: the
  // folder opens once.
  emit icon.trayIcon()->activated(QSystemTrayIcon::Trigger);
  emit icon.trayIcon()->activated(QSystemTrayIcon::DoubleClick);
  EXPECT_EQ(commands, (std::vector<int>{kCmdSettings, kCmdOpenFolder}));
  // A double click on its own (no click before it) still opens it.
  emit icon.trayIcon()->activated(QSystemTrayIcon::DoubleClick);
  EXPECT_EQ(commands, (std::vector<int>{kCmdSettings, kCmdOpenFolder, kCmdOpenFolder}));
}

TEST(TrayIconTest, WithoutATrayHostTheStatusWindowCarriesStateMenuAndHint) {
  CTrayNotifyIcon icon;
  icon.setHostAvailable(false);
  EXPECT_EQ(icon.statusWindow(), nullptr);  // nothing is shown before create()
  icon.create(kIconNormal, u("Varnelo 1.0\n同步完成"));
  CStatusWindow* window = icon.statusWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->isVisible());
  EXPECT_FALSE(icon.trayIcon()->isVisible());
  EXPECT_EQ(window->stateText(), u("同步完成"));
  // The very menu of the tray, and the hint that names the extension.
  EXPECT_EQ(window->menuButton()->menu(), icon.menu());
  EXPECT_TRUE(window->hintLabel()->text().contains("gnome-shell-extension-appindicator"));
  icon.setTooltip(u("Varnelo 1.0\n同步已暂停"));
  EXPECT_EQ(window->stateText(), u("同步已暂停"));
  std::vector<int> commands;
  QObject::connect(&icon, &CTrayNotifyIcon::command, [&](int id) { commands.push_back(id); });
  window->openButton()->click();
  EXPECT_EQ(commands, std::vector<int>{kCmdOpenFolder});

  // A host appears: the icon takes over, with the texts of the moment.
  icon.setHostAvailable(true);
  EXPECT_FALSE(window->isVisible());
  EXPECT_TRUE(icon.trayIcon()->isVisible());
  EXPECT_EQ(icon.trayIcon()->toolTip(), u("Varnelo 1.0\n同步已暂停"));
  EXPECT_EQ(icon.trayIcon()->contextMenu(), icon.menu());
  icon.setHostAvailable(false);
  EXPECT_TRUE(window->isVisible());
  // The program's own close (at quit) goes through; a refusal would make
  // the application's quit fail. (The user's close only minimises it.)
  EXPECT_TRUE(window->close());
  icon.remove();
  EXPECT_FALSE(window->isVisible());
}

TEST(TrayIconTest, AnimationAlternatesTheTwoFrames) {
  CTrayNotifyIcon icon;
  icon.animate(kIconSyncing1, kIconSyncing2);
  EXPECT_EQ(icon.currentIconId(), kIconSyncing1);
  EXPECT_TRUE(QTest::qWaitFor([&] { return icon.currentIconId() == kIconSyncing2; }, 3000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return icon.currentIconId() == kIconSyncing1; }, 3000));
  icon.setIcon(kIconPaused);
  QTest::qWait(600);
  EXPECT_EQ(icon.currentIconId(), kIconPaused);
  EXPECT_FALSE(icon.trayIcon()->icon().isNull());
}
