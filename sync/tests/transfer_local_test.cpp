// The transfer paths' local halves against a real journal, filter and chunk
// index: the local scan, remote deletions, classification of queued paths,
// and chunk tasks that never need the service.
#include <gtest/gtest.h>

#include <atomic>

#include "ArrivedContent.h"
#include "ChunkKeys.h"
#include "ChunkTasks.h"
#include "Download.h"
#include "DownloadSink.h"
#include "JournalRows.h"
#include "LocalScan.h"
#include "RecordingSink.h"
#include "TransferCodes.h"
#include "TransferFixture.h"
#include "Upload.h"

using namespace varnelo;
namespace files = platform::files;

namespace {

std::vector<std::string> drain(PathQueue& q) {
  return q.takeAll();
}

// Counts progress; never stopping unless told.
class CountingCallback : public IoCallback {
 public:
  void start(uint64_t) override {}
  bool isStopping() override { return stopping; }
  void progress(uint64_t, int64_t bytes) override { done += bytes; }
  bool verifyConflict() override { return false; }
  std::atomic<bool> stopping{false};
  std::atomic<int64_t> done{0};
};

// Nothing listens here: any request sent to it fails at once.
constexpr const char* kDeadUrl = "http://127.0.0.1:9/data";

}  // namespace

TEST(LocalScan, QueuesEveryDifferenceInNameOrderAndWalksSyncedFoldersOnly) {
  test::RecordingSink sink;
  test::LocalContext local(&sink);
  local.synced("same.txt", "1");
  local.synced("changed.txt", "1");
  local.synced("gone.txt", "1");
  ASSERT_FALSE(files::createDirectory(local.path("Docs")));
  local.record("Docs");
  local.synced("Docs/inner.txt", "1");
  local.synced("kind", "was a file");
  ASSERT_FALSE(files::writeFile(local.path("changed.txt"), "22"));
  ASSERT_FALSE(files::removeFile(local.path("gone.txt")));
  ASSERT_FALSE(files::writeFile(local.path("Docs/new.txt"), "n"));
  ASSERT_FALSE(files::removeFile(local.path("kind")));
  ASSERT_FALSE(files::createDirectory(local.path("kind")));
  ASSERT_FALSE(files::createDirectories(local.path("NewFolder/deep")));
  ASSERT_FALSE(files::writeFile(local.path("a-new.txt"), "n"));
  ASSERT_FALSE(files::writeFile(local.path("A-NEW.txt"), "twin"));
  ASSERT_FALSE(files::writeFile(local.path("x.tmp"), "ignored"));
  ASSERT_FALSE(files::createDirectories(local.path(".varnelo-temp")));

  EXPECT_EQ(uploader::syncLocalFiles(local.context()), codes::kOk);
  EXPECT_EQ(drain(local.context().updating()),
            (std::vector<std::string>{local.path("A-NEW.txt"), local.path("changed.txt"),
                                      local.path("gone.txt"), local.path("kind"),
                                      local.path("NewFolder"), local.path("Docs/new.txt")}));
  EXPECT_TRUE(sink.has("result -113 " + local.path("a-new.txt")));
}

TEST(JournalRows, FoldersAddedForAPathBelowThemHaveTheirOwnEntriesQueued) {
  test::LocalContext local;
  local.synced("top/known.txt", "1");
  ASSERT_FALSE(files::createDirectories(local.path("top/new/deep")));
  ASSERT_FALSE(files::writeFile(local.path("top/new/beside.txt"), "b"));
  ASSERT_FALSE(files::writeFile(local.path("top/new/deep/first.txt"), "f"));
  ASSERT_FALSE(files::writeFile(local.path("top/new/deep/second.txt"), "s"));

  int made = -1;
  ASSERT_EQ(putRowWithParents(local.journal(), "home/top/new/deep/first.txt",
                              sync::FileJournal::kTypeFile, sync::VersionSignature{7}, 1, 1, &made),
            0);
  EXPECT_EQ(made, 2) << "top/new and top/new/deep, never the known top";
  uploader::queueMadeFolders(local.context(), local.path("top/new/deep/first.txt"), made);
  EXPECT_EQ(drain(local.context().updating()),
            (std::vector<std::string>{
                local.path("top/new/deep/first.txt"), local.path("top/new/deep/second.txt"),
                local.path("top/new/beside.txt"), local.path("top/new/deep")}));

  ASSERT_EQ(putRowWithParents(local.journal(), "home/top/new/deep/second.txt",
                              sync::FileJournal::kTypeFile, sync::VersionSignature{8}, 1, 1, &made),
            0);
  EXPECT_EQ(made, 0);
}

