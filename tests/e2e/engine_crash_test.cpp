// Crash safety: an engine process killed with SIGKILL in the middle of a
// large upload or download is started again over the same folders; both
// computers and the service converge, the file arrives whole, and no
// unfinished part file is ever taken for the file's content. A journal that
// a disk fault or another program has damaged costs a full comparison of
// both sides, never a file.
#include <filesystem>
#include <fstream>
#include <map>
#include <vector>

#include "FileJournal.h"
#include "JournalRows.h"
#include "TempNames.h"
#include "engine_child_process.h"
#include "engine_harness.h"

namespace varnelo::e2e {
namespace {

class EngineCrashTest : public EngineTest {
 protected:
  int64_t counted(const std::string& endpoint, const char* field) {
    Json::Value all;
    if (!service().counters(&all)) return 0;
    return all["endpoints"][endpoint][field].asInt64();
  }
  ::testing::AssertionResult converged(EngineComputer& a, EngineComputer& b) {
    Tree remote;
    if (waitFor(
            [&] {
              remote = remoteTree();
              return a.tree() == remote && b.tree() == remote;
            },
            120000)) {
      return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "remote has " << remote.size() << " entries, a "
                                         << a.tree().size() << ", b " << b.tree().size();
  }
  void killDuringABurstOfSmallUploads(const std::string& endpoint, const std::string& faults,
                                      int before);
};

TEST_F(EngineCrashTest, KilledDuringALargeUploadThenRestarted) {
  const std::string big = std::string(40u << 20, 'u') + "end of the upload";
  auto a = computer();
  auto b = computer();
  a->write("big.bin", big);
  a->write("small.txt", "small");
  ASSERT_TRUE(service().resetCounters());
  setenv("CURL_UPLOAD_SPEEDLIMIT", "1024", 1);  // inherited by the child only
  ChildEngine child(*a, user(), tokenKey(), tokenSecret());
  unsetenv("CURL_UPLOAD_SPEEDLIMIT");
  ASSERT_TRUE(child.started());
  // Killed once part of the file's chunks have reached the service.
  ASSERT_TRUE(waitFor([&] { return counted("/chunk", "bytesIn") > (4 << 20); }, 60000));
  child.kill();
  EXPECT_EQ(remoteTree().count("big.bin"), 0u);

  ASSERT_EQ(a->start(), 200);
  ASSERT_EQ(b->start(), 200);
  ASSERT_TRUE(converged(*a, *b));
  EXPECT_EQ(remoteTree()["big.bin"], fileEntry(big));
  EXPECT_EQ(b->read("big.bin"), big);
  EXPECT_EQ(b->read("small.txt"), "small");
}

TEST_F(EngineCrashTest, KilledDuringALargeDownloadThenRestarted) {
  std::string big(40u << 20, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 7 + i / 4093) & 0xff);
  auto a = computer();
  auto b = computer();
  a->write("big.bin", big);
  ASSERT_EQ(a->start(), 200);
  ASSERT_TRUE(waitFor([&] { return remoteTree()["big.bin"] == fileEntry(big); }, 60000));
  // B's engine dies half-way through the download.
  ASSERT_TRUE(service().resetCounters());
  setenv("CURL_DOWNLOAD_SPEEDLIMIT", "1024", 1);
  {
    ChildEngine child(*b, user(), tokenKey(), tokenSecret());
    unsetenv("CURL_DOWNLOAD_SPEEDLIMIT");
    ASSERT_TRUE(child.started());
    ASSERT_TRUE(waitFor([&] { return counted("/data", "bytesOut") > (4 << 20); }, 60000));
    child.kill();
  }
  // What is under the final name is never the unfinished part file.
  if (b->exists("big.bin")) {
    EXPECT_EQ(b->read("big.bin"), big);
  }
  ASSERT_EQ(b->start(), 200);
  ASSERT_TRUE(converged(*a, *b));
  EXPECT_EQ(b->read("big.bin"), big);
  // Nothing changed on the service because of the crash.
  EXPECT_EQ(remoteTree()["big.bin"], fileEntry(big));
  EXPECT_EQ(remoteTree().size(), 1u);
}

TEST_F(EngineCrashTest, KilledWhileSeveralSmallDownloadsAreInFlightThenRestarted) {
  std::map<std::string, std::string> files;
  for (int k = 0; k < 8; ++k) {
    for (int i = 0; i < 10; ++i) {
      const std::string rel = "many/d" + std::to_string(k) + "/f" + std::to_string(i) + ".txt";
      files[rel] = rel + std::string(300 + 53 * i, static_cast<char>('A' + k));
    }
  }
  auto a = computer();
  auto b = computer();
  for (const auto& [rel, content] : files) a->write(rel, content);
  ASSERT_EQ(a->start(), 200);
  ASSERT_TRUE(waitFor([&] { return remoteTree().size() == files.size() + 9; }, 60000));
  // Reads wait on the service, so that the kill finds several in flight.
  ASSERT_TRUE(service().setFaults("seed=11;/get:delay=1,delayMs=40"));
  {
    ChildEngine child(*b, user(), tokenKey(), tokenSecret());
    ASSERT_TRUE(child.started());
    ASSERT_TRUE(waitFor(
        [&] {
          size_t placed = 0;
          for (const auto& [rel, content] : files) placed += b->exists(rel);
          return placed >= 8;
        },
        60000));
    child.kill();
  }
  ASSERT_TRUE(service().setFaults(""));
  // Whatever is under a final name is whole, and every journal row stands
  // for a file that was placed.
  {
    sync::FileJournal journal;
    ASSERT_EQ(journal.open(b->dataFolder() + "basefs.db"), 0);
    for (const auto& [rel, content] : files) {
      if (b->exists(rel)) {
        EXPECT_EQ(b->read(rel), content) << rel;
      }
      if (auto row = journalRow(journal, "home/" + rel)) {
        EXPECT_TRUE(b->exists(rel)) << rel << " recorded, never placed";
        EXPECT_EQ(row->fileSize, static_cast<int64_t>(content.size())) << rel;
      }
    }
  }
  ASSERT_EQ(b->start(), 200);
  ASSERT_TRUE(converged(*a, *b));
  for (const auto& [rel, content] : files) EXPECT_EQ(b->read(rel), content) << rel;
  // The part files the kill left behind were finished and moved into place.
  EXPECT_TRUE(waitFor([&] {
    std::vector<platform::files::DirEntry> parts;
    platform::files::listDirectory(tempFolderPath(b->root()), parts);
    return parts.empty();
  }));
}

// 240 small files in six folders; the engine is killed once the service
// saw `before` requests of `endpoint`, which `faults` slow down.
void EngineCrashTest::killDuringABurstOfSmallUploads(const std::string& endpoint,
                                                     const std::string& faults, int before) {
  std::map<std::string, std::string> files;
  for (int k = 0; k < 6; ++k) {
    for (int i = 0; i < 40; ++i) {
      const std::string rel = "burst/d" + std::to_string(k) + "/f" + std::to_string(i) + ".txt";
      files[rel] = rel + std::string(200 + 31 * i, static_cast<char>('a' + k));
    }
  }
  auto a = computer();
  for (const auto& [rel, content] : files) a->write(rel, content);
  // Puts wait on the service, so that the kill lands in the middle.
  ASSERT_TRUE(service().resetCounters());
  ASSERT_TRUE(service().setFaults(faults));
  {
    ChildEngine child(*a, user(), tokenKey(), tokenSecret());
    ASSERT_TRUE(child.started());
    ASSERT_TRUE(waitFor([&] { return counted(endpoint, "requests") >= before; }, 60000));
    child.kill();
  }
  ASSERT_TRUE(service().setFaults(""));
  // Every journal row left behind stands for a file the service has.
  {
    const Tree remote = remoteTree();
    sync::FileJournal journal;
    ASSERT_EQ(journal.open(a->dataFolder() + "basefs.db"), 0);
    for (const auto& [rel, content] : files) {
      if (journalRow(journal, "home/" + rel)) {
        EXPECT_EQ(remote.count(rel), 1u) << rel << " recorded, never sent";
      }
    }
  }
  // The files the service took whose rows the kill lost are found the same
  // on both sides: no conflicted copies, nothing sent twice as new.
  auto b = computer();
  ASSERT_EQ(a->start(), 200);
  ASSERT_EQ(b->start(), 200);
  ASSERT_TRUE(converged(*a, *b));
  for (const auto& [rel, content] : files) EXPECT_EQ(b->read(rel), content) << rel;
  EXPECT_EQ(remoteTree().size(), files.size() + 7) << "the files, their six folders and burst/";
}

TEST_F(EngineCrashTest, KilledDuringABurstOfSmallUploadsThenRestartedMakesNoCopies) {
  setenv("VARNELO_PUT_BATCH", "0", 1);  // each small file on its own
  killDuringABurstOfSmallUploads("/2/put", "seed=5;/2/put:delay=1,delayMs=10", 60);
}

// The same in batches of 16: every file of a batch had its commit intent
// written before the batch left.
TEST_F(EngineCrashTest, KilledDuringABurstOfSmallBatchesThenRestartedMakesNoCopies) {
  setenv("VARNELO_PUT_BATCH", "16", 1);
  killDuringABurstOfSmallUploads("/2/put_batch", "seed=5;/2/put_batch:delay=1,delayMs=60", 4);
}

// B stopped between taking a file aside for A's deletion and deleting it:
// the file waits under its hidden name. Started again, B finishes the
// deletion. The file gets its name back, so it is neither hidden for good
// nor sent up again, and the folder A deleted goes with the rest of it
// instead of coming back to the service.
TEST_F(EngineCrashTest, ADeletionCutShortAfterTheFileWasTakenAsideIsFinishedAfterTheRestart) {
  auto a = computer();
  auto b = computer();
  a->write("box/c1.txt", "first");
  a->write("box/c2.txt", "second");
  a->write("keep.txt", "kept");
  ASSERT_EQ(a->start(), 200);
  ASSERT_EQ(b->start(), 200);
  ASSERT_TRUE(converged(*a, *b));
  ASSERT_TRUE(b->settle());
  b->shutdown();
  ASSERT_FALSE(platform::files::rename(a->path("box"), a->root() + "/../thrown away"));
  ASSERT_TRUE(waitFor([&] { return remoteTree().count("box") == 0; }));
  ASSERT_FALSE(platform::files::rename(b->path("box/c1.txt"), removingPath(b->path("box/c1.txt"))));

  ASSERT_EQ(b->start(), 200);
  ASSERT_TRUE(b->settle());
  ASSERT_TRUE(converged(*a, *b));
  EXPECT_EQ(remoteTree(), (Tree{{"keep.txt", fileEntry("kept")}}));
  EXPECT_FALSE(b->exists("box")) << "nothing of the deleted folder is left, hidden or not";
}

TEST_F(EngineCrashTest, ADamagedJournalIsSetAsideAndNothingIsTakenAsDeleted) {
  auto pc = computer();
  pc->write("kept.txt", "as synced");
  pc->write("edited.txt", "before");
  pc->write("gone.txt", "deleted while stopped");
  ASSERT_EQ(pc->start(), 200);
  ASSERT_TRUE(waitFor([&] { return remoteTree().size() == 3; }));
  ASSERT_TRUE(pc->settle());
  pc->engine()->stopSync(false);
  { std::ofstream(pc->dataFolder() + "basefs.db", std::ios::binary) << std::string(20000, 'x'); }
  pc->write("edited.txt", "after the damage");
  ASSERT_FALSE(platform::files::removeFile(pc->path("gone.txt")));
  ASSERT_EQ(pc->start(), 200);

  // Without rows nothing is a deletion: the removed file comes back, and the
  // edit stays beside the service's version instead of replacing or losing it.
  auto holdsBoth = [&](const Tree& tree) {
    int edits = 0;
    for (const auto& [path, what] : tree) {
      if (what == fileEntry("after the damage") || what == fileEntry("before")) ++edits;
    }
    return edits == 2;
  };
  EXPECT_TRUE(waitFor([&] { return holdsBoth(remoteTree()) && remoteTree().size() == 4; }))
      << ::testing::PrintToString(remoteTree());
  EXPECT_TRUE(pc->settle());
  EXPECT_EQ(pc->tree(), remoteTree());
  EXPECT_EQ(pc->read("gone.txt"), "deleted while stopped");
  EXPECT_EQ(pc->read("kept.txt"), "as synced");
  bool kept = false;
  for (const auto& e : std::filesystem::directory_iterator(pc->dataFolder()))
    kept = kept || e.path().filename().string().rfind("basefs.db.damaged-", 0) == 0;
  EXPECT_TRUE(kept) << "the damaged journal is kept";
}

}  // namespace
}  // namespace varnelo::e2e
