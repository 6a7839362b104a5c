// The client's own record, the remote spelling of folders and links, the
// web site address and the messages people see for refusals.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>

#include "ClientState.h"
#include "DataFolder.h"
#include "DataFolderLock.h"
#include "HeldText.h"
#include "Messages.h"
#include "RemotePaths.h"
#include "ServiceAddress.h"
#include "TempFolder.h"
#include "platform/files.h"

namespace varnelo::cli {
namespace {

TEST(ClientStateTest, RoundTripIsPrivateAndKeepsTheDeviceId) {
  TempFolder dir;
  ClientState state = loadClientState(dir.path());
  EXPECT_TRUE(state.deviceId.empty());
  ASSERT_TRUE(ensureDeviceId(state));
  EXPECT_TRUE(std::regex_match(
      state.deviceId,
      std::regex(R"(\{[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\})")))
      << state.deviceId;
  EXPECT_FALSE(ensureDeviceId(state));  // kept for ever
  state.user = "alice";
  state.deviceName = "büro \"pc\"";
  state.last.finishedAt = 1700000000;
  state.last.inStep = true;
  state.last.uploaded = 5;
  state.last.failed = {"a.txt: quota"};
  state.last.heldDeletions = 31;
  state.last.held = {{"Photos", true, 30}, {"notes \"new\".txt", false, 1}};
  ASSERT_EQ(saveClientState(dir.path(), state), "");

  struct stat info {};
  ASSERT_EQ(stat((dir.path() + "/varnelocmd.json").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  ClientState again = loadClientState(dir.path());
  EXPECT_EQ(again.deviceId, state.deviceId);
  EXPECT_EQ(again.deviceName, state.deviceName);
  EXPECT_EQ(again.user, "alice");
  EXPECT_EQ(again.last.finishedAt, 1700000000);
  EXPECT_TRUE(again.last.inStep);
  EXPECT_EQ(again.last.uploaded, 5u);
  EXPECT_EQ(again.last.failed, state.last.failed);
  EXPECT_EQ(again.last.heldDeletions, 31u);
  EXPECT_EQ(again.last.held, state.last.held);
}

TEST(HeldTextTest, EachEntrySaysOnWhichSideItWasDeletedAndALongListIsCut) {
  const std::vector<HeldPath> held{{"Photos", true, 30}, {"a.txt", false, 1}, {"b", false, 2}};
  EXPECT_EQ(heldLine(held[0]), "deleted here:           Photos (30 files)");
  EXPECT_EQ(heldLine(held[1]), "deleted on the service: a.txt");
  const std::vector<std::string> cut = heldLines(held, 2);
  ASSERT_EQ(cut.size(), 3u);
  EXPECT_EQ(cut[2], "... and 1 more");
  EXPECT_EQ(heldLines(held, 3).size(), 3u);
}

TEST(ClientStateTest, DamagedFileGivesAnEmptyRecord) {
  TempFolder dir;
  ASSERT_FALSE(platform::files::writeFile(dir.path() + "/varnelocmd.json", "{\"devId\": 7, "));
  ClientState state = loadClientState(dir.path());
  EXPECT_TRUE(state.deviceId.empty());
  ASSERT_FALSE(platform::files::writeFile(dir.path() + "/varnelocmd.json", "[1,2]"));
  EXPECT_TRUE(loadClientState(dir.path()).user.empty());
  ASSERT_FALSE(
      platform::files::writeFile(dir.path() + "/varnelocmd.json", std::string(20000, '[')));
  EXPECT_TRUE(loadClientState(dir.path()).user.empty());
}

TEST(DataFolderTest, XdgRulesAndPrivateCreation) {
  std::string savedXdg = getenv("XDG_DATA_HOME") ? getenv("XDG_DATA_HOME") : "";
  std::string savedHome = getenv("HOME") ? getenv("HOME") : "";
  setenv("XDG_DATA_HOME", "/x/data", 1);
  setenv("HOME", "/h", 1);
  EXPECT_EQ(defaultDataFolder(), "/x/data/Varnelo");
  setenv("XDG_DATA_HOME", "relative", 1);  // not absolute: ignored
  EXPECT_EQ(defaultDataFolder(), "/h/.local/share/Varnelo");
  unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(defaultDataFolder(), "/h/.local/share/Varnelo");
  savedXdg.empty() ? unsetenv("XDG_DATA_HOME") : setenv("XDG_DATA_HOME", savedXdg.c_str(), 1);
  setenv("HOME", savedHome.c_str(), 1);

  TempFolder dir;
  std::string folder = dir.path() + "/a/Varnelo";
  EXPECT_EQ(prepareDataFolder(folder), "");
  struct stat info {};
  ASSERT_EQ(stat(folder.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  EXPECT_NE(prepareDataFolder(""), "");
}

TEST(DataFolderLockTest, OneHolderAtATimeAndFreedOnDestruction) {
  TempFolder dir;
  {
    DataFolderLock first(dir.path());
    ASSERT_TRUE(first.held()) << first.error();
    DataFolderLock second(dir.path());
    EXPECT_FALSE(second.held());
    // The holder here is this test program, not a varnelocmd.
    EXPECT_EQ(second.error(), "cli_tests (pid " + std::to_string(getpid()) +
                                  ") is using the data folder " + dir.path());
  }
  DataFolderLock again(dir.path());
  EXPECT_TRUE(again.held()) << again.error();
  DataFolderLock missing(dir.path() + "/no/such/folder");
  EXPECT_FALSE(missing.held());
  EXPECT_NE(missing.error().find("cannot open"), std::string::npos);
}

TEST(RemotePathsTest, ExcludedFoldersAreSpelledBelowHome) {
  EXPECT_EQ(normalizeRemoteFolder("Photos"), "home/Photos");
  EXPECT_EQ(normalizeRemoteFolder("/home/Photos/"), "home/Photos");
  EXPECT_EQ(normalizeRemoteFolder("HOME//a/b"), "home/a/b");
  EXPECT_EQ(normalizeRemoteFolder("home/home"), "home/home");
  EXPECT_EQ(normalizeRemoteFolder("home"), "");
  EXPECT_EQ(normalizeRemoteFolder("/"), "");
  EXPECT_EQ(normalizeRemoteFolder("a/../b"), "");
  EXPECT_EQ(normalizeRemoteFolder("./a"), "");
}

TEST(RemotePathsTest, LinksOnlyInsideTheSyncFolder) {
  EXPECT_EQ(remotePathOf("/s/V", "/s/V/a/b.txt", "/"), "home/a/b.txt");
  EXPECT_EQ(remotePathOf("/s/V", "b.txt", "/s/V/a"), "home/a/b.txt");
  EXPECT_EQ(remotePathOf("/s/V/", "/s/V", "/"), "home");
  EXPECT_EQ(remotePathOf("/s/V", "/s/V/a/", "/"), "home/a");
  EXPECT_EQ(remotePathOf("/s/V", "/s/V/../W/x", "/"), "");
  EXPECT_EQ(remotePathOf("/s/V", "/s/Vx/y", "/"), "");
  EXPECT_EQ(remotePathOf("/s/V", "../x", "/s/V"), "");
}

TEST(ServiceAddressTest, WebSiteIsThePlainPortOfTheServiceHost) {
  EXPECT_EQ(webSiteBase(nullptr), "http://127.0.0.1:8080");
  EXPECT_EQ(webSiteBase(""), "http://127.0.0.1:8080");
  EXPECT_EQ(webSiteBase("files.example:80:443"), "http://files.example:80");
  EXPECT_EQ(webSiteBase("[::1]:9080:9443"), "http://[::1]:9080");
  EXPECT_EQ(webSiteBase("host:80"), "");
  EXPECT_EQ(webSiteBase("host:x:443"), "");
  EXPECT_EQ(webSiteBase(":80:443"), "");
}

TEST(MessagesTest, SignInRefusalsAreToldApart) {
  EXPECT_NE(signInFailure(401, "native").find("wrong user name or password"), std::string::npos);
  EXPECT_NE(signInFailure(-115, "native").find("not activated"), std::string::npos);
  EXPECT_NE(signInFailure(-116, "native").find("not registered"), std::string::npos);
  EXPECT_NE(signInFailure(-116, "kuv").find("not bound"), std::string::npos);
  std::string network = signInFailure(7, "native");
  EXPECT_NE(network.find("cannot be reached"), std::string::npos) << network;
  EXPECT_NE(network.find("(code 7)"), std::string::npos);
  EXPECT_TRUE(isFileSuccess(-108));
  EXPECT_TRUE(isFileSuccess(-111));
  EXPECT_FALSE(isFileSuccess(409));
  EXPECT_FALSE(isFileSuccess(-109));
}

}  // namespace
}  // namespace varnelo::cli
