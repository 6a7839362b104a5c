// The engine while it works: a live status object during a large upload,
// and the file syncer's ways of finding changes without the monitor's
// events (the rescan notice after lost events, and the periodic scan when
// the folder cannot be watched at all).
#include "ChunkCache.h"
#include "ConfigInfo.h"
#include "FileSyncer.h"
#include "TempNames.h"
#include "VarneloImpl.h"
#include "WinMonitor.h"
#include "engine_harness.h"

namespace varnelo::e2e {
namespace {

class EngineStatusTest : public EngineTest {};

TEST_F(EngineStatusTest, LiveStatusShowsSpeedAndTheFileDuringALargeUpload) {
  // Slow enough (4 MiB/s per connection) that the upload can be watched.
  setenv("CURL_UPLOAD_SPEEDLIMIT", "4096", 1);
  auto pc = computer();
  ASSERT_EQ(pc->start(), 200);
  ASSERT_TRUE(pc->settle());
  // Every chunk different: chunks of equal content would go up once.
  std::string big(64u << 20, 'x');
  for (size_t at = 0; at < big.size(); at += 4096) {
    const std::string mark = std::to_string(at);
    big.replace(at, mark.size(), mark);
  }
  pc->write("big.bin", big);
  IVarneloStatus* status = nullptr;
  ASSERT_EQ(pc->engine()->getStatus(&status), 200);
  ASSERT_NE(status, nullptr);
  bool sawSpeed = false, sawFile = false;
  EXPECT_TRUE(waitFor(
      [&] {
        if (status->uploadSpeed() > 0) sawSpeed = true;
        const char* name = status->currentFile();
        if (name && std::string(name) == pc->path("big.bin") &&
            status->currentTotal() == big.size() && status->currentDone() > 0 &&
            status->currentDone() <= big.size()) {
          sawFile = true;
        }
        return sawSpeed && sawFile;
      },
      60000))
      << "speed seen " << sawSpeed << ", file seen " << sawFile;
  EXPECT_EQ(status->downloadSpeed(), 0u);
  unsetenv("CURL_UPLOAD_SPEEDLIMIT");
  EXPECT_TRUE(waitFor([&] { return remoteTree()["big.bin"] == fileEntry(big); }, 120000));
  status->release();
  // The object is not needed to outlive the engine, but one taken now must
  // still be released safely after the sync stopped.
  ASSERT_EQ(pc->engine()->getStatus(&status), 200);
  pc->engine()->stopSync(false);
  EXPECT_EQ(status->downloadSpeed(), 0u);  // the meters outlive the run
  status->release();
}

// A file syncer driven directly, without a monitor: only scans find changes.
class BareSyncer {
 public:
  BareSyncer(const std::string& user, const std::string& key, const std::string& secret,
             sync::IdleTask::WatchProbe probe) {
    root_ = dir_ / "Sync";
    platform::files::createDirectories(root_);
    const varnelo_token_pair access{key.c_str(), secret.c_str()};
    varnelo_auth_combine(user.c_str(), &http::client_consumer(), &access, &credentials_);
    config_.open(dir_ / "config.db");
    config_.putVolume("home", root_, "Sync");
    cache_.open(dir_ / "chunks.db", dir_ / "cache");
    syncer_.setEventSink(&sink_);
    syncer_.setCredentials(credentials_);
    syncer_.setConfiguration(&config_);
    syncer_.setChunkCache(&cache_);
    syncer_.setJournalPath(dir_ / "basefs.db");
    syncer_.setWatchProbe(std::move(probe));
  }
  ~BareSyncer() {
    syncer_.stop(false);
    varnelo_destroy_token(credentials_);
  }
  sync::FileSyncer& syncer() { return syncer_; }
  test::RecordingSink& sink() { return sink_; }
  std::string path(const std::string& rel) const { return root_ + "/" + rel; }
  const std::string& root() const { return root_; }
  varnelo_sync_state state() {
    varnelo_sync_state s{};
    syncer_.syncState(s);
    return s;
  }

