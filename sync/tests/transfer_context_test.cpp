// The sync context's completion reports and the remote pass's folder-job
// completion counting.
#include <gtest/gtest.h>

#include <map>
#include <thread>
#include <vector>

#include "Context.h"
#include "FolderJob.h"
#include "TempDir.h"
#include "TransferCallback.h"
#include "TransferCodes.h"
#include "TransferGroup.h"
#include "platform/files.h"
#include "varnelo/IVarneloEvent.h"

using namespace varnelo;

namespace {

class RecordingSink : public IVarneloEvent {
 public:
  void downloaded(const char* p) override { log.push_back("downloaded " + std::string(p)); }
  void uploaded(const char* p) override { log.push_back("uploaded " + std::string(p)); }
  void statusChanged(int32_t s) override { log.push_back("state " + std::to_string(s)); }
  void fileStateChanged(const char* p, int32_t s) override {
    log.push_back("file " + std::string(p) + " " + std::to_string(s));
  }
  void result(int32_t code, const char* p) override {
    log.push_back("result " + std::to_string(code) + " " + (p ? p : "-"));
  }
  std::vector<std::string> log;
};

struct ContextFixture : ::testing::Test {
  ContextFixture() {
    Context::Setup setup;
    setup.settings = &settings;
    setup.localRoot = dir.path();
    setup.sink = &sink;
    ctx = std::make_unique<Context>(std::move(setup));
  }
  test::TempDir dir;
  SyncSettings settings;
  RecordingSink sink;
  std::unique_ptr<Context> ctx;
};

}  // namespace

TEST_F(ContextFixture, UploadReportsAndEngineStateFollowTheInFlightCount) {
  ctx->uploadStarted("/s/a");
  ctx->uploadStarted("/s/b");
  ctx->uploadDone(codes::kOk, "/s/a");
  ctx->uploadDone(codes::kUnchanged, "/s/b");
  EXPECT_EQ(sink.log, (std::vector<std::string>{"state 1", "file /s/a 1", "file /s/b 1",
                                                "uploaded /s/a", "file /s/a 0", "result 200 /s/a",
                                                "file /s/b 0", "result -108 /s/b", "state 0"}));
  EXPECT_EQ(ctx->uploadsInFlight(), 0);
}

TEST_F(ContextFixture, FailedUploadsAreRetriedOnlyWhileThePathExists) {
  const std::string there = dir / "there.txt";
  ASSERT_FALSE(platform::files::writeFile(there, "x"));
  ctx->uploadStarted(there);
  ctx->uploadDone(500, there);
  ctx->uploadStarted(dir / "gone.txt");
  ctx->uploadDone(500, dir / "gone.txt");
  ctx->uploadStarted(there);
  ctx->uploadDone(codes::kConflict, there);  // a conflict is not retried
  EXPECT_EQ(ctx->retry().takeAll(), std::vector<std::string>{there});
  EXPECT_NE(std::find(sink.log.begin(), sink.log.end(), "file " + there + " 256"), sink.log.end());
  EXPECT_NE(std::find(sink.log.begin(), sink.log.end(), "file " + there + " 16"), sink.log.end());

  // While paused nothing is queued, and the idle report says paused.
  ctx->setPaused(true);
  ctx->uploadStarted(there);
  ctx->uploadDone(500, there);
  EXPECT_TRUE(ctx->retry().empty());
  EXPECT_EQ(sink.log.back(), "state 4");
}

TEST_F(ContextFixture, UnreadableFileIsReportedInUseWithMinus109) {
  const std::string locked = dir / "locked.txt";
  ASSERT_FALSE(platform::files::writeFile(locked, "x", 0000));
  if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
  ctx->uploadStarted(locked);
  ctx->uploadDone(codes::kLocalFailure, locked);
  EXPECT_NE(std::find(sink.log.begin(), sink.log.end(), "file " + locked + " 4"), sink.log.end());
  EXPECT_NE(std::find(sink.log.begin(), sink.log.end(), "result -109 " + locked), sink.log.end());
}

TEST_F(ContextFixture, DownloadReports) {
  ctx->downloadStarted("/s/a");
  ctx->downloadDone(codes::kReplacedLocal, "/s/a");
  ctx->downloadStarted("/s/b");
  ctx->downloadDone(codes::kConflict, "/s/b");
  EXPECT_EQ(sink.log, (std::vector<std::string>{"state 2", "file /s/a 2", "result -111 /s/a",
                                                "file /s/a 0", "state 0", "state 2", "file /s/b 2",
                                                "result 409 /s/b", "file /s/b 16", "state 0"}));
}

