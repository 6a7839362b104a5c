// The upload path against the reference service: small files in one request,
// larger ones in chunks the service lacks, folders, unchanged files, chunk
// reuse across names, and files that change while they are sent.
#include <openssl/sha.h>

#include <atomic>
#include <functional>

#include "ChunkKeys.h"
#include "ChunkTasks.h"
#include "IoUpload.h"
#include "MetaApi.h"
#include "TransferCodes.h"
#include "transfer_harness.h"

using namespace varnelo;
using namespace varnelo::e2e;

namespace {

std::string sha1Hex(const std::string& bytes) {
  unsigned char d[20];
  SHA1(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), d);
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (unsigned char c : d) out += {hex[c >> 4], hex[c & 15]};
  return out;
}

std::string fileEntry(const std::string& content) {
  return "1 " + std::to_string(content.size()) + " " + sha1Hex(content);
}

}  // namespace

TEST_F(TransferTest, FilesOfEverySizeClassAndAFolderArriveIntact) {
  Pc pc(credentials());
  const std::string empty, one = "x", limit = patternBytes(16384, 1), over = patternBytes(16385, 2);
  const std::string multi = patternBytes(3 * 65536 + 1234, 3);  // short last chunk
  pc.write("empty.bin", empty);
  pc.write("one.txt", one);
  pc.write("limit.bin", limit);
  pc.write("over.bin", over);
  pc.write("Folder/multi.bin", multi);
  ASSERT_FALSE(platform::files::createDirectories(pc.path("Folder/Empty Sub")));
  service().resetCounters();

  pc.push();

  auto tree = remoteTree();
  EXPECT_EQ(tree["home/empty.bin"], fileEntry(empty));
  EXPECT_EQ(tree["home/one.txt"], fileEntry(one));
  EXPECT_EQ(tree["home/limit.bin"], fileEntry(limit));
  EXPECT_EQ(tree["home/over.bin"], fileEntry(over));
  EXPECT_EQ(tree["home/Folder/multi.bin"], fileEntry(multi));
  EXPECT_EQ(tree["home/Folder/Empty Sub"].substr(0, 2), "2 ");
  // 1 and 16384 bytes went up in one request each; 16385 bytes and more in
  // chunks (one for over.bin, four for multi.bin); the empty file has none.
  EXPECT_EQ(counts("/2/put").requests, 2);
  EXPECT_EQ(counts("/chunk").requests, 5);
  EXPECT_EQ(counts("/chunk").bytesIn, static_cast<int64_t>(over.size() + multi.size()));
  EXPECT_EQ(counts("/commit_put").requests, 3);
  EXPECT_TRUE(pc.sink().has("uploaded " + pc.path("Folder/multi.bin")));
  EXPECT_TRUE(pc.sink().has("result -108 " + pc.path("one.txt")));  // sent as a small file

  // Nothing changed: nothing is sent again, not even a prepare.
  service().resetCounters();
  pc.sink().clear();
  pc.push();
  EXPECT_EQ(counts("/2/put").requests, 0);
  EXPECT_EQ(counts("/prepare_put").requests, 0);
  EXPECT_EQ(counts("/commit_put").requests, 0);
  EXPECT_EQ(pc.upload("Folder/multi.bin"), codes::kUnchanged);
}

TEST_F(TransferTest, SameContentUnderAnotherNameSendsNoChunkBytes) {
  Pc pc(credentials());
  const std::string content = patternBytes(5 * 65536 + 17, 4);
  pc.write("a.bin", content);
  EXPECT_EQ(pc.upload("a.bin"), codes::kOk);
  service().resetCounters();
  pc.write("copy/b.bin", content);
  pc.push();
  EXPECT_EQ(counts("/chunk").bytesIn, 0);
  EXPECT_EQ(counts("/chunk").requests, 0);
  EXPECT_EQ(remoteTree()["home/copy/b.bin"], fileEntry(content));
  EXPECT_TRUE(pc.sink().has("uploaded " + pc.path("copy/b.bin")));
}

