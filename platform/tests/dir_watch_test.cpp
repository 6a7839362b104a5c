#include "platform/dir_watch.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "platform/files.h"

namespace files = platform::files;
using platform::DirChange;
using platform::DirWatch;
using platform::DirWatchFault;
using platform::DirWatchWaiter;
using Kind = platform::DirChange::Kind;

namespace {

constexpr uint32_t kNamesAndWrites = platform::kWatchFileName | platform::kWatchDirName |
                                     platform::kWatchSize | platform::kWatchLastWrite |
                                     platform::kWatchCreation;

std::string describe(const std::vector<DirChange>& changes) {
  std::string text;
  for (const auto& c : changes) {
    text += std::to_string(static_cast<int>(c.kind)) + ":" + c.name + " ";
  }
  return text;
}

class DirWatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/varnelo-dirwatch-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    ASSERT_FALSE(files::createDirectory(p("tree")));
    ASSERT_FALSE(waiter_.open());
  }
  void TearDown() override { files::removeTree(root_); }
  std::string p(const std::string& rel) const { return files::joinPath(root_, rel); }

  // Reads until `done` holds for what arrived, or the deadline passes.
  template <class Done>
  std::error_code collect(Done done, std::vector<DirChange>& out) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done(out) && std::chrono::steady_clock::now() < deadline) {
      std::vector<size_t> ready;
      bool woken = false;
      std::vector<DirWatch*> watches{&watch_};
      if (auto ec = waiter_.wait(watches, ready, woken, 100)) return ec;
      if (!ready.empty()) {
        if (auto ec = watch_.read(out)) return ec;
      }
    }
    return {};
  }
  std::error_code collectCount(size_t count, std::vector<DirChange>& out) {
    return collect([count](const auto& got) { return got.size() >= count; }, out);
  }
  static bool hasName(const std::vector<DirChange>& changes, const std::string& name) {
    return std::any_of(changes.begin(), changes.end(),
                       [&](const DirChange& c) { return c.name == name; });
  }
  // Reads until a change of `name` arrived; false when none did in time.
  bool collectName(const std::string& name, std::vector<DirChange>& out) {
    return !collect([&](const auto& got) { return hasName(got, name); }, out) && hasName(out, name);
  }

  std::string root_;
  DirWatch watch_;
  DirWatchWaiter waiter_;
};

TEST_F(DirWatchTest, ReportsEveryKindInNewSubfoldersAndPairsRenames) {
  ASSERT_FALSE(watch_.open(p("tree"), kNamesAndWrites, true));
  ASSERT_FALSE(files::createDirectory(p("tree/sub")));
  std::vector<DirChange> got;
  ASSERT_FALSE(collectCount(1, got));
  // The new folder is watched at once: changes inside it are seen.
  ASSERT_FALSE(files::writeFile(p("tree/sub/a.txt"), "x"));
  ASSERT_FALSE(files::rename(p("tree/sub/a.txt"), p("tree/b.txt")));
  ASSERT_FALSE(files::removeFile(p("tree/b.txt")));
  ASSERT_FALSE(
      collect([](const auto& g) { return !g.empty() && g.back().kind == Kind::Removed; }, got));
  std::vector<std::pair<Kind, std::string>> expected = {
      {Kind::Added, "sub"},         {Kind::Added, "sub/a.txt"}, {Kind::Modified, "sub/a.txt"},
      {Kind::OldName, "sub/a.txt"}, {Kind::NewName, "b.txt"},   {Kind::Removed, "b.txt"}};
  ASSERT_EQ(got.size(), expected.size()) << describe(got);
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].kind, expected[i].first) << describe(got);
    EXPECT_EQ(got[i].name, expected[i].second) << describe(got);
  }
}

TEST_F(DirWatchTest, FolderRenamesKeepPathsBelowThemRight) {
  ASSERT_FALSE(files::createDirectories(p("tree/a/deep")));
  ASSERT_FALSE(watch_.open(p("tree"), kNamesAndWrites, true));
  EXPECT_EQ(watch_.folderCount(), 3u);
  ASSERT_FALSE(files::rename(p("tree/a"), p("tree/b")));
  ASSERT_FALSE(files::writeFile(p("tree/b/deep/f"), ""));
  std::vector<DirChange> got;
  ASSERT_FALSE(
      collect([](const auto& g) { return !g.empty() && g.back().name == "b/deep/f"; }, got));
  ASSERT_GE(got.size(), 3u) << describe(got);
  EXPECT_EQ(got[0].kind, Kind::OldName);
  EXPECT_EQ(got[1].name, "b");
  EXPECT_EQ(got.back().kind, Kind::Added);
}

