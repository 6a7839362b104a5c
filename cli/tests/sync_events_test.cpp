// What the sync command counts and prints from the engine's reports.
#include <gtest/gtest.h>

#include "Messages.h"
#include "SyncEvents.h"
#include "TempFolder.h"
#include "platform/files.h"

namespace varnelo::cli {
namespace {

namespace files = platform::files;

// The reports of one file's download, and of the engine's later look at it
// (or a small file's upload): both end "unchanged".
void downloaded(SyncEvents& events, const std::string& file) {
  events.fileStateChanged(file.c_str(), kFileDownloading);
  events.result(200, file.c_str());
}
void unchangedUpload(SyncEvents& events, const std::string& file) {
  events.fileStateChanged(file.c_str(), kFileUploading);
  events.result(-108, file.c_str());
}

TEST(SyncEventsTest, TheCheckOfAFileThisRunPlacedIsNoUploadButAnEditOfItIs) {
  TempFolder dir;
  SyncEvents events(dir.path());
  const std::string file = dir / "a.txt";
  ASSERT_FALSE(files::writeFile(file, "from the service"));

  downloaded(events, file);
  unchangedUpload(events, file);  // the engine's look at the placed file
  EXPECT_EQ(events.downloadedCount(), 1u);
  EXPECT_EQ(events.uploadedCount(), 0u);
  EXPECT_EQ(events.takeLines(), std::vector<std::string>{"down a.txt"});

  // Edited afterwards, it goes up as a small file, also ending in -108.
  ASSERT_FALSE(files::writeFile(file, "edited here, and longer"));
  unchangedUpload(events, file);
  EXPECT_EQ(events.uploadedCount(), 1u);
  EXPECT_EQ(events.takeLines(), std::vector<std::string>{"up   a.txt"});
}

TEST(SyncEventsTest, AnEditRightAfterTheDownloadStillCountsAsAnUpload) {
  TempFolder dir;
  SyncEvents events(dir.path());
  const std::string file = dir / "b.txt";
  ASSERT_FALSE(files::writeFile(file, "from the service"));
  downloaded(events, file);
  ASSERT_FALSE(files::writeFile(file, "changed before the engine looked"));
  unchangedUpload(events, file);
  EXPECT_EQ(events.uploadedCount(), 1u);
}

// Only the latest placements are kept for telling echoes; a name placed
// again keeps its newer record when its older one is forgotten.
TEST(SyncEventsTest, AFilePlacedAgainIsStillKnownOnceItsFirstPlacementIsForgotten) {
  TempFolder dir;
  SyncEvents events(dir.path());
  const std::string file = dir / "a.txt", other = dir / "other.txt";
  ASSERT_FALSE(files::writeFile(file, "from the service"));
  ASSERT_FALSE(files::writeFile(other, "another download"));
  downloaded(events, file);
  downloaded(events, file);
  for (int i = 0; i < 16383; ++i) downloaded(events, other);
  unchangedUpload(events, file);
  EXPECT_EQ(events.uploadedCount(), 0u);
}

TEST(SyncEventsTest, FailuresListOnlyPathsWhoseLatestResultFailed) {
  TempFolder dir;
  SyncEvents events(dir.path());
  const std::string retried = dir / "retried.txt", stuck = dir / "stuck.txt";
  events.result(-109, retried.c_str());
  events.result(-109, stuck.c_str());
  events.result(200, retried.c_str());
  events.result(409, stuck.c_str());
  events.result(-4, nullptr);
  for (int i = 0; i < 100; ++i) events.result(200, (dir / ("ok" + std::to_string(i))).c_str());
  EXPECT_EQ(events.failures(),
            (std::vector<std::string>{"(sync): " + reason(-4), "stuck.txt: " + reason(409)}));
}

}  // namespace
}  // namespace varnelo::cli
