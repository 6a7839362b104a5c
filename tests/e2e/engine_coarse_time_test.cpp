// A sync folder on a file system that keeps file times coarsely (FAT: 2 s,
// exFAT: 1 s or 10 ms). What the journal records for a downloaded file
// must be what the file system stored, or every scan would take the
// untouched file for a local edit: uploaded again, kept back from a remote
// deletion, moved aside as a conflicted copy by a remote edit.
//
// The volume is a real file system image on a loop device, mounted by the
// kernel's driver (or, for exFAT, through FUSE). That needs root and the
// tools; without them the tests are skipped with the reason.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <ostream>

#include "FileJournal.h"
#include "JournalRows.h"
#include "TempDir.h"
#include "engine_harness.h"
#include "platform/text.h"
#include "platform/time.h"

namespace varnelo::e2e {
namespace {

namespace files = platform::files;

enum class Kind { Fat, ExFat };

void PrintTo(Kind kind, std::ostream* os) {
  *os << (kind == Kind::Fat ? "Fat" : "ExFat");
}

// A fresh file system image mounted on an empty folder until destroyed.
class CoarseVolume {
 public:
  CoarseVolume() = default;
  ~CoarseVolume() { unmount(); }
  CoarseVolume(const CoarseVolume&) = delete;
  CoarseVolume& operator=(const CoarseVolume&) = delete;

  // Formats an image of `kind` and mounts it on `folder`. Empty when done,
  // else why it could not be.
  std::string mount(Kind kind, const std::string& folder) {
    if (geteuid() != 0) return "mounting a file system image needs root";
    image_ = images_ / "volume.img";
    log_ = images_ / "mount.log";
    if (!run("truncate -s 96M " + quoted(image_))) return "cannot make the image file";
    const bool fat = kind == Kind::Fat;
    if (!run((fat ? "mkfs.vfat " : "mkfs.exfat ") + quoted(image_))) {
      return failed(fat ? "mkfs.vfat failed (package dosfstools)"
                        : "mkfs.exfat failed (package exfatprogs)");
    }
    // One loop device for every attempt, so that a failed one leaves none behind.
    const std::string named = images_ / "loop";
    std::string device;
    if (std::system(
            ("losetup -f --show " + quoted(image_) + " > " + quoted(named) + " 2>> " + quoted(log_))
                .c_str()) != 0 ||
        files::readFile(named, device) || device.empty()) {
      return failed("no loop device for the image");
    }
    loop_ = device.substr(0, device.find('\n'));
    const std::string from = quoted(loop_) + " " + quoted(folder);
    // FAT only through the kernel: fusefat refuses writes at scattered
    // offsets (EPERM), which every download of several chunks makes.
    if (fat && !tryMount("mount -t vfat " + from, folder)) {
      return failed("the kernel's vfat driver could not mount the image");
    }
    if (!fat && !tryMount("mount -t exfat " + from, folder) &&
        !tryMount("mount.exfat-fuse " + from, folder)) {
      return failed(
          "neither the kernel's exfat driver nor exfat-fuse (package exfat-fuse) could mount "
          "the image");
    }
    return probe();
  }

  void unmount() {
    if (!folder_.empty()) {
      // Lazily, should something still hold a file open there.
      if (!run("umount " + quoted(folder_))) run("umount -l " + quoted(folder_));
      folder_.clear();
    }
    if (!loop_.empty()) run("losetup -d " + quoted(loop_));
    loop_.clear();
  }

 private:
  static std::string quoted(const std::string& s) { return "'" + s + "'"; }

  // `what`, with the end of what the commands said.
  std::string failed(const std::string& what) const {
    std::string said;
    files::readFile(log_, said);
    if (said.size() > 400) said = said.substr(said.size() - 400);
    return what + (said.empty() ? "" : ": " + said);
  }

  bool run(const std::string& command) {
    return std::system((command + " >> " + quoted(log_) + " 2>&1").c_str()) == 0;
  }

  bool tryMount(const std::string& command, const std::string& folder) {
    struct stat inside {
    }, above{};
    if (!run(command) || ::stat(folder.c_str(), &inside) != 0 ||
        ::stat(files::parentPath(folder).c_str(), &above) != 0) {
      return false;
    }
    if (inside.st_dev == above.st_dev) return false;  // nothing mounted after all
    folder_ = folder;
    return true;
  }

  // A time of odd seconds and a fraction must come back changed, or there
  // is nothing to test.
  std::string probe() {
    const std::string file = files::joinPath(folder_, "probe.txt");
    const platform::FileTime asked = platform::fileTimeFromUnix(1600000001, 789000000);
    files::EntryInfo info;
    if (files::writeFile(file, "probe") || files::setLastWriteTime(file, asked) ||
        files::stat(file, info) || files::removeFile(file)) {
      return "the mounted volume does not take a file";
    }
    if (info.lastWrite == asked) return "the volume keeps exact times; nothing to test";
    return {};
  }

