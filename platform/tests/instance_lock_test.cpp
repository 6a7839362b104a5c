#include "platform/instance_lock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/runtime_dir.h"
#include "test_folder.h"

using platform::testing::ScopedEnv;
using platform::testing::TempFolder;

TEST(RuntimeFolder, ObjectNamesBecomeFileNames) {
  EXPECT_EQ(platform::objectFileName("Global\\VarneloAppInstance"), "VarneloAppInstance");
  EXPECT_EQ(platform::objectFileName("Local\\X"), "X");
  EXPECT_EQ(platform::objectFileName("{52AE308F-1E38-4870-9D78-D5714C47A7D8}-17"),
            "52AE308F-1E38-4870-9D78-D5714C47A7D8-17");
  EXPECT_EQ(platform::objectFileName("a/../b c"), "a_.._b_c");
  EXPECT_EQ(platform::objectFileName(".."), "");
  EXPECT_EQ(platform::objectFileName("{}"), "");
  EXPECT_EQ(platform::objectFileName(std::string(201, 'a')), "");
}

TEST(RuntimeFolder, PrivateFolderInsideTheRuntimeDirectory) {
  TempFolder base;
  ScopedEnv env("XDG_RUNTIME_DIR", base.path().c_str());
  std::string dir;
  ASSERT_FALSE(platform::runtimeFolder(dir));
  EXPECT_EQ(dir, base / "varnelo");
  struct stat st {};
  ASSERT_EQ(stat(dir.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  // A folder of ours left too open is narrowed again.
  ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
  ASSERT_FALSE(platform::runtimeFolder(dir));
  ASSERT_EQ(stat(dir.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(RuntimeFolder, RefusesALinkOrSomeoneElsesFolder) {
  TempFolder base;
  TempFolder elsewhere;
  ScopedEnv env("XDG_RUNTIME_DIR", base.path().c_str());
  ASSERT_EQ(symlink(elsewhere.path().c_str(), (base / "varnelo").c_str()), 0);
  std::string dir;
  EXPECT_EQ(platform::runtimeFolder(dir), std::errc::operation_not_permitted);
  if (geteuid() == 0) {
    ASSERT_EQ(unlink((base / "varnelo").c_str()), 0);
    ASSERT_EQ(mkdir((base / "varnelo").c_str(), 0700), 0);
    ASSERT_EQ(chown((base / "varnelo").c_str(), 65534, 65534), 0);
    EXPECT_EQ(platform::runtimeFolder(dir), std::errc::operation_not_permitted);
  }
}

TEST(RuntimeFolder, FallsBackToAPrivateTmpFolder) {
  ScopedEnv env("XDG_RUNTIME_DIR", nullptr);
  std::string dir;
  ASSERT_FALSE(platform::runtimeFolder(dir));
  EXPECT_EQ(dir, "/tmp/varnelo-" + std::to_string(geteuid()));
  ScopedEnv relative("XDG_RUNTIME_DIR", "relative/path");
  std::string again;
  ASSERT_FALSE(platform::runtimeFolder(again));
  EXPECT_EQ(again, dir);
  if (geteuid() == 0) {
    // Another user's runtime directory (sudo keeps it) is left alone.
    TempFolder theirs;
    ASSERT_EQ(chown(theirs.path().c_str(), 65534, 65534), 0);
    ScopedEnv other("XDG_RUNTIME_DIR", theirs.path().c_str());
    ASSERT_FALSE(platform::runtimeFolder(again));
    EXPECT_EQ(again, dir);
    EXPECT_FALSE(platform::files::exists(theirs / "varnelo"));
  }
}

class InstanceLockTest : public ::testing::Test {
 protected:
  TempFolder base_;
  ScopedEnv env_{"XDG_RUNTIME_DIR", base_.path().c_str()};
};

TEST_F(InstanceLockTest, OneHolderAtATimeTellingWhoHoldsIt) {
  platform::InstanceLock first;
  ASSERT_FALSE(first.tryAcquire("Global\\VarneloAppInstance"));
  EXPECT_TRUE(first.held());
  EXPECT_EQ(first.path(), base_ / "varnelo/VarneloAppInstance.lock");

  platform::InstanceLock second;
  EXPECT_EQ(second.tryAcquire("Global\\VarneloAppInstance"),
            std::errc::resource_unavailable_try_again);
  EXPECT_FALSE(second.held());
  EXPECT_EQ(second.holder().pid, getpid());
  EXPECT_EQ(second.holder().program, "platform_tests");
  EXPECT_EQ(second.holder().describe(), "platform_tests (pid " + std::to_string(getpid()) + ")");

  // Another name is another lock.
  platform::InstanceLock other;
  EXPECT_FALSE(other.tryAcquire("Global\\VarneloHostInstance"));

  // Moving keeps it held; releasing frees it for the next one.
  platform::InstanceLock moved(std::move(first));
  EXPECT_TRUE(moved.held());
  EXPECT_FALSE(first.held());
  EXPECT_EQ(second.tryAcquire("Global\\VarneloAppInstance"),
            std::errc::resource_unavailable_try_again);
  moved.release();
  EXPECT_FALSE(second.tryAcquire("Global\\VarneloAppInstance"));
  EXPECT_EQ(platform::InstanceLock().tryAcquire("{}"), std::errc::invalid_argument);
}

TEST_F(InstanceLockTest, HeldByAnotherProcessUntilItEnds) {
  int ready[2];
  int finish[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(finish), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    platform::InstanceLock lock;
    const char ok = lock.tryAcquire("Global\\VarneloHostInstance") ? 'n' : 'y';
    [[maybe_unused]] ssize_t w = write(ready[1], &ok, 1);
    char c;
    [[maybe_unused]] ssize_t r = read(finish[0], &c, 1);
    _exit(0);  // the lock is still held: ending the process must free it
  }
  char ok = 0;
  ASSERT_EQ(read(ready[0], &ok, 1), 1);
  ASSERT_EQ(ok, 'y');
  platform::InstanceLock lock;
  EXPECT_EQ(lock.tryAcquire("Global\\VarneloHostInstance"),
            std::errc::resource_unavailable_try_again);
  EXPECT_EQ(lock.holder().pid, child);
  ASSERT_EQ(write(finish[1], "x", 1), 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_FALSE(lock.tryAcquire("Global\\VarneloHostInstance"));
  EXPECT_EQ(platform::readLockHolder(lock.path()).pid, getpid());
  for (int fd : {ready[0], ready[1], finish[0], finish[1]}) close(fd);
}

TEST_F(InstanceLockTest, ExplicitFilesAndUnreadableRecords) {
  TempFolder data;
  const std::string path = data / "varnelocmd.lock";
  platform::InstanceLock lock;
  ASSERT_FALSE(lock.tryAcquireFile(path));
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  lock.release();
  EXPECT_EQ(platform::readLockHolder(path).pid, 0) << "a released lock records nobody";

  ASSERT_FALSE(platform::files::writeFile(path, "12 half-writ"));
  EXPECT_EQ(platform::readLockHolder(path).describe(), "another process");
  ASSERT_FALSE(platform::files::writeFile(path, "77 a\x01z\n"));
  EXPECT_EQ(platform::readLockHolder(path).describe(), "a?z (pid 77)");

  EXPECT_EQ(lock.tryAcquireFile(data / "missing/x.lock"), std::errc::no_such_file_or_directory);
  ASSERT_EQ(symlink(path.c_str(), (data / "link.lock").c_str()), 0);
  EXPECT_TRUE(lock.tryAcquireFile(data / "link.lock"));
}
