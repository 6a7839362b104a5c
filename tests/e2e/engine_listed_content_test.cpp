// Small files whose bytes come with their folder's listing: a tree of many
// of them comes down with a request per folder rather than per file, every
// byte and journal row as the per-file way leaves them, and a file changed
// on the service after the listing that carried it ends as the service has
// it, with nothing kept twice. Only listings likely to hold much to fetch
// ask for the content. Listings fetched ahead of the walk are all used.
#include <algorithm>
#include <map>

#include "FileJournal.h"
#include "JournalRows.h"
#include "engine_harness.h"

namespace varnelo::e2e {
namespace {

using Contents = std::map<std::string, std::string>;

// `n` bytes that differ from file to file (`seed`).
std::string bytesOf(size_t n, unsigned seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + seed * 7919 + i / 251) & 0xff);
  return s;
}

class EngineListedContentTest : public EngineTest {
 protected:
  int64_t requests(const std::string& endpoint, const char* what = "requests") {
    Json::Value all;
    if (!service().counters(&all)) return 0;
    return all["endpoints"][endpoint][what].asInt64();
  }

  static size_t lineCount(EngineComputer& pc, const std::string& prefix) {
    const auto lines = pc.sink().lines();
    return static_cast<size_t>(std::count_if(
        lines.begin(), lines.end(), [&](const auto& l) { return l.rfind(prefix, 0) == 0; }));
  }
};

TEST_F(EngineListedContentTest, ManySmallFilesComeDownWithTheirListings) {
  Contents files;
  constexpr int kFolders = 4, kPerFolder = 60;
  for (int k = 0; k < kFolders; ++k) {
    for (int i = 0; i < kPerFolder; ++i) {
      const std::string rel = "many/d" + std::to_string(k) + "/f" + std::to_string(i) + ".bin";
      files[rel] = bytesOf(1 + (i * 977 + k * 131) % 16384, k * 1000 + i);
    }
  }
  // At the edges: the largest inline size, one byte more (its own
  // request), and an empty file.
  files["many/edge.bin"] = bytesOf(16384, 1);
  files["many/over.bin"] = bytesOf(16385, 2);
  files["many/empty"] = "";
  auto a = computer();
  for (const auto& [rel, content] : files) a->write(rel, content);
  ASSERT_EQ(a->start(), 200);
  ASSERT_TRUE(waitFor([&] { return remoteTree().size() == files.size() + kFolders + 1; }, 120000));
  a->shutdown();

  const int64_t getsBefore = requests("/get");
  auto b = computer();
  ASSERT_EQ(b->start(), 200);
  ASSERT_TRUE(waitFor([&] { return b->tree() == remoteTree(); }, 120000));
  EXPECT_TRUE(b->settle());
  for (const auto& [rel, content] : files) EXPECT_EQ(b->read(rel), content) << rel;
  // A listing per folder and pass, and one request for the file that is
  // too large to come along; far from one per file.
  const int64_t gets = requests("/get") - getsBefore;
  EXPECT_LT(gets, static_cast<int64_t>(files.size()) / 4) << gets << " requests";
  b->shutdown();

  // The rows are those of placed files, of their size and version.
  sync::FileJournal journal;
  ASSERT_EQ(journal.open(b->dataFolder() + "basefs.db"), 0);
  for (const auto& [rel, content] : files) {
    auto row = journalRow(journal, "home/" + rel);
    ASSERT_TRUE(row) << rel;
    EXPECT_EQ(row->fileSize, static_cast<int64_t>(content.size())) << rel;
  }
}

TEST_F(EngineListedContentTest, AFileChangedAfterItsListingEndsAsTheServiceHasIt) {
  const std::string v1 = bytesOf(900, 1), v2 = bytesOf(1300, 2);
  auto a = computer();
  a->write("top/doc.txt", v1);
  a->write("top/zz/later.txt", "listed after the file");
  ASSERT_EQ(a->start(), 200);
  ASSERT_TRUE(waitFor([&] { return remoteTree().size() == 4; }, 60000));

  // Every listing waits: the file's bytes came with the listing of "top",
  // and the listing of "top/zz" holds the pass before the file is placed.
  auto b = computer();
  ASSERT_TRUE(service().setFaults("seed=1;/get:delay=1,delayMs=2500"));
  ASSERT_EQ(b->start(), 200);
  const std::string started = "file " + b->path("top/doc.txt") + " 2";
  const std::string done = "downloaded " + b->path("top/doc.txt");
  ASSERT_TRUE(waitFor([&] { return lineCount(*b, started) > 0; }, 60000));
  a->write("top/doc.txt", v2);
  ASSERT_TRUE(waitFor([&] { return remoteTree()["top/doc.txt"] == fileEntry(v2); }, 60000));
  ASSERT_EQ(lineCount(*b, done), 0u)
      << "the file was placed before the service changed; the test proves nothing";
  ASSERT_TRUE(service().setFaults(""));

  ASSERT_TRUE(holdEverywhere({a.get(), b.get()}, remoteTree(), 60000, true));
  EXPECT_EQ(b->read("top/doc.txt"), v2);
  const Tree remote = remoteTree();
  EXPECT_EQ(remote.size(), 4u) << "nothing kept twice";
  EXPECT_EQ(remote.count("top/doc.txt"), 1u);
}

