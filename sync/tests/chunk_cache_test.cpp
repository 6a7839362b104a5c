#include "ChunkCache.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "CasePath.h"
#include "TempDir.h"
#include "platform/files.h"
#include "platform/text.h"

using chunkcache::ChunkCache;
using chunkcache::ChunkKey;
using chunkcache::ChunkLocation;
using varnelo::test::TempDir;

namespace {

constexpr uint64_t kChunk = 4194304;

ChunkKey key(uint32_t n) {
  ChunkKey k{};
  for (int i = 0; i < 4; ++i) k[i] = static_cast<uint8_t>(n >> (8 * i));
  k[19] = 0x5A;
  return k;
}

std::vector<ChunkKey> keys(uint32_t first, size_t count) {
  std::vector<ChunkKey> out;
  for (size_t i = 0; i < count; ++i) out.push_back(key(first + static_cast<uint32_t>(i)));
  return out;
}

class ChunkCacheTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(cache_.open(dir_ / "chunks.db", dir_ / "cache"), 0); }

  std::vector<ChunkLocation> find(const ChunkKey& k, int limit = 0) {
    std::vector<ChunkLocation> out;
    const int n = cache_.findChunk(k, out, limit);
    EXPECT_EQ(n, static_cast<int>(out.size()));
    return out;
  }

  int64_t rows() {
    varnelo::sqlite::Database db;
    EXPECT_EQ(db.open(dir_ / "chunks.db"), SQLITE_OK);
    auto st = db.prepare("SELECT COUNT(*) FROM index_journal");
    st.step();
    return st.columnInt64(0);
  }

  TempDir dir_;
  ChunkCache cache_;
};

}  // namespace

TEST_F(ChunkCacheTest, TenMebibyteFileGetsThreeRowsWithAShortLastChunk) {
  ASSERT_EQ(cache_.recordFile("/data/Movie.MKV", 10 * 1048576, kChunk, keys(1, 3)), 0);
  const uint64_t want[3][2] = {{0, 4194304}, {4194304, 4194304}, {8388608, 2097152}};
  for (int i = 0; i < 3; ++i) {
    auto found = find(key(1 + i));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].path, "/data/movie.mkv");
    EXPECT_EQ(found[0].offset, want[i][0]);
    EXPECT_EQ(found[0].length, want[i][1]);
  }
  // Fewer keys than chunks: only the chunks that have a key.
  ASSERT_EQ(cache_.recordFile("/data/partial", 10 * 1048576, kChunk, keys(100, 2)), 0);
  EXPECT_EQ(rows(), 5);
  EXPECT_EQ(cache_.recordFile("/data/x", 10, 0, keys(1, 1)), SQLITE_MISUSE);
}

TEST_F(ChunkCacheTest, FileBeyondFourGibibytesKeepsSixtyFourBitOffsets) {
  const uint64_t size = 6ULL * 1024 * 1024 * 1024 + 5;  // 1537 chunks, the last of 5 bytes
  ASSERT_EQ(cache_.recordFile("/data/big.iso", size, kChunk, keys(1, 1537)), 0);
  EXPECT_EQ(rows(), 1537);
  auto last = find(key(1537));
  ASSERT_EQ(last.size(), 1u);
  EXPECT_EQ(last[0].offset, 1536 * kChunk);
  EXPECT_GT(last[0].offset, 0xFFFFFFFFULL);
  EXPECT_EQ(last[0].length, 5u);
  auto past4g = find(key(1025));
  ASSERT_EQ(past4g.size(), 1u);
  EXPECT_EQ(past4g[0].offset, 1024 * kChunk);
}

TEST_F(ChunkCacheTest, RecordingAPathAgainReplacesItsRows) {
  ASSERT_EQ(cache_.recordFile("/data/a.txt", 3 * kChunk, kChunk, keys(1, 3)), 0);
  ASSERT_EQ(cache_.recordFile("/DATA/A.TXT", 2 * kChunk, kChunk, keys(10, 2)), 0);
  EXPECT_EQ(rows(), 2);
  EXPECT_TRUE(find(key(1)).empty());
  EXPECT_EQ(find(key(11)).size(), 1u);
  ASSERT_EQ(cache_.recordFile("/data/a.txt", 0, kChunk, {}), 0);  // an empty file has none
  EXPECT_EQ(rows(), 0);
}