TEST(LocalScan, AMissingSyncFolderQueuesNothing) {
  test::RecordingSink sink;
  test::LocalContext local(&sink);
  local.synced("a.txt", "1");
  local.synced("b/c.txt", "1");
  ASSERT_FALSE(files::removeTree(local.root()));
  EXPECT_EQ(uploader::syncLocalFiles(local.context()), codes::kSyncRootMissing);
  EXPECT_TRUE(local.context().updating().empty());
  EXPECT_TRUE(sink.has("result -120 " + local.root()));
  // A queued deletion is refused as well while the folder is away.
  EXPECT_EQ(uploader::prepareUploading(local.context(), local.path("a.txt")),
            codes::kSyncRootMissing);
  int64_t id = 0;
  EXPECT_EQ(local.journal().lookupPath("home/a.txt", id), 0);
}

TEST(LocalScan, PausingStopsTheWalk) {
  test::LocalContext local;
  ASSERT_FALSE(files::writeFile(local.path("a.txt"), "1"));
  local.context().setPaused(true);
  EXPECT_EQ(uploader::syncLocalFiles(local.context()), codes::kStopped);
  EXPECT_TRUE(local.context().updating().empty());
}

TEST(RemoveLocal, UnchangedEntriesGoChangedAndNewOnesStayAndAreQueued) {
  test::LocalContext local;
  local.synced("Project/keep-me.txt", "old");
  local.synced("Project/plain.txt", "plain");
  local.synced("Project/sub/deep.txt", "deep");
  local.record("Project/sub");
  local.record("Project");
  ASSERT_FALSE(files::writeFile(local.path("Project/keep-me.txt"), "edited locally"));
  ASSERT_FALSE(files::writeFile(local.path("Project/sub/brand-new.txt"), "new"));

  EXPECT_EQ(downloader::removePath(local.context(), local.path("Project"), "home/project"),
            codes::kOk);
  EXPECT_FALSE(files::exists(local.path("Project/plain.txt")));
  EXPECT_FALSE(files::exists(local.path("Project/sub/deep.txt")));
  EXPECT_TRUE(files::exists(local.path("Project/keep-me.txt")));
  EXPECT_TRUE(files::exists(local.path("Project/sub/brand-new.txt")));
  int64_t id = 0;
  EXPECT_EQ(local.journal().lookupPath("home/project", id), sync::FileJournal::kNotFound);
  // Folders come before what they hold, so they are created first.
  EXPECT_EQ(drain(local.context().updating()),
            (std::vector<std::string>{local.path("Project"), local.path("Project/keep-me.txt"),
                                      local.path("Project/sub"),
                                      local.path("Project/sub/brand-new.txt")}));
}

TEST(RemoveLocal, AnUntouchedTreeGoesEntirely) {
  test::LocalContext local;
  local.synced("Old/a.txt", "a");
  local.record("Old");
  EXPECT_EQ(downloader::removePath(local.context(), local.path("Old"), "home/old"), codes::kOk);
  EXPECT_FALSE(files::exists(local.path("Old")));
  EXPECT_TRUE(local.context().updating().empty());
}

