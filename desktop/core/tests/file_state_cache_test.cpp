// The file state cache over a real statecache.db and real folders: folder
// rows derived from their children, removals, renames, the worker's queue,
// and a second connection standing in for the file manager's reader.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "FileStateCache.h"
#include "FileStateWorker.h"
#include "TempDir.h"
#include "WaitFor.h"
#include "platform/files.h"
#include "platform/text.h"

namespace varnelo::desktop {
namespace {

using test::TempDir;
namespace files = platform::files;

class FileStateCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = dir_.file("Sync");
    ASSERT_FALSE(files::createDirectories(root_ + "/Docs/Deep"));
    ASSERT_TRUE(cache_.open(dir_.file("statecache.db"), {3, std::chrono::milliseconds(1)}));
    cache_.addRoot(root_);
    cache_.setRunning(true);
  }

  std::string touch(const std::string& relative) {
    std::string path = root_ + "/" + relative;
    EXPECT_FALSE(files::writeFile(path, "x"));
    return path;
  }
  // The stored state of a path given as the cache stores it, -1 when absent.
  int stateOf(const std::string& normalised) {
    FileStateCache::Row row;
    return cache_.lookup(normalised, row) ? row.state : -1;
  }
  std::string key(const std::string& relative) { return files::joinPath(lowerRoot(), relative); }
  std::string lowerRoot() { return FileStateCache::normalise(root_); }

  TempDir dir_;
  std::string root_;
  FileStateCache cache_;
};

TEST(FileStatePathsTest, NormaliseAndParent) {
  TempDir dir;
  ASSERT_FALSE(files::createDirectory(dir.file("Folder")));
  EXPECT_EQ(FileStateCache::normalise(dir.file("Folder")),
            platform::asciiLower(dir.path()) + "/folder/");
  EXPECT_EQ(FileStateCache::normalise(dir.file("Gone.TXT")),
            platform::asciiLower(dir.path()) + "/gone.txt");
  EXPECT_EQ(FileStateCache::normalise("/A/Ünï'q"), "/a/Ünï'q");  // bytes beyond ASCII kept
  EXPECT_EQ(FileStateCache::parentOf("/a/b/"), "/a/");
  EXPECT_EQ(FileStateCache::parentOf("/a/f.txt"), "/a/");
  EXPECT_EQ(FileStateCache::parentOf("/a/"), "/");
  EXPECT_EQ(FileStateCache::parentOf("/"), "");
  EXPECT_EQ(FileStateCache::parentOf("name"), "");
}

TEST_F(FileStateCacheTest, MissingFoldersAreCreatedAndFollowTheFile) {
  std::string file = touch("Docs/Deep/Report.txt");
  cache_.apply(file, 1);
  EXPECT_EQ(stateOf(key("docs/deep/report.txt")), 1);
  EXPECT_EQ(stateOf(key("docs/deep/")), 1);
  EXPECT_EQ(stateOf(key("docs/")), 1);
  EXPECT_EQ(stateOf(lowerRoot()), 1);  // the root takes it, nothing above it
  FileStateCache::Row deep, docs;
  ASSERT_TRUE(cache_.lookup(key("docs/deep/"), deep));
  ASSERT_TRUE(cache_.lookup(key("docs/"), docs));
  EXPECT_EQ(deep.parentId, docs.id);

  // A sibling in step does not hide a transfer; only states with bit 0 or 1 count.
  std::string other = touch("Docs/Other.txt");
  cache_.apply(other, 16);
  EXPECT_EQ(stateOf(key("docs/")), 1);
  cache_.apply(file, 0);
  EXPECT_EQ(stateOf(key("docs/deep/")), 0);
  EXPECT_EQ(stateOf(key("docs/")), 0);  // 16 has neither bit
  cache_.apply(other, 2);
  EXPECT_EQ(stateOf(key("docs/")), 2);
  EXPECT_EQ(stateOf(lowerRoot()), 2);
}

