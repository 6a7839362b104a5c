// The sync folder's identity: adopted on the first sync, then compared by
// device, inode and marker.
#include <gtest/gtest.h>

#include "SyncRoot.h"
#include "TempDir.h"
#include "platform/files.h"

namespace varnelo::sync {
namespace {

namespace files = platform::files;

const auto kKnowsNothing = [](const std::string&) { return false; };

TEST(SyncRoot, AdoptedOnceThenAnyReplacementOrLostMarkerIsUnavailable) {
  test::TempDir dir;
  const std::string root = dir / "Sync";
  const std::string record = dir / "root.id";
  ASSERT_FALSE(files::createDirectory(root));
  {
    SyncRoot first(root, record);
    EXPECT_EQ(first.begin(/*neverSynced=*/true, kKnowsNothing), RootState::Available);
    EXPECT_TRUE(first.available());
  }
  // A later run compares with the record.
  SyncRoot later(root, record);
  EXPECT_EQ(later.begin(false, kKnowsNothing), RootState::Available);

  // Another folder at the path (an empty mount point): a copied marker does
  // not make it the same folder.
  std::string marker;
  ASSERT_FALSE(files::readFile(root + "/" + SyncRoot::kMarkerName, marker));
  ASSERT_FALSE(files::rename(root, root + ".away"));
  ASSERT_FALSE(files::createDirectory(root));
  ASSERT_FALSE(files::writeFile(root + "/" + SyncRoot::kMarkerName, marker));
  EXPECT_EQ(later.check(), RootState::Unavailable);
  EXPECT_FALSE(later.available());
  ASSERT_FALSE(files::removeTree(root));
  EXPECT_EQ(later.check(), RootState::Missing);
  ASSERT_FALSE(files::rename(root + ".away", root));
  EXPECT_EQ(later.check(), RootState::Available);

  // Same folder, marker gone or changed.
  ASSERT_FALSE(files::writeFile(root + "/" + SyncRoot::kMarkerName, "someone-else\n"));
  EXPECT_EQ(later.check(), RootState::Unavailable);
  ASSERT_FALSE(files::removeFile(root + "/" + SyncRoot::kMarkerName));
  EXPECT_EQ(later.check(), RootState::Unavailable);

  // Adopting the folder as it is now (nothing synced any more) is the way on.
  SyncRoot adopted(root, record);
  EXPECT_EQ(adopted.begin(true, kKnowsNothing), RootState::Available);
  EXPECT_EQ(later.check(), RootState::Unavailable) << "the old record was replaced";
}

// The identity-only check sees every replacement of the folder itself, and
// by design not a marker changed inside it: that one is left to check().
TEST(SyncRoot, TheIdentityCheckSeesAnotherFolderButLeavesTheMarkerToTheFullCheck) {
  test::TempDir dir;
  const std::string root = dir / "Sync";
  ASSERT_FALSE(files::createDirectory(root));
  SyncRoot first(root, dir / "root.id");
  ASSERT_EQ(first.begin(true, kKnowsNothing), RootState::Available);
  SyncRoot later(root, dir / "root.id");
  ASSERT_EQ(later.begin(false, kKnowsNothing), RootState::Available);

  ASSERT_FALSE(files::rename(root, root + ".away"));
  EXPECT_EQ(later.sameFolder(), RootState::Missing);
  EXPECT_FALSE(later.available());
  ASSERT_FALSE(files::createDirectory(root));
  EXPECT_EQ(later.sameFolder(), RootState::Unavailable) << "an empty mount point in its place";
  ASSERT_FALSE(files::removeDirectory(root));
  ASSERT_FALSE(files::rename(root + ".away", root));
  EXPECT_EQ(later.sameFolder(), RootState::Available);
  EXPECT_TRUE(later.available());

  std::string marker;
  ASSERT_FALSE(files::readFile(root + "/" + SyncRoot::kMarkerName, marker));
  ASSERT_FALSE(files::writeFile(root + "/" + SyncRoot::kMarkerName, "someone-else\n"));
  EXPECT_EQ(later.sameFolder(), RootState::Available);
  EXPECT_EQ(later.check(), RootState::Unavailable);
  // Once held for its marker, the folder is not declared back without it.
  EXPECT_EQ(later.sameFolder(), RootState::Unavailable);
  EXPECT_FALSE(later.available());
  ASSERT_FALSE(files::writeFile(root + "/" + SyncRoot::kMarkerName, marker));
  EXPECT_EQ(later.sameFolder(), RootState::Available);

  // Nothing recorded yet (the disk was not there when the run began): the
  // folder is identified as check() would, marker included.
  test::TempDir other;
  const std::string late = other / "Sync";
  SyncRoot notYet(late, other / "root.id");
  EXPECT_EQ(notYet.begin(true, kKnowsNothing), RootState::Missing);
  ASSERT_FALSE(files::createDirectory(late));
  EXPECT_EQ(notYet.sameFolder(), RootState::Available);
  EXPECT_TRUE(files::isRegularFile(late + "/" + SyncRoot::kMarkerName));
}

TEST(SyncRoot, AFirstSyncBeforeTheDiskIsMountedAdoptsItOnceItIsThere) {
  test::TempDir dir;
  const std::string root = dir / "Sync";
  SyncRoot first(root, dir / "root.id");
  EXPECT_EQ(first.begin(true, kKnowsNothing), RootState::Missing);
  EXPECT_FALSE(files::exists(root)) << "never made by the engine";
  ASSERT_FALSE(files::createDirectory(root));
  EXPECT_EQ(first.check(), RootState::Available);
  EXPECT_TRUE(files::isRegularFile(root + "/" + SyncRoot::kMarkerName));
}

TEST(SyncRoot, AJournalFromBeforeRecordsAdoptsOnlyAFolderHoldingWhatItKnows) {
  test::TempDir dir;
  const std::string root = dir / "Sync";
  ASSERT_FALSE(files::createDirectory(root));
  auto knowsDocs = [](const std::string& key) { return key == "docs"; };
  SyncRoot empty(root, dir / "root.id");
  EXPECT_EQ(empty.begin(false, knowsDocs), RootState::Unavailable);
  ASSERT_FALSE(files::createDirectory(root + "/Docs"));
  SyncRoot known(root, dir / "root.id");
  EXPECT_EQ(known.begin(false, knowsDocs), RootState::Available);
  EXPECT_TRUE(files::isRegularFile(root + "/" + SyncRoot::kMarkerName));
}

}  // namespace
}  // namespace varnelo::sync
