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
// noted; another file at its name, or any change to its size, its time or
// its kind makes it a change.
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

  // Another file put at the name, of the same size and time.
  const std::string copy = dir / "copy";
  ASSERT_FALSE(files::writeFile(copy, "placed"));
  ASSERT_FALSE(files::setLastWriteTime(copy, 133000000000000000ULL));
  ASSERT_FALSE(files::rename(copy, path));
  EXPECT_FALSE(placed.holdsAsPlaced(path)) << "not the file placed";
  placed.note(path, stateOf(path));
  EXPECT_TRUE(placed.holdsAsPlaced(path));

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

// A monitor running behind finds the latest files it reports on; only what
// was placed long before is forgotten and goes on as a change.
TEST(PlacedFiles, BeyondItsLimitTheOldestAreForgottenAndGoOnAsAChange) {
  TempDir dir;
  const std::string first = dir / "first", later = dir / "later";
  ASSERT_FALSE(files::writeFile(first, "placed"));
  ASSERT_FALSE(files::writeFile(later, "placed later"));
  PlacedFiles placed;
  placed.note(first, stateOf(first));
  auto noteOthers = [&](size_t n, const std::string& tag) {
    for (size_t i = 0; i < n; ++i) placed.note(dir / (tag + std::to_string(i)), {});
  };
  noteOthers(PlacedFiles::kLimit / 2 - 1, "a");
  placed.note(later, stateOf(later));
  noteOthers(PlacedFiles::kLimit / 2 - 1, "b");
  EXPECT_TRUE(placed.holdsAsPlaced(first)) << "within the limit";
  EXPECT_TRUE(placed.holdsAsPlaced(later));
  noteOthers(PlacedFiles::kLimit / 2, "c");
  EXPECT_FALSE(placed.holdsAsPlaced(first)) << "the oldest half is forgotten";
  EXPECT_TRUE(placed.holdsAsPlaced(later)) << "the newer half is not";
}
