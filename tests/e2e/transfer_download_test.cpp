// The download path against the reference service: two computers on one
// account. New, changed and replaced files and folders, kind swaps both
// ways, chunks copied from local files, resumed part files and corrupted
// chunks.
#include <signal.h>
#include <sys/resource.h>

#include "ChunkKeys.h"
#include "TempNames.h"
#include "TransferCodes.h"
#include "transfer_harness.h"

using namespace varnelo;
using namespace varnelo::e2e;
namespace files = platform::files;

TEST_F(TransferTest, NewChangedAndReplacedFilesAndFoldersReachTheOtherPc) {
  Pc a(credentials()), b(credentials());
  a.write("top.txt", "top");
  a.write("Docs/report.bin", patternBytes(150000, 1));
  a.write("Docs/Deep/small.txt", "small");
  ASSERT_FALSE(files::createDirectories(a.path("EmptyFolder")));
  a.push();

  EXPECT_EQ(b.pull(), codes::kOk);
  EXPECT_EQ(b.read("top.txt"), "top");
  EXPECT_EQ(b.read("Docs/report.bin"), a.read("Docs/report.bin"));
  EXPECT_EQ(b.read("Docs/Deep/small.txt"), "small");
  EXPECT_TRUE(files::isDirectory(b.path("EmptyFolder")));
  EXPECT_TRUE(b.sink().has("downloaded " + b.path("Docs/report.bin")));
  // What was downloaded is in step: a local scan finds nothing to send.
  b.push();
  EXPECT_TRUE(b.context().updating().empty());
  EXPECT_FALSE(b.sink().has("uploaded " + b.path("top.txt")));

  // Changes on A: an edited file, a file replaced by another, a new one in
  // a folder B already has.
  a.write("Docs/report.bin", patternBytes(150000, 2));
  files::setLastWriteTime(a.path("Docs/report.bin"), platform::currentFileTime() + 20000000);
  a.write("Docs/Deep/new.txt", "new");
  a.push();
  b.sink().clear();
  EXPECT_EQ(b.pull(), codes::kOk);
  EXPECT_EQ(b.read("Docs/report.bin"), a.read("Docs/report.bin"));
  EXPECT_EQ(b.read("Docs/Deep/new.txt"), "new");
  EXPECT_TRUE(b.sink().has("result -111 " + b.path("Docs/report.bin")));
  // The remote modification time is carried over.
  files::EntryInfo ai, bi;
  files::stat(a.path("Docs/report.bin"), ai);
  files::stat(b.path("Docs/report.bin"), bi);
  EXPECT_EQ(ai.lastWrite, bi.lastWrite);

  // An unchanged tree costs one listing.
  service().resetCounters();
  EXPECT_EQ(b.pull(), codes::kOk);
  EXPECT_EQ(counts("/get").requests, 1);
}

TEST_F(TransferTest, FolderAndFileReplaceEachOtherBothWays) {
  Pc a(credentials()), b(credentials());
  a.write("swap1/inner.txt", "inner");
  a.write("swap2", "was a file");
  a.push();
  ASSERT_EQ(b.pull(), codes::kOk);
  ASSERT_EQ(b.read("swap1/inner.txt"), "inner");

  ASSERT_FALSE(files::removeTree(a.path("swap1")));
  a.write("swap1", "now a file");
  ASSERT_FALSE(files::removeFile(a.path("swap2")));
  a.write("swap2/child.txt", "now a folder");
  a.push();

  EXPECT_EQ(b.pull(), codes::kOk);
  EXPECT_EQ(b.read("swap1"), "now a file");
  EXPECT_EQ(b.read("swap2/child.txt"), "now a folder");
  b.push();
  EXPECT_FALSE(b.sink().has("uploaded " + b.path("swap1")));
}

