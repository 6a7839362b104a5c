// The terminal status line and the decision that ends `sync --once`.
#include <gtest/gtest.h>

#include "SyncProgress.h"

namespace varnelo::cli {
namespace {

TEST(StatusLineTest, ShowsStateFilePercentAndSpeeds) {
  ProgressSnapshot s;
  s.engineState = 1;
  s.currentFile = "photos/a.jpg";
  s.currentTotal = 200;
  s.currentDone = 90;
  s.uploadSpeed = 1536 * 1024;
  s.uploaded = 12;
  s.downloaded = 3;
  s.failed = 1;
  EXPECT_EQ(formatStatusLine(s, 200),
            "uploading  photos/a.jpg 45%  up 1.5 MiB/s  down 0 B/s  | 12 up, 3 down, 1 failed");
}

TEST(StatusLineTest, LongNamesKeepTheirEndAndWholeCharacters) {
  ProgressSnapshot s;
  s.engineState = 2;
  s.currentFile = std::string(50, 'x') + "\xC3\xA9" + "nd.bin";  // "é" before the end
  s.currentTotal = 0;
  // 64 columns leave the name 10: "..." and 7 bytes, which would start
  // inside the two-byte "é"; the cut moves past it instead.
  std::string line = formatStatusLine(s, 64);
  EXPECT_EQ(line, "downloading  ...nd.bin 0%  up 0 B/s  down 0 B/s  | 0 up, 0 down");
  EXPECT_EQ(formatStatusLine(s, 20).size(), 20u);
}

TEST(StatusLineTest, InStepAndPaused) {
  ProgressSnapshot s;
  s.inStep = true;
  s.currentFile = "stale.txt";  // a finished transfer's name is not shown
  EXPECT_EQ(formatStatusLine(s, 200).rfind("in step  up", 0), 0u);
  s.engineState = 4;
  EXPECT_EQ(formatStatusLine(s, 200).rfind("paused", 0), 0u);
  EXPECT_EQ(formatBytes(1023), "1023 B");
  EXPECT_EQ(formatBytes(4096), "4.0 KiB");
  EXPECT_EQ(formatBytes(uint64_t{3} << 30), "3.0 GiB");
}

varnelo_sync_state roundDone() {
  varnelo_sync_state s{};
  s.running = 1;
  s.localScans = 1;
  s.remotePasses = 1;
  return s;
}

TEST(OnceProgressTest, WaitsForAFullRoundWithNothingLeft) {
  varnelo_sync_state s = roundDone();
  s.converged = 1;
  EXPECT_EQ(onceProgress(s, false), OnceProgress::InStep);

  s = roundDone();
  s.remotePasses = 0;
  EXPECT_EQ(onceProgress(s, false), OnceProgress::Working);
  s.retrying = 2;
  EXPECT_EQ(onceProgress(s, false), OnceProgress::Working) << "no remote pass yet";
  EXPECT_EQ(onceProgress(s, true), OnceProgress::Stuck) << "upload only needs no remote pass";

  s = roundDone();
  s.retrying = 1;
  s.queued = 1;
  EXPECT_EQ(onceProgress(s, false), OnceProgress::Working) << "queued work comes first";
  s.queued = 0;
  s.inFlight = 1;
  EXPECT_EQ(onceProgress(s, false), OnceProgress::Working);
  s.inFlight = 0;
  EXPECT_EQ(onceProgress(s, false), OnceProgress::Stuck);
  s.paused = 1;
  EXPECT_EQ(onceProgress(s, false), OnceProgress::Working);
}

}  // namespace
}  // namespace varnelo::cli