  test::TempDir images_;
  std::string image_, log_, loop_, folder_;
};

class EngineCoarseTimeTest : public EngineTest, public ::testing::WithParamInterface<Kind> {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (HasFatalFailure()) return;
    setenv("VARNELO_LOCAL_SCAN_MS", "300", 1);
    a_ = computer();
    b_ = computer();
    const std::string why = volume_.mount(GetParam(), b_->root());
    if (!why.empty()) GTEST_SKIP() << "no coarse-time volume: " << why;
  }
  void TearDown() override {
    if (b_) b_->shutdown();
    volume_.unmount();
    unsetenv("VARNELO_LOCAL_SCAN_MS");
    EngineTest::TearDown();
  }

  // Writes `content` on the first computer with a last-write time that no
  // coarse clock can keep (odd seconds and a fraction).
  void writeOnA(const std::string& rel, const std::string& content, int64_t seconds) {
    a_->write(rel, content);
    ASSERT_FALSE(
        files::setLastWriteTime(a_->path(rel), platform::fileTimeFromUnix(seconds | 1, 789123400)));
  }

  // Waits until the second computer has run `scans` more local scans and a
  // remote pass after this call, and is quiet.
  void waitForScans(int scans) {
    const uint64_t before = b_->state().localScans;
    ASSERT_TRUE(waitFor(
        [&] { return b_->state().localScans >= before + scans && b_->state().converged; }, 60000));
    ASSERT_TRUE(b_->settle());
  }

  // Every file's journal row holds the time the volume stored for it.
  void expectJournalMatchesVolume(const Tree& tree) {
    sync::FileJournal journal;
    ASSERT_EQ(journal.open(b_->dataFolder() + "basefs.db"), 0);
    for (const auto& [rel, entry] : tree) {
      if (entry == "D") continue;
      auto row = journalRow(journal, "home/" + platform::asciiLower(rel));
      ASSERT_TRUE(row) << rel;
      files::EntryInfo info;
      ASSERT_FALSE(files::stat(b_->path(rel), info)) << rel;
      EXPECT_EQ(static_cast<uint64_t>(row->editTime), info.lastWrite) << rel;
    }
  }

  // Requests that would change the service, made since the last reset.
  // Only the second computer runs then, so any one is its own: an
  // untouched download taken for a local edit and sent back.
  uint64_t changesSent() {
    Json::Value counters;
    EXPECT_TRUE(service().counters(&counters));
    uint64_t n = 0;
    for (const char* endpoint : {"/prepare_put", "/commit_put", "/2/put", "/2/put_batch", "/chunk",
                                 "/mkdir", "/move", "/delete"}) {
      n += counters["endpoints"][endpoint]["requests"].asUInt64();
    }
    return n;
  }

  static bool hasConflictedCopy(const Tree& tree) {
    for (const auto& [rel, entry] : tree) {
      if (rel.find("(Conflicted copy") != std::string::npos) return true;
    }
    return false;
  }

  // Lets the first computer send its local changes until the service holds
  // `expected`, and stops it there.
  void publishFromA(const Tree& expected) {
    ASSERT_EQ(a_->start(), 200);
    ASSERT_TRUE(waitFor([&] { return remoteTree() == expected; }, 60000));
    ASSERT_TRUE(a_->settle());
    a_->shutdown();
    ASSERT_TRUE(service().resetCounters());
  }

  // Files from the first computer on the service and downloaded to the
  // volume.
  Tree publishAndDownload() {
    writeOnA("notes.txt", "the notes", 1600000101);
    writeOnA("photos/beach.jpg", std::string(70000, 'j'), 1600000203);
    writeOnA("big.bin", std::string(5 * 1024 * 1024 + 17, 'b'), 1600000305);
    const Tree expected{{"notes.txt", fileEntry("the notes")},
                        {"photos", "D"},
                        {"photos/beach.jpg", fileEntry(std::string(70000, 'j'))},
                        {"big.bin", fileEntry(std::string(5 * 1024 * 1024 + 17, 'b'))}};
    publishFromA(expected);
    EXPECT_EQ(b_->start(), 200);
    EXPECT_TRUE(waitFor([&] { return b_->tree() == expected; }, 60000));
    waitForScans(1);
    return expected;
  }

