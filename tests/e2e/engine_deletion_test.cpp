// Two computers on one account where one deletes what the other changed
// meanwhile: a remote change the deleting side never saw wins over the
// deletion, in files and in folders (files added or moved into a folder
// that is deleted elsewhere come back; only what was as last synced goes),
// and a file that cannot be deleted here goes up again rather than out of step.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "engine_harness.h"

namespace varnelo::e2e {
namespace {

namespace files = platform::files;

class EngineDeletionTest : public EngineTest {
 protected:
  bool remoteIs(const Tree& want) {
    return waitFor([&] { return remoteTree() == want; }, 30000);
  }
};

// Sets or clears a file's immutable flag, which even root cannot delete
// past; false where the file system or the process may not set it.
bool setImmutable(const std::string& path, bool on) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool ok = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (ok) {
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    ok = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  ::close(fd);
  return ok;
}

TEST_F(EngineDeletionTest, AnEditMadeElsewhereWinsOverALocalDelete) {
  auto a = computer();
  auto b = computer();
  a->write("report.txt", "first draft");
  a->write("plain.txt", "untouched");
  ASSERT_EQ(a->start(), 200);
  ASSERT_EQ(b->start(), 200);
  const Tree synced{{"plain.txt", fileEntry("untouched")},
                    {"report.txt", fileEntry("first draft")}};
  ASSERT_TRUE(holdEverywhere({a.get(), b.get()}, synced));

  // A is off while B edits; A then deletes both files before it sees the edit.
  a->engine()->stopSync(false);
  b->write("report.txt", "final version from b");
  ASSERT_TRUE(remoteIs(
      {{"plain.txt", fileEntry("untouched")}, {"report.txt", fileEntry("final version from b")}}));
  ASSERT_FALSE(files::removeFile(a->path("report.txt")));
  ASSERT_FALSE(files::removeFile(a->path("plain.txt")));
  ASSERT_EQ(a->start(), 200);

  // The unchanged file is deleted everywhere; the edit comes back to A.
  EXPECT_TRUE(
      holdEverywhere({a.get(), b.get()}, {{"report.txt", fileEntry("final version from b")}}));
}

TEST_F(EngineDeletionTest, FilesAddedOrMovedIntoAFolderDeletedElsewhereComeBack) {
  auto a = computer();
  auto b = computer();
  a->write("docs/old.txt", "as synced");
  a->write("docs/sub/deep.txt", "deep and unchanged");
  a->write("moved.txt", "moved by b");
  ASSERT_EQ(a->start(), 200);
  ASSERT_EQ(b->start(), 200);
  ASSERT_TRUE(
      holdEverywhere({a.get(), b.get()}, {{"docs", "D"},
                                          {"docs/old.txt", fileEntry("as synced")},
                                          {"docs/sub", "D"},
                                          {"docs/sub/deep.txt", fileEntry("deep and unchanged")},
                                          {"moved.txt", fileEntry("moved by b")}}));

  a->engine()->stopSync(false);
  b->write("docs/new.txt", "added by b");
  ASSERT_FALSE(files::rename(b->path("moved.txt"), b->path("docs/sub/moved.txt")));
  ASSERT_TRUE(remoteIs({{"docs", "D"},
                        {"docs/new.txt", fileEntry("added by b")},
                        {"docs/old.txt", fileEntry("as synced")},
                        {"docs/sub", "D"},
                        {"docs/sub/deep.txt", fileEntry("deep and unchanged")},
                        {"docs/sub/moved.txt", fileEntry("moved by b")}}));
  ASSERT_TRUE(b->settle());
  // A deletes the whole folder (a rename of it would delete it the same way).
  ASSERT_FALSE(files::removeTree(a->path("docs")));
  ASSERT_EQ(a->start(), 200);

  // What A saw as synced goes; what B added or moved in stays, and A gets it back.
  EXPECT_TRUE(
      holdEverywhere({a.get(), b.get()}, {{"docs", "D"},
                                          {"docs/new.txt", fileEntry("added by b")},
                                          {"docs/sub", "D"},
                                          {"docs/sub/moved.txt", fileEntry("moved by b")}}));
}

// The one entry of `tree` whose path starts with `stem + " (Conflicted copy"`.
std::string conflictedCopy(const Tree& tree, const std::string& stem) {
  std::string found;
  for (const auto& [path, what] : tree) {
    if (path.rfind(stem + " (Conflicted copy", 0) == 0 && path.find('/') == std::string::npos)
      found = path;
  }
  return found;
}

TEST_F(EngineDeletionTest, ASwapOfKindNeverDeletesWhatChangedElsewhere) {
  auto a = computer();
  auto b = computer();
  a->write("notes", "a file at first");
  a->write("box/old.txt", "as synced");
  ASSERT_EQ(a->start(), 200);
  ASSERT_EQ(b->start(), 200);
  ASSERT_TRUE(holdEverywhere({a.get(), b.get()}, {{"box", "D"},
                                                  {"box/old.txt", fileEntry("as synced")},
                                                  {"notes", fileEntry("a file at first")}}));
  a->engine()->stopSync(false);
  b->write("notes", "edited by b");
  b->write("box/new.txt", "added by b");
  ASSERT_TRUE(remoteIs({{"box", "D"},
                        {"box/new.txt", fileEntry("added by b")},
                        {"box/old.txt", fileEntry("as synced")},
                        {"notes", fileEntry("edited by b")}}));
  ASSERT_TRUE(b->settle());
  // A turns the file into a folder and the folder into a file.
  ASSERT_FALSE(files::removeFile(a->path("notes")));
  a->write("notes/inside.txt", "a's folder");
  ASSERT_FALSE(files::removeTree(a->path("box")));
  a->write("box", "a's file");
  ASSERT_EQ(a->start(), 200);

  // B's edit and B's new file win the names; A's versions stay beside them.
  auto expected = [&](Tree remote) -> Tree {
    const std::string notesCopy = conflictedCopy(remote, "notes");
    const std::string boxCopy = conflictedCopy(remote, "box");
    if (notesCopy.empty() || boxCopy.empty()) return {};
    return {{"box", "D"},
            {"box/new.txt", fileEntry("added by b")},  // old.txt was unchanged: A's delete holds
            {boxCopy, fileEntry("a's file")},
            {"notes", fileEntry("edited by b")},
            {notesCopy, "D"},
            {notesCopy + "/inside.txt", fileEntry("a's folder")}};
  };
  Tree want;
  EXPECT_TRUE(waitFor(
      [&] {
        const Tree remote = remoteTree();
        want = expected(remote);
        return !want.empty() && remote == want;
      },
      60000))
      << "the service never held both sides' versions";
  EXPECT_TRUE(holdEverywhere({a.get(), b.get()}, want));
}

TEST_F(EngineDeletionTest, AFailedRemoteDeleteIsRetried) {
  auto a = computer();
  a->write("old.txt", "to be deleted");
  ASSERT_EQ(a->start(), 200);
  ASSERT_TRUE(remoteIs({{"old.txt", fileEntry("to be deleted")}}));
  ASSERT_TRUE(a->settle());
  ASSERT_TRUE(service().setFaults("/delete:error=1"));
  ASSERT_FALSE(files::removeFile(a->path("old.txt")));
  EXPECT_TRUE(waitFor([&] { return a->sink().has("result 500 " + a->path("old.txt")); }));
  ASSERT_TRUE(service().setFaults(""));
  EXPECT_TRUE(remoteIs({}));
}

// A deletion from elsewhere that cannot be carried out here (the file is
// immutable): the file stays, and so it goes up again and comes back to the
// other computer, instead of staying here out of step with nothing said.
TEST_F(EngineDeletionTest, AFileThatCannotBeDeletedHereIsSentBack) {
  auto a = computer();
  auto b = computer();
  a->write("locked.txt", "cannot go");
  a->write("plain.txt", "can go");
  ASSERT_EQ(a->start(), 200);
  ASSERT_EQ(b->start(), 200);
  ASSERT_TRUE(holdEverywhere({a.get(), b.get()}, {{"locked.txt", fileEntry("cannot go")},
                                                  {"plain.txt", fileEntry("can go")}}));
  const std::string locked = a->path("locked.txt");
  if (!setImmutable(locked, true)) GTEST_SKIP() << "no immutable files on this file system";
  // Cleared whatever happens, or the test's folder could not be removed.
  struct Unlock {
    std::string path;
    ~Unlock() { setImmutable(path, false); }
  } unlock{locked};

  ASSERT_FALSE(files::removeFile(b->path("locked.txt")));
  ASSERT_FALSE(files::removeFile(b->path("plain.txt")));
  EXPECT_TRUE(holdEverywhere({a.get(), b.get()}, {{"locked.txt", fileEntry("cannot go")}}));
  EXPECT_TRUE(a->settle());
}

}  // namespace
}  // namespace varnelo::e2e
