// A disk mounted on a folder below the sync folder that goes away while the
// engine runs is unavailable, not deleted: nothing in it is deleted on the
// service or written into the empty folder left behind, an edit another
// computer makes in it meanwhile survives, and once the disk is back the
// edit comes down. The computer with the disk runs in a user and mount
// namespace of its own (no root needed); its disk is a folder bound onto the
// sync folder's subfolder, so that it can be unmounted and mounted again
// with its content: a tmpfs (another device), or a plain folder of the same
// file system (the device stays the same, only the mount differs). A disk
// that comes back, or one mounted while the engine runs, is watched and
// scanned at once: what changed on it reaches the service in seconds, not
// at the next periodic scan.
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include "engine_harness.h"

namespace varnelo::e2e {
namespace {

namespace files = platform::files;

std::string quoted(const std::string& s) {
  return "'" + s + "'";
}

// The engine child (tests/e2e/engine_child) in a namespace of its own, set
// up by `setup` (shell commands run there before the engine starts).
class NamespaceEngine {
 public:
  NamespaceEngine(const EngineComputer& pc, const std::string& user, const std::string& key,
                  const std::string& secret, const std::string& setup) {
    const std::string script = setup + " && exec \"$@\"";
    std::vector<std::string> args{
        "/usr/bin/unshare",   "-Urm",          "/bin/sh", "-c", script, "sh",
        VARNELO_ENGINE_CHILD, pc.dataFolder(), pc.root(), user, key,    secret};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int in[2], out[2];
    if (pipe(in) != 0) return;
    if (pipe(out) != 0) {
      close(in[0]), close(in[1]);
      return;
    }
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      for (int fd : {in[0], in[1], out[0], out[1]}) close(fd);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    stdin_ = in[1];
    stdout_ = out[0];
  }
  ~NamespaceEngine() {
    if (stdin_ >= 0) close(stdin_);  // the child releases its engine and ends
    if (pid_ > 0) {
      int status = 0;
      if (!waitFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, 30000)) {
        ::kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
      }
    }
    if (stdout_ >= 0) close(stdout_);
  }

  // The first line the child writes: "started 200" once its engine runs.
  std::string started() { return line(30000); }
  // Runs a shell command in the child's namespace; its exit code, -1 when
  // no answer came.
  int run(const std::string& command) {
    if (!send("run " + command)) return -1;
    const std::string reply = line(30000);
    return reply.rfind("ran ", 0) == 0 ? std::stoi(reply.substr(4)) : -1;
  }
  // True once the child's engine ran a remote pass begun after the call
  // and has nothing left to do.
  bool settle(int timeoutMs = 30000) {
    return send("settle " + std::to_string(timeoutMs)) && line(timeoutMs + 5000) == "settled 1";
  }
  // Pauses and resumes the child's engine, which scans its folder.
  bool rescan() { return send("rescan") && line(30000) == "rescanned"; }

 private:
  bool send(const std::string& text) {
    const std::string l = text + "\n";
    return stdin_ >= 0 && write(stdin_, l.data(), l.size()) == static_cast<ssize_t>(l.size());
  }
  std::string line(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      if (size_t end = buffer_.find('\n'); end != std::string::npos) {
        std::string out = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        return out;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
      pollfd p{stdout_, POLLIN, 0};
      if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) return {};
      char chunk[256];
      const ssize_t n = read(stdout_, chunk, sizeof chunk);
      if (n <= 0) return {};
      buffer_.append(chunk, static_cast<size_t>(n));
    }
  }

  pid_t pid_ = -1;
  int stdin_ = -1;
  int stdout_ = -1;
  std::string buffer_;
};

enum class Disk { OtherDevice, SameDevice };

