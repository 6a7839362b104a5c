#include "PlacedFiles.h"

#include <gtest/gtest.h>

#include "TempDir.h"

using varnelo::PlacedFiles;
using varnelo::test::TempDir;
namespace files = platform::files;

namespace {

files::EntryInfo stateOf(const std::string& path) {
  files::EntryInfo info;
  files::stat(path, info);
  return info;
}

}  // namespace

// A placed file is known as such only while a stat still gives what was
// noted; any change to its size, its time or its kind makes it a change.
TEST(PlacedFiles, AFileIsAsPlacedOnlyWhileNothingAboutItChanged) {
  TempDir dir;
  const std::string path = dir / "f.txt";
  ASSERT_FALSE(files::writeFile(path, "placed"));
  ASSERT_FALSE(files::setLastWriteTime(path, 133000000000000000ULL));
  PlacedFiles placed;
  EXPECT_FALSE(placed.holdsAsPlaced(path)) << "never noted";
  placed.note(path, stateOf(path));
  EXPECT_TRUE(placed.holdsAsPlaced(path));
  EXPECT_TRUE(placed.holdsAsPlaced(path)) << "asking does not use the note up";

  // The same size written again: only the time tells, and it does.
  ASSERT_FALSE(files::writeFile(path, "edited"));
  EXPECT_FALSE(placed.holdsAsPlaced(path));
  // Back to the noted time, but of another size.
  ASSERT_FALSE(files::writeFile(path, "edited, longer"));
  ASSERT_FALSE(files::setLastWriteTime(path, 133000000000000000ULL));
  EXPECT_FALSE(placed.holdsAsPlaced(path));
  // Gone, or a folder where the file was.
  ASSERT_FALSE(files::removeFile(path));
  EXPECT_FALSE(placed.holdsAsPlaced(path));
  ASSERT_FALSE(files::createDirectories(path));
  EXPECT_FALSE(placed.holdsAsPlaced(path));
}

TEST(PlacedFiles, BeyondItsLimitEverythingIsForgottenAndGoesOnAsAChange) {
  TempDir dir;
  const std::string path = dir / "f.txt";
  ASSERT_FALSE(files::writeFile(path, "placed"));
  PlacedFiles placed;
  placed.note(path, stateOf(path));
  for (size_t i = 1; i < PlacedFiles::kLimit; ++i) placed.note(dir / std::to_string(i), {});
  EXPECT_TRUE(placed.holdsAsPlaced(path));
  placed.note(dir / "one more", {});
  EXPECT_FALSE(placed.holdsAsPlaced(path));
}