TEST_F(FileStateCacheTest, OutsideTheRootsNothingIsStored) {
  std::string outside = dir_.file("elsewhere.txt");
  ASSERT_FALSE(files::writeFile(outside, "x"));
  cache_.apply(outside, 1);
  EXPECT_EQ(stateOf(FileStateCache::normalise(outside)), -1);
  EXPECT_EQ(stateOf(FileStateCache::normalise(dir_.path())), -1);
  EXPECT_TRUE(cache_.isUnderRoot(root_ + "/DOCS/x"));
  EXPECT_FALSE(cache_.isUnderRoot(outside));
  EXPECT_FALSE(cache_.isUnderRoot(root_ + "x/a"));  // a sibling sharing the prefix
}

TEST_F(FileStateCacheTest, AVanishedPathTakesEverythingBelowAndNothingBeside) {
  for (const char* name : {"Docs/Deep/a.txt", "Docs/Deep/b.txt", "Docs/Deepx.txt"}) {
    cache_.apply(touch(name), 1);
  }
  // "0" is the first character after "/": the end of the range below a folder.
  cache_.apply(touch("Docs/Deep0"), 0);
  ASSERT_FALSE(files::createDirectories(root_ + "/a_b"));
  ASSERT_FALSE(files::createDirectories(root_ + "/axb"));
  cache_.apply(touch("a_b/f"), 0);
  cache_.apply(touch("axb/f"), 2);

  ASSERT_FALSE(files::removeTree(root_ + "/Docs/Deep"));
  cache_.apply(root_ + "/Docs/Deep", 0);
  EXPECT_EQ(stateOf(key("docs/deep/")), -1);
  EXPECT_EQ(stateOf(key("docs/deep/a.txt")), -1);
  EXPECT_EQ(stateOf(key("docs/deep/b.txt")), -1);
  EXPECT_EQ(stateOf(key("docs/deepx.txt")), 1);  // same prefix, another name
  EXPECT_EQ(stateOf(key("docs/deep0")), 0);
  EXPECT_EQ(stateOf(key("docs/")), 1);

  // "_" and "%" are ordinary characters of a name, not patterns.
  ASSERT_FALSE(files::removeTree(root_ + "/a_b"));
  cache_.remove(root_ + "/a_b");
  EXPECT_EQ(stateOf(key("a_b/f")), -1);
  EXPECT_EQ(stateOf(key("axb/f")), 2);
  EXPECT_EQ(stateOf(key("axb/")), 2);

  ASSERT_FALSE(files::removeFile(root_ + "/Docs/Deepx.txt"));
  cache_.apply(root_ + "/Docs/Deepx.txt", 1);
  EXPECT_EQ(stateOf(key("docs/")), 0);  // recomputed from what is left
}

TEST_F(FileStateCacheTest, QuotesAndRenames) {
  std::string quoted = touch("it's here.txt");
  cache_.apply(quoted, 2);
  EXPECT_EQ(stateOf(key("it's here.txt")), 2);
  cache_.apply(quoted, 0);
  EXPECT_EQ(stateOf(key("it's here.txt")), 0);

  cache_.apply(touch("Docs/Deep/a.txt"), 1);
  cache_.apply(touch("Docsx.txt"), 1);
  ASSERT_FALSE(files::rename(root_ + "/Docs", root_ + "/Papers"));
  cache_.rename(root_ + "/Docs", root_ + "/Papers");
  EXPECT_EQ(stateOf(key("docs/deep/a.txt")), -1);
  EXPECT_EQ(stateOf(key("papers/deep/a.txt")), 1);
  EXPECT_EQ(stateOf(key("papers/")), 1);
  EXPECT_EQ(stateOf(key("docsx.txt")), 1);  // untouched
  EXPECT_EQ(stateOf(key("papersx.txt")), -1);
}