// A copy of content that went up before is committed at once: no prepare,
// no chunk bytes. When the chunk index is wrong about what the service holds,
// the commit is refused and the usual prepare and chunk uploads follow.
TEST_F(TransferTest, KnownChunksAreCommittedWithoutAPrepareUnlessTheServiceLacksThem) {
  Pc pc(credentials());
  const std::string content = patternBytes(3 * 65536 + 99, 11);
  pc.write("a.bin", content);
  ASSERT_EQ(pc.upload("a.bin"), codes::kOk);
  service().resetCounters();
  pc.write("copy/a.bin", content);
  pc.push();
  EXPECT_EQ(remoteTree()["home/copy/a.bin"], fileEntry(content));
  EXPECT_EQ(counts("/prepare_put").requests, 0);
  EXPECT_EQ(counts("/commit_put").requests, 1);
  EXPECT_EQ(counts("/chunk").requests, 0);
  EXPECT_TRUE(pc.sink().has("uploaded " + pc.path("copy/a.bin")));
  EXPECT_EQ(pc.upload("copy/a.bin"), codes::kUnchanged) << "its journal row was written";

  // Index rows for content the account never sent (another file's chunks
  // recorded by hand, as a stale index could hold them).
  const std::string unsent = patternBytes(2 * 65536 + 5, 12);
  std::vector<ChunkKey> keys;
  pc.write("b.bin", unsent);
  ASSERT_EQ(computeChunkKeys(pc.path("b.bin"), unsent.size(), 65536, keys, [] { return false; }),
            codes::kOk);
  ASSERT_EQ(pc.cache().recordFile(pc.path("elsewhere.bin"), unsent.size(), 65536, keys), 0);
  service().resetCounters();
  EXPECT_EQ(pc.upload("b.bin"), codes::kOk);
  EXPECT_EQ(remoteTree()["home/b.bin"], fileEntry(unsent));
  EXPECT_EQ(counts("/commit_put").requests, 2) << "the refused one, then the real one";
  EXPECT_EQ(counts("/prepare_put").requests, 1);
  EXPECT_EQ(counts("/chunk").bytesIn, static_cast<int64_t>(unsent.size()));

  // Known content under a name another computer filled meanwhile: the commit
  // is refused (a version this one never saw) and the other file stays.
  Pc other(credentials());
  const std::string theirs = patternBytes(70000, 13);
  other.write("d.bin", theirs);
  ASSERT_EQ(other.upload("d.bin"), codes::kOk);
  pc.write("d.bin", content);
  pc.upload("d.bin");
  EXPECT_TRUE(pc.sink().has("result 409 " + pc.path("d.bin")));
  EXPECT_EQ(remoteTree()["home/d.bin"], fileEntry(theirs));
}

TEST_F(TransferTest, ChangedFileReplacesTheRemoteVersion) {
  Pc pc(credentials());
  pc.write("doc.txt", patternBytes(20000, 5));
  EXPECT_EQ(pc.upload("doc.txt"), codes::kOk);
  const std::string edited = patternBytes(30000, 6);
  pc.write("doc.txt", edited);
  platform::files::setLastWriteTime(pc.path("doc.txt"), platform::currentFileTime() + 10000000);
  pc.sink().clear();
  pc.push();
  EXPECT_EQ(remoteTree()["home/doc.txt"], fileEntry(edited));
  EXPECT_TRUE(pc.sink().has("result -112 " + pc.path("doc.txt")));
}

TEST_F(TransferTest, FileChangedDuringUploadFailsAndNothingIsCommitted) {
  Pc pc(credentials());
  const std::string content = patternBytes(4 * 65536, 7);
  pc.write("moving.bin", content);
  platform::files::EntryInfo info;
  ASSERT_FALSE(platform::files::stat(pc.path("moving.bin"), info));

  // The upload was planned against the file as it was a moment ago; the
  // chunk tasks find another last-write time and give up without retrying.
  UploadJob job;
  job.localPath = pc.path("moving.bin");
  job.remotePath = "home/moving.bin";
  job.journalPath = "home/moving.bin";
  job.fileSize = info.size;
  job.lastWrite = info.lastWrite - 1;
  service().resetCounters();
  pc.context().uploadStarted(job.localPath);
  UploadFile(pc.context(), job).run();

  EXPECT_TRUE(pc.sink().has("result -109 " + job.localPath));
  EXPECT_TRUE(pc.sink().has("file " + job.localPath + " 4"));  // in use, retried later
  EXPECT_EQ(counts("/commit_put").requests, 0);
  EXPECT_EQ(counts("/chunk").requests, 0);
  EXPECT_EQ(remoteTree().count("home/moving.bin"), 0u);
  EXPECT_EQ(pc.context().retry().takeAll(), std::vector<std::string>{job.localPath});
}

