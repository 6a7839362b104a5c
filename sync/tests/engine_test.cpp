// The engine object without a service: factories, stored settings, the
// answers before a sign-in, the exclude change on the journal, and the
// monitor events' filter and rename rules.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "ConfigInfo.h"
#include "FileJournal.h"
#include "FileSyncer.h"
#include "JournalFiles.h"
#include "TempDir.h"
#include "platform/files.h"
#include "varnelo/IVarnelo2.h"
#include "varnelo/SyncState.h"

namespace varnelo::sync {
namespace {

using test::TempDir;

struct Engine {
  explicit Engine(const std::string& folder) { rc = varnelo_new2(folder.c_str(), &engine); }
  ~Engine() {
    if (engine) engine->release();
  }
  IVarnelo2* operator->() { return engine; }
  IVarnelo2* engine = nullptr;
  int rc = 0;
};

TEST(EngineFactory, MissingFolderLeavesTheOutPointerAndNullsAreRefused) {
  IVarnelo* sentinel = reinterpret_cast<IVarnelo*>(0x1);
  IVarnelo* out = sentinel;
  EXPECT_EQ(varnelo_new("/nonexistent/varnelo/data", &out), -101);
  EXPECT_EQ(out, sentinel);
  EXPECT_EQ(varnelo_new(nullptr, &out), 499);
  EXPECT_EQ(varnelo_new2("/tmp", nullptr), 499);
}

TEST(EngineFactory, DataFolderGetsExactlyOneTrailingSlash) {
  TempDir dir;
  for (const std::string& given : {dir.path(), dir.path() + "/"}) {
    IVarnelo* engine = nullptr;
    ASSERT_EQ(varnelo_new(given.c_str(), &engine), 200);
    ASSERT_NE(engine, nullptr);
    // The log folder lands inside the data folder, not beside it.
    EXPECT_TRUE(platform::files::isDirectory(dir / "log"));
    engine->release();
  }
}

TEST(EngineFactory, TheUserAgentIsLoggedOncePerStart) {
  TempDir dir;
  setenv("CURL_USERAGENT", "varnelo-test/1.0 (b:i386; o:Debian)", 1);
  {
    Engine engine(dir.path());
    ASSERT_EQ(engine.rc, 200);
  }
  unsetenv("CURL_USERAGENT");
  std::vector<platform::files::DirEntry> logs;
  ASSERT_FALSE(platform::files::listDirectory(dir / "log", logs));
  ASSERT_EQ(logs.size(), 1u);
  std::string text;
  ASSERT_FALSE(platform::files::readFile(dir / ("log/" + logs[0].name), text));
  size_t count = 0;
  for (size_t at = text.find("varnelo-test/1.0"); at != std::string::npos;
       at = text.find("varnelo-test/1.0", at + 1))
    ++count;
  EXPECT_EQ(count, 1u) << text;
}

TEST(EngineBeforeSignIn, AnswersFromTheStore) {
  TempDir dir;
  Engine engine(dir.path());
  ASSERT_EQ(engine.rc, 200);
  IVarneloStatus* status = reinterpret_cast<IVarneloStatus*>(0x1);
  EXPECT_EQ(engine->getStatus(&status), 404);
  EXPECT_EQ(status, nullptr);
  EXPECT_EQ(engine->getSession(), nullptr);
  EXPECT_EQ(engine->startSync(false), -117);

  const varnelo_token_pair consumer{"ck", "cs"};
  EXPECT_EQ(engine->loginWithSavedToken(&consumer), 404);  // no "user" yet
  EXPECT_EQ(engine->getSyncMode(), 3);
  EXPECT_EQ(engine->setSyncMode(1), 200);
  EXPECT_EQ(engine->getSyncMode(), 1);
  IVolumes* volumes = reinterpret_cast<IVolumes*>(0x1);
  EXPECT_EQ(engine->getVolumes(&volumes), -104);
  EXPECT_EQ(volumes, nullptr);
  IExcludeDirs* excluded = reinterpret_cast<IExcludeDirs*>(0x1);
  EXPECT_EQ(engine->getExcludeDirs(&excluded), 404);
  EXPECT_EQ(excluded, nullptr);
}

TEST(EngineBeforeSignIn, HeldDeletionCallsAnswerWithoutASyncAndRefuseNulls) {
  TempDir dir;
  Engine engine(dir.path());
  ASSERT_EQ(engine.rc, 200);
  varnelo_held_list* list = reinterpret_cast<varnelo_held_list*>(0x1);
  EXPECT_EQ(varnelo_list_held_deletions2(engine.engine, &list), 404);
  EXPECT_EQ(list, nullptr);
  EXPECT_EQ(varnelo_restore_deletions2(engine.engine), 404);
  EXPECT_EQ(varnelo_list_held_deletions2(engine.engine, nullptr), 499);
  EXPECT_EQ(varnelo_list_held_deletions(nullptr, &list), 499);
  EXPECT_EQ(varnelo_restore_deletions(nullptr), 499);
  EXPECT_EQ(varnelo_restore_deletions2(nullptr), 499);
  EXPECT_EQ(varnelo_held_list_size(nullptr), 0);
  varnelo_held_deletion d{"stale", 7, 7};
  EXPECT_EQ(varnelo_held_list_at(nullptr, 0, &d), 499);
  EXPECT_EQ(d.path, nullptr) << "the record is cleared first";
  EXPECT_EQ(varnelo_held_list_at(nullptr, 0, nullptr), 499);
  EXPECT_EQ(varnelo_destroy_held_list(nullptr), 200);
}

TEST(EngineBeforeSignIn, SavedTokenWithoutSecretIs105) {
  TempDir dir;
  {
    SyncConfigInfo config;
    ASSERT_EQ(config.open(dir / "config.db"), 200);
    config.set("user", "u");
    config.set("accessToken", "t");
    config.set("accessTokenSecret", "");
    config.set("consumerToken", "stale");
  }
  Engine engine(dir.path());
  const varnelo_token_pair consumer{"ck", "cs"};
  EXPECT_EQ(engine->loginWithSavedToken(&consumer), -105);
  SyncConfigInfo config;
  ASSERT_EQ(config.open(dir / "config.db"), 200);
  std::string value;
  EXPECT_EQ(config.get("consumerToken", value), 404);  // never kept
}

TEST(EngineVolumes, MountedFolderAndExcludeListRoundTrip) {
  TempDir dir;
  platform::files::createDirectories(dir / "Sync");
  {
    SyncConfigInfo config;  // a stored token, so the store is opened by the sign-in
    ASSERT_EQ(config.open(dir / "config.db"), 200);
  }
  Engine engine(dir.path());
  const varnelo_token_pair consumer{"ck", "cs"};
  engine->loginWithSavedToken(&consumer);  // opens the store (404: no user)
  ASSERT_EQ(engine->mountVolume("home", (dir / "Sync").c_str()), 200);
  IVolumes* volumes = nullptr;
  ASSERT_EQ(engine->getVolumes(&volumes), 200);
  ASSERT_EQ(volumes->count(), 1u);
  VolumeInfo info{"x", "y", "z"};
  volumes->at(1, info);  // past the end: untouched
  EXPECT_STREQ(info.serverPath, "x");
  volumes->at(0, info);
  EXPECT_STREQ(info.serverPath, "home");
  EXPECT_EQ(std::string(info.localPath), dir / "Sync");
  EXPECT_STREQ(info.name, "Sync");
  volumes->release();

  const char* dirs[] = {"home/Photos", nullptr, "home/Music"};
  EXPECT_EQ(engine->setExcludeDirs(dirs, 3), 200);
  IExcludeDirs* excluded = nullptr;
  ASSERT_EQ(engine->getExcludeDirs(&excluded), 200);
  ASSERT_EQ(excluded->count(), 2u);
  EXPECT_STREQ(excluded->at(0), "home/Photos");
  EXPECT_STREQ(excluded->at(1), "home/Music");
  excluded->release();
}

TEST(FileSyncerExcludeChange, ForgetsNewlyExcludedRowsAndRelistsIncludedOnes) {
  TempDir dir;
  const std::string journalPath = dir / "basefs.db";
  const VersionSignature sig{1, 2, 3};
  {
    FileJournal journal;
    ASSERT_EQ(journal.open(journalPath), 0);
    ASSERT_EQ(journal.putPath("home", FileJournal::kTypeFolder, sig, 0, 0), 0);
    ASSERT_EQ(journal.putPath("home/photos", FileJournal::kTypeFolder, sig, 0, 0), 0);
    ASSERT_EQ(journal.putPath("home/photos/a.jpg", FileJournal::kTypeFile, sig, 5, 1), 0);
    ASSERT_EQ(journal.putPath("home/music", FileJournal::kTypeFolder, sig, 0, 0), 0);
    ASSERT_EQ(journal.putPath("home/music/old", FileJournal::kTypeFolder, sig, 0, 0), 0);
  }
  FileSyncer syncer;
  syncer.setJournalPath(journalPath);
  ASSERT_EQ(syncer.applyExcludeChange({"/home/Music/Old"}, {"home/Photos"}), 200);

  FileJournal journal;
  ASSERT_EQ(journal.open(journalPath), 0);
  int64_t id = 0;
  EXPECT_EQ(journal.lookupPath("home/photos", id), FileJournal::kNotFound);
  EXPECT_EQ(journal.lookupPath("home/photos/a.jpg", id), FileJournal::kNotFound);
  for (const char* path : {"home", "home/music", "home/music/old"}) {
    ASSERT_EQ(journal.lookupPath(path, id), 0) << path;
    JournalEntry entry;
    ASSERT_EQ(journal.getEntry(id, entry), 0);
    EXPECT_EQ(entry.signature, VersionSignature{}) << path;
  }
}

// The folders above a newly excluded one still carry versions that cover
// it on the service; kept, they would let a deletion of one of them take
// the excluded folder's content along.
TEST(FileSyncerExcludeChange, FoldersAboveANewlyExcludedOneAreOutOfStep) {
  TempDir dir;
  const std::string journalPath = dir / "basefs.db";
  const VersionSignature sig{7};
  {
    FileJournal journal;
    ASSERT_EQ(journal.open(journalPath), 0);
    for (const char* folder : {"home", "home/d", "home/d/sub", "home/d/sub/deep", "home/other"})
      ASSERT_EQ(journal.putPath(folder, FileJournal::kTypeFolder, sig, 0, 0), 0);
  }
  FileSyncer syncer;
  syncer.setJournalPath(journalPath);
  ASSERT_EQ(syncer.applyExcludeChange({}, {"home/D/sub/deep"}), 200);
  FileJournal journal;
  ASSERT_EQ(journal.open(journalPath), 0);
  auto signatureOf = [&](const char* path) {
    int64_t id = 0;
    JournalEntry entry;
    EXPECT_EQ(journal.lookupPath(path, id), 0) << path;
    journal.getEntry(id, entry);
    return entry.signature;
  };
  EXPECT_EQ(signatureOf("home/d"), VersionSignature{});
  EXPECT_EQ(signatureOf("home/d/sub"), VersionSignature{});
  EXPECT_EQ(signatureOf("home/other"), sig) << "a folder beside it keeps its version";
}

// The sync thread keeps writing to the journal while a front end changes
// the list: the change waits for its turn, never fails for it, and lands
// whole.
TEST(FileSyncerExcludeChange, AJournalWrittenMeanwhileDoesNotFailTheChange) {
  TempDir dir;
  const std::string journalPath = dir / "basefs.db";
  FileJournal setup;
  ASSERT_EQ(setup.open(journalPath), 0);
  ASSERT_EQ(setup.putPath("home", FileJournal::kTypeFolder, {}, 0, 0), 0);
  ASSERT_EQ(setup.putPath("home/busy.txt", FileJournal::kTypeFile, {}, 0, 0), 0);
  std::atomic<bool> done{false};
  std::thread writer([&] {
    FileJournal journal;
    if (journal.open(journalPath) != 0) return;
    for (int64_t n = 1; !done; ++n)
      journal.putPath("home/busy.txt", FileJournal::kTypeFile, {}, n, n);
  });
  FileSyncer syncer;
  syncer.setJournalPath(journalPath);
  int64_t id = 0;
  // Every row of the folder is written again each round, so that each
  // change has rows to remove while the writer commits.
  int failedRound = -1;
  for (int round = 0; round < 200 && failedRound < 0; ++round) {
    for (const char* folder : {"home/d", "home/d/sub", "home/d/sub/deep"})
      setup.putPath(folder, FileJournal::kTypeFolder, {}, 0, 0);
    for (const char* file : {"home/d/sub/deep/a", "home/d/sub/deep/b", "home/d/sub/deep/c"})
      setup.putPath(file, FileJournal::kTypeFile, {}, 1, 1);
    if (syncer.applyExcludeChange({}, {"home/D/sub/deep"}) != 200 ||
        setup.lookupPath("home/d/sub/deep/a", id) != FileJournal::kNotFound)
      failedRound = round;
  }
  done = true;
  writer.join();
  EXPECT_EQ(failedRound, -1);
}

TEST(FileSyncerExcludeChange, ExcludingHomeNeverEmptiesTheJournal) {
  TempDir dir;
  const std::string journalPath = dir / "basefs.db";
  {
    FileJournal journal;
    ASSERT_EQ(journal.open(journalPath), 0);
    ASSERT_EQ(journal.putPath("home", FileJournal::kTypeFolder, {}, 0, 0), 0);
    ASSERT_EQ(journal.putPath("home/a", FileJournal::kTypeFile, {}, 1, 1), 0);
  }
  FileSyncer syncer;
  syncer.setJournalPath(journalPath);
  EXPECT_EQ(syncer.applyExcludeChange({}, {"/home"}), 200);
  FileJournal journal;
  ASSERT_EQ(journal.open(journalPath), 0);
  int64_t id = 0;
  EXPECT_EQ(journal.lookupPath("home/a", id), 0);
}

}  // namespace
}  // namespace varnelo::sync