TEST_F(FileStateCacheTest, ClearForgetsRowsAndTheFlag) {
  cache_.apply(touch("Docs/a.txt"), 1);
  EXPECT_TRUE(cache_.isRunning());
  cache_.clear();
  EXPECT_FALSE(cache_.isRunning());
  EXPECT_EQ(stateOf(lowerRoot()), -1);
  EXPECT_EQ(stateOf(key("docs/a.txt")), -1);
}

TEST_F(FileStateCacheTest, TheFileIsOwnerOnlyWithTheKnownTables) {
  struct stat st {};
  ASSERT_EQ(::stat(dir_.file("statecache.db").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  sqlite::Database reader;
  ASSERT_EQ(reader.openPrivate(dir_.file("statecache.db")), SQLITE_OK);
  sqlite::Statement q =
      reader.prepare("select sql from sqlite_master where name = 'file_state_cache';");
  ASSERT_EQ(q.step(), SQLITE_ROW);
  EXPECT_EQ(q.columnText(0),
            "CREATE TABLE file_state_cache ( \t\t\t\t\t   id INTEGER PRIMARY KEY, \t\t\t\t\t   "
            "parent_id INTEGER, \t\t\t\t\t   local_path TEXT  NOT NULL UNIQUE, \t\t\t\t\t   "
            "sync_state INTEGER)");
}

TEST_F(FileStateCacheTest, AReaderHoldingTheFileDelaysWritesAndStopCutsTheWaitShort) {
  std::string file = touch("Docs/a.txt");
  sqlite::Database reader;
  ASSERT_EQ(reader.openPrivate(dir_.file("statecache.db")), SQLITE_OK);
  ASSERT_EQ(reader.exec("BEGIN EXCLUSIVE;"), SQLITE_OK);
  cache_.apply(file, 1);  // three attempts, all busy
  ASSERT_EQ(reader.exec("COMMIT;"), SQLITE_OK);
  EXPECT_EQ(stateOf(key("docs/a.txt")), -1);
  cache_.apply(file, 1);
  EXPECT_EQ(stateOf(key("docs/a.txt")), 1);

  // With the long retries a stop must not wait them out.
  FileStateCache slow;
  ASSERT_TRUE(slow.open(dir_.file("statecache.db")));
  ASSERT_EQ(reader.exec("BEGIN EXCLUSIVE;"), SQLITE_OK);
  slow.cancelRetries();
  const auto before = std::chrono::steady_clock::now();
  slow.setRunning(false);
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
  ASSERT_EQ(reader.exec("COMMIT;"), SQLITE_OK);
}

TEST_F(FileStateCacheTest, WorkerCoalescesAndApplies) {
  FileStateWorker worker(cache_);
  std::string a = touch("Docs/a.txt");
  std::string b = touch("Docs/b.txt");
  worker.enqueue(a, 1);
  worker.enqueue(b, 2);
  worker.enqueue(a, 0);  // same path: one entry, the later state
  EXPECT_EQ(worker.pending(), 2u);
  worker.start();
  ASSERT_TRUE(test::waitFor([&] { return worker.idle(); }));
  EXPECT_EQ(stateOf(key("docs/a.txt")), 0);
  EXPECT_EQ(stateOf(key("docs/b.txt")), 2);
  EXPECT_EQ(stateOf(key("docs/")), 2);

  // Many reports go through in batches.
  for (int i = 0; i < 600; ++i) worker.enqueue(touch("Docs/n" + std::to_string(i)), 1);
  ASSERT_TRUE(test::waitFor([&] { return worker.idle(); }));
  EXPECT_EQ(stateOf(key("docs/n599")), 1);
  worker.stop();
}

TEST_F(FileStateCacheTest, WorkerDropsReportsWhileNotRunning) {
  cache_.setRunning(false);
  FileStateWorker worker(cache_);
  worker.start();
  worker.enqueue(touch("Docs/a.txt"), 1);
  ASSERT_TRUE(test::waitFor([&] { return worker.idle(); }));
  EXPECT_EQ(stateOf(key("docs/a.txt")), -1);
  worker.stop();
}

}  // namespace
}  // namespace varnelo::desktop