class EngineSubmountTest : public EngineTest,
                           public ::testing::WithParamInterface<std::tuple<int, Disk>> {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (system("/usr/bin/unshare -Urm /bin/true >/dev/null 2>&1") != 0)
      GTEST_SKIP() << "user and mount namespaces are not available (unshare -Urm failed)";
  }
  void TearDown() override {
    unsetenv("VARNELO_LOCAL_SCAN_MS");
    a_.reset();
    c_.reset();
    EngineTest::TearDown();
  }
  bool remoteIs(const Tree& want, int timeoutMs = 30000) {
    return waitFor([&] { return remoteTree() == want; }, timeoutMs);
  }
  // The other computers, running: A, and C when the test has three.
  void startOthers() {
    a_ = computer();
    ASSERT_EQ(a_->start(), 200);
    if (std::get<0>(GetParam()) == 3) {
      c_ = computer();
      ASSERT_EQ(c_->start(), 200);
    }
  }
  ::testing::AssertionResult othersHold(const Tree& want) {
    return c_ ? holdEverywhere({a_.get(), c_.get()}, want) : holdEverywhere({a_.get()}, want);
  }

  std::unique_ptr<EngineComputer> a_, c_;
};

TEST_P(EngineSubmountTest, ADiskUnmountedDuringALiveSyncKeepsAnEditMadeElsewhereInIt) {
  auto b = computer();
  const std::string disk = b->path("Disk");
  const std::string stash = b->root() + ".disk";  // where the disk's content lives
  ASSERT_FALSE(files::createDirectory(disk));
  ASSERT_FALSE(files::createDirectory(stash));
  b->write("top.txt", "top");
  const std::string mountDisk = "mount --bind " + quoted(stash) + " " + quoted(disk);
  // Local scans every second as well (read by the child at its start): the
  // walk must not read the folder the disk left as emptied either.
  setenv("VARNELO_LOCAL_SCAN_MS", "1000", 1);
  const bool tmpfs = std::get<1>(GetParam()) == Disk::OtherDevice;
  NamespaceEngine engine(*b, user(), tokenKey(), tokenSecret(),
                         (tmpfs ? "mount -t tmpfs tmpfs " + quoted(stash) + " && " : "") +
                             "printf one > " + quoted(stash + "/d.txt") + " && printf keep > " +
                             quoted(stash + "/k.txt") + " && " + mountDisk);
  ASSERT_EQ(engine.started(), "started 200");
  const Tree synced{{"Disk", "D"},
                    {"Disk/d.txt", fileEntry("one")},
                    {"Disk/k.txt", fileEntry("keep")},
                    {"top.txt", fileEntry("top")}};
  ASSERT_TRUE(remoteIs(synced));
  ASSERT_NO_FATAL_FAILURE(startOthers());
  ASSERT_TRUE(othersHold(synced));
  ASSERT_TRUE(engine.settle());

  // The disk goes away under the running engine; another computer edits a
  // file on it meanwhile.
  // Lazily, as a pulled disk goes: a file the engine has open there does not
  // keep it.
  ASSERT_EQ(engine.run("umount -l " + quoted(disk)), 0);
  a_->write("Disk/d.txt", "two");
  Tree edited = synced;
  edited["Disk/d.txt"] = fileEntry("two");
  ASSERT_TRUE(remoteIs(edited));
  ASSERT_TRUE(engine.settle());
  ASSERT_TRUE(engine.settle());
  EXPECT_TRUE(othersHold(edited));
  EXPECT_TRUE(files::isDirectory(disk));
  EXPECT_FALSE(files::exists(disk + "/d.txt")) << "written into the folder the disk left";

  // Back: the edit comes down onto the disk, and nothing else changes.
  ASSERT_EQ(engine.run(mountDisk), 0);
  EXPECT_TRUE(
      waitFor([&] { return engine.run("grep -qx two " + quoted(disk + "/d.txt")) == 0; }, 60000));
  ASSERT_TRUE(engine.settle());
  EXPECT_EQ(engine.run("grep -qx keep " + quoted(disk + "/k.txt")), 0);
  EXPECT_TRUE(othersHold(edited));
}

