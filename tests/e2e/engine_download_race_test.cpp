// The user writes a file while its download is in flight: the download must
// never replace what the user just wrote. Whatever way the engine resolves
// it (the local bytes kept as a conflicted copy, or the download given up and
// tried again), after convergence the user's bytes and the remote version
// are both there, and both computers equal the service. Sizes cover a file
// whose data comes inline with its entry, a file of one chunk (both are
// transferred beside other downloads and completed later) and a file of
// several chunks fetched in parallel.
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <ostream>
#include <thread>
#include <vector>

#include "engine_harness.h"

namespace varnelo::e2e {
namespace {

namespace files = platform::files;

struct Size {
  const char* name;
  size_t bytes;
  // The service's replies that carry the file's data, and so the fault
  // that keeps its download in flight.
  const char* delay;
};

const Size kSizes[] = {
    {"Inline", 3000, "/get:delay=1,delayMs=3000"},
    {"OneChunk", 200 * 1024, "/data:delay=1,delayMs=3000"},
    {"SeveralChunks", 9 * 1024 * 1024 + 123, "/data:delay=1,delayMs=3000"},
};

void PrintTo(const Size& size, std::ostream* os) {
  *os << size.name;
}

// `n` bytes no other call with another `tag` repeats.
std::string content(size_t n, char tag) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 31 + i / 997 + tag * 7);
  return s;
}

class EngineDownloadRaceTest : public EngineTest, public ::testing::WithParamInterface<Size> {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    // The smallest file's data comes with its own entry, by a request the
    // fault keeps in flight; had it come along with its folder's listing,
    // nothing would be in flight to race with.
    setenv("VARNELO_LISTED_CONTENT", "0", 1);
  }
  void TearDown() override {
    unsetenv("VARNELO_LISTED_CONTENT");
    EngineTest::TearDown();
  }

  // Every file's content in `tree`, sorted.
  static std::vector<std::string> contents(const Tree& tree) {
    std::vector<std::string> out;
    for (const auto& [rel, entry] : tree) {
      if (entry != "D") out.push_back(entry);
    }
    std::sort(out.begin(), out.end());
    return out;
  }

  static size_t count(EngineComputer& pc, const std::string& line) {
    const auto lines = pc.sink().lines();
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
  }

  static bool hasConflictedCopyOf(const Tree& tree, const std::string& stem) {
    return std::any_of(tree.begin(), tree.end(), [&](const auto& e) {
      return e.first.rfind(stem + " (Conflicted copy", 0) == 0;
    });
  }

  // Lets `pc` download what the service holds, slowed by the size's fault,
  // and calls `write` once the download of `rel` has started. Asserts that
  // the write came before the download was complete.
  template <class Write>
  void writeWhileDownloading(EngineComputer& pc, const std::string& rel, Write write) {
    const std::string started = "file " + pc.path(rel) + " 2";
    const std::string done = "downloaded " + pc.path(rel);
    const size_t startedBefore = count(pc, started), doneBefore = count(pc, done);
    ASSERT_TRUE(service().setFaults(GetParam().delay));
    ASSERT_EQ(pc.engine()->resumeSync(false), 200);
    ASSERT_TRUE(waitFor([&] { return count(pc, started) > startedBefore; }, 60000));
    write();
    ASSERT_EQ(count(pc, done), doneBefore)
        << "the download ended before the local write; the test proves nothing";
    ASSERT_TRUE(service().setFaults(""));
  }

  // Both computers, and the service, hold the same files, among them
  // exactly `expected` (by content), under `rel` and its conflicted copy.
  void expectConverged(EngineComputer& a, EngineComputer& b, const std::string& rel,
                       std::vector<std::string> expected) {
    ASSERT_TRUE(waitFor([&] { return remoteTree().size() == expected.size(); }, 60000))
        << "the service never got both versions";
    ASSERT_TRUE(waitFor([&] { return b.tree() == remoteTree(); }, 120000));
    EXPECT_TRUE(b.settle(60000));
    ASSERT_EQ(a.start(), 200);
    ASSERT_TRUE(waitFor([&] { return a.tree() == remoteTree(); }, 120000));
    EXPECT_TRUE(a.settle(60000));

    const Tree remote = remoteTree();
    EXPECT_EQ(b.tree(), remote);
    EXPECT_EQ(a.tree(), remote);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(contents(remote), expected) << "a version was lost or duplicated";
    EXPECT_EQ(remote.count(rel), 1u);
    const std::string stem = rel.substr(0, rel.rfind('.'));
    EXPECT_TRUE(hasConflictedCopyOf(remote, stem));
  }
};

