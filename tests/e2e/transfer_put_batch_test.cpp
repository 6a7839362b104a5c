// Small files going up in batches: many files in a few requests, each file
// completed with the result its own small put would have had (a stale base,
// the same content already there, a file written since it was planned, a
// stop), and a second computer receiving exactly what was sent.
#include <algorithm>
#include <chrono>
#include <thread>

#include "SmallUploads.h"
#include "TransferCodes.h"
#include "transfer_harness.h"

using namespace varnelo;
using namespace varnelo::e2e;
namespace files = platform::files;

namespace {

// A computer whose small uploads go through the window, in batches of
// `files` (the service's offer is larger; the engine may take less).
class BatchingPc : public Pc {
 public:
  BatchingPc(const varnelo_credentials* credentials, uint32_t files)
      : Pc(credentials), window_(context(), 4) {
    settings().putBatchFiles = files;
    settings().putBatchBytes = 4 * 1024 * 1024;
    context().setSmallUploads(&window_);
  }
  ~BatchingPc() {
    window_.drain();
    context().setSmallUploads(nullptr);
  }
  uploader::SmallUploads& window() { return window_; }
  // Scan and plan; what is still in the window stays there.
  void plan() { push(); }
  void pushAll() {
    push();
    window_.drain();
  }

 private:
  uploader::SmallUploads window_;
};

std::string name(int i) {
  return "f" + std::to_string(i) + ".txt";
}

}  // namespace

TEST_F(TransferTest, ManySmallFilesGoUpInFewRequestsAndArriveIntact) {
  BatchingPc a(credentials(), 64);
  for (int i = 0; i < 300; ++i)
    ASSERT_TRUE(a.write("many/" + name(i), patternBytes(1 + i * 50, i)));
  ASSERT_TRUE(a.write("many/one-chunk.bin", patternBytes(40000, 9)));  // not a small file
  service().resetCounters();
  a.pushAll();

  EXPECT_EQ(counts("/2/put").requests, 0);
  const int64_t batches = counts("/2/put_batch").requests;
  EXPECT_GE(batches, 5);  // 300 files of at most 64
  EXPECT_LE(batches, 6);
  for (int i = 0; i < 300; ++i) {
    ASSERT_TRUE(a.sink().has("result -108 " + a.path("many/" + name(i)))) << i;
  }
  EXPECT_TRUE(a.sink().has("result 200 " + a.path("many/one-chunk.bin")));
  EXPECT_EQ(remoteTree().size(), 302u) << "the folder and every file";

  // Every file has its journal row: nothing goes up again.
  service().resetCounters();
  a.pushAll();
  EXPECT_EQ(counts("/2/put_batch").requests, 0);

  Pc b(credentials());
  ASSERT_EQ(b.pull(), codes::kOk);
  for (int i = 0; i < 300; i += 7) EXPECT_EQ(b.read("many/" + name(i)), a.read("many/" + name(i)));
}

TEST_F(TransferTest, EachFileOfABatchEndsAsItsOwnSmallPutWould) {
  BatchingPc a(credentials(), 64), b(credentials(), 64);
  for (const char* f : {"stale.txt", "same.txt", "edited.txt", "plain.txt"}) {
    ASSERT_TRUE(a.write(f, std::string("v1 of ") + f));
  }
  a.pushAll();
  ASSERT_EQ(b.pull(), codes::kOk);

  // A moves two files ahead; B then edits both on the old base, one to A's
  // very bytes.
  const platform::FileTime later = platform::currentFileTime() + 20000000;
  a.write("stale.txt", "v2 from A");
  a.write("same.txt", "both wrote this");
  files::setLastWriteTime(a.path("stale.txt"), later);
  files::setLastWriteTime(a.path("same.txt"), later);
  a.pushAll();
  for (const char* f : {"stale.txt", "same.txt", "edited.txt", "plain.txt"}) {
    b.write(f, std::string(f) == "same.txt" ? "both wrote this" : std::string("v2 from B ") + f);
    files::setLastWriteTime(b.path(f), later + 10000000);
  }
  b.plan();
  EXPECT_EQ(b.window().inFlight(), 4u) << "planned, waiting in one batch";
  // Written again after it was planned: its keys no longer hold.
  b.write("edited.txt", "v3 from B, written while queued");
  files::setLastWriteTime(b.path("edited.txt"), later + 20000000);
  service().resetCounters();
  b.window().drain();

  EXPECT_EQ(counts("/2/put_batch").requests, 1);
  EXPECT_EQ(counts("/prepare_put").requests, 0) << "the changed file was never read and sent";
  EXPECT_TRUE(b.sink().has("result 409 " + b.path("stale.txt")));
  EXPECT_TRUE(b.sink().has("result -108 " + b.path("same.txt"))) << "the same bytes: no conflict";
  EXPECT_TRUE(b.sink().has("result -109 " + b.path("edited.txt")));
  EXPECT_TRUE(b.sink().has("result -108 " + b.path("plain.txt")));
  auto tree = remoteTree();
  EXPECT_EQ(a.read("stale.txt"), "v2 from A");
  EXPECT_EQ(tree["home/plain.txt"].substr(0, 4), "1 19") << "\"v2 from B plain.txt\"";
  EXPECT_EQ(tree["home/edited.txt"].substr(0, 4), "1 16") << "the planned bytes never went";

  // The changed file goes up on the next pass, as itself.
  service().resetCounters();
  b.context().retry().takeAll();
  ASSERT_EQ(b.upload("edited.txt"), codes::kOk);
  b.window().drain();
  EXPECT_TRUE(b.sink().has("result -108 " + b.path("edited.txt")));
  EXPECT_EQ(remoteTree()["home/edited.txt"].substr(0, 4), "1 31");
}

TEST_F(TransferTest, AStopBeforeABatchLeavesSendsNothing) {
  BatchingPc a(credentials(), 64);
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(a.write(name(i), patternBytes(100, i)));
  a.plan();
  ASSERT_EQ(a.window().inFlight(), 10u);
  service().resetCounters();
  a.context().setPaused(true);
  a.window().drain();
  for (int i = 0; i < 10; ++i) EXPECT_TRUE(a.sink().has("result -103 " + a.path(name(i)))) << i;
  EXPECT_EQ(counts("/2/put_batch").requests, 0);
  EXPECT_TRUE(remoteTree().size() <= 1u) << "nothing but the home folder";

  a.context().setPaused(false);
  a.pushAll();
  EXPECT_EQ(counts("/2/put_batch").requests, 1);
  EXPECT_EQ(remoteTree().size(), 10u + (remoteTree().count("home") ? 1u : 0u));
}

TEST_F(TransferTest, AStopEndsABatchTheServiceHoldsBack) {
  BatchingPc a(credentials(), 64);
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(a.write(name(i), patternBytes(100, i)));
  a.plan();
  ASSERT_TRUE(service().setFaults("/2/put_batch:delay=1,delayMs=30000"));
  service().resetCounters();
  std::thread stopper([&] {
    for (int i = 0; i < 2000 && counts("/2/put_batch").requests == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));  // polling the service
    a.context().setPaused(true);
  });
  const auto start = std::chrono::steady_clock::now();
  a.window().drain();
  const auto waited = std::chrono::steady_clock::now() - start;
  stopper.join();
  for (int i = 0; i < 10; ++i) EXPECT_TRUE(a.sink().has("result -103 " + a.path(name(i)))) << i;
  // Not the service's 30 s: the transfer ended when the stop came.
  EXPECT_LT(waited, std::chrono::seconds(15));
  a.context().setPaused(false);
}
