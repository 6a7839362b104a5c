// Edits on both sides: conflicted copies, remote deletions of locally edited
// files, and uploads refused for a stale base version.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "TransferCodes.h"
#include "transfer_harness.h"

using namespace varnelo;
using namespace varnelo::e2e;
namespace files = platform::files;

namespace {

// Runs with the given time zone, restoring the previous one afterwards.
class TimeZone {
 public:
  explicit TimeZone(const char* zone) {
    if (const char* old = getenv("TZ")) old_ = old, had_ = true;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~TimeZone() {
    if (had_) {
      setenv("TZ", old_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::string old_;
  bool had_ = false;
};

}  // namespace

TEST_F(TransferTest, EditedOnBothSidesEndsAsRemoteVersionPlusDatedLocalCopy) {
  TimeZone tokyo("Asia/Tokyo");
  Pc a(credentials()), b(credentials());
  a.write("report.txt", "v1");
  a.push();
  ASSERT_EQ(b.pull(), codes::kOk);

  b.write("report.txt", "edited on B");
  // 2012-05-03 05:22:01 UTC is 14:22:01 in Tokyo.
  ASSERT_FALSE(
      files::setLastWriteTime(b.path("report.txt"), platform::fileTimeFromUnix(1336022521, 0)));
  a.write("report.txt", "edited on A");
  files::setLastWriteTime(a.path("report.txt"), platform::currentFileTime() + 20000000);
  a.push();

  EXPECT_EQ(b.pull(), codes::kOk);
  EXPECT_EQ(b.read("report.txt"), "edited on A");
  const std::string copy = "report (Conflicted copy 2012-05-03_14-22-01).txt";
  EXPECT_EQ(b.read(copy), "edited on B");
  // The copy is a new local file: it goes up like any other.
  b.drain();
  EXPECT_EQ(remoteTree().count("home/" + copy), 1u);

  // A second conflict on the copy replaces its date instead of adding one.
  ASSERT_EQ(a.pull(), codes::kOk);
  b.write(copy, "B again");
  ASSERT_FALSE(files::setLastWriteTime(b.path(copy), platform::fileTimeFromUnix(1357092245, 0)));
  a.write(copy, "A again");
  files::setLastWriteTime(a.path(copy), platform::currentFileTime() + 40000000);
  a.push();
  EXPECT_EQ(b.pull(), codes::kOk);
  EXPECT_EQ(b.read(copy), "A again");
  EXPECT_EQ(b.read("report (Conflicted copy 2013-01-02_11-04-05).txt"), "B again");
}

TEST_F(TransferTest, FileDeletedRemotelyButEditedLocallyStaysAndGoesUpAgain) {
  Pc a(credentials()), b(credentials());
  a.write("notes/keep.txt", "v1");
  a.write("notes/drop.txt", "v1");
  a.push();
  ASSERT_EQ(b.pull(), codes::kOk);

  b.write("notes/keep.txt", "edited on B");
  files::setLastWriteTime(b.path("notes/keep.txt"), platform::currentFileTime() + 20000000);
  ASSERT_FALSE(files::removeTree(a.path("notes")));
  a.push();
  ASSERT_EQ(remoteTree().count("home/notes/keep.txt"), 0u);

  EXPECT_EQ(b.pull(), codes::kOk);
  EXPECT_FALSE(b.exists("notes/drop.txt"));
  EXPECT_EQ(b.read("notes/keep.txt"), "edited on B");
  b.drain();
  auto tree = remoteTree();
  EXPECT_EQ(tree.count("home/notes/keep.txt"), 1u);
  EXPECT_EQ(tree.count("home/notes/drop.txt"), 0u);
  ASSERT_EQ(a.pull(), codes::kOk);
  EXPECT_EQ(a.read("notes/keep.txt"), "edited on B");
}

TEST_F(TransferTest, UploadOnAStaleBaseIsRefusedAsAConflict) {
  Pc a(credentials()), b(credentials());
  a.write("shared.bin", patternBytes(40000, 1));
  a.push();
  ASSERT_EQ(b.pull(), codes::kOk);

  a.write("shared.bin", patternBytes(40000, 2));
  files::setLastWriteTime(a.path("shared.bin"), platform::currentFileTime() + 20000000);
  a.push();
  b.write("shared.bin", patternBytes(40000, 3));
  files::setLastWriteTime(b.path("shared.bin"), platform::currentFileTime() + 30000000);
  b.upload("shared.bin");
  EXPECT_TRUE(b.sink().has("result 409 " + b.path("shared.bin")));
  EXPECT_TRUE(b.sink().has("file " + b.path("shared.bin") + " 16"));
  EXPECT_TRUE(b.context().retry().empty());  // a conflict waits for the remote pass

  // Small files meet the same refusal.
  a.write("small.txt", "v1");
  a.push();
  ASSERT_EQ(b.pull(), codes::kOk);
  a.write("small.txt", "v2 from A");
  files::setLastWriteTime(a.path("small.txt"), platform::currentFileTime() + 20000000);
  a.push();
  b.write("small.txt", "v2 from B");
  files::setLastWriteTime(b.path("small.txt"), platform::currentFileTime() + 30000000);
  b.upload("small.txt");
  EXPECT_TRUE(b.sink().has("result 409 " + b.path("small.txt")));

  // The next remote pass resolves it: A's version wins the name, B's is kept.
  EXPECT_EQ(b.pull(), codes::kOk);
  EXPECT_EQ(b.read("shared.bin"), a.read("shared.bin"));
  std::vector<files::DirEntry> entries;
  files::listDirectory(b.root(), entries);
  int copies = 0;
  for (const auto& e : entries) copies += e.name.rfind("shared (Conflicted copy ", 0) == 0;
  EXPECT_EQ(copies, 1);
}

TEST_F(TransferTest, SameContentOnBothSidesIsNoConflict) {
  Pc a(credentials()), b(credentials());
  a.write("same.txt", "v1");
  a.push();
  ASSERT_EQ(b.pull(), codes::kOk);
  a.write("same.txt", "both wrote this");
  files::setLastWriteTime(a.path("same.txt"), platform::currentFileTime() + 20000000);
  a.push();
  b.write("same.txt", "both wrote this");
  files::setLastWriteTime(b.path("same.txt"), platform::currentFileTime() + 30000000);
  // The service refuses B's stale base, but both sides hold the same bytes.
  b.upload("same.txt");
  EXPECT_TRUE(b.sink().has("result -108 " + b.path("same.txt")));
  EXPECT_FALSE(b.sink().has("result 409 " + b.path("same.txt")));
  EXPECT_EQ(b.pull(), codes::kOk);
  std::vector<files::DirEntry> entries;
  files::listDirectory(b.root(), entries);
  for (const auto& e : entries) EXPECT_EQ(e.name.find("Conflicted copy"), std::string::npos);
}

TEST_F(TransferTest, FileReplacedByAFolderRemotelyKeepsTheLocalEdit) {
  Pc a(credentials()), b(credentials());
  a.write("plan", "v1");
  a.push();
  ASSERT_EQ(b.pull(), codes::kOk);
  b.write("plan", "edited on B");
  files::setLastWriteTime(b.path("plan"), platform::currentFileTime() + 20000000);
  ASSERT_FALSE(files::removeFile(a.path("plan")));
  a.write("plan/step1.txt", "a folder now");
  a.push();

  EXPECT_EQ(b.pull(), codes::kOk);
  EXPECT_EQ(b.read("plan/step1.txt"), "a folder now");
  std::vector<files::DirEntry> entries;
  files::listDirectory(b.root(), entries);
  int copies = 0;
  for (const auto& e : entries) {
    if (e.name.rfind("plan (Conflicted copy ", 0) == 0) {
      ++copies;
      EXPECT_EQ(b.read(e.name), "edited on B");
    }
  }
  EXPECT_EQ(copies, 1);
}

TEST_F(TransferTest, TheLocalVersionOfAConflictMovesAsideWithItsOpenWriter) {
  TimeZone utc("UTC");
  Pc a(credentials()), b(credentials());
  a.write("log.txt", "v1");
  a.push();
  ASSERT_EQ(b.pull(), codes::kOk);
  b.write("log.txt", "B's lines");
  ASSERT_FALSE(
      files::setLastWriteTime(b.path("log.txt"), platform::fileTimeFromUnix(1336022521, 0)));
  struct stat before {};
  ASSERT_EQ(::stat(b.path("log.txt").c_str(), &before), 0);
  // A program still holds B's version open for appending.
  const int writer = ::open(b.path("log.txt").c_str(), O_WRONLY | O_APPEND);
  ASSERT_GE(writer, 0);
  a.write("log.txt", "A's version");
  a.push();

  EXPECT_EQ(b.pull(), codes::kOk);
  const std::string copy = "log (Conflicted copy 2012-05-03_05-22-01).txt";
  EXPECT_EQ(b.read("log.txt"), "A's version");
  struct stat moved {};
  ASSERT_EQ(::stat(b.path(copy).c_str(), &moved), 0);
  EXPECT_EQ(moved.st_ino, before.st_ino);  // the same file, not a copy of it
  // What the writer adds later lands in the kept version, not in A's.
  ASSERT_EQ(::write(writer, " and more", 9), 9);
  ::close(writer);
  EXPECT_EQ(b.read(copy), "B's lines and more");
  EXPECT_EQ(b.read("log.txt"), "A's version");
}