  CoarseVolume volume_;
  std::unique_ptr<EngineComputer> a_, b_;
};

TEST_P(EngineCoarseTimeTest, ADownloadedFileIsInStepForEveryLaterScanAndPass) {
  const Tree synced = publishAndDownload();
  ASSERT_FALSE(HasFailure());
  expectJournalMatchesVolume(synced);

  // Several local scans, a restart (which scans everything against the
  // journal) and a remote pass that lists every folder again.
  waitForScans(3);
  b_->shutdown();
  ASSERT_EQ(b_->start(), 200);
  waitForScans(2);
  ASSERT_EQ(b_->engine()->pauseSync(), 200);
  ASSERT_EQ(b_->engine()->resumeSync(/*recheckAll=*/true), 200);
  waitForScans(1);

  EXPECT_EQ(changesSent(), 0u) << "an untouched download was sent back";
  EXPECT_EQ(b_->tree(), synced);
  EXPECT_EQ(remoteTree(), synced);
  expectJournalMatchesVolume(synced);
}

TEST_P(EngineCoarseTimeTest, ARemoteDeletionRemovesTheUntouchedDownload) {
  const Tree synced = publishAndDownload();
  ASSERT_FALSE(HasFailure());
  ASSERT_EQ(b_->engine()->pauseSync(), 200);

  ASSERT_FALSE(files::removeFile(a_->path("notes.txt")));
  ASSERT_FALSE(files::removeFile(a_->path("big.bin")));
  Tree left = synced;
  left.erase("notes.txt");
  left.erase("big.bin");
  publishFromA(left);
  ASSERT_FALSE(HasFailure());

  ASSERT_EQ(b_->engine()->resumeSync(false), 200);
  EXPECT_TRUE(waitFor([&] { return b_->tree() == left; }, 60000)) << "kept as if changed here";
  waitForScans(2);
  EXPECT_EQ(remoteTree(), left) << "the deleted files came back";
  EXPECT_EQ(b_->tree(), left);
  EXPECT_EQ(changesSent(), 0u);
}

TEST_P(EngineCoarseTimeTest, ARemoteEditReplacesTheUntouchedDownloadWithoutAConflictedCopy) {
  const Tree synced = publishAndDownload();
  ASSERT_FALSE(HasFailure());
  ASSERT_EQ(b_->engine()->pauseSync(), 200);

  writeOnA("notes.txt", "the notes, edited", 1600000407);
  writeOnA("big.bin", std::string(5 * 1024 * 1024 + 33, 'c'), 1600000509);
  Tree edited = synced;
  edited["notes.txt"] = fileEntry("the notes, edited");
  edited["big.bin"] = fileEntry(std::string(5 * 1024 * 1024 + 33, 'c'));
  publishFromA(edited);
  ASSERT_FALSE(HasFailure());

  ASSERT_EQ(b_->engine()->resumeSync(false), 200);
  EXPECT_TRUE(waitFor([&] { return b_->tree() == edited; }, 60000));
  waitForScans(2);
  const Tree local = b_->tree();
  EXPECT_FALSE(hasConflictedCopy(local));
  EXPECT_EQ(local, edited);
  EXPECT_EQ(remoteTree(), edited);
  EXPECT_EQ(changesSent(), 0u);
  expectJournalMatchesVolume(edited);
}

// Both sides changed: the local version is moved aside under a free name
// (a rename that must not replace, which FUSE volumes refuse as a flag),
// and the remote version takes the name.
TEST_P(EngineCoarseTimeTest, AnEditOnBothSidesKeepsBothVersions) {
  const Tree synced = publishAndDownload();
  ASSERT_FALSE(HasFailure());
  ASSERT_EQ(b_->engine()->pauseSync(), 200);

  writeOnA("notes.txt", "edited over there", 1600000611);
  Tree edited = synced;
  edited["notes.txt"] = fileEntry("edited over there");
  publishFromA(edited);
  ASSERT_FALSE(HasFailure());
  // Written in place: the volume is another file system than the harness's temporary folder.
  ASSERT_FALSE(files::writeFile(b_->path("notes.txt"), "edited here"));

  ASSERT_EQ(b_->engine()->resumeSync(false), 200);
  EXPECT_TRUE(waitFor(
      [&] {
        const Tree local = b_->tree();
        return hasConflictedCopy(local) && local == remoteTree();
      },
      60000));
  const Tree local = b_->tree();
  EXPECT_EQ(local.at("notes.txt"), fileEntry("edited over there"));
  bool kept = false;
  for (const auto& [rel, entry] : local) {
    kept |= rel.rfind("notes (Conflicted copy", 0) == 0 && entry == fileEntry("edited here");
  }
  EXPECT_TRUE(kept) << "the local edit is gone";
}

INSTANTIATE_TEST_SUITE_P(Volumes, EngineCoarseTimeTest, ::testing::Values(Kind::Fat, Kind::ExFat),
                         [](const auto& info) {
                           return std::string(info.param == Kind::Fat ? "Fat" : "ExFat");
                         });

}  // namespace
}  // namespace varnelo::e2e