// Mounted while the engine runs, so that no scan has walked it yet: the
// remote pass that writes onto the disk remembers it as a mount point, and
// once it goes the scan that follows takes nothing on it for deleted.
TEST_P(EngineSubmountTest, ADiskMountedDuringALiveSyncIsNotReadAsEmptiedOnceItGoes) {
  auto b = computer();
  const std::string disk = b->path("Disk");
  const std::string stash = b->root() + ".disk";
  ASSERT_FALSE(files::createDirectory(disk));
  ASSERT_FALSE(files::createDirectory(stash));
  b->write("top.txt", "top");
  const bool tmpfs = std::get<1>(GetParam()) == Disk::OtherDevice;
  NamespaceEngine engine(*b, user(), tokenKey(), tokenSecret(),
                         tmpfs ? "mount -t tmpfs tmpfs " + quoted(stash) : std::string("true"));
  ASSERT_EQ(engine.started(), "started 200");
  const Tree synced{{"Disk", "D"}, {"top.txt", fileEntry("top")}};
  ASSERT_TRUE(remoteIs(synced));
  ASSERT_NO_FATAL_FAILURE(startOthers());
  ASSERT_TRUE(othersHold(synced));
  ASSERT_TRUE(engine.settle());

  ASSERT_EQ(engine.run("mount --bind " + quoted(stash) + " " + quoted(disk)), 0);
  a_->write("Disk/new.txt", "new");
  Tree withNew = synced;
  withNew["Disk/new.txt"] = fileEntry("new");
  ASSERT_TRUE(remoteIs(withNew));
  ASSERT_TRUE(
      waitFor([&] { return engine.run("grep -qx new " + quoted(disk + "/new.txt")) == 0; }, 60000));
  ASSERT_TRUE(engine.settle());

  ASSERT_EQ(engine.run("umount -l " + quoted(disk)), 0);
  ASSERT_TRUE(engine.rescan());
  ASSERT_TRUE(engine.settle());
  EXPECT_TRUE(othersHold(withNew));
}

INSTANTIATE_TEST_SUITE_P(Computers, EngineSubmountTest,
                         ::testing::Combine(::testing::Values(2, 3),
                                            ::testing::Values(Disk::OtherDevice, Disk::SameDevice)),
                         [](const auto& info) {
                           return std::to_string(std::get<0>(info.param)) + "Computers" +
                                  (std::get<1>(info.param) == Disk::OtherDevice ? "Tmpfs"
                                                                                : "SameDevice");
                         });

// Two computers only (the third adds nothing to what is looked at here),
// and no local scans but the engine's own: the periodic one is ten minutes
// away, so whatever arrives in time was found because the mount changed.
class EngineRemountTest : public EngineTest, public ::testing::WithParamInterface<Disk> {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (system("/usr/bin/unshare -Urm /bin/true >/dev/null 2>&1") != 0)
      GTEST_SKIP() << "user and mount namespaces are not available (unshare -Urm failed)";
    b_ = computer();
    disk_ = b_->path("Disk");
    stash_ = b_->root() + ".disk";
    ASSERT_FALSE(files::createDirectory(disk_));
    ASSERT_FALSE(files::createDirectory(stash_));
    b_->write("top.txt", "top");
  }
  // Shell commands that make the disk's own file system (a tmpfs for
  // another device), for the namespace's setup.
  std::string makeDisk() const {
    return GetParam() == Disk::OtherDevice ? "mount -t tmpfs tmpfs " + quoted(stash_)
                                           : std::string("true");
  }
  std::string diskArg() const { return quoted(disk_); }
  std::string mountDisk() const { return "mount --bind " + quoted(stash_) + " " + diskArg(); }
  std::string onDisk(const std::string& name) const { return quoted(disk_ + "/" + name); }
  std::string inStash(const std::string& name) const { return quoted(stash_ + "/" + name); }

  // Well under the periodic local scan.
  static constexpr int kPromptMs = 20000;
  std::unique_ptr<EngineComputer> b_;
  std::string disk_, stash_;
};