// A synced file is moved aside under a hidden name before it is deleted;
// nothing of that is left behind. A leftover of the hidden name (a crash
// between the two steps) is not touched: the file is then deleted at its
// name, as it was judged there.
TEST(RemoveLocal, AFileGoesByWayOfAHiddenNameAndALeftoverOfThatNameStays) {
  test::LocalContext local;
  local.synced("Docs/a.txt", "a");
  local.synced("Docs/b.txt", "b");
  local.record("Docs");
  const std::string leftover = local.path("Docs/.b.txt.varnelo-removing");
  ASSERT_FALSE(files::writeFile(leftover, "from a crash"));
  EXPECT_EQ(downloader::removePath(local.context(), local.path("Docs/a.txt"), "home/docs/a.txt"),
            codes::kOk);
  EXPECT_EQ(downloader::removePath(local.context(), local.path("Docs/b.txt"), "home/docs/b.txt"),
            codes::kOk);
  EXPECT_FALSE(files::exists(local.path("Docs/a.txt")));
  EXPECT_FALSE(files::exists(local.path("Docs/.a.txt.varnelo-removing")));
  EXPECT_FALSE(files::exists(local.path("Docs/b.txt")));
  std::string kept;
  ASSERT_FALSE(files::readFile(leftover, kept));
  EXPECT_EQ(kept, "from a crash");
  EXPECT_TRUE(local.context().updating().empty());
}

// A file sent right after its last write and saved again in the same tick
// (same size, same time) is not what the service deleted: it stays and is
// queued to go up again, while an untouched one sent as recently goes.
TEST(RemoveLocal, ASecondSaveInTheSameTickAsTheUploadedOneIsKept) {
  test::LocalContext local;
  local.synced("Docs/saved.txt", "first save");
  local.synced("Docs/as-sent.txt", "first save");
  const uint64_t chunk = local.settings().chunkSize;
  for (const char* rel : {"Docs/saved.txt", "Docs/as-sent.txt"}) {
    files::EntryInfo info;
    ASSERT_FALSE(files::stat(local.path(rel), info));
    std::vector<ChunkKey> keys;
    ASSERT_EQ(computeChunkKeys(local.path(rel), info.size, chunk, keys), codes::kOk);
    local.context().recentUploads().uploaded(local.path(rel), info.size, info.lastWrite, chunk,
                                             platform::currentFileTime(), keys);
  }
  files::EntryInfo first;
  ASSERT_FALSE(files::stat(local.path("Docs/saved.txt"), first));
  ASSERT_FALSE(files::writeFile(local.path("Docs/saved.txt"), "other save"));
  ASSERT_FALSE(files::setLastWriteTime(local.path("Docs/saved.txt"), first.lastWrite));

  EXPECT_EQ(downloader::removePath(local.context(), local.path("Docs"), "home/docs"), codes::kOk);
  std::string text;
  ASSERT_FALSE(files::readFile(local.path("Docs/saved.txt"), text));
  EXPECT_EQ(text, "other save");
  EXPECT_FALSE(files::exists(local.path("Docs/as-sent.txt")));
  EXPECT_EQ(drain(local.context().updating()),
            (std::vector<std::string>{local.path("Docs"), local.path("Docs/saved.txt")}));
}

// The engine stopped between taking a file aside for a deletion and
// deleting it: the scan gives it its name back while its journal row says
// it is still synced, so nothing is queued and the remote pass weighs the
// deletion again. A hidden name without such a row, or whose name is taken
// (in any letter case), is left alone.
TEST(LocalScan, AFileADeletionLeftAsideGetsItsNameBackWhileItsRowStands) {
  test::LocalContext local;
  local.synced("Docs/cut.txt", "synced");
  local.synced("Docs/taken.txt", "synced");
  local.synced("Docs/Case.txt", "synced");
  ASSERT_FALSE(
      files::rename(local.path("Docs/cut.txt"), local.path("Docs/.cut.txt.varnelo-removing")));
  ASSERT_FALSE(files::writeFile(local.path("Docs/.taken.txt.varnelo-removing"), "older"));
  ASSERT_FALSE(files::writeFile(local.path("Docs/.case.txt.varnelo-removing"), "older"));
  ASSERT_FALSE(files::writeFile(local.path("Docs/.mine.txt.varnelo-removing"), "the user's"));
  ASSERT_FALSE(files::writeFile(local.path("Docs/....varnelo-removing"), "odd"));

  EXPECT_EQ(uploader::syncLocalFiles(local.context()), codes::kOk);
  std::string text;
  ASSERT_FALSE(files::readFile(local.path("Docs/cut.txt"), text));
  EXPECT_EQ(text, "synced");
  EXPECT_FALSE(files::exists(local.path("Docs/.cut.txt.varnelo-removing")));
  EXPECT_TRUE(local.context().updating().empty());
  for (const char* stays : {"Docs/.taken.txt.varnelo-removing", "Docs/.case.txt.varnelo-removing",
                            "Docs/.mine.txt.varnelo-removing", "Docs/....varnelo-removing"})
    EXPECT_TRUE(files::exists(local.path(stays))) << stays;
  EXPECT_FALSE(files::exists(local.path("Docs/mine.txt")));
}

