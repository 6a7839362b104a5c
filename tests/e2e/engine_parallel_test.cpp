// Many small or one-chunk files in flight at once: a stop in the middle of
// a burst leaves the journal recording only what the service holds, and a
// restart brings both sides into agreement, every file sent once more at
// most.
#include "FileJournal.h"
#include "JournalRows.h"
#include "engine_harness.h"

namespace varnelo::e2e {
namespace {

class EngineParallelTest : public EngineTest {};

std::string smallName(int i) {
  return "burst/d" + std::to_string(i % 8) + "/s" + std::to_string(i) + ".txt";
}

TEST_F(EngineParallelTest, AStopDuringABurstOfSmallUploadsKeepsJournalAndServiceInAgreement) {
  constexpr int kFiles = 240;
  auto pc = computer();
  for (int i = 0; i < kFiles; ++i) pc->write(smallName(i), "small file " + std::to_string(i));
  // Each put waits a little on the service, so that several are in flight
  // when the stop comes.
  ASSERT_TRUE(service().setFaults("seed=7;/2/put:delay=1,delayMs=15"));
  ASSERT_EQ(pc->start(), 200);
  ASSERT_TRUE(waitFor([&] { return remoteTree().size() > 40; }));
  pc->shutdown();  // stops mid-burst and waits for the sync thread
  ASSERT_TRUE(service().setFaults(""));

  // Every file row of the journal stands for content the service holds.
  const Tree remote = remoteTree();
  ASSERT_LT(remote.size(), static_cast<size_t>(kFiles + 9)) << "the stop came too late";
  {
    sync::FileJournal journal;
    ASSERT_EQ(journal.open(pc->dataFolder() + "basefs.db"), 0);
    int recorded = 0;
    for (int i = 0; i < kFiles; ++i) {
      const std::string content = "small file " + std::to_string(i);
      auto row = journalRow(journal, "home/" + smallName(i));
      if (!row) continue;
      ++recorded;
      ASSERT_TRUE(remote.count(smallName(i))) << smallName(i) << " recorded, never sent";
      EXPECT_EQ(remote.at(smallName(i)), fileEntry(content));
      EXPECT_EQ(row->fileSize, static_cast<int64_t>(content.size()));
    }
    EXPECT_GT(recorded, 0);
  }

  // The restart sends the rest and both sides agree.
  ASSERT_EQ(pc->start(), 200);
  EXPECT_TRUE(waitFor([&] { return pc->tree() == remoteTree(); }, 60000));
  EXPECT_TRUE(pc->settle());
  EXPECT_EQ(remoteTree().size(), static_cast<size_t>(kFiles + 9));  // files, burst/ and 8 folders
}

// A small put whose reply was cut after the service took it is sent again
// under a new signature: the service refuses a nonce it has seen, and the
// same request again would have been refused and taken the long way round
// (prepare, chunk, commit). Seed 13 cuts the first put's reply, not the next.
TEST_F(EngineParallelTest, ARetriedSmallPutIsSignedAnew) {
  auto pc = computer();
  ASSERT_EQ(pc->start(), 200);
  ASSERT_TRUE(pc->settle());
  ASSERT_TRUE(service().resetCounters());
  ASSERT_TRUE(service().setFaults("seed=13;/2/put:drop=0.5"));
  pc->write("note.txt", "sent twice");
  EXPECT_TRUE(waitFor([&] { return remoteTree()["note.txt"] == fileEntry("sent twice"); }));
  EXPECT_TRUE(pc->settle());
  ASSERT_TRUE(service().setFaults(""));
  Json::Value all;
  ASSERT_TRUE(service().counters(&all));
  EXPECT_EQ(all["endpoints"]["/2/put"]["requests"].asInt64(), 2);
  EXPECT_EQ(all["endpoints"]["/prepare_put"]["requests"].asInt64(), 0);
  EXPECT_EQ(all["endpoints"]["/chunk"]["requests"].asInt64(), 0);
}

// Files of one chunk travel in the window too: their prepare, chunk and
// commit run on an I/O thread. Some share their content (the service holds
// the chunk already, so only the commit goes).
TEST_F(EngineParallelTest, AStopDuringABurstOfOneChunkUploadsKeepsJournalAndServiceInAgreement) {
  constexpr int kFiles = 60;
  constexpr size_t kSize = 40 * 1024;  // above the one-request limit, below a chunk
  auto contentOf = [](int i) {
    const int seed = i % 45;  // files 45..59 repeat the content of 0..14
    std::string bytes(kSize, '\0');
    for (size_t k = 0; k < bytes.size(); ++k)
      bytes[k] = static_cast<char>((k * 31 + seed * 7 + k / 997) % 251);
    bytes.replace(0, 8, std::to_string(10000000 + seed));  // 8 digits
    return bytes;
  };
  auto nameOf = [](int i) {
    return "one/d" + std::to_string(i % 4) + "/c" + std::to_string(i) + ".bin";
  };
  auto pc = computer();
  for (int i = 0; i < kFiles; ++i) pc->write(nameOf(i), contentOf(i));
  ASSERT_TRUE(service().setFaults("seed=7;/chunk:delay=1,delayMs=20"));
  ASSERT_EQ(pc->start(), 200);
  ASSERT_TRUE(waitFor([&] { return remoteTree().size() > 15; }));
  pc->shutdown();
  ASSERT_TRUE(service().setFaults(""));

  const Tree remote = remoteTree();
  ASSERT_LT(remote.size(), static_cast<size_t>(kFiles + 5)) << "the stop came too late";
  {
    sync::FileJournal journal;
    ASSERT_EQ(journal.open(pc->dataFolder() + "basefs.db"), 0);
    int recorded = 0;
    for (int i = 0; i < kFiles; ++i) {
      auto row = journalRow(journal, "home/" + nameOf(i));
      if (!row) continue;
      ++recorded;
      ASSERT_TRUE(remote.count(nameOf(i))) << nameOf(i) << " recorded, never sent";
      EXPECT_EQ(remote.at(nameOf(i)), fileEntry(contentOf(i)));
      EXPECT_EQ(row->fileSize, static_cast<int64_t>(kSize));
    }
    EXPECT_GT(recorded, 0);
  }

  ASSERT_EQ(pc->start(), 200);
  EXPECT_TRUE(waitFor([&] { return pc->tree() == remoteTree(); }, 60000));
  EXPECT_TRUE(pc->settle());
  EXPECT_EQ(remoteTree().size(), static_cast<size_t>(kFiles + 5));  // files, one/ and 4 folders
}

}  // namespace
}  // namespace varnelo::e2e
