// The rows of placed files are committed only after every folder that took
// them is flushed, each folder once per batch; a folder that cannot be
// flushed takes the batch's rows with it. A second connection to the same
// journal stands for what a crash right now would leave on disk.
#include "PlacementBatch.h"

#include <gtest/gtest.h>

#include <map>

#include "TempDir.h"

namespace varnelo::downloader {
namespace {

using sync::FileJournal;

class PlacementBatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(journal_.open(dir_ / "basefs.db"), 0);
    ASSERT_EQ(journal_.putPath("home", FileJournal::kTypeFolder, {}, 0, 0), 0);
    for (const char* folder : {"home/a", "home/b"})
      ASSERT_EQ(journal_.putPath(folder, FileJournal::kTypeFolder, {}, 0, 0), 0);
    ASSERT_EQ(disk_.open(dir_ / "basefs.db"), 0);
  }

  // What the engine does for one file: the rename (not modelled), the
  // deferral of its folder's flush, then its row.
  bool place(PlacementBatch& batch, const std::string& folder, const std::string& name) {
    const bool deferred = batch.defer(folder);
    EXPECT_EQ(journal_.putPath("home/" + folder + "/" + name, FileJournal::kTypeFile, {}, 1, 1), 0);
    return deferred;
  }
  bool onDisk(const std::string& path) {
    int64_t id = 0;
    return disk_.lookupPath(path, id) == 0;
  }
  bool seenByEngine(const std::string& path) {
    int64_t id = 0;
    return journal_.lookupPath(path, id) == 0;
  }
  PlacementBatch::Flush recordingFlush() {
    return [this](const std::string& folder) -> std::error_code {
      flushed_.push_back(folder);
      committedAtFlush_[folder] = onDisk("home/a/1") || onDisk("home/b/1");
      auto failing = failing_.find(folder);
      return failing == failing_.end() ? std::error_code{} : failing->second;
    };
  }

  test::TempDir dir_;
  FileJournal journal_;
  FileJournal disk_;
  std::vector<std::string> flushed_;
  std::map<std::string, bool> committedAtFlush_;
  std::map<std::string, std::error_code> failing_;
};

TEST_F(PlacementBatchTest, EachFolderIsFlushedOnceBeforeTheRowsAreCommitted) {
  PlacementBatch batch(journal_, recordingFlush());
  batch.open();
  EXPECT_TRUE(place(batch, "a", "1"));
  batch.open();  // each file opens it; one batch stays open
  EXPECT_TRUE(place(batch, "b", "1"));
  EXPECT_TRUE(place(batch, "a", "2"));
  EXPECT_EQ(batch.deferred(), 3u);

  // The engine reads its rows at once; the disk has none of them yet.
  EXPECT_TRUE(seenByEngine("home/a/2"));
  EXPECT_FALSE(onDisk("home/a/1"));
  EXPECT_TRUE(flushed_.empty());

  EXPECT_FALSE(batch.settle());
  EXPECT_EQ(flushed_, (std::vector<std::string>{"a", "b"}));
  EXPECT_FALSE(committedAtFlush_["a"]);
  EXPECT_FALSE(committedAtFlush_["b"]);
  for (const char* path : {"home/a/1", "home/a/2", "home/b/1"}) EXPECT_TRUE(onDisk(path)) << path;

  // Settled, the batch is closed: a file placed now is the caller's to flush.
  EXPECT_FALSE(place(batch, "a", "3"));
  EXPECT_TRUE(onDisk("home/a/3"));
  EXPECT_FALSE(batch.settle());
  EXPECT_EQ(flushed_.size(), 2u);
}

TEST_F(PlacementBatchTest, AFolderThatCannotBeFlushedTakesTheRowsOfTheBatchWithIt) {
  failing_["b"] = std::make_error_code(std::errc::io_error);
  {
    PlacementBatch batch(journal_, recordingFlush());
    batch.open();
    place(batch, "a", "1");
    place(batch, "b", "1");
    std::string failed;
    EXPECT_EQ(batch.settle(&failed), std::errc::io_error);
    EXPECT_EQ(failed, "b");
    // Neither row is kept, on disk nor for the engine: the next pass finds
    // both files without rows and weighs them again.
    EXPECT_FALSE(onDisk("home/a/1"));
    EXPECT_FALSE(seenByEngine("home/a/1"));
    EXPECT_FALSE(seenByEngine("home/b/1"));
    EXPECT_TRUE(seenByEngine("home/b"));  // what came before the batch stays

    // The next batch starts clean; one whose folders flush is kept, and
    // the destructor settles it.
    failing_.clear();
    flushed_.clear();
    batch.open();
    place(batch, "a", "2");
  }
  EXPECT_EQ(flushed_, (std::vector<std::string>{"a"}));
  EXPECT_TRUE(onDisk("home/a/2"));
}

TEST_F(PlacementBatchTest, ABatchIsSettledWhenItHoldsItsLimitOrIsOld) {
  PlacementBatch byCount(journal_, recordingFlush(), {2, std::chrono::hours(1)});
  byCount.open();
  place(byCount, "a", "1");
  EXPECT_FALSE(byCount.settleIfDue());
  EXPECT_FALSE(onDisk("home/a/1"));
  place(byCount, "a", "2");
  EXPECT_FALSE(byCount.settleIfDue());
  EXPECT_TRUE(onDisk("home/a/2"));
  EXPECT_EQ(byCount.deferred(), 0u);

  PlacementBatch byAge(journal_, recordingFlush(), {1000, std::chrono::milliseconds(0)});
  byAge.open();
  place(byAge, "b", "1");
  EXPECT_FALSE(byAge.settleIfDue());
  EXPECT_TRUE(onDisk("home/b/1"));
}

TEST_F(PlacementBatchTest, NothingIsDeferredInsideAnotherTransaction) {
  // A caller's own transaction already holds the journal: the batch cannot
  // own the commit, so every folder is flushed by the caller, at once.
  auto outer = journal_.heldBatch();
  PlacementBatch batch(journal_, recordingFlush());
  batch.open();
  EXPECT_FALSE(place(batch, "a", "1"));
  EXPECT_FALSE(batch.settle());
  EXPECT_TRUE(flushed_.empty());
}

}  // namespace
}  // namespace varnelo::downloader