TEST_P(EngineDownloadRaceTest, AnEditDuringTheDownloadOfANewerVersionIsKept) {
  const size_t n = GetParam().bytes;
  const std::string v0 = content(n, 'a'), remoteEdit = content(n + 5, 'b');
  const std::string localEdit = content(n + 11, 'c');
  auto a = computer();
  auto b = computer();
  a->write("doc.bin", v0);
  ASSERT_EQ(a->start(), 200);
  ASSERT_TRUE(waitFor([&] { return remoteTree() == Tree{{"doc.bin", fileEntry(v0)}}; }, 60000));
  ASSERT_EQ(b->start(), 200);
  ASSERT_TRUE(waitFor([&] { return b->read("doc.bin") == v0; }, 60000));
  ASSERT_TRUE(b->settle());

  // The other computer edits the file while this one is paused...
  ASSERT_EQ(b->engine()->pauseSync(), 200);
  a->write("doc.bin", remoteEdit);
  ASSERT_TRUE(waitFor(
      [&] {
        return remoteTree() == Tree{{"doc.bin", fileEntry(remoteEdit)}};
      },
      60000));
  a->shutdown();

  // ...and the user here saves over it in place while the newer version
  // comes down.
  writeWhileDownloading(*b, "doc.bin",
                        [&] { ASSERT_FALSE(files::writeFile(b->path("doc.bin"), localEdit)); });
  expectConverged(*a, *b, "doc.bin", {fileEntry(remoteEdit), fileEntry(localEdit)});
}

TEST_P(EngineDownloadRaceTest, AFileCreatedWhereANewFileIsComingDownIsKept) {
  const size_t n = GetParam().bytes;
  const std::string remoteNew = content(n, 'd'), localNew = content(n + 3, 'e');
  auto a = computer();
  auto b = computer();
  ASSERT_EQ(b->start(), 200);
  ASSERT_TRUE(b->settle());
  ASSERT_EQ(b->engine()->pauseSync(), 200);

  a->write("fresh.bin", remoteNew);
  ASSERT_EQ(a->start(), 200);
  ASSERT_TRUE(waitFor(
      [&] {
        return remoteTree() == Tree{{"fresh.bin", fileEntry(remoteNew)}};
      },
      60000));
  a->shutdown();

  // The user's file appears at the free name while the remote one is on its way.
  writeWhileDownloading(*b, "fresh.bin", [&] { b->write("fresh.bin", localNew); });
  expectConverged(*a, *b, "fresh.bin", {fileEntry(remoteNew), fileEntry(localNew)});
}

// Appends `tail` to `folder`/`name` the moment a rename gives the file that
// name (as a program that watches the folder would), once; joined when
// destroyed.
class AppendOnArrival {
 public:
  AppendOnArrival(const std::string& folder, std::string name, std::string tail)
      : fd_(inotify_init1(IN_CLOEXEC | IN_NONBLOCK)) {
    if (fd_ >= 0) inotify_add_watch(fd_, folder.c_str(), IN_MOVED_TO);
    thread_ = std::thread(
        [this, path = folder + "/" + name, name = std::move(name), tail = std::move(tail)] {
          alignas(inotify_event) char buffer[4096];
          while (!stop_ && !appended_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            for (ssize_t at = 0; n > 0 && at < n;) {
              const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
              if (e->len && name == e->name) {
                const int file = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
                appended_ = file >= 0 && ::write(file, tail.data(), tail.size()) ==
                                             static_cast<ssize_t>(tail.size());
                if (file >= 0) ::close(file);
                break;
              }
              at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            }
          }
        });
  }
  ~AppendOnArrival() {
    stop_ = true;
    thread_.join();
    if (fd_ >= 0) ::close(fd_);
  }
  AppendOnArrival(const AppendOnArrival&) = delete;
  AppendOnArrival& operator=(const AppendOnArrival&) = delete;
  bool appended() const { return appended_; }

 private:
  const int fd_;
  std::atomic<bool> stop_{false}, appended_{false};
  std::thread thread_;
};

TEST_P(EngineDownloadRaceTest, AnEditRightAfterTheDownloadTakesItsNameIsSent) {
  // The edit lands between the rename that places the download and the
  // journal row that records it: the row must describe the downloaded file,
  // so that the scan sees the edit, sends it, and never resets its time.
  const size_t n = GetParam().bytes;
  const std::string v0 = content(n, 'f'), tail = "and the user's own last line";
  auto a = computer();
  auto b = computer();
  a->write("doc.bin", v0);
  ASSERT_EQ(a->start(), 200);
  ASSERT_TRUE(waitFor([&] { return remoteTree() == Tree{{"doc.bin", fileEntry(v0)}}; }, 60000));
  a->shutdown();

  AppendOnArrival editor(b->root(), "doc.bin", tail);
  ASSERT_EQ(b->start(), 200);
  ASSERT_TRUE(waitFor([&] { return editor.appended(); }, 60000));
  const Tree edited{{"doc.bin", fileEntry(v0 + tail)}};
  EXPECT_TRUE(waitFor([&] { return remoteTree() == edited; }, 60000))
      << "the edit made right after the download was never sent";
  EXPECT_TRUE(b->settle(60000));
  EXPECT_EQ(b->read("doc.bin"), v0 + tail);
  EXPECT_EQ(remoteTree(), edited);
}

INSTANTIATE_TEST_SUITE_P(Sizes, EngineDownloadRaceTest, ::testing::ValuesIn(kSizes),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace varnelo::e2e