// A computer that has just sent a folder lists it again (its version
// changed by those uploads) without getting the files back; one that knows
// the folder and finds many new small files in it gets them with a second
// listing, not a request each.
TEST_F(EngineListedContentTest, ContentComesWithAListingOnlyWhereMuchOfItIsToFetch) {
  constexpr int kFiles = 40;
  constexpr size_t kSize = 4096;
  auto a = computer();
  a->write("sent/first.txt", "known");
  ASSERT_EQ(a->start(), 200);
  ASSERT_TRUE(a->settle());
  auto b = computer();
  ASSERT_EQ(b->start(), 200);
  ASSERT_TRUE(waitFor([&] { return b->read("sent/first.txt") == "known"; }, 60000));
  ASSERT_TRUE(b->settle());

  b->shutdown();
  ASSERT_TRUE(service().resetCounters());
  for (int i = 0; i < kFiles; ++i) a->write("sent/f" + std::to_string(i), bytesOf(kSize, i));
  ASSERT_TRUE(waitFor([&] { return remoteTree().size() == kFiles + 2u; }, 60000));
  ASSERT_TRUE(a->settle());
  EXPECT_LT(requests("/get", "bytesOut"), static_cast<int64_t>(kFiles * kSize / 4))
      << "the sending computer got its files back";

  ASSERT_TRUE(service().resetCounters());
  ASSERT_EQ(b->start(), 200);
  ASSERT_TRUE(waitFor([&] { return b->tree() == remoteTree(); }, 60000));
  for (int i = 0; i < kFiles; ++i)
    EXPECT_EQ(b->read("sent/f" + std::to_string(i)), bytesOf(kSize, i)) << i;
  EXPECT_LT(requests("/get"), kFiles / 4) << "a request per file";
}

// The walk's listings are fetched ahead of it, in its order, folders
// nested in folders among them: each folder of a new tree is still listed
// once, not fetched ahead and then again.
TEST_F(EngineListedContentTest, ANestedTreeComesDownWithOneListingPerFolder) {
  Contents files;
  std::vector<std::string> folders{"n"};
  for (const char* a : {"a", "b", "c"}) {
    folders.push_back("n/" + std::string(a));
    for (const char* b : {"x", "y", "z"}) folders.push_back("n/" + std::string(a) + "/" + b);
  }
  for (size_t k = 0; k < folders.size(); ++k) {
    for (int i = 0; i < 2; ++i)
      files[folders[k] + "/f" + std::to_string(i)] = bytesOf(100 + k * 10 + i, k * 10 + i);
  }
  auto a = computer();
  for (const auto& [rel, content] : files) a->write(rel, content);
  ASSERT_EQ(a->start(), 200);
  ASSERT_TRUE(
      waitFor([&] { return remoteTree().size() == files.size() + folders.size(); }, 120000));
  a->shutdown();

  ASSERT_TRUE(service().resetCounters());
  auto b = computer();
  ASSERT_EQ(b->start(), 200);
  ASSERT_TRUE(waitFor([&] { return b->tree() == remoteTree(); }, 120000));
  EXPECT_TRUE(b->settle());
  const int64_t passes = static_cast<int64_t>(b->state().remotePasses);
  b->shutdown();
  for (const auto& [rel, content] : files) EXPECT_EQ(b->read(rel), content) << rel;
  // The first pass lists home and every folder; each later one lists home
  // (its folders unchanged), and one more may have begun since.
  const int64_t gets = requests("/get");
  EXPECT_GE(gets, static_cast<int64_t>(folders.size()) + passes);
  EXPECT_LE(gets, static_cast<int64_t>(folders.size()) + passes + 1);
}

// A tree coming down fast, into folders made as it comes: the monitor
// reports every placing rename, or a new folder with all it holds by then,
// and none of it is the user's doing. Nothing goes back up, not even to be
// looked at and found unchanged.
TEST_F(EngineListedContentTest, FilesComingDownAreNotTakenForLocalChanges) {
  constexpr int kFolders = 30, kPerFolder = 40;
  auto a = computer();
  for (int k = 0; k < kFolders; ++k) {
    for (int i = 0; i < kPerFolder; ++i)
      a->write("fast/d" + std::to_string(k) + "/f" + std::to_string(i), bytesOf(200 + i, k + i));
  }
  ASSERT_EQ(a->start(), 200);
  ASSERT_TRUE(
      waitFor([&] { return remoteTree().size() == kFolders * (kPerFolder + 1) + 1u; }, 120000));
  a->shutdown();

  auto b = computer();
  ASSERT_EQ(b->start(), 200);
  ASSERT_TRUE(waitFor([&] { return b->tree() == remoteTree(); }, 120000));
  EXPECT_TRUE(b->settle());
  size_t sendsLookedAt = 0;
  for (const std::string& line : b->sink().lines()) {
    if (line.rfind("uploaded ", 0) == 0 ||
        (line.rfind("file ", 0) == 0 && line.ends_with(" " + std::to_string(kFileUploading))))
      ++sendsLookedAt;
  }
  EXPECT_EQ(sendsLookedAt, 0u);
}

}  // namespace
}  // namespace varnelo::e2e
