#include "CDirectoryChangeWatcher.h"

#include <gtest/gtest.h>

#include "FilterOptions.h"
#include "TestHandlers.h"
#include "platform/files.h"
#include "tests/TempDir.h"

using namespace varnelo::monitor;
namespace files = platform::files;
using varnelo::test::RecordingHandler;
using varnelo::test::TempDir;

namespace {

constexpr uint32_t kFilter = platform::kWatchFileName | platform::kWatchDirName |
                             platform::kWatchSize | platform::kWatchLastWrite;

TEST(Watcher, RefusesWhatCannotBeWatchedAndLeavesNoRecord) {
  TempDir dir;
  ASSERT_FALSE(files::writeFile(dir / "file", ""));
  RecordingHandler handler;  // outlives the watcher's watches
  CDirectoryChangeWatcher watcher;
  EXPECT_EQ(watcher.StartWatch("", kFilter, &handler, true, nullptr, nullptr),
            std::errc::invalid_argument);
  EXPECT_EQ(watcher.StartWatch(dir.path(), 0, &handler, true, nullptr, nullptr),
            std::errc::invalid_argument);
  EXPECT_EQ(watcher.StartWatch(dir.path(), kFilter, nullptr, true, nullptr, nullptr),
            std::errc::invalid_argument);
  EXPECT_EQ(watcher.StartWatch(dir / "file", kFilter, &handler, true, nullptr, nullptr),
            std::errc::not_a_directory);
  EXPECT_EQ(watcher.StartWatch(dir / "missing", kFilter, &handler, true, nullptr, nullptr),
            std::errc::not_a_directory);
  EXPECT_FALSE(watcher.IsWatched(dir / "file"));
  EXPECT_FALSE(watcher.StopAllWatches());  // never had a worker
}

TEST(Watcher, WatchesCanBeReplacedStoppedAndStartedAgain) {
  TempDir dir;
  RecordingHandler handler;
  CDirectoryChangeWatcher watcher(WF_RELATIVE_PATH);
  ASSERT_FALSE(watcher.StartWatch(dir.path(), kFilter, &handler, true, nullptr, nullptr));
  // The same folder again replaces the first watch: one stop, two starts,
  // and each change is reported once.
  ASSERT_FALSE(watcher.StartWatch(dir.path(), kFilter, &handler, true, nullptr, nullptr));
  ASSERT_FALSE(files::writeFile(dir / "a", ""));
  ASSERT_TRUE(handler.log.waitForEntry("added " + (dir / "a")));
  EXPECT_EQ(handler.log.count("started 0 " + dir.path()), 2u);
  EXPECT_EQ(handler.log.count("stopped " + dir.path()), 1u);

  EXPECT_TRUE(watcher.StopAllWatches());
  EXPECT_FALSE(watcher.IsWatched(dir.path()));
  EXPECT_EQ(handler.log.count("stopped " + dir.path()), 2u);
  ASSERT_FALSE(files::writeFile(dir / "b", ""));
  // A new worker after StopAllWatches.
  ASSERT_FALSE(watcher.StartWatch(dir.path(), kFilter, &handler, true, nullptr, nullptr));
  ASSERT_FALSE(files::writeFile(dir / "c", ""));
  ASSERT_TRUE(handler.log.waitForEntry("added " + (dir / "c")));
  EXPECT_EQ(handler.log.count("added " + (dir / "a")), 1u);
  EXPECT_EQ(handler.log.count("added " + (dir / "b")), 0u);
  EXPECT_TRUE(watcher.StopWatch(dir.path()));
  EXPECT_FALSE(watcher.StopWatch(dir.path()));
}

TEST(Watcher, AHandlerMovesToTheWatcherThatStartsItLast) {
  TempDir first;
  TempDir second;
  RecordingHandler handler;
  CDirectoryChangeWatcher a;
  CDirectoryChangeWatcher b;
  ASSERT_FALSE(a.StartWatch(first.path(), kFilter, &handler, true, nullptr, nullptr));
  ASSERT_FALSE(b.StartWatch(second.path(), kFilter, &handler, true, nullptr, nullptr));
  EXPECT_FALSE(a.IsWatched(first.path()));
  EXPECT_TRUE(b.IsWatched(second.path()));
}

TEST(Watcher, AReceiverCanStopItsOwnWatchFromInsideACallback) {
  TempDir dir;
  RecordingHandler handler;
  CDirectoryChangeWatcher watcher(WF_RELATIVE_PATH);
  handler.onAdded = [&](const std::string&) { watcher.StopWatch(dir.path()); };
  ASSERT_FALSE(watcher.StartWatch(dir.path(), kFilter, &handler, true, nullptr, nullptr));
  for (int i = 0; i < 50; ++i) ASSERT_FALSE(files::writeFile(dir / std::to_string(i), ""));
  // The stop runs on the dispatch thread, which must deliver the stop notice
  // itself instead of waiting for it.
  ASSERT_TRUE(handler.log.waitForEntry("stopped " + dir.path()));
  EXPECT_FALSE(watcher.IsWatched(dir.path()));
  const auto entries = handler.log.entries();
  EXPECT_EQ(entries.back(), "stopped " + dir.path());
}

TEST(Watcher, ReadErrorReachesTheReceiverEvenThoughTheWatchHasEnded) {
  TempDir dir;
  RecordingHandler handler;
  CDirectoryChangeWatcher watcher(WF_RELATIVE_PATH);
  ASSERT_FALSE(watcher.StartWatch(dir.path(), kFilter, &handler, true, nullptr, nullptr));
  ASSERT_TRUE(watcher.InjectFault(dir.path(), platform::DirWatchFault::QueueOverflow));
  ASSERT_FALSE(files::writeFile(dir / "a", ""));
  ASSERT_TRUE(handler.log.waitForEntry("error 75 " + dir.path()));
  // The changes read before the overflow came first.
  EXPECT_EQ(handler.log.count("added " + (dir / "a")), 1u);
  // Nothing more is read from the ended watch; stopping it still works.
  EXPECT_TRUE(watcher.StopWatch(dir.path()));
  EXPECT_EQ(handler.log.entries().back(), "stopped " + dir.path());
}

}  // namespace
