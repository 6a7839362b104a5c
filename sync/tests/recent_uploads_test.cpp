#include "RecentUploads.h"

#include <gtest/gtest.h>

#include "ChunkKeys.h"
#include "TempDir.h"

using varnelo::ChunkKey;
using varnelo::RecentUploads;
using varnelo::test::TempDir;
namespace files = platform::files;

namespace {

constexpr uint64_t kChunk = 4;  // small, so that the files below have several chunks

struct Sent {
  files::EntryInfo info;
  std::vector<ChunkKey> keys;
};

// Writes `path` and takes what an upload would have read of it.
Sent write(const std::string& path, const std::string& content) {
  Sent sent;
  EXPECT_FALSE(files::writeFile(path, content));
  EXPECT_FALSE(files::stat(path, sent.info));
  EXPECT_EQ(varnelo::computeChunkKeys(path, sent.info.size, kChunk, sent.keys), 200);
  return sent;
}

// Another content of the same size, under the same time: a second save in
// the same tick of the file system's clock.
void rewriteInTheSameTick(const std::string& path, const std::string& content,
                          const files::EntryInfo& before) {
  ASSERT_FALSE(files::writeFile(path, content));
  ASSERT_FALSE(files::setLastWriteTime(path, before.lastWrite));
}

}  // namespace

// Right after its last write, a file whose size and time still match is
// compared by content: another content is found, the same one is not.
// Read long after its last write, nothing is remembered: a later write
// gets a new time. A file dated ahead of the clock counts as just written.
TEST(RecentUploads, OnlyAFileSentRightAfterItsWriteIsComparedByContent) {
  TempDir dir;
  RecentUploads recent;
  const std::string fresh = dir.path() + "/fresh.txt";
  const std::string old = dir.path() + "/old.txt";
  const std::string ahead = dir.path() + "/ahead.txt";
  const Sent f = write(fresh, "first save");
  const Sent o = write(old, "first save");
  const Sent a = write(ahead, "first save");
  const platform::FileTime now = platform::currentFileTime();
  recent.uploaded(fresh, f.info.size, f.info.lastWrite, kChunk, now, f.keys);
  recent.uploaded(old, o.info.size, o.info.lastWrite, kChunk,
                  o.info.lastWrite + RecentUploads::kWindow, o.keys);
  recent.uploaded(ahead, a.info.size, a.info.lastWrite, kChunk,
                  a.info.lastWrite - 60 * 10'000'000ULL, a.keys);

  EXPECT_FALSE(recent.mayDiffer(fresh, f.info.size, f.info.lastWrite)) << "unchanged";
  rewriteInTheSameTick(fresh, "other save", f.info);
  rewriteInTheSameTick(old, "other save", o.info);
  rewriteInTheSameTick(ahead, "other save", a.info);
  EXPECT_TRUE(recent.mayDiffer(fresh, f.info.size, f.info.lastWrite));
  EXPECT_TRUE(recent.mayDiffer(ahead, a.info.size, a.info.lastWrite));
  EXPECT_FALSE(recent.mayDiffer(old, o.info.size, o.info.lastWrite));
  // Another size or time is the journal's own comparison, not this one's.
  EXPECT_FALSE(recent.mayDiffer(fresh, f.info.size + 1, f.info.lastWrite));
  EXPECT_FALSE(recent.mayDiffer(fresh, f.info.size, f.info.lastWrite + 1));
  // A file that cannot be read is not taken for unchanged.
  ASSERT_FALSE(files::removeFile(fresh));
  EXPECT_TRUE(recent.mayDiffer(fresh, f.info.size, f.info.lastWrite));
  recent.forget(fresh);
  EXPECT_FALSE(recent.mayDiffer(fresh, f.info.size, f.info.lastWrite));
}
