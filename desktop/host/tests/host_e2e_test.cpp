// varnelohost against a real varnelo-service: the scheduled updater finds a
// newer installer published through the admin API, fetches manifest and
// installer over HTTPS through a CONNECT proxy named by CURL_PROXY, checks
// the signature and the digest and runs the installer silently; unsigned
// updates are no updates; a second host exits -1; the launcher starts the
// application with its command line.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>

#include "HostProcess.h"
#include "ServiceProcess.h"
#include "platform/instance_lock.h"
#include "platform/registry.h"
#include "tests/e2e/client_connect_proxy.h"

namespace varnelo::host {
namespace {

using test::HostWorld;

class HostE2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(service_.started()) << service_.error();
    service_.exportEnvironment();
    setenv("VARNELO_UPDATE_KEY", (service_.dataDir() + "/update-key.pub").c_str(), 1);
    ASSERT_FALSE(key_.writeString("AppVersion", "1.2.3"));
    ASSERT_FALSE(key_.writeString("AppFolder", world_.appFolder()));
  }
  void TearDown() override {
    for (const char* name :
         {"VARNELO_UPDATE_KEY", "USE_HTTPS", "CURL_PROXY", "VARNELO_SERVICE", "VARNELO_CA_BUNDLE"})
      unsetenv(name);
  }

  // An "installer" that records how it was started.
  std::string installerScript() const {
    std::string path = world_.root() + "/installer-source";
    HostWorld::writeRecorder(path, marker_);
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }

  std::string value(const char* name) const {
    std::string text;
    return key_.readString(name, text) ? std::string() : text;
  }

  HostWorld world_;  // first: the service inherits nothing of it, the host all of it
  varnelo::test::ServiceProcess service_;
  platform::Registry key_;
  std::string marker_ = world_.root() + "/installer-ran";
};

TEST_F(HostE2eTest, TheSchedulerInstallsASignedNewerVersionOverHttpsThroughTheProxy) {
  ASSERT_TRUE(service_.publishUpdate("1.3.0", installerScript()));
  e2e::ConnectProxy proxy;
  setenv("USE_HTTPS", "TRUE", 1);
  setenv("CURL_PROXY", ("127.0.0.1:" + std::to_string(proxy.port())).c_str(), 1);

  EXPECT_EQ(HostWorld::runHost({"-scheduler"}), 0);
  std::string path = world_.root() + "/tmp/varnelo-update-" + std::to_string(getuid()) +
                     "/Varnelo-x86-1.3.0-Setup.run";
  EXPECT_EQ(HostWorld::waitForFile(marker_),
            "--silent --autoupdate --prefix=" + world_.root() + "/app\n");
  EXPECT_EQ(value("UpdaterPath"), path);
  EXPECT_EQ(value("UpdaterVersion"), "1.3.0");
  // Manifest and installer go through one tunnel: the transport keeps its
  // connection for the second request.
  EXPECT_EQ(proxy.tunnels(), 1);
  EXPECT_FALSE(platform::files::exists(path + ".part"));

  // The installed version is still the old one, so the next run starts the
  // pending installer again, before and instead of asking the service.
  std::remove(marker_.c_str());
  EXPECT_EQ(HostWorld::runHost({"-scheduler"}), 0);
  EXPECT_EQ(HostWorld::waitForFile(marker_),
            "--silent --autoupdate --prefix=" + world_.root() + "/app\n");
  EXPECT_EQ(proxy.tunnels(), 1) << "no second manifest request, no second download";
}

