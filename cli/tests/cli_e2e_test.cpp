// varnelocmd end to end: the real program against a real varnelo-service in
// temporary folders. Two data folders on one account are two computers.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "CliProcess.h"
#include "ServiceProcess.h"
#include "TempFolder.h"
#include "platform/files.h"

namespace varnelo::test {
namespace {

using Env = std::vector<std::pair<std::string, std::string>>;
namespace files = platform::files;
using cli::TempFolder;

constexpr int kCommandMs = 60000;
constexpr int kSyncMs = 180000;

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(service_.started()) << service_.error();
    ASSERT_TRUE(service_.addUser("alice", "s3cret pw&"));
    env_ = {{"VARNELO_SERVICE", "127.0.0.1:" + std::to_string(service_.httpPort()) + ":" +
                                    std::to_string(service_.httpsPort())},
            {"VARNELO_CA_BUNDLE", service_.caPath()},
            {"HOME", temp_.path()},
            {"XDG_DATA_HOME", temp_ / "xdg"}};
  }

  // varnelocmd --data <temp>/<computer> args...
  RunResult cli(const std::string& computer, std::vector<std::string> args,
                int timeoutMs = kCommandMs) {
    args.insert(args.begin(), {VARNELOCMD_BINARY, "--data", temp_ / computer});
    return runProgram(args, env_, timeoutMs);
  }

  void login(const std::string& computer, const std::string& name) {
    RunResult r = cli(
        computer, {"login", "--user", "alice", "--password", "s3cret pw&", "--device-name", name});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  }

  ServiceProcess service_;
  TempFolder temp_;
  Env env_;
};

std::string bytes(size_t n, char seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(seed + i * 7 + i / 251);
  return s;
}