TEST_F(ChunkCacheTest, RenameAndRemoveIgnoreCase) {
  cache_.recordFile("/Data/A.TXT", kChunk, kChunk, keys(1, 1));
  cache_.onRename("/DATA/a.txt", "/Data/b.txt");
  auto found = find(key(1));
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].path, "/data/b.txt");
  EXPECT_TRUE(cache_.hasFile("/data/B.TXT"));
  EXPECT_FALSE(cache_.hasFile("/data/a.txt"));

  // Changing only the letter case keeps the rows.
  cache_.onRename("/data/b.txt", "/DATA/B.txt");
  EXPECT_EQ(find(key(1)).size(), 1u);

  // A rename over an indexed file drops the replaced file's rows.
  cache_.recordFile("/data/c.txt", kChunk, kChunk, keys(2, 1));
  cache_.onRename("/data/b.txt", "/data/c.txt");
  EXPECT_TRUE(find(key(2)).empty());
  found = find(key(1));
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].path, "/data/c.txt");

  cache_.onRemove("/DATA/C.TXT");
  EXPECT_EQ(rows(), 0);
}

TEST_F(ChunkCacheTest, LookupsHonourTheLimitAndFindTheRealFileOnDisk) {
  // The same chunk in three files; one exists on disk with upper-case letters.
  ASSERT_FALSE(platform::files::createDirectories(dir_ / "Sync/Docs"));
  ASSERT_FALSE(platform::files::writeFile(dir_ / "Sync/Docs/Report.TXT", "x"));
  cache_.recordFile(dir_ / "Sync/Docs/Report.TXT", kChunk, kChunk, keys(7, 1));
  cache_.recordFile("/nowhere/One", kChunk, kChunk, keys(7, 1));
  cache_.recordFile("/nowhere/two", kChunk, kChunk, keys(7, 1));
  auto all = find(key(7));
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0].path, dir_ / "Sync/Docs/Report.TXT");
  EXPECT_EQ(all[1].path, "/nowhere/one");  // not on disk: as stored
  EXPECT_EQ(find(key(7), 2).size(), 2u);
  EXPECT_TRUE(find(key(8)).empty());
  EXPECT_TRUE(cache_.holdsChunk(key(7)));
  EXPECT_FALSE(cache_.holdsChunk(key(8)));

  std::vector<std::string> under;
  cache_.recordFile("/data_x/f", kChunk, kChunk, keys(9, 1));
  cache_.recordFile("/dataax/f", kChunk, kChunk, keys(9, 1));  // "_" must not act as a wildcard
  ASSERT_EQ(cache_.pathsUnder("/DATA_X", under), 0);
  EXPECT_EQ(under, std::vector<std::string>{"/data_x/f"});
}

TEST_F(ChunkCacheTest, DataCacheStartsWithItsCountersAndOpenIsExclusive) {
  EXPECT_EQ(cache_.cacheDirectory(), dir_ / "cache/");
  EXPECT_TRUE(platform::files::isRegularFile(dir_ / "cache/.cache.db"));
  const auto c = cache_.counters();
  EXPECT_EQ(c.usedSize, 0);
  EXPECT_EQ(c.totalSize, 1073741824);
  EXPECT_EQ(c.count, 0);
  EXPECT_EQ(c.nextId, 0);
  EXPECT_EQ(cache_.open(dir_ / "chunks.db", dir_ / "cache"), ChunkCache::kAccessDenied);

  // Counters survive a reopen; a missing one resets all four.
  cache_.close();
  {
    varnelo::sqlite::Database db;
    ASSERT_EQ(db.open(dir_ / "cache/.cache.db"), SQLITE_OK);
    ASSERT_EQ(db.exec("UPDATE config SET value=77 WHERE key='usedSize'"), SQLITE_OK);
  }
  ASSERT_EQ(cache_.open(dir_ / "chunks.db", dir_ / "cache/"), 0);
  EXPECT_EQ(cache_.counters().usedSize, 77);
  cache_.close();
  {
    varnelo::sqlite::Database db;
    ASSERT_EQ(db.open(dir_ / "cache/.cache.db"), SQLITE_OK);
    ASSERT_EQ(db.exec("DELETE FROM config WHERE key='nextId'"), SQLITE_OK);
  }
  ASSERT_EQ(cache_.open(dir_ / "chunks.db", dir_ / "cache"), 0);
  EXPECT_EQ(cache_.counters().usedSize, 0);
}