TEST_F(HostE2eTest, ATemporaryFolderTakenByAnotherUserDoesNotStopTheUpdate) {
  ASSERT_TRUE(service_.publishUpdate("1.3.0", installerScript()));
  // Another user made the fixed name first (as root: hand it to nobody;
  // otherwise: open it to everyone, which is just as unsafe).
  std::string taken = world_.root() + "/tmp/varnelo-update-" + std::to_string(geteuid());
  ASSERT_EQ(mkdir(taken.c_str(), 0777), 0);
  chmod(taken.c_str(), 0777);
  if (geteuid() == 0) {
    ASSERT_EQ(chown(taken.c_str(), 65534, 65534), 0);
  }
  setenv("XDG_CACHE_HOME", (world_.root() + "/cache").c_str(), 1);

  EXPECT_EQ(HostWorld::runHost({"-scheduler"}), 0);
  EXPECT_EQ(HostWorld::waitForFile(marker_),
            "--silent --autoupdate --prefix=" + world_.root() + "/app\n");
  std::string path = value("UpdaterPath");
  std::string folder = platform::files::parentPath(path);
  EXPECT_EQ(platform::files::parentPath(folder), world_.root() + "/cache") << path;
  struct stat st {};
  ASSERT_EQ(lstat(folder.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(st.st_uid, geteuid());
  EXPECT_TRUE(platform::files::isDirectory(taken)) << "the other user's folder is left alone";

  // Once installed, the download and its folder go.
  ASSERT_FALSE(key_.writeString("AppVersion", "1.3.0"));
  EXPECT_EQ(HostWorld::runHost({}), 0);
  EXPECT_FALSE(platform::files::exists(folder));
  unsetenv("XDG_CACHE_HOME");
}

TEST_F(HostE2eTest, AnUpdatePublishedFromTheCommandLineIsSignedToo) {
  std::string file = world_.root() + "/installer.run";
  std::ofstream(file) << installerScript();
  std::string command = std::string(varnelo::test::serviceBinary()) + " publish-update --data " +
                        service_.dataDir() + " --version 1.2.4 " + file + " > /dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(HostWorld::runHost({"-scheduler"}), 0);
  EXPECT_EQ(HostWorld::waitForFile(marker_),
            "--silent --autoupdate --prefix=" + world_.root() + "/app\n");
  EXPECT_EQ(value("UpdaterVersion"), "1.2.4");
}

TEST_F(HostE2eTest, AnUpdateSignedByAnotherKeyIsNoUpdate) {
  ASSERT_TRUE(service_.publishUpdate("1.3.0", installerScript()));
  std::string otherKey = world_.root() + "/other.pub";
  std::ofstream(otherKey) << "9smFmP3j94xw+zfIzPDs1W9mbeR1RFiahpols4lxwh0=\n";
  setenv("VARNELO_UPDATE_KEY", otherKey.c_str(), 1);
  EXPECT_EQ(HostWorld::runHost({"-scheduler"}), 0);
  EXPECT_EQ(value("UpdaterPath"), "");
  EXPECT_FALSE(platform::files::exists(marker_));
  EXPECT_FALSE(platform::files::exists(world_.root() + "/tmp/varnelo-update-" +
                                       std::to_string(getuid()) + "/Varnelo-x86-1.3.0-Setup.run"));
}

TEST_F(HostE2eTest, AManifestBelowTheLastAcceptedSequenceIsNoUpdate) {
  ASSERT_TRUE(service_.publishUpdate("1.2.4", installerScript()));
  EXPECT_EQ(HostWorld::runHost({"-scheduler"}), 0);
  std::string accepted = value("UpdateSequence");
  ASSERT_NE(accepted, "") << "the host remembers the sequence it accepted";
  EXPECT_EQ(value("UpdaterVersion"), "1.2.4");

  // A manifest from before that one (as a replay would bring) is refused,
  // although it is authentic and newer than what is installed.
  ASSERT_FALSE(key_.writeString("UpdateSequence", std::to_string(std::stoll(accepted) + 1000)));
  ASSERT_FALSE(key_.writeString("AppVersion", "1.2.4"));
  ASSERT_TRUE(service_.publishUpdate("1.2.5", installerScript()));
  std::remove(marker_.c_str());
  EXPECT_EQ(HostWorld::runHost({"-scheduler"}), 0);
  EXPECT_EQ(value("UpdaterVersion"), "") << "1.2.5 is not downloaded";
  EXPECT_FALSE(platform::files::exists(marker_));
}

TEST_F(HostE2eTest, AnUpdateForAnOlderOrEqualVersionIsNotDownloaded) {
  ASSERT_TRUE(service_.publishUpdate("1.2.3", installerScript()));
  EXPECT_EQ(HostWorld::runHost({"-scheduler"}), 0);
  ASSERT_TRUE(service_.publishUpdate("1.2", installerScript()));  // other component count
  EXPECT_EQ(HostWorld::runHost({"-scheduler"}), 0);
  EXPECT_EQ(value("UpdaterPath"), "");
  EXPECT_FALSE(platform::files::exists(marker_));
}

TEST_F(HostE2eTest, AsRootForAUserTheHostWritesThatUsersSettingsNeverRoots) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  // The world's folders stand for root's own here. nobody's home cannot be
  // written, so the installation cannot be recorded, and must not land in
  // root's settings instead.
  ASSERT_FALSE(key_.deleteValue("AppFolder"));
  for (const char* variable : {"SUDO_UID", "PKEXEC_UID"}) {
    setenv(variable, "65534", 1);
    EXPECT_EQ(HostWorld::runHost({"--record-install"}), 1) << variable;
    unsetenv(variable);
    EXPECT_EQ(value("AppFolder"), "") << variable;
  }
  // Root for root (or a uid that names nobody in the user database) stays root.
  setenv("SUDO_UID", "0", 1);
  EXPECT_EQ(HostWorld::runHost({"--record-install"}), 0);
  unsetenv("SUDO_UID");
  EXPECT_NE(value("AppFolder"), "");
}

TEST_F(HostE2eTest, ASecondHostExitsMinusOneButTheApplicationStillStarts) {
  std::string appMarker = world_.root() + "/app-ran";
  HostWorld::writeRecorder(world_.appFolder() + "/varnelo", appMarker);
  ASSERT_TRUE(service_.publishUpdate("1.3.0", installerScript()));
  {
    // The first host is, say, a scheduled check stuck on a slow server.
    platform::InstanceLock running;
    ASSERT_FALSE(running.tryAcquire("Global\\VarneloHostInstance"));
    EXPECT_EQ(HostWorld::runHost({"-scheduler"}), -1);
    EXPECT_EQ(value("UpdaterPath"), "") << "a second scheduled host does nothing";
    EXPECT_FALSE(platform::files::exists(appMarker));
    // The launcher does not wait for it: the application starts, nothing
    // else is done.
    EXPECT_EQ(HostWorld::runHost({"-extlink", "/x"}), -1);
    EXPECT_EQ(HostWorld::waitForFile(appMarker), "-extlink /x\n");
    EXPECT_EQ(value("UpdaterPath"), "");
  }
  std::remove(appMarker.c_str());
  EXPECT_EQ(HostWorld::runHost({"-extlink", "/home/u/Varnelo/a.txt"}), 0);
  EXPECT_EQ(HostWorld::waitForFile(appMarker), "-extlink /home/u/Varnelo/a.txt\n");
}

}  // namespace
}  // namespace varnelo::host