TEST_F(TransferTest, FolderReplacedByAFileKeepsLocalChangesInside) {
  Pc a(credentials()), b(credentials());
  a.write("proj/plain.txt", "plain");
  a.write("proj/edited.txt", "v1");
  a.push();
  ASSERT_EQ(b.pull(), codes::kOk);
  b.write("proj/edited.txt", "edited on B");
  files::setLastWriteTime(b.path("proj/edited.txt"), platform::currentFileTime() + 20000000);

  ASSERT_FALSE(files::removeTree(a.path("proj")));
  a.write("proj", "a file now");
  a.push();
  EXPECT_EQ(b.pull(), codes::kOk);
  EXPECT_EQ(b.read("proj"), "a file now");
  // B's edit survives in the folder moved aside, which is queued for upload.
  std::vector<files::DirEntry> entries;
  files::listDirectory(b.root(), entries);
  std::string aside;
  for (const auto& e : entries) {
    if (e.name.rfind("proj (Conflicted copy ", 0) == 0) aside = e.name;
  }
  ASSERT_FALSE(aside.empty());
  EXPECT_EQ(b.read(aside + "/edited.txt"), "edited on B");
  EXPECT_FALSE(b.exists(aside + "/plain.txt"));
  b.drain();
  EXPECT_EQ(remoteTree().count("home/" + aside + "/edited.txt"), 1u);
}

TEST_F(TransferTest, ChunkHeldByALocalFileIsCopiedWithoutARequest) {
  Pc a(credentials()), b(credentials());
  const std::string content = patternBytes(4 * 65536 + 999, 9);
  a.write("original.bin", content);
  a.push();
  ASSERT_EQ(b.pull(), codes::kOk);
  a.write("elsewhere/copy.bin", content);
  a.push();
  service().resetCounters();
  EXPECT_EQ(b.pull(), codes::kOk);
  EXPECT_EQ(b.read("elsewhere/copy.bin"), content);
  EXPECT_EQ(counts("/data").requests, 0);
  EXPECT_EQ(counts("/data").bytesOut, 0);
}

TEST_F(TransferTest, InterruptedDownloadResumesFromItsPartFile) {
  Pc a(credentials()), b(credentials());
  const uint64_t chunk = 65536;
  const std::string content = patternBytes(6 * chunk + 500, 11);
  a.write("big.bin", content);
  a.push();

  // The service drops every data reply: the download fails, the file is not
  // created, and the part file stays in the temporary folder.
  ASSERT_TRUE(service().setFaults("seed=1;/data:drop=1"));
  b.pull();
  EXPECT_FALSE(b.exists("big.bin"));
  ASSERT_TRUE(service().setFaults(""));

  // Pretend the interrupted run got the first four chunks (and garbage in the
  // fifth): only the last three are fetched again.
  std::vector<files::DirEntry> parts;
  files::listDirectory(tempFolderPath(b.root()), parts);
  ASSERT_EQ(parts.size(), 1u);
  const std::string part = tempFolderPath(b.root()) + parts[0].name;
  std::string prefix = content.substr(0, 4 * chunk) + std::string(chunk, 'g');
  ASSERT_FALSE(files::writeFile(part, prefix));

  service().resetCounters();
  EXPECT_EQ(b.pull(), codes::kOk);
  EXPECT_EQ(b.read("big.bin"), content);
  EXPECT_EQ(counts("/data").requests, 3);
  EXPECT_EQ(counts("/data").bytesOut, static_cast<int64_t>(content.size() - 4 * chunk));
  EXPECT_FALSE(files::exists(part));
}

TEST_F(TransferTest, CorruptedChunksAreRetriedAndNeverBecomeTheFile) {
  Pc a(credentials()), b(credentials());
  const std::string content = patternBytes(3 * 65536, 12);
  a.write("data.bin", content);
  a.push();

  // Every data body has a flipped byte: each chunk fails its key check on
  // every attempt and the file is never written.
  ASSERT_TRUE(service().setFaults("seed=3;/data:flip=1"));
  b.pull();
  EXPECT_FALSE(b.exists("data.bin"));
  EXPECT_TRUE(b.sink().has("result -106 " + b.path("data.bin")));

  // Some bodies corrupted: retries fetch clean copies and the file is right.
  ASSERT_TRUE(service().setFaults("seed=5;/data:flip=0.4"));
  b.sink().clear();
  EXPECT_EQ(b.pull(), codes::kOk);
  EXPECT_EQ(b.read("data.bin"), content);
}

namespace {

// Files of this process cannot grow past `bytes` while it lives, as on a disk
// that is full: a write beyond fails (EFBIG) instead of raising SIGXFSZ.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    previous_ = signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    signal(SIGXFSZ, previous_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit saved_{};
  sighandler_t previous_ = SIG_DFL;
};

}  // namespace