// A folder made, filled and renamed before its events are read: its old
// name leads nowhere when its creation is handled, so it is watched under
// its new name, and what it held then is reported.
TEST_F(DirWatchTest, AFolderRenamedBeforeItsCreationWasReadIsStillWatched) {
  ASSERT_FALSE(watch_.open(p("tree"), kNamesAndWrites, true));
  ASSERT_FALSE(files::createDirectory(p("tree/made")));
  ASSERT_FALSE(files::writeFile(p("tree/made/inside.txt"), "x"));
  ASSERT_FALSE(files::rename(p("tree/made"), p("tree/renamed")));
  std::vector<DirChange> got;
  ASSERT_TRUE(collectName("renamed/inside.txt", got)) << describe(got);
  EXPECT_EQ(watch_.folderCount(), 2u) << describe(got);
  EXPECT_EQ(std::count_if(got.begin(), got.end(),
                          [](const DirChange& c) { return c.name == "renamed/inside.txt"; }),
            1)
      << describe(got);
  // Changes inside it are seen from now on.
  got.clear();
  ASSERT_FALSE(files::writeFile(p("tree/renamed/later.txt"), "y"));
  EXPECT_TRUE(collectName("renamed/later.txt", got)) << describe(got);
}

// A folder made inside another one that is renamed before the creation is
// read: its path leads nowhere then. Once the rename is read it is watched
// where it went, and so is a folder made below it meanwhile.
TEST_F(DirWatchTest, AFolderMadeJustBeforeItsParentIsRenamedIsStillWatched) {
  ASSERT_FALSE(files::createDirectories(p("tree/parent")));
  ASSERT_FALSE(watch_.open(p("tree"), kNamesAndWrites, true));
  ASSERT_FALSE(files::createDirectories(p("tree/parent/made/deeper")));
  ASSERT_FALSE(files::writeFile(p("tree/parent/made/deeper/early.txt"), "x"));
  ASSERT_FALSE(files::rename(p("tree/parent"), p("tree/renamed")));
  std::vector<DirChange> got;
  ASSERT_TRUE(collectName("renamed/made/deeper/early.txt", got)) << describe(got);
  EXPECT_EQ(watch_.folderCount(), 4u) << describe(got);
  EXPECT_EQ(
      std::count_if(got.begin(), got.end(),
                    [](const DirChange& c) { return c.name == "renamed/made/deeper/early.txt"; }),
      1)
      << describe(got);

  got.clear();
  ASSERT_FALSE(files::writeFile(p("tree/renamed/made/later.txt"), "y"));
  ASSERT_FALSE(files::writeFile(p("tree/renamed/made/deeper/later.txt"), "z"));
  ASSERT_TRUE(collectName("renamed/made/deeper/later.txt", got)) << describe(got);
  EXPECT_TRUE(hasName(got, "renamed/made/later.txt")) << describe(got);
}

TEST_F(DirWatchTest, MovesAcrossTheTreeBoundaryAreAddsAndRemoves) {
  ASSERT_FALSE(files::createDirectories(p("outside/in/inner")));
  ASSERT_FALSE(files::writeFile(p("outside/in/inner/f"), "x"));
  ASSERT_FALSE(files::createDirectories(p("tree/leaving/below")));
  ASSERT_FALSE(watch_.open(p("tree"), kNamesAndWrites, true));
  ASSERT_EQ(watch_.folderCount(), 3u);

  ASSERT_FALSE(files::rename(p("outside/in"), p("tree/in")));
  std::vector<DirChange> got;
  ASSERT_FALSE(collect([](const auto& g) { return g.size() >= 3; }, got));
  // The folder, then what is inside it, parents first; its folders are watched.
  ASSERT_EQ(got.size(), 3u) << describe(got);
  EXPECT_EQ(got[0].kind, Kind::Added);
  EXPECT_EQ(got[0].name, "in");
  EXPECT_EQ(got[1].name, "in/inner");
  EXPECT_EQ(got[2].name, "in/inner/f");
  EXPECT_EQ(watch_.folderCount(), 5u);

  got.clear();
  ASSERT_FALSE(files::rename(p("tree/leaving"), p("outside/leaving")));
  ASSERT_FALSE(collectCount(1, got));
  ASSERT_EQ(got.size(), 1u) << describe(got);
  EXPECT_EQ(got[0].kind, Kind::Removed);
  EXPECT_EQ(got[0].name, "leaving");
  // Its watches are gone, so changes over there are not reported as ours.
  EXPECT_EQ(watch_.folderCount(), 3u);
  got.clear();
  ASSERT_FALSE(files::writeFile(p("outside/leaving/below/x"), ""));
  ASSERT_FALSE(files::writeFile(p("tree/marker"), ""));
  ASSERT_FALSE(collectCount(1, got));
  ASSERT_EQ(got.size(), 1u) << describe(got);
  EXPECT_EQ(got[0].name, "marker");
}

