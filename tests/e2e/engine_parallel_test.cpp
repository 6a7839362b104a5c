// Many small or one-chunk files in flight at once: a stop in the middle of
// a burst leaves the journal recording only what the service holds, and a
// restart brings both sides into agreement, every file sent once more at
// most.
#include <map>
#include <string>
#include <tuple>

#include "FileJournal.h"
#include "JournalRows.h"
#include "engine_harness.h"

namespace varnelo::e2e {
namespace {

class EngineParallelTest : public EngineTest {
 protected:
  using Files = std::map<std::string, std::string>;  // path below home → content

  // Writes `files`, starts the engine with `faults` slowing the service and
  // stops it once the service holds more than `seen` entries, then checks
  // that every file row of the journal stands for content the service holds
  // and that a restart sends the rest: `entries` in all (files and folders).
  void stopMidBurstThenRestart(const Files& files, const std::string& faults, size_t seen,
                               size_t entries) {
    auto pc = computer();
    for (const auto& [name, content] : files) pc->write(name, content);
    ASSERT_TRUE(service().setFaults(faults));
    ASSERT_EQ(pc->start(), 200);
    ASSERT_TRUE(waitFor([&] { return remoteTree().size() > seen; }));
    pc->shutdown();  // stops mid-burst and waits for the sync thread
    ASSERT_TRUE(service().setFaults(""));

    const Tree remote = remoteTree();
    ASSERT_LT(remote.size(), entries) << "the stop came too late";
    {
      sync::FileJournal journal;
      ASSERT_EQ(journal.open(pc->dataFolder() + "basefs.db"), 0);
      int recorded = 0;
      for (const auto& [name, content] : files) {
        auto row = journalRow(journal, "home/" + name);
        if (!row) continue;
        ++recorded;
        ASSERT_TRUE(remote.count(name)) << name << " recorded, never sent";
        EXPECT_EQ(remote.at(name), fileEntry(content));
        EXPECT_EQ(row->fileSize, static_cast<int64_t>(content.size()));
      }
      EXPECT_GT(recorded, 0);
    }

    ASSERT_EQ(pc->start(), 200);
    EXPECT_TRUE(waitFor([&] { return pc->tree() == remoteTree(); }, 60000));
    EXPECT_TRUE(pc->settle());
    EXPECT_EQ(remoteTree().size(), entries);
  }
};

std::string smallName(int i) {
  return "burst/d" + std::to_string(i % 8) + "/s" + std::to_string(i) + ".txt";
}

TEST_F(EngineParallelTest, AStopDuringABurstOfSmallUploadsKeepsJournalAndServiceInAgreement) {
  Files files;
  for (int i = 0; i < 240; ++i) files[smallName(i)] = "small file " + std::to_string(i);
  // Each put waits a little on the service, so that several are in flight
  // when the stop comes. 240 files, burst/ and 8 folders.
  setenv("VARNELO_PUT_BATCH", "0", 1);  // each small file on its own
  stopMidBurstThenRestart(files, "seed=7;/2/put:delay=1,delayMs=15", 40, 240 + 9);
}

// The same with the files in batches of 16, several batches in flight.
TEST_F(EngineParallelTest, AStopDuringABurstOfSmallBatchesKeepsJournalAndServiceInAgreement) {
  Files files;
  for (int i = 0; i < 240; ++i) files[smallName(i)] = "small file " + std::to_string(i);
  setenv("VARNELO_PUT_BATCH", "16", 1);
  stopMidBurstThenRestart(files, "seed=7;/2/put_batch:delay=1,delayMs=60", 40, 240 + 9);
}

// A small put whose reply was cut after the service took it is sent again
// under a new signature: the service refuses a nonce it has seen, and the
// same request again would have been refused and taken the long way round
// (prepare, chunk, commit). The same for a batch: the service finds its
// files there already, and each file's conflict check sees its own content.
// Seed 13 cuts the first put's reply, seed 3 the first batch's, not the next.
TEST_F(EngineParallelTest, ARetriedSmallPutOrBatchIsSignedAnew) {
  for (const auto& [endpoint, faults, batches] :
       {std::tuple{"/2/put", "seed=13;/2/put:drop=0.5", "0"},
        std::tuple{"/2/put_batch", "seed=3;/2/put_batch:drop=0.5", "256"}}) {
    SCOPED_TRACE(endpoint);
    setenv("VARNELO_PUT_BATCH", batches, 1);
    auto pc = computer(batches[0] == '0' ? "Single" : "Batched");
    ASSERT_EQ(pc->start(), 200);
    ASSERT_TRUE(pc->settle());
    ASSERT_TRUE(service().resetCounters());
    ASSERT_TRUE(service().setFaults(faults));
    const std::string name = std::string("note") + (batches[0] == '0' ? "1" : "2") + ".txt";
    pc->write(name, "sent twice");
    EXPECT_TRUE(waitFor([&] { return remoteTree()[name] == fileEntry("sent twice"); }));
    EXPECT_TRUE(pc->settle());
    ASSERT_TRUE(service().setFaults(""));
    Json::Value all;
    ASSERT_TRUE(service().counters(&all));
    EXPECT_EQ(all["endpoints"][endpoint]["requests"].asInt64(), 2);
    EXPECT_EQ(all["endpoints"]["/prepare_put"]["requests"].asInt64(), 0);
    EXPECT_EQ(all["endpoints"]["/chunk"]["requests"].asInt64(), 0);
    EXPECT_EQ(pc->read(name), "sent twice");
    pc->shutdown();
  }
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
  Files files;
  for (int i = 0; i < kFiles; ++i)
    files["one/d" + std::to_string(i % 4) + "/c" + std::to_string(i) + ".bin"] = contentOf(i);
  // 60 files, one/ and 4 folders.
  stopMidBurstThenRestart(files, "seed=7;/chunk:delay=1,delayMs=20", 15, kFiles + 5);
}

}  // namespace
}  // namespace varnelo::e2e
