// Files of equal size and modification time are not taken for the same
// file: two computers that made such files with different bytes both keep
// theirs, also when one of them has no journal left (a relink), and an edit
// that puts the old modification time back is sent like any other.
#include <sys/stat.h>

#include <string>

#include "FileJournal.h"
#include "engine_harness.h"

namespace varnelo::e2e {
namespace {

namespace files = platform::files;

constexpr platform::FileTime kSharedTime = 130000000000000000ULL;  // 2012, as cp -p keeps it

class EngineSameStampTest : public EngineTest {
 protected:
  // Rewrites `rel` in place (same inode) and gives it `time` again, as
  // touch -r or a tool that restores times leaves it.
  static void editKeepingTime(EngineComputer& pc, const std::string& rel,
                              const std::string& content, platform::FileTime time) {
    ASSERT_FALSE(files::writeFile(pc.path(rel), content));
    ASSERT_FALSE(files::setLastWriteTime(pc.path(rel), time));
  }
  // Both computers running and holding `rel` with `content`, B settled.
  void syncBoth(EngineComputer& a, EngineComputer& b, const std::string& rel,
                const std::string& content) {
    a.write(rel, content);
    ASSERT_EQ(a.start(), 200);
    ASSERT_EQ(b.start(), 200);
    ASSERT_TRUE(holdEverywhere({&a, &b}, {{rel, fileEntry(content)}}));
    ASSERT_TRUE(b.settle());
  }
  int64_t uploadRequests() {
    Json::Value all;
    if (!service().counters(&all)) return -1;
    int64_t sum = 0;
    for (const char* endpoint : {"/2/put", "/2/put_batch", "/prepare_put", "/commit_put"})
      sum += all["endpoints"][endpoint]["requests"].asInt64();
    return sum;
  }
  static platform::FileTime lastWrite(EngineComputer& pc, const std::string& rel) {
    files::EntryInfo info;
    files::stat(pc.path(rel), info);
    return info.lastWrite;
  }
  // True when some file of `tree` holds each of `contents`.
  static bool holdsAll(const Tree& tree, std::initializer_list<std::string> contents) {
    for (const std::string& content : contents) {
      bool found = false;
      for (const auto& [path, what] : tree) found = found || what == fileEntry(content);
      if (!found) return false;
    }
    return true;
  }
  // Waits until the service holds `count` files, among them each of
  // `contents`, and both computers hold the same.
  ::testing::AssertionResult allKept(EngineComputer& a, EngineComputer& b, size_t count,
                                     std::initializer_list<std::string> contents) {
    Tree remote;
    if (waitFor(
            [&] {
              remote = remoteTree();
              return remote.size() == count && holdsAll(remote, contents) && a.tree() == remote &&
                     b.tree() == remote;
            },
            60000)) {
      return ::testing::AssertionSuccess();
    }
    auto failure = ::testing::AssertionFailure() << "remote:";
    for (const auto& [path, what] : remote) failure << "\n  " << path << " " << what;
    for (EngineComputer* pc : {&a, &b}) {
      failure << "\nlocal " << pc->root() << ":";
      for (const auto& [path, what] : pc->tree()) failure << "\n  " << path << " " << what;
    }
    return failure;
  }
};

TEST_F(EngineSameStampTest, TwoComputersMakeFilesOfEqualSizeAndTimeAndBothAreKept) {
  // One file that goes up in one request, one that goes in chunks.
  const std::string mine = "made on a", theirs = "made on b";
  const std::string mineBig(40000, 'a'), theirsBig(40000, 'b');
  auto a = computer();
  auto b = computer();
  a->write("report.txt", mine);
  a->write("big.bin", mineBig);
  b->write("report.txt", theirs);
  b->write("big.bin", theirsBig);
  for (EngineComputer* pc : {a.get(), b.get()}) {
    ASSERT_FALSE(files::setLastWriteTime(pc->path("report.txt"), kSharedTime));
    ASSERT_FALSE(files::setLastWriteTime(pc->path("big.bin"), kSharedTime));
  }
  ASSERT_EQ(a->start(), 200);
  ASSERT_TRUE(waitFor([&] { return remoteTree().size() == 2; }));
  ASSERT_EQ(b->start(), 200);
  EXPECT_TRUE(allKept(*a, *b, 4, {mine, theirs, mineBig, theirsBig}));
}

TEST_F(EngineSameStampTest, AnEditKeepingSizeAndTimeSurvivesARelink) {
  auto a = computer();
  auto b = computer();
  ASSERT_NO_FATAL_FAILURE(syncBoth(*a, *b, "report.txt", "as first synced"));
  b->engine()->stopSync(false);
  editKeepingTime(*b, "report.txt", "edited, samelen", lastWrite(*b, "report.txt"));
  // Started with its journal discarded: nothing but the content can tell
  // the two files apart.
  ASSERT_EQ(b->start(3, true), 200);
  EXPECT_TRUE(allKept(*a, *b, 2, {"edited, samelen", "as first synced"}));
}

TEST_F(EngineSameStampTest, AnEditThatPutsTheOldTimeBackIsSent) {
  auto a = computer();
  auto b = computer();
  ASSERT_NO_FATAL_FAILURE(syncBoth(*a, *b, "notes.txt", "version one"));

  // While B runs: its watch sees the write.
  editKeepingTime(*b, "notes.txt", "version two", lastWrite(*b, "notes.txt"));
  EXPECT_TRUE(holdEverywhere({a.get(), b.get()}, {{"notes.txt", fileEntry("version two")}}));
  ASSERT_TRUE(b->settle());

  // While B is stopped: its scan at the start finds it.
  b->engine()->stopSync(false);
  editKeepingTime(*b, "notes.txt", "version 3!!", lastWrite(*b, "notes.txt"));
  ASSERT_EQ(b->start(), 200);
  EXPECT_TRUE(holdEverywhere({a.get(), b.get()}, {{"notes.txt", fileEntry("version 3!!")}}));

  // And another computer's later edit replaces it as an edit of it, with
  // nothing of B's lost on the way.
  ASSERT_TRUE(a->settle());
  a->write("notes.txt", "version four from a");
  EXPECT_TRUE(
      holdEverywhere({a.get(), b.get()}, {{"notes.txt", fileEntry("version four from a")}}));
}

// A computer that never synced holds two names that differ only in case:
// the one the download takes (its own bytes go aside as a conflicted copy)
// and a copy of the service's file with equal size and time but other
// bytes. The downloaded file keeps the binding; the copy is never taken for
// it, so it is reported as left out, not as in step.
TEST_F(EngineSameStampTest, ACaseTwinOfEqualSizeAndTimeIsNotTakenForTheDownloadedFile) {
  const std::string theirs = "made on a, same len", mine = "made on b, same len";
  auto a = computer();
  auto b = computer();
  a->write("report.txt", theirs);
  ASSERT_FALSE(files::setLastWriteTime(a->path("report.txt"), kSharedTime));
  ASSERT_EQ(a->start(), 200);
  ASSERT_TRUE(waitFor([&] { return remoteTree()["report.txt"] == fileEntry(theirs); }));
  b->write("REPORT.txt", "b's other report");
  b->write("report.txt", mine);
  ASSERT_FALSE(files::setLastWriteTime(b->path("report.txt"), kSharedTime));
  ASSERT_EQ(b->start(), 200);
  ASSERT_TRUE(waitFor([&] { return b->read("REPORT.txt") == theirs; }));
  ASSERT_TRUE(b->settle());
  ASSERT_TRUE(b->settle());
  EXPECT_EQ(b->latestResult("report.txt"), "-113");
  EXPECT_EQ(b->read("report.txt"), mine);
  EXPECT_TRUE(holdsAll(remoteTree(), {theirs, "b's other report"}));
  EXPECT_EQ(remoteTree().size(), 2u);
}

// The change time moves without an edit too (a mode or owner change, a
// new hard link): the content decides, and the same bytes send nothing.
TEST_F(EngineSameStampTest, AModeChangeAloneSendsNothing) {
  auto a = computer();
  auto b = computer();
  a->write("small.txt", "a small file");
  a->write("big.bin", std::string(40000, 'x'));
  ASSERT_EQ(a->start(), 200);
  ASSERT_EQ(b->start(), 200);
  const Tree synced{{"small.txt", fileEntry("a small file")},
                    {"big.bin", fileEntry(std::string(40000, 'x'))}};
  ASSERT_TRUE(holdEverywhere({a.get(), b.get()}, synced, 60000, true));
  ASSERT_TRUE(b->settle());
  ASSERT_TRUE(service().resetCounters());
  for (const char* rel : {"small.txt", "big.bin"}) {
    ASSERT_EQ(::chmod(b->path(rel).c_str(), 0600), 0);
    ASSERT_EQ(::link(b->path(rel).c_str(), (b->dataFolder() + rel).c_str()), 0);
  }
  ASSERT_TRUE(b->settle());
  // Looked at again from the start (the scan's way), still nothing to send.
  b->engine()->stopSync(false);
  ASSERT_EQ(b->start(), 200);
  ASSERT_TRUE(b->settle());
  EXPECT_EQ(uploadRequests(), 0);
  EXPECT_TRUE(holdEverywhere({a.get(), b.get()}, synced, 60000, true));
}

// A journal synced before the change time was kept: its rows take it at
// the next scan, and from then on such an edit of them is seen as well.
TEST_F(EngineSameStampTest, RowsWithoutAStampGetOneAtTheNextScan) {
  auto a = computer();
  auto b = computer();
  ASSERT_NO_FATAL_FAILURE(syncBoth(*a, *b, "notes.txt", "version one"));
  b->engine()->stopSync(false);
  {
    sqlite::Database db;
    ASSERT_EQ(db.open(b->dataFolder() + "basefs.db"), SQLITE_OK);
    ASSERT_EQ(db.exec("UPDATE file_journal SET changeTime=NULL, inode=NULL"), SQLITE_OK);
  }
  ASSERT_EQ(b->start(), 200);
  ASSERT_TRUE(b->settle());
  editKeepingTime(*b, "notes.txt", "version two", lastWrite(*b, "notes.txt"));
  EXPECT_TRUE(holdEverywhere({a.get(), b.get()}, {{"notes.txt", fileEntry("version two")}}));
}

}  // namespace
}  // namespace varnelo::e2e