// What a pass brought down stands in for a removed folder only when every
// unchanged file in it has its own arrival of the same content; a file
// changed since the last sync needs none, the chunk index's keys serve as
// well as the file's, and each arrival covers one file once.
TEST(ArrivedContent, AFolderIsCoveredOnlyWhenEachUnchangedFileArrivedOnce) {
  test::LocalContext local;
  const std::string big(10000, 'b');
  local.synced("Old/a.txt", "alpha");
  local.synced("Old/twin.txt", "alpha");
  local.synced("Old/sub/big.bin", big);
  local.synced("Old/edited.txt", "before");
  local.record("Old/sub");
  local.record("Old");
  ASSERT_FALSE(files::writeFile(local.path("Old/edited.txt"), "after, and longer"));
  ASSERT_FALSE(files::writeFile(local.path("Old/new.txt"), "never synced"));
  constexpr uint64_t kChunk = 4096;
  std::vector<ChunkKey> bigKeys;
  ASSERT_EQ(computeChunkKeys(local.path("Old/sub/big.bin"), big.size(), kChunk, bigKeys),
            codes::kOk);
  // The index answers for the big file: its recorded keys are what count.
  ASSERT_EQ(local.cache().recordFile(local.path("Old/sub/big.bin"), big.size(), kChunk, bigKeys),
            0);
  int64_t id = 0;
  ASSERT_EQ(local.journal().lookupPath("home/old", id), 0);
  JournalNode node;
  ASSERT_EQ(readJournalTree(local.journal(), id, node), 0);
  const ChunkKey alpha = sha1Of("alpha", 5);
  const auto covers = [&](ArrivedContent& arrived) {
    return arrived.coversAll(local.path("Old"), node, &local.cache());
  };

  ArrivedContent arrived;
  EXPECT_FALSE(covers(arrived)) << "nothing arrived";
  arrived.add(5, kChunk, {&alpha, 1});
  arrived.add(big.size(), kChunk, bigKeys);
  EXPECT_FALSE(covers(arrived)) << "two files of one content need two arrivals";
  std::vector<ChunkKey> otherKeys = bigKeys;
  otherKeys.back()[0] ^= 1;
  arrived.add(big.size(), kChunk, otherKeys);
  arrived.add(5, kChunk * 2, {&alpha, 1});  // cut at another chunk size: the same content
  EXPECT_TRUE(covers(arrived));
  EXPECT_FALSE(covers(arrived)) << "arrivals were used twice";

  // A file missing from the index has its keys read from the disk.
  ArrivedContent again;
  again.add(5, kChunk, {&alpha, 1});
  again.add(5, kChunk, {&alpha, 1});
  again.add(big.size(), kChunk, bigKeys);
  local.cache().onRemove(local.path("Old/sub/big.bin"));
  EXPECT_TRUE(covers(again));
}

