// The runtime folder when the name in /tmp is not ours to use: another
// user's folder, a link, or a folder of ours others may enter is passed
// over (and left exactly as it is) for one in the user's home, which every
// process of the user then agrees on.
#include "platform/runtime_dir.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "test_folder.h"

namespace {

using platform::testing::ScopedEnv;
using platform::testing::TempFolder;

struct Places {
  TempFolder tmp;
  TempFolder home;
  platform::RuntimePlaces places{"", tmp.path(), home.path()};
  std::string first = tmp / ("varnelo-" + std::to_string(geteuid()));
  std::string second = home / ".cache/varnelo/run";

  std::string folder() const {
    std::string dir;
    auto ec = platform::runtimeFolderAt(places, dir);
    return ec ? "error: " + ec.message() : dir;
  }
};

struct stat lstatOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
  return st;
}

TEST(RuntimeFolderFallback, TheTmpFolderWhileItIsOurs) {
  Places p;
  EXPECT_EQ(p.folder(), p.first);
  EXPECT_EQ(lstatOf(p.first).st_mode & 0777, 0700u);
  EXPECT_EQ(p.folder(), p.first);
  EXPECT_FALSE(platform::files::exists(p.home / ".cache"));
}

TEST(RuntimeFolderFallback, AnotherUsersFolderIsPassedOverAndLeftAlone) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to make a folder another user owns";
  Places p;
  ASSERT_EQ(mkdir(p.first.c_str(), 0755), 0);
  ASSERT_EQ(chmod(p.first.c_str(), 0755), 0);
  ASSERT_EQ(chown(p.first.c_str(), 65534, 65534), 0);
  EXPECT_EQ(p.folder(), p.second);
  EXPECT_EQ(lstatOf(p.second).st_mode & 0777, 0700u);
  EXPECT_EQ(lstatOf(p.first).st_uid, 65534u);
  EXPECT_EQ(lstatOf(p.first).st_mode & 0777, 0755u);
  EXPECT_EQ(p.folder(), p.second) << "the next process goes to the same place";

  // The squatter leaves: a process started now still meets the others.
  ASSERT_EQ(rmdir(p.first.c_str()), 0);
  EXPECT_EQ(p.folder(), p.second);
  EXPECT_FALSE(platform::files::exists(p.first));
}

TEST(RuntimeFolderFallback, ALinkOrAnOpenFolderInItsPlaceIsNotUsed) {
  {
    Places p;
    TempFolder elsewhere;  // ours and 0700: following the link would pass
    ASSERT_EQ(symlink(elsewhere.path().c_str(), p.first.c_str()), 0);
    EXPECT_EQ(p.folder(), p.second);
    EXPECT_TRUE(S_ISLNK(lstatOf(p.first).st_mode));
    EXPECT_EQ(lstatOf(elsewhere.path()).st_mode & 0777, 0700u);
  }
  {
    // Ours, but others could have left a socket of theirs in it meanwhile.
    Places p;
    ASSERT_EQ(mkdir(p.first.c_str(), 0700), 0);
    ASSERT_EQ(chmod(p.first.c_str(), 0733), 0);
    EXPECT_EQ(p.folder(), p.second);
    EXPECT_EQ(lstatOf(p.first).st_mode & 0777, 0733u) << "not narrowed behind others' backs";
  }
}

TEST(RuntimeFolderFallback, TheSecondChoiceMustBeOursToo) {
  Places p;
  TempFolder elsewhere;
  ASSERT_EQ(symlink(elsewhere.path().c_str(), p.first.c_str()), 0);
  ASSERT_FALSE(platform::files::createDirectories(p.home / ".cache/varnelo"));
  ASSERT_EQ(symlink(elsewhere.path().c_str(), p.second.c_str()), 0);
  EXPECT_EQ(p.folder(),
            "error: " + std::make_error_code(std::errc::operation_not_permitted).message());
  EXPECT_TRUE(S_ISLNK(lstatOf(p.second).st_mode));

  // A cache folder others may write: they could swap ours inside it.
  ASSERT_EQ(unlink(p.second.c_str()), 0);
  ASSERT_EQ(chmod((p.home / ".cache/varnelo").c_str(), 0777), 0);
  EXPECT_NE(p.folder().rfind("error: ", 0), std::string::npos);

  // No home at all: the first choice's refusal stands.
  p.places.home.clear();
  EXPECT_NE(p.folder().rfind("error: ", 0), std::string::npos);
}

TEST(RuntimeFolderFallback, EveryProcessOfTheUserFindsTheSameHome) {
  // sudo, cron or the installer may each hand a process another HOME.
  struct passwd* entry = getpwuid(geteuid());
  if (entry == nullptr) GTEST_SKIP() << "no password entry for this user";
  ScopedEnv home("HOME", "/somewhere/else");
  ScopedEnv cache("XDG_CACHE_HOME", "/somewhere/else/cache");
  EXPECT_EQ(platform::currentRuntimePlaces().home, entry->pw_dir);
}

}  // namespace
