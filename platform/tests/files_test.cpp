#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file.h"
#include "platform/file_id.h"

namespace files = platform::files;

class Files : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/varnelo-files-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root_ = tmpl;
  }
  void TearDown() override { files::removeTree(root_); }
  std::string p(const std::string& rel) const { return files::joinPath(root_, rel); }
  std::string root_;
};

TEST_F(Files, WriteReadRangeAndTimes) {
  ASSERT_FALSE(files::createDirectories(p("a/b/c")));
  EXPECT_TRUE(files::isDirectory(p("a/b")));
  ASSERT_FALSE(files::writeFile(p("a/b/c/f"), "hello world"));
  std::string got;
  ASSERT_FALSE(files::readRange(p("a/b/c/f"), 6, 100, got));
  EXPECT_EQ(got, "world");
  const platform::FileTime t = platform::fileTimeFromUnix(1000000000, 500);
  ASSERT_FALSE(files::setLastWriteTime(p("a/b/c/f"), t));
  files::EntryInfo info;
  ASSERT_FALSE(files::stat(p("a/b/c/f"), info));
  EXPECT_EQ(info.type, files::EntryType::File);
  EXPECT_EQ(info.size, 11u);
  EXPECT_EQ(info.lastWrite, t);
}

// A file written out of order holds only what was written: the space a
// part file of a download takes is its blocks, not its size.
TEST_F(Files, AFileWithAHoleTakesLessSpaceThanItsSize) {
  constexpr uint64_t kEnd = 8 << 20;
  {
    platform::File f;
    ASSERT_FALSE(f.open(p("sparse"), platform::File::Mode::CreateKeep));
    ASSERT_FALSE(f.writeAt(kEnd, "x", 1));
  }
  files::EntryInfo info;
  uint64_t held = 0;
  ASSERT_FALSE(files::stat(p("sparse"), info));
  ASSERT_FALSE(files::allocatedSpace(p("sparse"), held));
  EXPECT_EQ(info.size, kEnd + 1);
  EXPECT_GT(held, 0u);
  EXPECT_LT(held, 1u << 20);

  ASSERT_FALSE(files::writeFile(p("dense"), std::string(64 << 10, 'd')));
  ASSERT_FALSE(files::allocatedSpace(p("dense"), held));
  EXPECT_GE(held, 64u << 10);
  EXPECT_TRUE(files::allocatedSpace(p("missing"), held));
}

TEST_F(Files, RenameReplacesAtomicallyAndNoReplaceRefuses) {
  ASSERT_FALSE(files::writeFile(p("x"), "new"));
  ASSERT_FALSE(files::writeFile(p("y"), "old"));
  EXPECT_EQ(files::renameNoReplace(p("x"), p("y")), std::errc::file_exists);
  ASSERT_FALSE(files::rename(p("x"), p("y")));
  std::string got;
  ASSERT_FALSE(files::readFile(p("y"), got));
  EXPECT_EQ(got, "new");
  EXPECT_FALSE(files::exists(p("x")));
}

TEST_F(Files, ACopyIntoANewFileOnlyNeverWritesOverOne) {
  ASSERT_FALSE(files::writeFile(p("from"), "copied"));
  ASSERT_FALSE(files::writeFile(p("taken"), "someone's"));
  EXPECT_EQ(files::copyFile(p("from"), p("taken"), true), std::errc::file_exists);
  std::string got;
  ASSERT_FALSE(files::readFile(p("taken"), got));
  EXPECT_EQ(got, "someone's");
  ASSERT_FALSE(files::copyFile(p("from"), p("free"), true));
  ASSERT_FALSE(files::readFile(p("free"), got));
  EXPECT_EQ(got, "copied");
  ASSERT_FALSE(files::copyFile(p("from"), p("taken")));  // without it, over the file
  ASSERT_FALSE(files::readFile(p("taken"), got));
  EXPECT_EQ(got, "copied");
}

TEST_F(Files, LinksAndSpecialFilesAreOtherAndNeverFollowed) {
  ASSERT_FALSE(files::createDirectory(p("dir")));
  ASSERT_EQ(symlink(p("dir").c_str(), p("link").c_str()), 0);
  ASSERT_EQ(mkfifo(p("fifo").c_str(), 0600), 0);
  std::vector<files::DirEntry> entries;
  ASSERT_FALSE(files::listDirectory(root_, entries));
  ASSERT_EQ(entries.size(), 3u);
  for (const auto& e : entries) {
    EXPECT_EQ(e.info.type, e.name == "dir" ? files::EntryType::Directory : files::EntryType::Other)
        << e.name;
  }
  EXPECT_FALSE(files::isDirectory(p("link")));
  // Removing the tree removes the link, not the folder it points to.
  ASSERT_FALSE(files::writeFile(p("dir/keep"), "k"));
  ASSERT_FALSE(files::removeTree(p("link")));
  EXPECT_TRUE(files::exists(p("dir/keep")));
  platform::File f;
  EXPECT_TRUE(f.open(p("link"), platform::File::Mode::Read));  // O_NOFOLLOW
}

TEST_F(Files, RemoveTreeAndMissingPaths) {
  ASSERT_FALSE(files::createDirectories(p("t/u/v")));
  ASSERT_FALSE(files::writeFile(p("t/u/v/f"), "1"));
  ASSERT_FALSE(files::writeFile(p("t/g"), "2"));
  ASSERT_FALSE(files::removeTree(p("t")));
  EXPECT_FALSE(files::exists(p("t")));
  EXPECT_FALSE(files::removeTree(p("t")));  // already gone is fine
  files::EntryInfo info;
  EXPECT_EQ(files::stat(p("t"), info), std::errc::no_such_file_or_directory);
  EXPECT_EQ(info.type, files::EntryType::None);
}

TEST(Paths, JoinParentName) {
  EXPECT_EQ(files::joinPath("/a/", "/b"), "/a/b");
  EXPECT_EQ(files::joinPath("", "b"), "b");
  EXPECT_EQ(files::parentPath("/a/b/"), "/a");
  EXPECT_EQ(files::parentPath("/a"), "/");
  EXPECT_EQ(files::parentPath("a"), "");
  EXPECT_EQ(files::fileName("/a/b.txt"), "b.txt");
}

// Only a path known to be absent is "not there"; one that cannot be looked
// at (a name too long to resolve stands in here for a folder without search
// permission, which does not bind root) may exist and counts as present.
TEST_F(Files, OnlyAKnownAbsenceReadsAsMissing) {
  ASSERT_FALSE(files::writeFile(p("file"), "x"));
  files::EntryInfo info;
  for (const char* rel : {"missing", "file/below"}) {
    const auto ec = files::stat(p(rel), info);
    EXPECT_TRUE(files::isAbsence(ec)) << rel;
    EXPECT_FALSE(files::exists(p(rel))) << rel;
  }
  const std::string tooLong = p(std::string(300, 'n'));
  const auto ec = files::stat(tooLong, info);
  ASSERT_EQ(ec, std::errc::filename_too_long);
  EXPECT_FALSE(files::isAbsence(ec));
  EXPECT_TRUE(files::exists(tooLong));
}

// A bind mount of a folder of the same file system (same device) is told
// by its mount; the end-to-end tests cover that in a mount namespace.
TEST_F(Files, MountPointsAreToldFromPlainFolders) {
  ASSERT_FALSE(files::createDirectories(p("plain")));
  EXPECT_FALSE(files::isMountPoint(p("plain")));
  EXPECT_FALSE(files::isMountPoint(p("missing")));
  EXPECT_TRUE(files::isMountPoint("/proc"));
}