TEST(PrepareUploading, CaseTwinsAndFilteredNamesNeverReachTheService) {
  test::RecordingSink sink;
  test::LocalContext local(&sink);
  local.synced("Report.txt", "synced");
  ASSERT_FALSE(files::writeFile(local.path("report.txt"), "twin"));
  // No credentials are set: any request would fail, so these codes prove
  // that none was tried.
  EXPECT_EQ(uploader::prepareUploading(local.context(), local.path("report.txt")),
            codes::kUnsupported);
  EXPECT_TRUE(sink.has("result -113 " + local.path("report.txt")));
  EXPECT_EQ(uploader::prepareUploading(local.context(), local.path("notes.tmp")),
            codes::kUnsupported);
  // The twin goes away: the remote Report.txt belongs to the file that stays.
  ASSERT_FALSE(files::removeFile(local.path("report.txt")));
  EXPECT_EQ(uploader::prepareUploading(local.context(), local.path("report.txt")), codes::kOk);
  int64_t id = 0;
  EXPECT_EQ(local.journal().lookupPath("home/report.txt", id), 0);
  EXPECT_EQ(uploader::prepareUploading(local.context(), local.dir() / "elsewhere.txt"),
            codes::kLocalFailure);
}

TEST(ChunkKeys, ShortLastChunkAndEmptyFile) {
  test::TempDir dir;
  std::string data(10000, 'x');
  data[9999] = 'y';
  ASSERT_FALSE(files::writeFile(dir / "f", data));
  std::vector<ChunkKey> keys;
  ASSERT_EQ(computeChunkKeys(dir / "f", data.size(), 4096, keys), codes::kOk);
  ASSERT_EQ(keys.size(), 3u);
  EXPECT_EQ(keys[0], sha1Of(data.data(), 4096));
  EXPECT_EQ(keys[2], sha1Of(data.data() + 8192, 10000 - 8192));
  ASSERT_EQ(computeChunkKeys(dir / "f", 0, 4096, keys), codes::kOk);
  EXPECT_TRUE(keys.empty());
  EXPECT_EQ(computeChunkKeys(dir / "f", data.size() + 1, 4096, keys), codes::kLocalFailure);
  EXPECT_EQ(chunkCountOf(10ULL << 20, 4ULL << 20), 3u);
  EXPECT_EQ(chunkLengthOf(2, 10ULL << 20, 4ULL << 20), 2ULL << 20);
}

TEST(ChunkKeys, AFileOfManyChunksHashedOnSeveralThreadsKeepsEveryKeyInPlace) {
  test::TempDir dir;
  // Chunks larger than one read block, so each chunk takes several reads
  // (on whichever thread claimed it), and a short last chunk.
  const uint64_t chunk = (1 << 20) + 4096;
  std::string data(13 * chunk + 777, '\0');
  uint32_t x = 12345;
  for (auto& c : data) c = static_cast<char>((x = x * 1103515245 + 12345) >> 24);
  const std::string path = dir / "f";
  ASSERT_FALSE(files::writeFile(path, data));

  std::atomic<int> inside{0};
  std::atomic<bool> overlapped{false};
  std::atomic<int> asked{0};
  auto neverStops = [&] {
    if (inside.fetch_add(1) != 0) overlapped = true;
    ++asked;
    inside.fetch_sub(1);
    return false;
  };
  std::vector<ChunkKey> keys;
  ASSERT_EQ(computeChunkKeys(path, data.size(), chunk, keys, neverStops), codes::kOk);
  ASSERT_EQ(keys.size(), 14u);
  for (size_t i = 0; i < keys.size(); ++i) {
    const size_t length = static_cast<size_t>(chunkLengthOf(i, data.size(), chunk));
    EXPECT_EQ(keys[i], sha1Of(data.data() + i * chunk, length)) << "chunk " << i;
  }
  // Asked before every read of 64 KiB (17 per full chunk, one for the
  // last), and never from two threads at once.
  EXPECT_EQ(asked.load(), 13 * 17 + 1);
  EXPECT_FALSE(overlapped.load());

  // A stop partway through ends the pass, with no keys handed out.
  int reads = 0;
  EXPECT_EQ(computeChunkKeys(path, data.size(), chunk, keys, [&] { return ++reads > 5; }),
            codes::kStopped);
  EXPECT_TRUE(keys.empty());

  // A file shorter than asked for is unreadable to that size, on any thread.
  ASSERT_FALSE(files::writeFile(path, data.substr(0, 6 * chunk)));
  EXPECT_EQ(computeChunkKeys(path, data.size(), chunk, keys), codes::kLocalFailure);
  EXPECT_TRUE(keys.empty());
  EXPECT_EQ(computeChunkKeys(dir / "missing", data.size(), chunk, keys), codes::kLocalFailure);
  EXPECT_EQ(computeChunkKeys(dir / "missing", 0, chunk, keys), codes::kLocalFailure);
}