TEST_F(ContextFixture, APathRefusedLastIsReportedInStepOnceWhenItTakesPart) {
  ctx->reportResult(codes::kUnsupported, "/s/Twin");
  ctx->reportResult(codes::kUnsupported, "/s/later-ok");
  ctx->uploadStarted("/s/later-ok");
  ctx->uploadDone(codes::kOk, "/s/later-ok");  // its latest report is in step already
  sink.log.clear();
  ctx->takesPart("/s/Twin");
  ctx->takesPart("/s/Twin");
  ctx->takesPart("/s/later-ok");
  ctx->takesPart("/s/never-refused");
  EXPECT_EQ(sink.log, (std::vector<std::string>{"file /s/Twin 0", "result 200 /s/Twin"}));

  // Refused again (by a transfer's own report too), it is reported again.
  ctx->downloadStarted("/s/Twin");
  ctx->downloadDone(codes::kUnsupported, "/s/Twin");
  sink.log.clear();
  ctx->takesPart("/s/Twin");
  EXPECT_EQ(sink.log, (std::vector<std::string>{"file /s/Twin 0", "result 200 /s/Twin"}));
}

namespace {

struct JobRecorder {
  FolderJobHooks hooks;
  std::vector<std::string> written;
  bool stopping = false;
  JobRecorder() {
    hooks.stopping = [this] { return stopping; };
    hooks.writeSignature = [this](const std::string& p, const Signature&) { written.push_back(p); };
  }
};

}  // namespace

TEST(FolderJob, SignaturesAreWrittenBottomUpOnlyWhenEverythingBelowSucceeded) {
  JobRecorder rec;
  Signature sig{};
  auto root = FolderJob::make("home", std::nullopt, nullptr, &rec.hooks);
  auto a = FolderJob::make("home/a", sig, root, &rec.hooks);
  auto b = FolderJob::make("home/a/b", sig, a, &rec.hooks);
  auto c = FolderJob::make("home/c", sig, root, &rec.hooks);
  a->schedule();  // a download in home/a
  b->schedule();  // two downloads in home/a/b
  b->schedule();
  c->schedule();

  for (auto& job : {root, a, b, c}) job->finish(true);  // listings done
  EXPECT_TRUE(rec.written.empty());
  b->finish(true);
  b->finish(true);
  EXPECT_EQ(rec.written, std::vector<std::string>{"home/a/b"});
  a->finish(true);
  EXPECT_EQ(rec.written, (std::vector<std::string>{"home/a/b", "home/a"}));
  EXPECT_FALSE(root->complete());
  c->finish(false);  // a failure in home/c
  EXPECT_EQ(rec.written.size(), 2u);
  EXPECT_TRUE(c->failed());
  EXPECT_TRUE(root->complete());
  EXPECT_TRUE(root->failed());
}

TEST(FolderJob, NothingIsWrittenWhileStoppingOrForTheRoot) {
  JobRecorder rec;
  auto root = FolderJob::make("home", std::nullopt, nullptr, &rec.hooks);
  auto a = FolderJob::make("home/a", Signature{}, root, &rec.hooks);
  root->finish(true);
  EXPECT_FALSE(root->complete());
  rec.stopping = true;
  a->finish(true);
  EXPECT_TRUE(root->complete());
  EXPECT_TRUE(rec.written.empty());
}

TEST_F(ContextFixture, TransferProgressFeedsThePerThreadMetersAndTheCurrentRecord) {
  class Callback final : public TransferCallback {
   public:
    using TransferCallback::TransferCallback;
  };
  Callback cb(*ctx, ctx->downloadMeters(), "/s/big.bin");
  cb.start(3000);
  const uint64_t second = 10000000ULL;
  const uint64_t base = platform::currentFileTime() / second * second;
  auto worker = [&] {
    cb.progress(base - 2 * second, 0);
    cb.progress(base - second, 1000);
    cb.progress(base, 1000);
  };
  std::thread t1(worker), t2(worker);
  t1.join();
  t2.join();
  // Each thread measured 2000 bytes over one second; the set sums them.
  EXPECT_EQ(ctx->downloadMeters().speed(static_cast<int64_t>(base / second)), 4000u);
  auto snap = ctx->current().snapshot();
  EXPECT_EQ(snap.name, "/s/big.bin");
  EXPECT_EQ(snap.total, 3000u);
  EXPECT_EQ(snap.done, 4000u);
  cb.progress(0, -1000);  // a failed attempt rolls its bytes back, no sample
  EXPECT_EQ(ctx->current().snapshot().done, 3000u);
  EXPECT_FALSE(cb.isStopping());
  ctx->setPaused(true);
  EXPECT_TRUE(cb.isStopping());
}

TEST(TransferGroup, TheLastTaskWakesTheWaiterWithTheFinalFailureCount) {
  for (int round = 0; round < 50; ++round) {
    auto group = std::make_unique<TransferGroup>();
    for (int i = 0; i < 8; ++i) group->addPending();
    std::vector<std::thread> tasks;
    for (int i = 0; i < 8; ++i) tasks.emplace_back([&, i] { group->taskFinished(i % 3 != 0); });
    group->wait();
    EXPECT_EQ(group->failures.load(), 3);
    group.reset();  // the waiter may free the group as soon as it wakes
    for (auto& t : tasks) t.join();
  }
}