TEST_P(EngineRemountTest, ChangesOnADiskThatComesBackAreSentAtOnce) {
  NamespaceEngine engine(*b_, user(), tokenKey(), tokenSecret(),
                         makeDisk() + " && printf one > " + inStash("d.txt") + " && printf old > " +
                             inStash("r.txt") + " && " + mountDisk());
  ASSERT_EQ(engine.started(), "started 200");
  const Tree synced{{"Disk", "D"},
                    {"Disk/d.txt", fileEntry("one")},
                    {"Disk/r.txt", fileEntry("old")},
                    {"top.txt", fileEntry("top")}};
  ASSERT_TRUE(waitFor([&] { return remoteTree() == synced; }));
  auto a = computer();
  ASSERT_EQ(a->start(), 200);
  ASSERT_TRUE(holdEverywhere({a.get()}, synced));
  ASSERT_TRUE(engine.settle());

  // An edit and a rename the moment before the disk goes (their events meet
  // a folder no longer mounted), and a file written to the disk while it is
  // away (on another computer, say): no event tells of any of them.
  ASSERT_EQ(engine.run("printf two > " + onDisk("d.txt") + " && mv " + onDisk("r.txt") + " " +
                       onDisk("r2.txt") + " && umount -l " + diskArg()),
            0);
  ASSERT_EQ(engine.run("printf away > " + inStash("w.txt")), 0);
  ASSERT_TRUE(engine.settle());

  ASSERT_EQ(engine.run(mountDisk()), 0);
  Tree back{{"Disk", "D"},
            {"Disk/d.txt", fileEntry("two")},
            {"Disk/r2.txt", fileEntry("old")},
            {"Disk/w.txt", fileEntry("away")},
            {"top.txt", fileEntry("top")}};
  EXPECT_TRUE(holdEverywhere({a.get()}, back, kPromptMs));

  // And what is written on it once it is back.
  ASSERT_EQ(
      engine.run("printf back > " + onDisk("b.txt") + " && printf three > " + onDisk("d.txt")), 0);
  back["Disk/b.txt"] = fileEntry("back");
  back["Disk/d.txt"] = fileEntry("three");
  EXPECT_TRUE(holdEverywhere({a.get()}, back, kPromptMs));
}

TEST_P(EngineRemountTest, FilesOnADiskMountedDuringALiveSyncAreSent) {
  NamespaceEngine engine(*b_, user(), tokenKey(), tokenSecret(),
                         makeDisk() + " && printf early > " + inStash("e.txt"));
  ASSERT_EQ(engine.started(), "started 200");
  Tree want{{"Disk", "D"}, {"top.txt", fileEntry("top")}};
  ASSERT_TRUE(waitFor([&] { return remoteTree() == want; }));
  auto a = computer();
  ASSERT_EQ(a->start(), 200);
  ASSERT_TRUE(holdEverywhere({a.get()}, want));
  ASSERT_TRUE(engine.settle());

  // What the disk held before, and what is made on it afterwards (the watch
  // must be on the disk now, not on the folder it covers).
  ASSERT_EQ(engine.run(mountDisk()), 0);
  want["Disk/e.txt"] = fileEntry("early");
  EXPECT_TRUE(holdEverywhere({a.get()}, want, kPromptMs));
  ASSERT_EQ(engine.run("mkdir " + onDisk("sub") + " && printf new > " + onDisk("sub/n.txt")), 0);
  want["Disk/sub"] = "D";
  want["Disk/sub/n.txt"] = fileEntry("new");
  EXPECT_TRUE(holdEverywhere({a.get()}, want, kPromptMs));

  // Gone again: held, nothing deleted.
  ASSERT_EQ(engine.run("umount -l " + diskArg()), 0);
  ASSERT_TRUE(engine.settle());
  EXPECT_TRUE(holdEverywhere({a.get()}, want));
}

INSTANTIATE_TEST_SUITE_P(Disks, EngineRemountTest,
                         ::testing::Values(Disk::OtherDevice, Disk::SameDevice),
                         [](const auto& info) {
                           return info.param == Disk::OtherDevice ? "Tmpfs" : "SameDevice";
                         });

}  // namespace
}  // namespace varnelo::e2e