TEST(ChunkKeys, AFileWrittenToWhileItsKeysAreTakenIsAChangedFile) {
  test::TempDir dir;
  const uint64_t chunk = 65536;
  const std::string path = dir / "f";
  const std::string data(4 * chunk, 'a');
  ASSERT_FALSE(files::writeFile(path, data));
  files::EntryInfo planned;
  ASSERT_FALSE(files::stat(path, planned));
  std::vector<ChunkKey> keys;
  ASSERT_EQ(computeVersionKeys(path, planned.size, planned.lastWrite, chunk, keys), codes::kOk);
  EXPECT_EQ(keys.size(), 4u);

  // The hook runs before every read: after the first chunk is read, another
  // program rewrites the file (same size; its time moves on, as any write's
  // does). The keys would mix two versions, so none are handed out.
  int reads = 0;
  auto writeAfterFirstRead = [&] {
    if (++reads == 2) {
      files::writeFile(path, std::string(4 * chunk, 'b'));
      files::setLastWriteTime(path, planned.lastWrite + 10000000);
    }
    return false;
  };
  EXPECT_EQ(
      computeVersionKeys(path, planned.size, planned.lastWrite, chunk, keys, writeAfterFirstRead),
      codes::kFileChanged);
  EXPECT_TRUE(keys.empty());

  // Cut short while being read: a changed file too (tried again later), not
  // an unreadable one.
  ASSERT_FALSE(files::writeFile(path, data));
  ASSERT_FALSE(files::setLastWriteTime(path, planned.lastWrite));
  reads = 0;
  auto truncateAfterFirstRead = [&] {
    if (++reads == 2) files::writeFile(path, std::string(chunk, 'a'));
    return false;
  };
  EXPECT_EQ(computeVersionKeys(path, planned.size, planned.lastWrite, chunk, keys,
                               truncateAfterFirstRead),
            codes::kFileChanged);

  // Changed before the read began: the version planned is not there at all.
  ASSERT_FALSE(files::writeFile(path, data));
  EXPECT_EQ(computeVersionKeys(path, planned.size, planned.lastWrite - 1, chunk, keys),
            codes::kFileChanged);
}