TEST_F(TransferTest, APartFileThatCannotBeWrittenFailsLocallyAndKeepsTheSyncedFile) {
  Pc a(credentials()), b(credentials());
  const std::string before = patternBytes(16 * 65536, 21), after = patternBytes(16 * 65536, 22);
  ASSERT_TRUE(a.write("big.bin", before));
  ASSERT_TRUE(a.push());
  ASSERT_EQ(b.pull(), codes::kOk);
  ASSERT_TRUE(a.write("big.bin", after));
  ASSERT_TRUE(a.push());

  // B's disk takes no more than four of the sixteen chunks of the new
  // version: the file fails as a local failure, not as bad bytes, no chunk
  // is fetched again (it would meet the same full disk), and the synced
  // version stays as it was.
  service().resetCounters();
  {
    FileSizeLimit full(4 * 65536);
    b.pull();
  }
  EXPECT_EQ(b.read("big.bin"), before);
  EXPECT_TRUE(b.sink().has("result -4 " + b.path("big.bin")));
  EXPECT_FALSE(b.sink().has("result -106 " + b.path("big.bin")));
  // The four chunks that fit, and at most one failed request per I/O thread.
  EXPECT_LE(counts("/data").requests, 4 + static_cast<int64_t>(b.settings().ioThreads));

  // With room again the new version arrives.
  b.sink().clear();
  EXPECT_EQ(b.pull(), codes::kOk);
  EXPECT_EQ(b.read("big.bin"), after);
}

TEST_F(TransferTest, AFileReplacingAFolderThatIsGoneLocallyIsDownloaded) {
  Pc a(credentials()), b(credentials());
  ASSERT_TRUE(a.write("x/inside.txt", "in the folder"));
  ASSERT_TRUE(a.push());
  ASSERT_EQ(b.pull(), codes::kOk);
  // B's folder goes away before B syncs; A makes x a file meanwhile.
  ASSERT_FALSE(files::removeTree(b.path("x")));
  ASSERT_FALSE(files::removeTree(a.path("x")));
  ASSERT_TRUE(a.write("x", "now a file"));
  ASSERT_TRUE(a.push());
  EXPECT_EQ(b.pull(), codes::kOk);
  EXPECT_EQ(b.read("x"), "now a file");
  EXPECT_TRUE(b.sink().has("result 200 " + b.path("x")));
  int64_t id = 0;
  ASSERT_EQ(b.journal().lookupPath("home/x", id), 0);
  EXPECT_TRUE(b.journal().isFile(id));
}

TEST_F(TransferTest, FilesStoredWithAnotherChunkSizeStillDownload) {
  Pc a(credentials(), 65536);
  Pc b(credentials(), 4194304);  // the service announces another size now
  const std::string bytes = patternBytes(300000, 5);
  ASSERT_TRUE(a.write("cut-small.bin", bytes));
  ASSERT_TRUE(a.push());
  EXPECT_EQ(b.pull(), codes::kOk);
  EXPECT_EQ(b.read("cut-small.bin"), bytes);
}

TEST_F(TransferTest, PartFilesOfSupersededVersionsAreRemovedOnceTheFileIsInPlace) {
  Pc a(credentials()), b(credentials());
  ASSERT_TRUE(a.write("docs/big.bin", patternBytes(200000, 3)));
  ASSERT_TRUE(a.push());
  // B was interrupted while fetching an older version of the same file.
  ASSERT_FALSE(ensureTempFolder(b.root()));
  Signature older{};
  older[0] = 42;
  const std::string stale =
      tempFolderPath(b.root()) + partFileName(b.path("docs/big.bin"), older, 2);
  ASSERT_FALSE(files::writeFile(stale, patternBytes(70000, 9)));
  const std::string unrelated =
      tempFolderPath(b.root()) + partFileName(b.path("other.bin"), older, 2);
  ASSERT_FALSE(files::writeFile(unrelated, "kept"));
  EXPECT_EQ(b.pull(), codes::kOk);
  EXPECT_EQ(b.read("docs/big.bin"), patternBytes(200000, 3));
  EXPECT_FALSE(files::exists(stale));
  EXPECT_TRUE(files::exists(unrelated));
}
