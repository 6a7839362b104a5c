// Many small files on their way down at once: a pause while several are in
// flight leaves only whole files in place and only placed files in the
// journal, and the resume brings every file exactly once with nothing
// half-written left behind. Files of one name in many folders, in flight
// together, all arrive in the same pass.
#include <algorithm>
#include <map>

#include "FileJournal.h"
#include "JournalRows.h"
#include "TempNames.h"
#include "engine_harness.h"

namespace varnelo::e2e {
namespace {

using Contents = std::map<std::string, std::string>;

class EngineParallelDownloadTest : public EngineTest {
 protected:
  // Writes `files` on a first computer and waits until the service holds
  // them all (and the folders above them, `folders` in all).
  void publish(const Contents& files, size_t folders) {
    auto a = computer();
    for (const auto& [rel, content] : files) a->write(rel, content);
    ASSERT_EQ(a->start(), 200);
    ASSERT_TRUE(waitFor([&] { return remoteTree().size() == files.size() + folders; }, 60000));
    a->shutdown();
  }

  static size_t filesIn(const Tree& tree) {
    size_t n = 0;
    for (const auto& [rel, entry] : tree) n += entry != "D";
    return n;
  }

  // Every journal row of a file stands for that file in place, whole.
  static void expectJournalOnlyNamesPlacedFiles(EngineComputer& pc, const Contents& files) {
    sync::FileJournal journal;
    ASSERT_EQ(journal.open(pc.dataFolder() + "basefs.db"), 0);
    for (const auto& [rel, content] : files) {
      auto row = journalRow(journal, "home/" + rel);
      if (!row) continue;
      ASSERT_TRUE(pc.exists(rel)) << rel << " recorded, never placed";
      EXPECT_EQ(pc.read(rel), content) << rel;
      EXPECT_EQ(row->fileSize, static_cast<int64_t>(content.size())) << rel;
    }
  }

  static std::vector<platform::files::DirEntry> partFiles(EngineComputer& pc) {
    std::vector<platform::files::DirEntry> entries;
    platform::files::listDirectory(tempFolderPath(pc.root()), entries);
    return entries;
  }
};

TEST_F(EngineParallelDownloadTest, APauseWhileSeveralDownloadsAreInFlightResumesCleanly) {
  Contents files;
  for (int k = 0; k < 12; ++k) {
    for (int i = 0; i < 10; ++i) {
      const std::string rel = "down/d" + std::to_string(k) + "/n" + std::to_string(i) + ".txt";
      files[rel] = rel + std::string(100 + 37 * i + k, static_cast<char>('a' + k));
    }
  }
  publish(files, 12 + 1);

  auto b = computer();
  // Every read of the service waits a little, so that several downloads are
  // in flight when the pause comes.
  ASSERT_TRUE(service().setFaults("seed=3;/get:delay=1,delayMs=40"));
  ASSERT_EQ(b->start(), 200);
  ASSERT_TRUE(waitFor([&] { return filesIn(b->tree()) >= 10; }, 60000));
  ASSERT_EQ(b->engine()->pauseSync(), 200);
  ASSERT_TRUE(waitFor([&] { return b->state().inFlight == 0; }));
  ASSERT_TRUE(service().setFaults(""));

  // Paused: what is in place is whole, and the journal names nothing else.
  const Tree paused = b->tree();
  ASSERT_LT(filesIn(paused), files.size()) << "the pause came too late";
  for (const auto& [rel, entry] : paused) {
    if (entry != "D") {
      EXPECT_EQ(b->read(rel), files.at(rel)) << rel;
    }
  }
  expectJournalOnlyNamesPlacedFiles(*b, files);

  ASSERT_EQ(b->engine()->resumeSync(false), 200);
  ASSERT_TRUE(waitFor([&] { return b->tree() == remoteTree(); }, 60000));
  EXPECT_TRUE(b->settle());
  for (const auto& [rel, content] : files) EXPECT_EQ(b->read(rel), content) << rel;
  expectJournalOnlyNamesPlacedFiles(*b, files);
  // Each file was placed once, and no part file is left.
  for (const auto& [rel, content] : files) {
    const auto lines = b->sink().lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "downloaded " + b->path(rel)), 1) << rel;
  }
  EXPECT_TRUE(partFiles(*b).empty());
}

TEST_F(EngineParallelDownloadTest, FilesOfOneNameInManyFoldersArriveTogether) {
  // Consecutive downloads all named index.html: the part file of one is
  // never taken for an older version of another.
  Contents files;
  for (int k = 0; k < 40; ++k) {
    files["site/p" + std::to_string(100 + k) + "/index.html"] =
        "<p>page " + std::to_string(k) + "</p>" + std::string(k * 11, '.');
  }
  publish(files, 40 + 1);

  auto b = computer();
  ASSERT_TRUE(service().setFaults("seed=5;/get:delay=1,delayMs=10"));
  ASSERT_EQ(b->start(), 200);
  ASSERT_TRUE(waitFor([&] { return b->state().remotePasses >= 1; }, 60000));
  // All of them in the first pass, none failed on the way.
  for (const auto& [rel, content] : files) EXPECT_EQ(b->read(rel), content) << rel;
  for (const auto& line : b->sink().lines()) {
    EXPECT_NE(line.rfind("result -4 ", 0), 0u) << line;
  }
  EXPECT_TRUE(partFiles(*b).empty());
}

}  // namespace
}  // namespace varnelo::e2e