TEST(DownloadSink, PiecesOfAnySizeLandInPlaceAndOnlyAMatchedReplyIsWrittenWhole) {
  test::TempDir dir;
  // Two and a half write blocks, placed at an offset in the file.
  const size_t size = 2 * DownloadSink::kBlockBytes + DownloadSink::kBlockBytes / 2 + 123;
  std::string content(size, '\0');
  for (size_t i = 0; i < size; ++i) content[i] = static_cast<char>(i * 17 + i / 5003);
  const ChunkKey key = sha1Of(content.data(), content.size());
  const std::string path = dir / "target.part";
  {
    platform::File target;
    ASSERT_FALSE(target.open(path, platform::File::Mode::CreateTruncate));
    CountingCallback cb;
    DownloadSink sink(target, 1000, size, &cb, true);
    // Pieces like libcurl's (16 KiB) and uneven ones, straddling blocks.
    for (size_t at = 0, n = 1; at < size; at += n, n = (n * 7 + 16384) % 70001 + 1) {
      n = std::min(n, size - at);
      ASSERT_EQ(sink.write(content.data() + at, n), n);
    }
    EXPECT_EQ(sink.write("beyond", 6), 6u) << "bytes past the chunk are taken and dropped";
    EXPECT_TRUE(sink.matches(key));
    EXPECT_EQ(sink.written(), size);
    EXPECT_EQ(cb.done.load(), static_cast<int64_t>(size));
  }
  std::string written;
  ASSERT_FALSE(files::readFile(path, written));
  ASSERT_EQ(written.size(), 1000 + size);
  EXPECT_EQ(written.substr(1000), content);

  // A reply whose bytes are not the chunk's fails the check; one that is
  // never checked (an error body) leaves what it has not written out of the
  // file and out of the progress.
  platform::File target;
  ASSERT_FALSE(target.open(path, platform::File::Mode::CreateTruncate));
  CountingCallback cb;
  {
    DownloadSink sink(target, 0, size, &cb, false);
    std::string wrong = content;
    wrong[size - 1] ^= 1;
    for (size_t at = 0; at < size; at += 16384) {
      sink.write(wrong.data() + at, std::min<size_t>(16384, size - at));
    }
    EXPECT_FALSE(sink.matches(key));
  }
  cb.done = 0;
  {
    DownloadSink sink(target, 0, size, &cb, false);
    ASSERT_FALSE(target.truncate(0));
    sink.write("<html>not found</html>", 22);
    EXPECT_EQ(sink.written(), 0u);
  }
  EXPECT_EQ(cb.done.load(), 0);
  uint64_t length = 1;
  ASSERT_FALSE(target.size(length));
  EXPECT_EQ(length, 0u);

  // Stopping aborts the transfer at the next piece.
  cb.stopping = true;
  DownloadSink stopped(target, 0, size, &cb, false);
  EXPECT_EQ(stopped.write(content.data(), 100), 0u);
  EXPECT_FALSE(stopped.ok());
}

TEST(DownloadChunkTask, ChunkFoundInALocalFileIsCopiedWithoutARequest) {
  test::LocalContext local;
  const uint64_t chunk = 4096;
  std::string source(3 * chunk - 100, '\0');
  for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<char>(i * 7 + i / 251);
  ASSERT_FALSE(files::writeFile(local.path("source.bin"), source));
  std::vector<ChunkKey> keys;
  ASSERT_EQ(computeChunkKeys(local.path("source.bin"), source.size(), chunk, keys), codes::kOk);
  ASSERT_EQ(local.cache().recordFile(local.path("source.bin"), source.size(), chunk, keys), 0);

  platform::File target;
  ASSERT_FALSE(target.open(local.dir() / "target.part", platform::File::Mode::CreateTruncate));
  CountingCallback cb;
  TransferGroup group;
  group.callback = &cb;
  group.chunkSize = chunk;
  group.cache = &local.cache();
  group.addPending();
  DownloadChunkTask task(group, keys[1], target, chunk, chunk, kDeadUrl);
  task.run();
  EXPECT_EQ(task.result(), codes::kOk);
  EXPECT_EQ(group.pending(), 0);
  EXPECT_EQ(cb.done.load(), static_cast<int64_t>(chunk));
  std::string written;
  ASSERT_FALSE(files::readRange(local.dir() / "target.part", chunk, chunk, written));
  EXPECT_EQ(written, source.substr(chunk, chunk));

  // The source changed since it was indexed: its bytes no longer hash to the
  // key, the task falls back to the (dead) network and fails with no bytes
  // left counted.
  source[chunk] ^= 1;
  ASSERT_FALSE(files::writeFile(local.path("source.bin"), source));
  CountingCallback cb2;
  group.callback = &cb2;
  group.addPending();
  DownloadChunkTask stale(group, keys[1], target, chunk, chunk, kDeadUrl);
  stale.run();
  EXPECT_NE(stale.result(), codes::kOk);
  EXPECT_EQ(cb2.done.load(), 0);
  EXPECT_EQ(group.failures.load(), 1);
}