// Files moved into a folder made a moment before, which the watch has not
// read the creation of yet: the kernel has no watch there to report the new
// names on, so their old names come alone. A reader that runs behind (all
// of it queued) must not wait for each missing new name: a download
// placing thousands of files into new folders would hold it for minutes.
// What it reports is the old names gone and the new folder with all it
// holds, as found when its creation is read.
TEST_F(DirWatchTest, NamesMovedIntoAFolderNotWatchedYetAreNotWaitedForOneByOne) {
  constexpr int kFiles = 600;  // over 3 s when each waits its few milliseconds
  ASSERT_FALSE(files::createDirectories(p("tree/src")));
  for (int i = 0; i < kFiles; ++i)
    ASSERT_FALSE(files::writeFile(p("tree/src/f" + std::to_string(i)), "x"));
  ASSERT_FALSE(watch_.open(p("tree"), kNamesAndWrites, true));
  ASSERT_FALSE(files::createDirectory(p("tree/new")));
  for (int i = 0; i < kFiles; ++i) {
    const std::string name = "f" + std::to_string(i);
    ASSERT_FALSE(files::rename(p("tree/src/" + name), p("tree/new/" + name)));
  }
  const auto started = std::chrono::steady_clock::now();
  std::vector<DirChange> got;
  ASSERT_FALSE(watch_.read(got));
  const auto took = std::chrono::steady_clock::now() - started;
  EXPECT_LT(took, std::chrono::milliseconds(1500));
  size_t removed = 0, added = 0;
  for (const DirChange& c : got) {
    if (c.kind == Kind::Removed && c.name.rfind("src/f", 0) == 0) ++removed;
    if (c.kind == Kind::Added && c.name.rfind("new/f", 0) == 0) ++added;
  }
  EXPECT_EQ(removed, static_cast<size_t>(kFiles));
  EXPECT_EQ(added, static_cast<size_t>(kFiles));
  EXPECT_TRUE(hasName(got, "new"));
}

TEST_F(DirWatchTest, FilterLeavesOutWhatWasNotAskedFor) {
  ASSERT_FALSE(files::writeFile(p("tree/f"), ""));
  ASSERT_FALSE(watch_.open(p("tree"), platform::kWatchDirName, true));
  ASSERT_FALSE(files::writeFile(p("tree/f"), "changed"));
  ASSERT_FALSE(files::writeFile(p("tree/g"), ""));
  ASSERT_FALSE(files::createDirectory(p("tree/d")));
  std::vector<DirChange> got;
  ASSERT_FALSE(collectCount(1, got));
  ASSERT_EQ(got.size(), 1u) << describe(got);
  EXPECT_EQ(got[0].name, "d");
}

TEST_F(DirWatchTest, WatchedFolderGoingAwayIsAnError) {
  ASSERT_FALSE(files::createDirectory(p("tree/sub")));
  ASSERT_FALSE(watch_.open(p("tree/sub"), kNamesAndWrites, true));
  ASSERT_FALSE(files::rename(p("tree/sub"), p("tree/moved")));
  std::vector<DirChange> got;
  std::error_code ec = collect([](const auto&) { return false; }, got);
  EXPECT_EQ(ec, std::errc::no_such_file_or_directory);
}

TEST_F(DirWatchTest, OpenFailsOnFilesAndMissingPaths) {
  ASSERT_FALSE(files::writeFile(p("file"), ""));
  EXPECT_EQ(watch_.open(p("file"), kNamesAndWrites, true), std::errc::not_a_directory);
  EXPECT_FALSE(watch_.isOpen());
  EXPECT_EQ(watch_.open(p("missing"), kNamesAndWrites, true), std::errc::no_such_file_or_directory);
}

TEST_F(DirWatchTest, InjectedOverflowDeliversEarlierRecordsThenFails) {
  ASSERT_FALSE(watch_.open(p("tree"), kNamesAndWrites, true));
  watch_.injectFault(DirWatchFault::QueueOverflow);
  ASSERT_FALSE(files::createDirectory(p("tree/d")));
  std::vector<DirChange> got;
  std::error_code ec = collect([](const auto&) { return false; }, got);
  EXPECT_EQ(ec, std::errc::value_too_large);
  ASSERT_EQ(got.size(), 1u) << describe(got);
  EXPECT_EQ(got[0].name, "d");
}

TEST_F(DirWatchTest, WatchLimitOnANewFolderIsAReadErrorAndOnOpenAFailure) {
  ASSERT_FALSE(watch_.open(p("tree"), kNamesAndWrites, true));
  watch_.injectFault(DirWatchFault::WatchLimit);
  ASSERT_FALSE(files::createDirectory(p("tree/d")));
  std::vector<DirChange> got;
  EXPECT_EQ(collect([](const auto&) { return false; }, got), std::errc::no_space_on_device);

  ASSERT_FALSE(files::createDirectory(p("tree/d/e")));
  watch_.injectFault(DirWatchFault::WatchLimit);
  EXPECT_EQ(watch_.open(p("tree"), kNamesAndWrites, true), std::errc::no_space_on_device);
  EXPECT_FALSE(watch_.isOpen());
}

TEST_F(DirWatchTest, WakeEndsAWaitWithoutReadyWatches) {
  ASSERT_FALSE(watch_.open(p("tree"), kNamesAndWrites, true));
  waiter_.wake();
  std::vector<size_t> ready;
  bool woken = false;
  std::vector<DirWatch*> watches{&watch_};
  ASSERT_FALSE(waiter_.wait(watches, ready, woken));
  EXPECT_TRUE(woken);
  EXPECT_TRUE(ready.empty());
}

}  // namespace
