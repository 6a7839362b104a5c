#include "WinMonitor.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <fstream>
#include <memory>

#include "TestHandlers.h"
#include "platform/files.h"
#include "tests/TempDir.h"

namespace files = platform::files;
using varnelo::WinMonitor;
using varnelo::test::RecordingSink;
using varnelo::test::TempDir;

namespace {

struct Releaser {
  void operator()(WinMonitor* monitor) const { monitor->release(); }
};

// Stops the monitor from inside its first event.
struct StoppingSink : RecordingSink {
  void onPathAdded(const char* path) override {
    if (!stopped.exchange(true)) {
      monitor->stop();
      log.push("stop returned");
    }
    RecordingSink::onPathAdded(path);
  }
  std::atomic<bool> stopped{false};
  WinMonitor* monitor = nullptr;
};

class Monitor : public ::testing::Test {
 protected:
  void SetUp() override {
    monitor_.reset(new WinMonitor());
    monitor_->setEventSink(&sink_);
  }
  // Starts watching the temporary folder.
  void startWatching() {
    ASSERT_EQ(monitor_->addDirectory(dir_.path().c_str()), 200);
    ASSERT_EQ(monitor_->start(), 200);
  }
  // Creates a marker file and waits for it: every change made before it has
  // been delivered by then, since events arrive in order.
  void flush(const std::string& name = "zz.marker") {
    ASSERT_FALSE(files::writeFile(dir_ / name, ""));
    ASSERT_TRUE(sink_.log.waitForEntry("added " + (dir_ / name))) << sink_.log.text();
  }
  bool seen(const std::string& entry) const { return sink_.log.count(entry) > 0; }
  std::string p(const std::string& rel) const { return dir_ / rel; }