TEST(DownloadChunkTask, ALocalChunkLargerThanOneCopyBlockArrivesWhole) {
  test::LocalContext local;
  // Two and a half copy blocks: copied piece by piece through the sink.
  const uint64_t chunk = (5u << 20) / 4 + 17;
  std::string source(2 * chunk, '\0');
  for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<char>(i * 13 + i / 4099);
  ASSERT_FALSE(files::writeFile(local.path("source.bin"), source));
  std::vector<ChunkKey> keys;
  ASSERT_EQ(computeChunkKeys(local.path("source.bin"), source.size(), chunk, keys), codes::kOk);
  ASSERT_EQ(local.cache().recordFile(local.path("source.bin"), source.size(), chunk, keys), 0);

  platform::File target;
  ASSERT_FALSE(target.open(local.dir() / "target.part", platform::File::Mode::CreateTruncate));
  CountingCallback cb;
  TransferGroup group;
  group.callback = &cb;
  group.chunkSize = chunk;
  group.cache = &local.cache();
  group.addPending();
  DownloadChunkTask task(group, keys[1], target, 0, chunk, kDeadUrl);
  task.run();
  EXPECT_EQ(task.result(), codes::kOk);
  EXPECT_EQ(cb.done.load(), static_cast<int64_t>(chunk));
  std::string written;
  ASSERT_FALSE(files::readFile(local.dir() / "target.part", written));
  EXPECT_EQ(written, source.substr(chunk, chunk));
}

TEST(UploadDataTask, StoppingOrAChangedFileEndsWithoutARequestOrRetry) {
  test::TempDir dir;
  ASSERT_FALSE(files::writeFile(dir / "f", std::string(5000, 'a')));
  files::EntryInfo info;
  ASSERT_FALSE(files::stat(dir / "f", info));
  CountingCallback cb;
  TransferGroup group;
  group.callback = &cb;
  group.lastWrite = info.lastWrite + 1;  // planned against another version
  group.addPending();
  UploadChunkTask changed(group, ChunkKey{});
  changed.path = dir / "f";
  changed.length = 5000;
  changed.url = kDeadUrl;
  changed.run();
  EXPECT_EQ(changed.result(), codes::kFileChanged);
  EXPECT_EQ(changed.attempts, 0);  // not retried
  EXPECT_EQ(group.failures.load(), 1);

  // Once a sibling failed, later chunks give up at once.
  group.lastWrite = info.lastWrite;
  group.addPending();
  UploadChunkTask later(group, ChunkKey{});
  later.path = dir / "f";
  later.length = 5000;
  later.url = kDeadUrl;
  later.run();
  EXPECT_EQ(later.result(), codes::kStopped);

  TransferGroup fresh;
  fresh.callback = &cb;
  fresh.lastWrite = info.lastWrite;
  cb.stopping = true;
  fresh.addPending();
  UploadChunkTask stopped(fresh, ChunkKey{});
  stopped.path = dir / "f";
  stopped.length = 5000;
  stopped.url = kDeadUrl;
  stopped.run();
  EXPECT_EQ(stopped.result(), codes::kStopped);
  EXPECT_EQ(fresh.pending(), 0);
  EXPECT_EQ(cb.done.load(), 0);
}

TEST(UploadDataTask, NetworkFailuresAreRetriedUpToTheAttemptLimit) {
  test::TempDir dir;
  ASSERT_FALSE(files::writeFile(dir / "f", std::string(100, 'a')));
  files::EntryInfo info;
  ASSERT_FALSE(files::stat(dir / "f", info));
  CountingCallback cb;
  TransferGroup group;
  group.callback = &cb;
  group.lastWrite = info.lastWrite;
  group.attempts = 3;
  group.addPending();
  UploadChunkTask task(group, ChunkKey{});
  task.path = dir / "f";
  task.length = 100;
  task.url = kDeadUrl;
  task.run();
  EXPECT_GT(task.result(), 0);  // a libcurl code
  EXPECT_LT(task.result(), 100);
  EXPECT_EQ(task.attempts, 3);
  EXPECT_EQ(cb.done.load(), 0);
}