TEST(ChunkCacheOpen, AFailedOpenLeavesBothClosed) {
  TempDir dir;
  ChunkCache cache;
  ASSERT_FALSE(platform::files::createDirectory(dir / "index.db"));  // a folder: cannot open
  EXPECT_NE(cache.open(dir / "index.db", dir / "cache"), 0);
  EXPECT_FALSE(cache.isOpen());
  ASSERT_FALSE(platform::files::writeFile(dir / "cache", "a file, not a folder"));
  EXPECT_NE(cache.open(dir / "chunks.db", dir / "cache"), 0);
  EXPECT_FALSE(cache.isOpen());
  EXPECT_EQ(cache.open(dir / "chunks.db", dir / "cache2"), 0);
}

TEST(ChunkCacheOpen, DamagedDatabasesAreSetAsideAndStartedOver) {
  // Both files are caches: written over by something else, each is kept
  // beside under another name and the cache opens empty, instead of the
  // engine running without it from then on.
  TempDir dir;
  ASSERT_FALSE(platform::files::createDirectory(dir / "cache"));
  const std::string garbage(8192, '\x5a');
  ASSERT_FALSE(platform::files::writeFile(dir / "chunks.db", garbage));
  ASSERT_FALSE(platform::files::writeFile(dir / "cache/.cache.db", garbage));
  ChunkCache cache;
  ASSERT_EQ(cache.open(dir / "chunks.db", dir / "cache"), 0);
  EXPECT_EQ(cache.counters().usedSize, 0);
  EXPECT_EQ(cache.recordFile("/a", 10, kChunk, keys(1, 1)), 0);
  cache.close();
  auto keptAside = [](const std::string& folder, const std::string& prefix) {
    std::vector<platform::files::DirEntry> entries;
    platform::files::listDirectory(folder, entries);
    return std::count_if(entries.begin(), entries.end(),
                         [&](const auto& e) { return e.name.rfind(prefix, 0) == 0; });
  };
  EXPECT_EQ(keptAside(dir.path(), "chunks.db.damaged-"), 1);
  EXPECT_EQ(keptAside(dir / "cache", ".cache.db.damaged-"), 1);
}

TEST(CasePath, ResolvesEachComponentIgnoringCase) {
  TempDir dir;
  ASSERT_FALSE(platform::files::createDirectories(dir / "Alpha/Beta"));
  ASSERT_FALSE(platform::files::writeFile(dir / "Alpha/Beta/File.Txt", "x"));
  EXPECT_EQ(chunkcache::resolvePathIgnoringCase(platform::asciiLower(dir / "Alpha/Beta/File.Txt")),
            dir / "Alpha/Beta/File.Txt");
  EXPECT_EQ(chunkcache::resolvePathIgnoringCase(dir / "alpha/missing"), "");
  EXPECT_EQ(chunkcache::resolvePathIgnoringCase("relative/path"), "");
}

TEST_F(ChunkCacheTest, RecordLookupAndRenameFromSeveralThreadsAtOnce) {
  constexpr int kFiles = 200;
  std::atomic<bool> writing{true};
  std::thread writer([&] {
    for (int n = 0; n < kFiles; ++n) {
      cache_.recordFile("/data/f" + std::to_string(n), 2 * kChunk, kChunk, keys(1000 + 2 * n, 2));
    }
    writing = false;
  });
  std::thread mover([&] {
    for (int n = 0; n < kFiles; ++n) cache_.onRename("/data/f" + std::to_string(n), "/data/g");
  });
  std::vector<std::thread> readers;
  for (int r = 0; r < 2; ++r) {
    readers.emplace_back([&] {
      std::vector<ChunkLocation> found;
      while (writing) {
        for (int n = 0; n < kFiles; n += 7) {
          cache_.findChunk(key(1000 + 2 * n), found, 0);
          for (const auto& f : found) EXPECT_EQ(f.offset, 0u);
        }
      }
    });
  }
  writer.join();
  mover.join();
  for (auto& t : readers) t.join();
  // Whatever the interleaving, every file has both of its rows or none.
  EXPECT_EQ(rows() % 2, 0);
}