TEST_F(CliTest, ArgumentErrorsExitTwoWithTheReason) {
  RunResult none = runProgram({VARNELOCMD_BINARY}, env_, kCommandMs);
  EXPECT_EQ(none.exitCode, 2);
  EXPECT_NE(none.err.find("varnelocmd: no command given"), std::string::npos) << none.err;
  RunResult sync = cli("pc", {"sync", "--once"});
  EXPECT_EQ(sync.exitCode, 2);
  EXPECT_NE(sync.err.find("sync needs --folder DIR"), std::string::npos) << sync.err;
  RunResult help = cli("pc", {"exclude", "--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("exclude add REMOTE_PATH"), std::string::npos) << help.out;
  // --data defaults to $XDG_DATA_HOME/Varnelo.
  RunResult status = runProgram({VARNELOCMD_BINARY, "status"}, env_, kCommandMs);
  EXPECT_EQ(status.exitCode, 0) << status.err;
  EXPECT_NE(status.out.find("Data folder: " + (temp_ / "xdg") + "/Varnelo"), std::string::npos)
      << status.out;
  EXPECT_NE(status.out.find("not signed in"), std::string::npos) << status.out;
}

TEST_F(CliTest, SignInFailuresAreExplained) {
  ASSERT_TRUE(service_.addUser("bob", "pw", "native", "inactive"));
  RunResult wrong = cli("pc", {"login", "--user", "alice", "--password", "nope"});
  EXPECT_EQ(wrong.exitCode, 1);
  EXPECT_NE(wrong.err.find("wrong user name or password (code 401)"), std::string::npos)
      << wrong.err;
  RunResult inactive = cli("pc", {"login", "--user", "bob", "--password", "pw"});
  EXPECT_EQ(inactive.exitCode, 1);
  EXPECT_NE(inactive.err.find("not activated"), std::string::npos) << inactive.err;
  RunResult unknown = cli("pc", {"login", "--user", "nobody", "--password", "pw"});
  EXPECT_EQ(unknown.exitCode, 1);
  EXPECT_NE(unknown.err.find("not registered; register it on the web site first (code -116)"),
            std::string::npos)
      << unknown.err;
  ASSERT_TRUE(service_.addUser("carol", "pw", "kuv", "unbound"));
  RunResult unbound =
      cli("pc", {"login", "--user", "carol", "--password", "pw", "--provider", "kuv"});
  EXPECT_EQ(unbound.exitCode, 1);
  EXPECT_NE(unbound.err.find("not bound to a Varnelo account"), std::string::npos) << unbound.err;

  // A port nobody listens on: the service cannot be reached.
  Env saved = env_;
  env_[0].second = "127.0.0.1:1:1";
  RunResult down = cli("pc", {"login", "--user", "alice", "--password", "s3cret pw&"});
  env_ = saved;
  EXPECT_EQ(down.exitCode, 1);
  EXPECT_NE(down.err.find("cannot be reached"), std::string::npos) << down.err;

  RunResult sync = cli("pc", {"sync", "--folder", temp_ / "V", "--once"});
  EXPECT_EQ(sync.exitCode, 1);
  EXPECT_NE(sync.err.find("not signed in"), std::string::npos) << sync.err;
}

TEST_F(CliTest, OnceConvergesBothWaysBetweenTwoComputers) {
  login("pc1", "first");
  std::string folder1 = temp_ / "V1";
  ASSERT_FALSE(files::createDirectories(folder1 + "/docs/deep"));
  const std::string small = "hello\n";
  const std::string large = bytes(300 * 1024, 'a');  // several chunks' worth of keys
  ASSERT_FALSE(files::writeFile(folder1 + "/note.txt", small));
  ASSERT_FALSE(files::writeFile(folder1 + "/docs/deep/big.bin", large));

  // Four weeks of log files are kept, older ones go when the engine opens.
  const platform::FileTime day = 864000000000ULL;
  const std::string oldLog = temp_ / "pc1/log/2000-01-01_00-00-00.log";
  const std::string recentLog = temp_ / "pc1/log/recent.log";
  for (const auto& [path, age] : {std::pair{oldLog, 40 * day}, std::pair{recentLog, 2 * day}}) {
    ASSERT_FALSE(files::writeFile(path, "x"));
    ASSERT_FALSE(files::setLastWriteTime(path, platform::currentFileTime() - age));
  }

  RunResult up = cli("pc1", {"sync", "--folder", folder1, "--once", "--timeout", "120"}, kSyncMs);
  ASSERT_EQ(up.exitCode, 0) << up.out << up.err;
  EXPECT_NE(up.out.find("In step."), std::string::npos) << up.out;
  EXPECT_FALSE(files::exists(oldLog));
  EXPECT_TRUE(files::exists(recentLog));
  Json::Value tree;
  ASSERT_TRUE(service_.dumpTree("alice", &tree));
  std::string listing = tree.toStyledString();
  EXPECT_NE(listing.find("note.txt"), std::string::npos) << listing;
  EXPECT_NE(listing.find("big.bin"), std::string::npos) << listing;

  // The second computer starts with an empty folder and receives both.
  login("pc2", "second");
  std::string folder2 = temp_ / "V2";
  RunResult down = cli("pc2", {"sync", "--folder", folder2, "--once", "--timeout", "120"}, kSyncMs);
  ASSERT_EQ(down.exitCode, 0) << down.out << down.err;
  EXPECT_NE(down.out.find("0 up, 4 down, 0 failed"), std::string::npos) << down.out;
  std::string got;
  ASSERT_FALSE(files::readFile(folder2 + "/note.txt", got));
  EXPECT_EQ(got, small);
  ASSERT_FALSE(files::readFile(folder2 + "/docs/deep/big.bin", got));
  EXPECT_TRUE(got == large) << "big.bin differs after the download";

  // A change on the second computer travels back to the first.
  ASSERT_FALSE(files::writeFile(folder2 + "/from-two.txt", "two\n"));
  ASSERT_EQ(
      cli("pc2", {"sync", "--folder", folder2, "--once", "--timeout", "120"}, kSyncMs).exitCode, 0);
  RunResult back = cli("pc1", {"sync", "--folder", folder1, "--once", "--timeout", "120"}, kSyncMs);
  ASSERT_EQ(back.exitCode, 0) << back.out << back.err;
  ASSERT_FALSE(files::readFile(folder1 + "/from-two.txt", got));
  EXPECT_EQ(got, "two\n");

  RunResult status = cli("pc1", {"status"});
  EXPECT_EQ(status.exitCode, 0) << status.err;
  EXPECT_NE(status.out.find("Folder:      " + folder1), std::string::npos) << status.out;
  EXPECT_NE(status.out.find("Mode:        two-way"), std::string::npos) << status.out;
  EXPECT_NE(status.out.find("in step"), std::string::npos) << status.out;

  RunResult devices = cli("pc1", {"devices"});
  EXPECT_EQ(devices.exitCode, 0) << devices.err;
  EXPECT_NE(devices.out.find("first"), std::string::npos) << devices.out;
  EXPECT_NE(devices.out.find("second"), std::string::npos) << devices.out;
  EXPECT_EQ(devices.out.find('*'), devices.out.rfind('*')) << "one device is this one";

  RunResult link = cli("pc1", {"link", folder1 + "/note.txt"});
  ASSERT_EQ(link.exitCode, 0) << link.err;
  EXPECT_EQ(
      link.out.rfind("http://127.0.0.1:" + std::to_string(service_.httpPort()) + "/link?id=", 0),
      0u)
      << link.out;
  RunResult outside = cli("pc1", {"link", temp_ / "elsewhere.txt"});
  EXPECT_EQ(outside.exitCode, 1);
  EXPECT_NE(outside.err.find("not inside the sync folder"), std::string::npos) << outside.err;
}

TEST_F(CliTest, ExcludedFolderIsNotFetchedAndLogoutForgetsTheAccount) {
  login("pc1", "first");
  std::string folder1 = temp_ / "V1";
  ASSERT_FALSE(files::createDirectories(folder1 + "/Photos"));
  ASSERT_FALSE(files::writeFile(folder1 + "/Photos/p.jpg", "jpeg"));
  ASSERT_FALSE(files::writeFile(folder1 + "/keep.txt", "keep"));
  ASSERT_EQ(
      cli("pc1", {"sync", "--folder", folder1, "--once", "--timeout", "120"}, kSyncMs).exitCode, 0);

  login("pc2", "second");
  RunResult add = cli("pc2", {"exclude", "add", "/Photos/"});
  ASSERT_EQ(add.exitCode, 0) << add.err;
  RunResult list = cli("pc2", {"exclude", "list"});
  EXPECT_EQ(list.out, "home/Photos\n");
  std::string folder2 = temp_ / "V2";
  ASSERT_EQ(
      cli("pc2", {"sync", "--folder", folder2, "--once", "--timeout", "120"}, kSyncMs).exitCode, 0);
  EXPECT_TRUE(files::exists(folder2 + "/keep.txt"));
  EXPECT_FALSE(files::exists(folder2 + "/Photos/p.jpg"));
  ASSERT_EQ(cli("pc2", {"exclude", "remove", "home/photos"}).exitCode, 0);
  EXPECT_EQ(cli("pc2", {"exclude", "list"}).out, "No folders are excluded.\n");

  RunResult logout = cli("pc2", {"logout"});
  ASSERT_EQ(logout.exitCode, 0) << logout.err;
  RunResult devices = cli("pc1", {"devices"});
  EXPECT_EQ(devices.out.find("second"), std::string::npos) << devices.out;
  EXPECT_NE(cli("pc2", {"status"}).out.find("not signed in"), std::string::npos);
  EXPECT_TRUE(files::exists(folder2 + "/keep.txt")) << "logout keeps the files";
}

// Excluded, deleted locally to free space, included again: the folder comes
// back from the service instead of being deleted there.
TEST_F(CliTest, AFolderExcludedDeletedLocallyAndIncludedAgainIsFetchedNotDeleted) {
  login("pc1", "first");
  std::string folder = temp_ / "V";
  ASSERT_FALSE(files::createDirectories(folder + "/Photos/sub"));
  ASSERT_FALSE(files::writeFile(folder + "/Photos/p1.jpg", "one"));
  ASSERT_FALSE(files::writeFile(folder + "/Photos/sub/p2.jpg", "two"));
  ASSERT_FALSE(files::writeFile(folder + "/keep.txt", "keep"));
  ASSERT_EQ(
      cli("pc1", {"sync", "--folder", folder, "--once", "--timeout", "120"}, kSyncMs).exitCode, 0);

  RunResult add = cli("pc1", {"exclude", "add", "home/Photos"});
  ASSERT_EQ(add.exitCode, 0) << add.out << add.err;
  ASSERT_FALSE(files::removeTree(folder + "/Photos"));
  RunResult remove = cli("pc1", {"exclude", "remove", "home/Photos"});
  ASSERT_EQ(remove.exitCode, 0) << remove.out << remove.err;

  RunResult r = cli("pc1", {"sync", "--folder", folder, "--once", "--timeout", "120"}, kSyncMs);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  std::string got;
  EXPECT_FALSE(files::readFile(folder + "/Photos/sub/p2.jpg", got));
  EXPECT_EQ(got, "two");
  Json::Value tree;
  ASSERT_TRUE(service_.dumpTree("alice", &tree));
  EXPECT_NE(tree.toStyledString().find("Photos/p1.jpg"), std::string::npos)
      << tree.toStyledString();
  EXPECT_NE(tree.toStyledString().find("Photos/sub/p2.jpg"), std::string::npos);
}

TEST_F(CliTest, MissingSyncFolderIsNotRecreatedNorTakenForDeletions) {
  login("pc1", "first");
  std::string folder = temp_ / "V";
  ASSERT_FALSE(files::createDirectories(folder));
  ASSERT_FALSE(files::writeFile(folder + "/a.txt", "a"));
  ASSERT_EQ(
      cli("pc1", {"sync", "--folder", folder, "--once", "--timeout", "120"}, kSyncMs).exitCode, 0);
  ASSERT_FALSE(files::removeTree(folder));  // an unmounted disk looks like this
  RunResult r = cli("pc1", {"sync", "--folder", folder, "--once", "--timeout", "60"}, kSyncMs);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("is missing"), std::string::npos) << r.err;
  EXPECT_FALSE(files::exists(folder));
  Json::Value tree;
  ASSERT_TRUE(service_.dumpTree("alice", &tree));
  EXPECT_NE(tree.toStyledString().find("a.txt"), std::string::npos) << "the remote file stays";
}

TEST_F(CliTest, ALinkGivenAsTheFolderIsRefusedNamingTheFolderItLeadsTo) {
  login("pc1", "first");
  const std::string real = temp_ / "Real";
  const std::string link = temp_ / "Link";
  ASSERT_FALSE(files::createDirectories(real));
  ASSERT_FALSE(files::writeFile(real + "/a.txt", "a"));
  ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);
  RunResult r = cli("pc1", {"sync", "--folder", link, "--once", "--timeout", "60"}, kSyncMs);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("is a link; give the folder it leads to: --folder '" + real + "'"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(files::exists(real + "/.varnelo-root")) << "nothing is synced through the link";
}

TEST_F(CliTest, AFolderThatIsNotTheOneSyncedBeforeStopsOnceUntilRelinkedWhichDeletesNothing) {
  login("pc1", "first");
  std::string folder = temp_ / "V";
  ASSERT_FALSE(files::createDirectories(folder + "/docs"));
  ASSERT_FALSE(files::writeFile(folder + "/a.txt", "a"));
  ASSERT_FALSE(files::writeFile(folder + "/docs/b.txt", "b"));
  ASSERT_EQ(
      cli("pc1", {"sync", "--folder", folder, "--once", "--timeout", "120"}, kSyncMs).exitCode, 0);
  // An empty folder (another inode) where the synced one was: a disk that is
  // not mounted.
  ASSERT_FALSE(files::rename(folder, folder + ".away"));
  ASSERT_FALSE(files::createDirectory(folder));
  RunResult r = cli("pc1", {"sync", "--folder", folder, "--once", "--timeout", "60"}, kSyncMs);
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  EXPECT_NE(r.err.find("is not the folder synced before"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("sync --folder '" + folder + "' --once --relink"), std::string::npos)
      << r.err;
  EXPECT_FALSE(r.timedOut);
  std::string remote;
  Json::Value tree;
  ASSERT_TRUE(service_.dumpTree("alice", &tree));
  remote = tree.toStyledString();
  EXPECT_NE(remote.find("a.txt"), std::string::npos) << remote;
  EXPECT_NE(remote.find("b.txt"), std::string::npos) << remote;
  RunResult status = cli("pc1", {"status"});
  EXPECT_NE(status.out.find("Unavailable: "), std::string::npos) << status.out;
  EXPECT_NE(status.out.find("--relink"), std::string::npos) << status.out;

  // Adopting the empty folder fetches everything and deletes nothing.
  RunResult relink =
      cli("pc1", {"sync", "--folder", folder, "--once", "--relink", "--timeout", "120"}, kSyncMs);
  ASSERT_EQ(relink.exitCode, 0) << relink.out << relink.err;
  std::string got;
  EXPECT_FALSE(files::readFile(folder + "/docs/b.txt", got));
  EXPECT_EQ(got, "b");
  ASSERT_TRUE(service_.dumpTree("alice", &tree));
  EXPECT_NE(tree.toStyledString().find("a.txt"), std::string::npos);
  EXPECT_EQ(cli("pc1", {"status"}).out.find("Unavailable: "), std::string::npos);
}

// A disk mounted on a folder below the sync folder, in a mount namespace of
// its own (no root privileges needed); outside it the folder is an empty
// plain folder, as after an unmount.
TEST_F(CliTest, AMountPointBelowTheFolderThatWentAwayIsNotTakenForDeletions) {
  if (runProgram({"/usr/bin/unshare", "-rm", "/bin/true"}, env_, kCommandMs).exitCode != 0) {
    GTEST_SKIP() << "unprivileged mount namespaces are not available";
  }
  login("pc1", "first");
  std::string folder = temp_ / "V";
  ASSERT_FALSE(files::createDirectories(folder + "/Disk"));
  ASSERT_FALSE(files::writeFile(folder + "/top.txt", "top"));
  const std::string script =
      "mount -t tmpfs tmpfs \"$1/Disk\" && printf disk > \"$1/Disk/d.txt\" && "
      "exec \"$2\" --data \"$3\" sync --folder \"$1\" --once --timeout 120";
  RunResult mounted = runProgram({"/usr/bin/unshare", "-rm", "/bin/sh", "-c", script, "sh", folder,
                                  VARNELOCMD_BINARY, temp_ / "pc1"},
                                 env_, kSyncMs);
  ASSERT_EQ(mounted.exitCode, 0) << mounted.out << mounted.err;
  ASSERT_TRUE(files::isDirectory(folder + "/Disk"));
  ASSERT_FALSE(files::exists(folder + "/Disk/d.txt")) << "the mount is gone outside";

  RunResult r = cli("pc1", {"sync", "--folder", folder, "--once", "--timeout", "60"}, kSyncMs);
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  EXPECT_NE(r.err.find("failed: Disk: the folder is not the one synced before"), std::string::npos)
      << r.err;
  Json::Value tree;
  ASSERT_TRUE(service_.dumpTree("alice", &tree));
  EXPECT_NE(tree.toStyledString().find("Disk/d.txt"), std::string::npos) << tree.toStyledString();
  EXPECT_NE(tree.toStyledString().find("top.txt"), std::string::npos);
}

TEST_F(CliTest, DeletingMostFilesIsHeldUntilAllowedOnTheCommandLine) {
  login("pc1", "first");
  std::string folder = temp_ / "V";
  ASSERT_FALSE(files::createDirectories(folder + "/old"));
  for (int i = 0; i < 25; ++i) {
    ASSERT_FALSE(files::writeFile(folder + "/old/f" + std::to_string(i) + ".txt", "x"));
  }
  ASSERT_FALSE(files::writeFile(folder + "/keep.txt", "keep"));
  ASSERT_EQ(
      cli("pc1", {"sync", "--folder", folder, "--once", "--timeout", "120"}, kSyncMs).exitCode, 0);
  ASSERT_FALSE(files::removeTree(folder + "/old"));
  ASSERT_FALSE(files::writeFile(folder + "/new.txt", "new"));

  RunResult r = cli("pc1", {"sync", "--folder", folder, "--once", "--timeout", "120"}, kSyncMs);
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  EXPECT_FALSE(r.timedOut);
  EXPECT_NE(r.err.find("25 deletions were held back"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("sync --folder '" + folder + "' --once --allow-deletes"), std::string::npos)
      << r.err;
  Json::Value tree;
  ASSERT_TRUE(service_.dumpTree("alice", &tree));
  EXPECT_NE(tree.toStyledString().find("old/f7.txt"), std::string::npos) << "nothing deleted";
  EXPECT_NE(tree.toStyledString().find("new.txt"), std::string::npos) << "the rest was synced";
  RunResult status = cli("pc1", {"status"});
  EXPECT_NE(status.out.find("Held:        25 deletions held back"), std::string::npos)
      << status.out;
  EXPECT_NE(status.out.find("--allow-deletes"), std::string::npos) << status.out;

  RunResult allowed =
      cli("pc1", {"sync", "--folder", folder, "--once", "--allow-deletes", "--timeout", "120"},
          kSyncMs);
  EXPECT_EQ(allowed.exitCode, 0) << allowed.out << allowed.err;
  ASSERT_TRUE(service_.dumpTree("alice", &tree));
  EXPECT_EQ(tree.toStyledString().find("old/f7.txt"), std::string::npos) << tree.toStyledString();
  EXPECT_NE(tree.toStyledString().find("keep.txt"), std::string::npos);
  EXPECT_EQ(cli("pc1", {"status"}).out.find("Held:"), std::string::npos);
}

TEST_F(CliTest, HeldDeletionsAreListedBySideAndRestoreHeldBringsThemBack) {
  login("pc1", "first");
  std::string folder = temp_ / "V";
  ASSERT_FALSE(files::createDirectories(folder + "/old"));
  for (int i = 0; i < 25; ++i) {
    ASSERT_FALSE(files::writeFile(folder + "/old/f" + std::to_string(i) + ".txt", "x"));
  }
  ASSERT_FALSE(files::writeFile(folder + "/keep.txt", "keep"));
  ASSERT_EQ(
      cli("pc1", {"sync", "--folder", folder, "--once", "--timeout", "120"}, kSyncMs).exitCode, 0);
  ASSERT_FALSE(files::removeTree(folder + "/old"));

  const std::string line = "deleted here:           old (25 files)";
  RunResult r = cli("pc1", {"sync", "--folder", folder, "--once", "--timeout", "120"}, kSyncMs);
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  EXPECT_NE(r.err.find(line), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("sync --folder '" + folder + "' --once --restore-held"), std::string::npos)
      << r.err;
  RunResult status = cli("pc1", {"status"});
  EXPECT_NE(status.out.find(line), std::string::npos) << status.out;
  EXPECT_NE(status.out.find("--restore-held"), std::string::npos) << status.out;

  RunResult kept = cli(
      "pc1", {"sync", "--folder", folder, "--once", "--restore-held", "--timeout", "120"}, kSyncMs);
  EXPECT_EQ(kept.exitCode, 0) << kept.out << kept.err;
  EXPECT_NE(kept.out.find("bringing back 25 held deletions"), std::string::npos) << kept.out;
  std::string content;
  EXPECT_FALSE(files::readFile(folder + "/old/f7.txt", content)) << "not downloaded again";
  EXPECT_EQ(content, "x");
  Json::Value tree;
  ASSERT_TRUE(service_.dumpTree("alice", &tree));
  EXPECT_NE(tree.toStyledString().find("old/f7.txt"), std::string::npos) << "deleted after all";
  EXPECT_EQ(cli("pc1", {"status"}).out.find("Held:"), std::string::npos);
}

TEST_F(CliTest, OnceListsWhatCouldNotBeSyncedAndExitsOne) {
  login("pc1", "first");
  ASSERT_TRUE(service_.setQuota("alice", 64 * 1024));
  std::string folder = temp_ / "V";
  ASSERT_FALSE(files::createDirectories(folder));
  ASSERT_FALSE(files::writeFile(folder + "/fits.txt", "small"));
  ASSERT_FALSE(files::writeFile(folder + "/too-big.bin", bytes(512 * 1024, 'q')));
  RunResult r = cli("pc1", {"sync", "--folder", folder, "--once", "--timeout", "120"}, kSyncMs);
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  EXPECT_NE(r.err.find("failed: too-big.bin: the account's storage quota is exceeded"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find("fits.txt"), std::string::npos) << r.err;
  RunResult status = cli("pc1", {"status"});
  EXPECT_NE(status.out.find("not in step"), std::string::npos) << status.out;
  EXPECT_NE(status.out.find("failed: too-big.bin"), std::string::npos) << status.out;
}

// The README's first command, as a fresh user runs it, on binaries already
// built: a temporary HOME, the service on any free ports.
TEST(ScriptsRunTest, OnceStartsAServiceMakesTheDemoAccountAndSyncsHomeVarnelo) {
  TempFolder home;
  ASSERT_FALSE(files::createDirectories(home / "Varnelo"));
  ASSERT_FALSE(files::writeFile(home / "Varnelo/hello.txt", "hello from a fresh clone\n"));
  Env env = {{"HOME", home.path()},
             {"XDG_DATA_HOME", home / ".local/share"},
             {"XDG_CONFIG_HOME", home / ".config"},
             {"VARNELO_SERVICE", ""},
             {"VARNELO_CA_BUNDLE", ""},
             {"VARNELO_USER", ""},
             {"VARNELO_FOLDER", ""},
             {"VARNELO_NO_SETUP", "1"},
             {"VARNELO_BUILD_DIR", VARNELO_BUILD_DIR},
             {"VARNELO_RUN_HTTP_PORT", "0"},
             {"VARNELO_RUN_HTTPS_PORT", "0"}};
  const std::string script = std::string(VARNELO_SOURCE_DIR) + "/scripts/run";
  RunResult first = runProgram({script, "--once"}, env, kSyncMs);
  ASSERT_EQ(first.exitCode, 0) << first.out << first.err;
  EXPECT_NE(first.out.find("Your Varnelo folder is " + (home / "Varnelo")), std::string::npos)
      << first.out;
  EXPECT_NE(first.out.find("1 up, 0 down, 0 failed"), std::string::npos) << first.out;
  EXPECT_NE(first.out.find("In step."), std::string::npos) << first.out;
  EXPECT_TRUE(files::exists(home / ".local/share/varnelo-service/demo-account"));

  // The second run reuses the service's data and the account: nothing to send.
  RunResult second = runProgram({script, "--once"}, env, kSyncMs);
  ASSERT_EQ(second.exitCode, 0) << second.out << second.err;
  EXPECT_NE(second.out.find("0 up, 0 down, 0 failed"), std::string::npos) << second.out;
}

}  // namespace
}  // namespace varnelo::test