  TempDir dir_;
  TempDir outside_;
  RecordingSink sink_;
  StoppingSink stopping_;
  std::unique_ptr<WinMonitor, Releaser> monitor_;
};

TEST_F(Monitor, ReportsEveryKindOfChangeWithFullPaths) {
  startWatching();
  ASSERT_FALSE(files::createDirectory(p("sub")));
  ASSERT_TRUE(sink_.log.waitForEntry("added " + p("sub")));
  ASSERT_FALSE(files::writeFile(p("sub/a.txt"), "1"));
  ASSERT_FALSE(files::rename(p("sub/a.txt"), p("sub/b.txt")));
  ASSERT_FALSE(files::rename(p("sub/b.txt"), p("sub/B.txt")));  // letter case only
  ASSERT_FALSE(files::removeFile(p("sub/B.txt")));
  ASSERT_TRUE(sink_.log.waitForEntry("removed " + p("sub/B.txt"))) << sink_.log.text();
  EXPECT_EQ(
      sink_.log.entries(),
      (std::vector<std::string>{
          "added " + p("sub"), "added " + p("sub/a.txt"), "modified " + p("sub/a.txt"),
          "renamed " + p("sub/a.txt") + " -> " + p("sub/b.txt"),
          "renamed " + p("sub/b.txt") + " -> " + p("sub/B.txt"), "removed " + p("sub/B.txt")}));
}

TEST_F(Monitor, SameFileChangedSeveralTimesGivesOneEventPerChange) {
  ASSERT_FALSE(files::writeFile(p("f"), "x"));
  startWatching();
  auto append = [&] {
    std::ofstream out(p("f"), std::ios::app);
    out << "more";
  };
  // Three changes, likely read in one go; the monitor merges nothing. (The
  // kernel itself merges identical back-to-back events, hence the chmod.)
  append();
  ASSERT_EQ(::chmod(p("f").c_str(), 0600), 0);
  append();
  flush();
  EXPECT_EQ(sink_.log.count("modified " + p("f")), 3u) << sink_.log.text();
}

TEST_F(Monitor, MovesIntoAndOutOfTheTree) {
  ASSERT_FALSE(files::createDirectories(outside_ / "in/deep"));
  ASSERT_FALSE(files::writeFile(outside_ / "in/deep/f", ""));
  ASSERT_FALSE(files::createDirectory(p("leaving")));
  startWatching();
  ASSERT_FALSE(files::rename(outside_ / "in", p("in")));
  ASSERT_FALSE(files::rename(p("leaving"), outside_ / "leaving"));
  // Changes in the folder that moved in are seen; those in the one that left are not.
  ASSERT_FALSE(files::writeFile(p("in/deep/g"), ""));
  ASSERT_FALSE(files::writeFile(outside_ / "leaving/x", ""));
  flush();
  EXPECT_TRUE(seen("added " + p("in")));
  EXPECT_TRUE(seen("added " + p("in/deep/f")));
  EXPECT_TRUE(seen("removed " + p("leaving")));
  EXPECT_TRUE(seen("added " + p("in/deep/g")));
  EXPECT_FALSE(seen("added " + p("leaving/x"))) << sink_.log.text();
}

TEST_F(Monitor, ExcludePatternsApplyToPathsBelowTheWatchedFolder) {
  const char* patterns[] = {"*.tmp", "Desktop.ini", "*\\.*"};
  ASSERT_EQ(monitor_->setExcludes(patterns, 3), 200);
  ASSERT_FALSE(files::createDirectory(p("sub")));
  ASSERT_FALSE(files::writeFile(p("a.tmp"), ""));
  startWatching();
  ASSERT_FALSE(files::writeFile(p("sub/x.tmp"), ""));
  ASSERT_FALSE(files::writeFile(p("Desktop.ini"), ""));
  ASSERT_FALSE(files::writeFile(p("sub/Desktop.ini"), ""));
  ASSERT_FALSE(files::writeFile(p("desktop.ini"), ""));
  ASSERT_FALSE(files::createDirectory(p("sub/.git")));  // a dot folder below the top
  ASSERT_FALSE(files::rename(p("a.tmp"), p("b.tmp")));
  ASSERT_FALSE(files::rename(p("b.tmp"), p("a.txt")));
  flush();
  const auto entries = sink_.log.entries();
  EXPECT_EQ(entries, (std::vector<std::string>{
                         "added " + p("sub/Desktop.ini"), "added " + p("desktop.ini"),
                         "renamed " + p("b.tmp") + " -> " + p("a.txt"), "added " + p("zz.marker")}))
      << sink_.log.text();
}

TEST_F(Monitor, ChangedExcludesRestartTheWatchesAndTheSameListDoesNot) {
  const char* tmp[] = {"*.tmp"};
  ASSERT_EQ(monitor_->setExcludes(tmp, 1), 200);
  startWatching();
  // A fault planted in the running watch survives a call with the same
  // list, which therefore did not restart anything.
  ASSERT_TRUE(monitor_->watcher().InjectFault(dir_.path(), platform::DirWatchFault::QueueOverflow));
  ASSERT_EQ(monitor_->setExcludes(tmp, 1), 200);
  ASSERT_FALSE(files::writeFile(p("a"), ""));
  ASSERT_TRUE(sink_.log.waitForEntry("rescan " + dir_.path())) << sink_.log.text();

  // A changed list takes effect at once: the watch restarted with it, and
  // the fault planted in the old watch went with it.
  ASSERT_TRUE(monitor_->watcher().InjectFault(dir_.path(), platform::DirWatchFault::QueueOverflow));
  const char* bak[] = {"*.bak"};
  ASSERT_EQ(monitor_->setExcludes(bak, 1), 200);
  ASSERT_FALSE(files::writeFile(p("x.bak"), ""));
  ASSERT_FALSE(files::writeFile(p("x.tmp"), ""));
  flush();
  EXPECT_FALSE(seen("added " + p("x.bak")));
  EXPECT_TRUE(seen("added " + p("x.tmp")));
  EXPECT_EQ(sink_.log.count("rescan " + dir_.path()), 1u) << sink_.log.text();
}

TEST_F(Monitor, OverflowOrWatchLimitRestartsTheWatchAndAsksForARescan) {
  startWatching();
  ASSERT_TRUE(monitor_->watcher().InjectFault(dir_.path(), platform::DirWatchFault::QueueOverflow));
  ASSERT_FALSE(files::writeFile(p("a"), ""));
  ASSERT_TRUE(sink_.log.waitForEntry("rescan " + dir_.path())) << sink_.log.text();
  // Watching again, so later changes are seen.
  flush("after-overflow");

  ASSERT_TRUE(monitor_->watcher().InjectFault(dir_.path(), platform::DirWatchFault::WatchLimit));
  ASSERT_FALSE(files::createDirectory(p("sub")));
  ASSERT_TRUE(sink_.log.waitFor([&](const auto& entries) {
    size_t rescans = 0;
    for (const auto& e : entries) rescans += e == "rescan " + dir_.path();
    return rescans == 2;
  })) << sink_.log.text();
  ASSERT_FALSE(files::writeFile(p("sub/inside"), ""));
  ASSERT_TRUE(sink_.log.waitForEntry("added " + p("sub/inside"))) << sink_.log.text();
}

TEST_F(Monitor, AWatchedFolderThatGoesAwayIsReportedForARescan) {
  // Folders cannot be locked against deletion here, so the watch ends; the
  // receiver's scan then finds the folder missing.
  ASSERT_FALSE(files::createDirectory(p("sync")));
  ASSERT_EQ(monitor_->addDirectory(p("sync").c_str()), 200);
  ASSERT_EQ(monitor_->start(), 200);
  ASSERT_FALSE(files::rename(p("sync"), p("moved")));
  ASSERT_TRUE(sink_.log.waitForEntry("rescan " + p("sync"))) << sink_.log.text();
  EXPECT_FALSE(monitor_->watcher().IsWatched(p("sync")));
}

TEST_F(Monitor, DirectoriesAreRegisteredAsGivenAndWatchedOnce) {
  ASSERT_FALSE(files::writeFile(p("file"), ""));
  EXPECT_EQ(monitor_->addDirectory(p("file").c_str()), -101);
  EXPECT_EQ(monitor_->addDirectory(p("missing").c_str()), -101);
  EXPECT_EQ(monitor_->addDirectory(nullptr), 499);
  EXPECT_EQ(monitor_->stop(), 200);  // never started: nothing to do
  ASSERT_EQ(monitor_->addDirectory(dir_.path().c_str()), 200);
  startWatching();  // registered twice now
  ASSERT_FALSE(files::writeFile(p("once"), ""));
  flush();
  EXPECT_EQ(sink_.log.count("added " + p("once")), 1u) << sink_.log.text();

  // Registered while started: watched at once.
  ASSERT_EQ(monitor_->addDirectory(outside_.path().c_str()), 200);
  ASSERT_FALSE(files::writeFile(outside_ / "o", ""));
  ASSERT_TRUE(sink_.log.waitForEntry("added " + (outside_ / "o")));
  // Removed: no longer watched, the other folder still is.
  ASSERT_EQ(monitor_->removeDirectory(outside_.path().c_str()), 200);
  EXPECT_FALSE(monitor_->watcher().IsWatched(outside_.path()));
  ASSERT_FALSE(files::writeFile(outside_ / "p", ""));
  flush("zz.second");
  EXPECT_FALSE(seen("added " + (outside_ / "p")));
  // removeAllDirectories keeps the monitor started.
  ASSERT_EQ(monitor_->removeAllDirectories(), 200);
  EXPECT_FALSE(monitor_->watcher().IsWatched(dir_.path()));
  ASSERT_EQ(monitor_->addDirectory(outside_.path().c_str()), 200);
  EXPECT_TRUE(monitor_->watcher().IsWatched(outside_.path()));
}

TEST_F(Monitor, NamesThatAreNotUtf8AreDropped) {
  startWatching();
  ASSERT_FALSE(files::writeFile(p("bad\xff"), ""));
  flush();
  for (const auto& entry : sink_.log.entries()) {
    EXPECT_EQ(entry.find('\xff'), std::string::npos);
  }
  const char* bad[] = {"\xff*"};
  EXPECT_EQ(monitor_->setExcludes(bad, 1), -4);
}

TEST_F(Monitor, StopWhileEventsAreQueuedEndsDeliveryAndDoesNotDeadlock) {
  startWatching();
  for (int i = 0; i < 300; ++i) ASSERT_FALSE(files::writeFile(p("f" + std::to_string(i)), ""));
  ASSERT_EQ(monitor_->stop(), 200);
  const size_t delivered = sink_.log.entries().size();
  // Nothing arrives after the stop returned: prove it with a change in a
  // folder watched by a second monitor, whose event comes later.
  RecordingSink other;
  std::unique_ptr<WinMonitor, Releaser> second(new WinMonitor());
  second->setEventSink(&other);
  ASSERT_EQ(second->addDirectory(outside_.path().c_str()), 200);
  ASSERT_EQ(second->start(), 200);
  ASSERT_FALSE(files::writeFile(p("late"), ""));
  ASSERT_FALSE(files::writeFile(outside_ / "marker", ""));
  ASSERT_TRUE(other.log.waitForEntry("added " + (outside_ / "marker")));
  EXPECT_EQ(sink_.log.entries().size(), delivered);
}

TEST_F(Monitor, ASinkMayStopTheMonitorFromInsideAnEvent) {
  stopping_.monitor = monitor_.get();
  monitor_->setEventSink(&stopping_);
  startWatching();
  for (int i = 0; i < 20; ++i) ASSERT_FALSE(files::writeFile(p("f" + std::to_string(i)), ""));
  ASSERT_TRUE(stopping_.log.waitForEntry("stop returned"));
  EXPECT_FALSE(monitor_->watcher().IsWatched(dir_.path()));
  // Started again from this thread afterwards, it works as before.
  monitor_->setEventSink(&sink_);
  ASSERT_EQ(monitor_->start(), 200);
  flush();
}

}  // namespace
