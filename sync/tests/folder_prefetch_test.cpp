#include "FolderPrefetch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "SyncFilter.h"
#include "TempDir.h"
#include "platform/files.h"

namespace files = platform::files;
using varnelo::FolderPrefetch;
using varnelo::sync::SyncFilter;
using varnelo::test::TempDir;

namespace {

std::set<std::string> namesOf(const std::vector<files::DirEntry>& entries) {
  std::set<std::string> names;
  for (const auto& e : entries) names.insert(e.name);
  return names;
}

void makeFolder(const std::string& path) {
  ASSERT_FALSE(files::createDirectories(path)) << path;
}

void makeFile(const std::string& path) {
  ASSERT_FALSE(files::writeFile(path, "x")) << path;
}

}  // namespace

TEST(FolderPrefetch, WalkOrderIsDepthFirstBySiblingNameWithoutCase) {
  EXPECT_TRUE(FolderPrefetch::walksBefore("/r", "/r/a"));
  EXPECT_FALSE(FolderPrefetch::walksBefore("/r/a", "/r"));
  EXPECT_TRUE(FolderPrefetch::walksBefore("/r/a/z", "/r/B"));
  EXPECT_TRUE(FolderPrefetch::walksBefore("/r/B", "/r/c"));
  EXPECT_TRUE(FolderPrefetch::walksBefore("/r/A", "/r/a"));  // twins: by name
  EXPECT_TRUE(FolderPrefetch::walksBefore("/r/ab", "/r/ab/c"));
  EXPECT_TRUE(FolderPrefetch::walksBefore("/r/a", "/r/a-b"));
  EXPECT_FALSE(FolderPrefetch::walksBefore("/r/a", "/r/a"));
}

// The scan enters the folders in its order, passes over some and asks for
// some that the reader never enters; every answer is either the folder's
// own entries or nothing, never another folder's.
TEST(FolderPrefetch, ListingsComeInWalkOrderAndPassedOverFoldersAreDropped) {
  TempDir root;
  SyncFilter filter;
  filter.setFolders(root.path(), {"home/Skip"});
  for (const char* folder : {"a/x", "a/y", "B/z", "c", ".git/objects", "Skip/deep", "e"})
    makeFolder(root / folder);
  for (const char* file : {"a/1", "a/x/2", "B/3", "B/z/4", "c/5", ".git/objects/6", "e/7"})
    makeFile(root / file);

  FolderPrefetch ahead(root.path(), filter);
  auto top = ahead.take(root.path());
  ASSERT_TRUE(top);
  EXPECT_EQ(namesOf(*top), (std::set<std::string>{"a", "B", "c", ".git", "Skip", "e"}));
  // Dot folders are not read ahead: the scan lists one itself, and what
  // comes after it is still there.
  EXPECT_FALSE(ahead.take(root / ".git"));
  auto a = ahead.take(root / "a");
  ASSERT_TRUE(a);
  EXPECT_EQ(namesOf(*a), (std::set<std::string>{"1", "x", "y"}));
  // a/x and a/y are passed over; B/z comes after B.
  auto b = ahead.take(root / "B");
  ASSERT_TRUE(b);
  EXPECT_EQ(namesOf(*b), (std::set<std::string>{"3", "z"}));
  auto e = ahead.take(root / "e");  // B/z and c passed over
  ASSERT_TRUE(e);
  EXPECT_EQ(namesOf(*e), (std::set<std::string>{"7"}));
  // Nor are excluded folders.
  EXPECT_FALSE(ahead.take(root / "Skip"));
  // Asked out of order, or past the end: nothing, at once.
  EXPECT_FALSE(ahead.take(root / "c"));
  EXPECT_FALSE(ahead.take(root / "zz"));
}

// More folders than the reader holds at once: a scan that enters only some
// of them still gets each one's own listing, and one that stops early
// leaves a reader that ends with it.
TEST(FolderPrefetch, ATreeLargerThanTheBoundIsReadAsTheScanGoes) {
  TempDir root;
  SyncFilter filter;
  filter.setFolders(root.path(), {});
  std::vector<std::string> folders;
  const size_t count = FolderPrefetch::kMaxFolders * 2 + 7;
  for (size_t i = 0; i < count; ++i) {
    char name[16];
    snprintf(name, sizeof name, "f%04zu", i);
    folders.push_back(root / name);
    makeFolder(folders.back());
    makeFile(files::joinPath(folders.back(), name));
  }
  {
    FolderPrefetch ahead(root.path(), filter);
    ASSERT_TRUE(ahead.take(root.path()));
    for (size_t i = 0; i < count; i += 3) {
      auto listed = ahead.take(folders[i]);
      ASSERT_TRUE(listed) << folders[i];
      EXPECT_EQ(namesOf(*listed), std::set<std::string>{files::fileName(folders[i])});
    }
  }
  FolderPrefetch stoppedEarly(root.path(), filter);
  ASSERT_TRUE(stoppedEarly.take(root.path()));
}