namespace varnelo::sync {
namespace {

// A front end that changes the list between syncs (varnelocmd exclude): the
// change reaches the journal at once, and a failure is returned with the
// old list kept, so the next sync never reads forgotten rows as deletions.
TEST(EngineExcludeChange, ReachesTheJournalWithoutARunningSyncAndReturnsFailures) {
  TempDir dir;
  platform::files::createDirectories(dir / "Sync");
  {
    SyncConfigInfo config;
    ASSERT_EQ(config.open(dir / "config.db"), 200);
    FileJournal journal;
    ASSERT_EQ(journal.open(dir / "basefs.db"), 0);
    ASSERT_EQ(journal.putPath("home", FileJournal::kTypeFolder, {}, 0, 0), 0);
    ASSERT_EQ(journal.putPath("home/photos", FileJournal::kTypeFolder, {}, 0, 0), 0);
    ASSERT_EQ(journal.putPath("home/photos/a.jpg", FileJournal::kTypeFile, {}, 5, 1), 0);
  }
  Engine engine(dir.path());
  const varnelo_token_pair consumer{"ck", "cs"};
  engine->loginWithSavedToken(&consumer);  // opens the store
  ASSERT_EQ(engine->mountVolume("home", (dir / "Sync").c_str()), 200);
  const char* dirs[] = {"home/Photos"};
  ASSERT_EQ(engine->setExcludeDirs(dirs, 1), 200);
  {
    FileJournal journal;
    ASSERT_EQ(journal.open(dir / "basefs.db"), 0);
    int64_t id = 0;
    EXPECT_EQ(journal.lookupPath("home/photos/a.jpg", id), FileJournal::kNotFound);
  }

  // A journal that cannot be opened: the change is refused, the list stays.
  ASSERT_TRUE(removeDatabaseFiles(dir / "basefs.db"));
  ASSERT_FALSE(platform::files::createDirectory(dir / "basefs.db"));
  EXPECT_EQ(engine->setExcludeDirs(nullptr, 0), -4);
  IExcludeDirs* excluded = nullptr;
  ASSERT_EQ(engine->getExcludeDirs(&excluded), 200);
  ASSERT_NE(excluded, nullptr);
  EXPECT_EQ(excluded->count(), 1u);
  excluded->release();
}

}  // namespace
}  // namespace varnelo::sync