namespace {

// Reports progress like the engine's callback; the first report of each
// task (the first block has been read from the file and handed to libcurl)
// runs `onFirstSend` once.
class EditingCallback : public IoCallback {
 public:
  void start(uint64_t) override {}
  bool isStopping() override { return false; }
  void progress(uint64_t, int64_t bytes) override {
    if (bytes > 0 && !fired_.exchange(true) && onFirstSend) onFirstSend();
  }
  bool verifyConflict() override { return false; }
  void rearm() { fired_ = false; }
  std::function<void()> onFirstSend;

 private:
  std::atomic<bool> fired_{false};
};

}  // namespace

TEST_F(TransferTest, AChunkWhoseFileIsWrittenToWhileItIsSentNeverCounts) {
  // Chunks larger than libcurl's upload buffer: each is read from the file
  // in several blocks while it is sent.
  const uint32_t chunk = 1u << 20;
  Pc pc(credentials(), chunk);
  const std::string content = patternBytes(2 * chunk, 31);
  ASSERT_TRUE(pc.write("edited.bin", content));
  const std::string path = pc.path("edited.bin");
  platform::files::EntryInfo planned;
  ASSERT_FALSE(platform::files::stat(path, planned));
  std::vector<ChunkKey> keys;
  ASSERT_EQ(computeVersionKeys(path, planned.size, planned.lastWrite, chunk, keys), codes::kOk);
  varnelo_meta_prepare_result* prepared = nullptr;
  ASSERT_EQ(http::meta_prepare_put(credentials(), "home/edited.bin", keys[0].data(), 2, chunk,
                                   static_cast<int64_t>(content.size()), nullptr, &prepared),
            codes::kOk);
  std::vector<std::string> urls(2);
  for (int32_t i = 0; i < varnelo_array_size(prepared->required); ++i) {
    varnelo_meta_indexurl item{};
    ASSERT_EQ(varnelo_meta_indexurl_array_at(prepared->required, i, &item), codes::kOk);
    urls.at(item.index) = item.url;
  }
  varnelo_meta_destroy_prepare_result(prepared);

  // Another program rewrites one byte while a chunk is on its way: behind the
  // bytes already sent (they still match the key, the service takes them)
  // and ahead of them (they no longer do). Neither chunk counts as sent.
  EditingCallback cb;
  auto rewriteAt = [&](size_t at) {
    return [&, at] {
      std::string edited = content;
      edited[at] ^= 0x5a;
      platform::files::writeFile(path, edited);
      platform::files::setLastWriteTime(path, planned.lastWrite + 10000000);
    };
  };
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(pc.write("edited.bin", content));
    ASSERT_FALSE(platform::files::setLastWriteTime(path, planned.lastWrite));
    cb.onFirstSend = rewriteAt(i * chunk + (i == 0 ? 10 : chunk - 10));
    cb.rearm();
    TransferGroup group;
    group.callback = &cb;
    group.lastWrite = planned.lastWrite;
    group.addPending();
    UploadChunkTask task(group, keys[i]);
    task.path = path;
    task.offset = static_cast<uint64_t>(i) * chunk;
    task.length = chunk;
    task.url = urls[i];
    task.run();
    EXPECT_EQ(task.result(), codes::kFileChanged) << "chunk " << i;
    EXPECT_LE(task.attempts, 1) << "a changed file is not sent again";
  }
  // The file as planned can never be committed from what went up.
  varnelo_meta_entry entry{};
  EXPECT_NE(
      http::meta_commit_put(credentials(), "home/edited.bin", keys[0].data(), 2, chunk,
                            static_cast<int64_t>(content.size()), "1", "unknown", nullptr, &entry),
      codes::kOk);
  EXPECT_EQ(remoteTree().count("home/edited.bin"), 0u);
}

