// Placing a finished download: a free name is taken only while it is free,
// and a file is replaced only while it is what the engine saw there. An edit
// that lands after the engine's last look (here: before the call) keeps its
// name, and the download stays in its part file for the next try.
#include "PlaceFile.h"

#include <gtest/gtest.h>

#include "TempDir.h"

namespace varnelo::downloader {
namespace {

namespace files = platform::files;

class PlaceFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(files::createDirectories(dir_ / "temp"));
    ASSERT_FALSE(files::createDirectories(dir_ / "sync"));
    ASSERT_FALSE(files::writeFile(part_, "the remote version"));
    ASSERT_FALSE(files::stat(part_, partState_));
  }
  std::string read(const std::string& path) {
    std::string out;
    files::readFile(path, out);
    return out;
  }
  files::EntryInfo stateOf(const std::string& path) {
    files::EntryInfo info;
    files::stat(path, info);
    return info;
  }
  // Entries in the target's folder: the target alone, or a leftover too.
  size_t entriesBesideTarget() {
    std::vector<files::DirEntry> entries;
    files::listDirectory(dir_ / "sync", entries);
    return entries.size();
  }

  test::TempDir dir_;
  const std::string part_ = dir_ / "temp/a.part";
  const std::string target_ = dir_ / "sync/a.txt";
  files::EntryInfo partState_;
};

TEST_F(PlaceFileTest, AFreeNameIsTakenOnlyWhileItIsFree) {
  Placement out;
  ASSERT_FALSE(placeFile(part_, target_, {}, std::nullopt, out));
  EXPECT_EQ(read(target_), "the remote version");
  EXPECT_FALSE(files::exists(part_));
  EXPECT_TRUE(sameState(out.placed, partState_));

  ASSERT_FALSE(files::writeFile(part_, "another remote version"));
  EXPECT_EQ(placeFile(part_, target_, {}, std::nullopt, out), std::errc::file_exists);
  EXPECT_EQ(read(target_), "the remote version");
  EXPECT_EQ(read(part_), "another remote version");
}

TEST_F(PlaceFileTest, TheFileSeenThereIsReplacedAndNothingIsLeftBeside) {
  ASSERT_FALSE(files::writeFile(target_, "the synced version"));
  const files::EntryInfo seen = stateOf(target_);
  Placement out;
  ASSERT_FALSE(placeFile(part_, target_, seen, std::nullopt, out));
  EXPECT_EQ(read(target_), "the remote version");
  EXPECT_FALSE(files::exists(part_)) << "the replaced version must not stay in the part file";
  EXPECT_EQ(entriesBesideTarget(), 1u);
  EXPECT_TRUE(out.keptCopy.empty());
  EXPECT_TRUE(sameState(out.placed, partState_));
}

TEST_F(PlaceFileTest, AFileChangedSinceTheEngineLookedKeepsItsNameAndTheDownloadWaits) {
  ASSERT_FALSE(files::writeFile(target_, "the synced version"));
  const files::EntryInfo seen = stateOf(target_);
  ASSERT_FALSE(files::writeFile(target_, "the user's edit, made just now"));
  Placement out;
  EXPECT_EQ(placeFile(part_, target_, seen, std::nullopt, out), std::errc::file_exists);
  EXPECT_EQ(read(target_), "the user's edit, made just now");
  EXPECT_EQ(read(part_), "the remote version") << "the download is kept for the next try";
  EXPECT_EQ(entriesBesideTarget(), 1u);

  // Gone since the engine looked: the name is free again and taken.
  ASSERT_FALSE(files::removeFile(target_));
  ASSERT_FALSE(placeFile(part_, target_, seen, std::nullopt, out));
  EXPECT_EQ(read(target_), "the remote version");
}

// Another file put at the name (an atomic save, a copy that kept its
// times) is not the one the engine saw, even with its size and time.
TEST_F(PlaceFileTest, AnotherFileOfTheSameSizeAndTimeKeepsItsName) {
  ASSERT_FALSE(files::writeFile(target_, "the synced version"));
  const files::EntryInfo seen = stateOf(target_);
  const std::string copy = dir_ / "sync/.copy";
  ASSERT_FALSE(files::writeFile(copy, "THE SYNCED VERSION"));
  ASSERT_FALSE(files::setLastWriteTime(copy, seen.lastWrite));
  ASSERT_FALSE(files::rename(copy, target_));
  ASSERT_TRUE(sameState(stateOf(target_), seen));
  Placement out;
  EXPECT_EQ(placeFile(part_, target_, seen, std::nullopt, out), std::errc::file_exists);
  EXPECT_EQ(read(target_), "THE SYNCED VERSION");
  EXPECT_EQ(read(part_), "the remote version");
}

}  // namespace
}  // namespace varnelo::downloader