 private:
  test::TempDir dir_;
  std::string root_;
  varnelo_credentials* credentials_ = nullptr;
  SyncConfigInfo config_;
  chunkcache::ChunkCache cache_;
  test::RecordingSink sink_;
  sync::FileSyncer syncer_;
};

TEST_F(EngineStatusTest, ARescanNoticeFindsChangesWhoseEventsWereLost) {
  BareSyncer bare(user(), tokenKey(), tokenSecret(), {});
  bare.syncer().start();
  ASSERT_TRUE(waitFor([&] { return bare.state().converged == 1; }));
  const uint64_t scans = bare.state().localScans;
  ASSERT_FALSE(platform::files::writeFile(bare.path("lost.txt"), "event lost"));
  bare.syncer().onRescanNeeded(bare.root().c_str());
  EXPECT_TRUE(waitFor([&] { return remoteTree()["lost.txt"] == fileEntry("event lost"); }));
  EXPECT_GT(bare.state().localScans, scans);
}

TEST_F(EngineStatusTest, TheMonitorsOverflowNoticeBringsALocalScan) {
  auto pc = computer();
  ASSERT_EQ(pc->start(), 200);
  ASSERT_TRUE(pc->settle());
  const uint64_t scans = pc->state().localScans;
  auto* engine = static_cast<sync::VarneloImpl*>(pc->engine());
  ASSERT_TRUE(
      engine->monitor().watcher().InjectFault(pc->root(), platform::DirWatchFault::QueueOverflow));
  pc->write("after-overflow.txt", "found");
  EXPECT_TRUE(waitFor([&] { return pc->state().localScans > scans; }));
  EXPECT_TRUE(waitFor([&] { return remoteTree()["after-overflow.txt"] == fileEntry("found"); }));
}

TEST_F(EngineStatusTest, AnUnwatchableFolderIsReportedOnceAndScannedEveryPollInterval) {
  BareSyncer bare(user(), tokenKey(), tokenSecret(), [] { return false; });
  bare.syncer().start();
  ASSERT_TRUE(waitFor([&] { return bare.state().converged == 1; }));
  ASSERT_FALSE(platform::files::writeFile(bare.path("a.txt"), "found by a scan"));
  EXPECT_TRUE(waitFor([&] { return remoteTree()["a.txt"] == fileEntry("found by a scan"); }));
  ASSERT_FALSE(platform::files::writeFile(bare.path("b.txt"), "and by the next"));
  EXPECT_TRUE(waitFor([&] { return remoteTree()["b.txt"] == fileEntry("and by the next"); }));
  int reports = 0;
  for (const std::string& line : bare.sink().lines()) {
    if (line == "result -121 " + bare.root()) ++reports;
  }
  EXPECT_EQ(reports, 1);
}

// A download's part file renamed into place: only the placed name is
// queued, not the part file the filter keeps out (every later step would
// look at it again only to refuse it).
TEST_F(EngineStatusTest, ARenameOutOfTheTemporaryFolderQueuesOnlyTheNewName) {
  BareSyncer bare(user(), tokenKey(), tokenSecret(), {});
  bare.syncer().start();
  ASSERT_TRUE(waitFor([&] { return bare.state().converged == 1; }));
  bare.syncer().setPaused(true, false);
  ASSERT_TRUE(waitFor([&] { return bare.state().paused == 1; }));
  const std::string part = tempFolderPath(bare.root()) + "a.txt.x.v2.part";
  bare.syncer().onPathRenamed(part.c_str(), bare.path("a.txt").c_str());
  EXPECT_EQ(bare.state().queued, 1u);
  bare.syncer().onPathRenamed(bare.path("a.txt").c_str(), bare.path("b.txt").c_str());
  EXPECT_EQ(bare.state().queued, 2u);  // a.txt was queued already
  bare.syncer().setPaused(false, false);
  bare.syncer().stop(false);
  bare.syncer().join();
}

TEST_F(EngineStatusTest, EventsRacingStopsAreQueuedOrDropped) {
  BareSyncer bare(user(), tokenKey(), tokenSecret(), {});
  ASSERT_FALSE(platform::files::writeFile(bare.path("busy.txt"), "x"));
  std::atomic<bool> done{false};
  // The monitor's dispatch thread, delivering events at its fastest.
  std::thread events([&] {
    const std::string path = bare.path("busy.txt");
    while (!done) {
      bare.syncer().onPathModified(path.c_str());
      bare.syncer().onPathRenamed(path.c_str(), bare.path("other.txt").c_str());
      bare.syncer().onRescanNeeded(bare.root().c_str());
    }
  });
  for (int i = 0; i < 8; ++i) {
    bare.syncer().start();
    ASSERT_TRUE(waitFor([&] { return bare.state().localScans > 0; }));
    bare.syncer().stop(i % 2 == 0);  // forced stops leave the thread ending
  }
  done = true;
  events.join();
  bare.syncer().join();
  EXPECT_FALSE(bare.syncer().isRunning());
}

TEST_F(EngineStatusTest, ReleaseWaitsForTheThreadAForcedStopLeftEnding) {
  auto pc = computer();
  ASSERT_EQ(pc->start(), 200);
  ASSERT_TRUE(pc->settle());
  ASSERT_EQ(pc->engine()->stopSync(true), 200);
  IVarneloStatus* status = nullptr;
  EXPECT_TRUE(waitFor([&] { return pc->engine()->getStatus(&status) == 404; }));
  // Starting again after a forced stop runs one thread again.
  ASSERT_EQ(pc->start(), 200);
  ASSERT_TRUE(pc->settle());
  ASSERT_EQ(pc->engine()->stopSync(true), 200);
  pc->shutdown();  // release joins the thread that is still ending
  // A watched folder is never reported unwatchable around starts and stops.
  for (const std::string& line : pc->sink().lines()) {
    EXPECT_EQ(line.rfind("result -121", 0), std::string::npos) << line;
  }
}

TEST_F(EngineStatusTest, APeriodicLocalScanFindsChangesNoEventReported) {
  setenv("VARNELO_LOCAL_SCAN_MS", "800", 1);
  BareSyncer bare(user(), tokenKey(), tokenSecret(), {});  // no monitor: no events at all
  bare.syncer().start();
  const bool started = waitFor([&] { return bare.state().converged == 1; });
  unsetenv("VARNELO_LOCAL_SCAN_MS");  // read by the start, after which it is no longer needed
  ASSERT_TRUE(started);
  const uint64_t scans = bare.state().localScans;
  ASSERT_FALSE(platform::files::writeFile(bare.path("unseen.txt"), "no event for this"));
  EXPECT_TRUE(
      waitFor([&] { return remoteTree()["unseen.txt"] == fileEntry("no event for this"); }));
  EXPECT_GT(bare.state().localScans, scans);
}

}  // namespace
}  // namespace varnelo::e2e