TEST_F(TransferTest, FolderAndFileSwapPlacesOnTheService) {
  Pc pc(credentials());
  pc.write("thing/inside.txt", "inside");
  pc.write("other", "a file first");
  pc.push();
  ASSERT_EQ(remoteTree()["home/thing/inside.txt"], fileEntry("inside"));

  ASSERT_FALSE(platform::files::removeTree(pc.path("thing")));
  pc.write("thing", "now a file");
  ASSERT_FALSE(platform::files::removeFile(pc.path("other")));
  pc.write("other/nested.txt", "now a folder");
  pc.push();

  auto tree = remoteTree();
  EXPECT_EQ(tree["home/thing"], fileEntry("now a file"));
  EXPECT_EQ(tree.count("home/thing/inside.txt"), 0u);
  EXPECT_EQ(tree["home/other"].substr(0, 2), "2 ");
  EXPECT_EQ(tree["home/other/nested.txt"], fileEntry("now a folder"));
}

TEST_F(TransferTest, DeletedLocalPathsAreDeletedRemotely) {
  Pc pc(credentials());
  pc.write("keep.txt", "k");
  pc.write("old/a.txt", "a");
  pc.write("gone.txt", "g");
  pc.push();
  ASSERT_FALSE(platform::files::removeTree(pc.path("old")));
  ASSERT_FALSE(platform::files::removeFile(pc.path("gone.txt")));
  pc.push();
  auto tree = remoteTree();
  EXPECT_EQ(tree.count("home/old"), 0u);
  EXPECT_EQ(tree.count("home/old/a.txt"), 0u);
  EXPECT_EQ(tree.count("home/gone.txt"), 0u);
  EXPECT_EQ(tree["home/keep.txt"], fileEntry("k"));
}

TEST_F(TransferTest, LargeFileOverTheQuotaIsRefusedBeforeAnyChunkIsSent) {
  Pc pc(credentials());
  ASSERT_TRUE(service().setQuota(user(), 1 << 20));
  const std::string content = patternBytes(128 * 65536, 8);  // 128 chunks: quota is checked first
  pc.write("huge.bin", content);
  service().resetCounters();
  pc.upload("huge.bin");
  EXPECT_TRUE(pc.sink().has("result 402 " + pc.path("huge.bin")));
  EXPECT_EQ(counts("/prepare_put").requests, 0);
  EXPECT_EQ(counts("/chunk").requests, 0);
}

TEST_F(TransferTest, CommitsCarryTheMimeTypeAndTheEditTime) {
  Pc pc(credentials());
  pc.write("page.html", patternBytes(20000, 9));  // chunked
  pc.write("note.txt", "short");                  // one request
  ASSERT_FALSE(platform::files::setLastWriteTime(pc.path("note.txt"),
                                                 platform::fileTimeFromUnix(1336022521, 0)));
  pc.push();
  for (auto [name, mime] : {std::pair{"page.html", "text/html"}, {"note.txt", "text/plain"}}) {
    varnelo_meta_get_result* got = nullptr;
    ASSERT_EQ(
        varnelo_meta_get(credentials(), (std::string("home/") + name).c_str(), &got, nullptr, 0, 0),
        200);
    EXPECT_STREQ(got->entry.mimeType, mime);
    platform::files::EntryInfo info;
    platform::files::stat(pc.path(name), info);
    EXPECT_EQ(std::string(got->entry.editTime ? got->entry.editTime : ""),
              std::to_string(info.lastWrite));
    varnelo_meta_destroy_get_result(got);
  }
}

TEST_F(TransferTest, UploadsAndDownloadsWorkOverHttps) {
  struct HttpsForThisTest {
    HttpsForThisTest() { setenv("USE_HTTPS", "true", 1); }
    ~HttpsForThisTest() { unsetenv("USE_HTTPS"); }
  } https;
  Pc a(credentials()), b(credentials());
  const std::string big = patternBytes(3 * 65536 + 7, 10);
  a.write("secure/big.bin", big);
  a.write("secure/small.txt", "tls");
  a.push();
  EXPECT_EQ(b.pull(), codes::kOk);
  EXPECT_EQ(b.read("secure/big.bin"), big);
  EXPECT_EQ(b.read("secure/small.txt"), "tls");
}
