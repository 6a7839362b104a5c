// The elevated update against a pkexec stand-in: the launcher's
// runElevated first does what another program of the user could do between
// the host's check and the elevation (swap the downloaded installer), then
// runs the command as pkexec would (here the real varnelohost). The swapped
// file must never run; an untouched one runs, from root's own copy. And
// root never installs a signed release that is not newer than the one
// installed, whatever the user's settings say.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fstream>

#include "ElevatedInstall.h"
#include "HostProcess.h"
#include "HostValues.h"
#include "InstalledVersion.h"
#include "InstallerDownload.h"
#include "SigningKey.h"
#include "UpdaterHost.h"
#include "platform/registry.h"
#include "platform/shell.h"

namespace varnelo::host {
namespace {

using test::HostWorld;
namespace files = platform::files;

class OkQuestion : public UpdateQuestion {
 public:
  Answer ask(const std::string&) override { return Answer::kOk; }
};

class PkexecStandIn : public platform::ShellLauncher {
 public:
  std::string swapWith;  // new contents for the user's installer, "" to leave it
  std::optional<int> exitCode;
  std::vector<std::string> elevatedArgs;

  std::error_code open(const std::string&) override { return {}; }
  std::error_code run(const std::string&, const std::vector<std::string>&) override { return {}; }
  std::error_code runElevated(const std::string& program,
                              const std::vector<std::string>& args) override {
    elevatedArgs = args;
    if (!swapWith.empty() && args.size() > 1) {
      // Replaced by rename, as an attacker would (the inode changes), and
      // the old bytes overwritten in place as well for good measure.
      std::string other = args[1] + ".swap";
      std::ofstream(other, std::ios::binary) << swapWith;
      chmod(other.c_str(), 0700);
      rename(other.c_str(), args[1].c_str());
    }
    std::vector<std::string> words{program};
    words.insert(words.end(), args.begin(), args.end());
    exitCode = HostWorld::runProgram(words);
    return {};
  }
};

class ElevatedInstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string keyFile = world_.root() + "/update-key.pub";
    std::ofstream(keyFile) << publisher_.publicBase64() << "\n";
    setenv("VARNELO_UPDATE_KEY", keyFile.c_str(), 1);
    ASSERT_TRUE(keys_.add(publisher_.publicBase64()));
    ASSERT_FALSE(key_.writeString(kAppVersion, "1.2.3"));
    // A folder the user cannot change (one that is missing, as even root
    // may change any folder that exists): the update needs elevation.
    ASSERT_FALSE(key_.writeString(kAppFolder, world_.root() + "/locked/bin"));

    auto folder = private_download_folder(nullptr);
    ASSERT_TRUE(folder);
    path_ = *folder + "/" + installer_file_name("1.3.0");
    std::string genuine = "#!/bin/sh\necho \"genuine $*\" >> '" + marker_ + "'\n";
    std::ofstream(path_, std::ios::binary) << genuine;
    UpdateManifest m{"1.3.0", "https://127.0.0.1/update/" + installer_file_name("1.3.0"),
                     test::SigningKey::sha256Hex(genuine), ""};
    m.sequence = 7;
    publisher_.signManifest(m);
    HostValues values(key_);
    values.setText(kUpdaterUrl, m.url);
    values.setText(kUpdaterDigest, m.sha256);
    values.setText(kUpdaterSignature, m.signature);
    values.setText(kUpdaterExpires, std::to_string(m.expires));
    values.setText(kUpdaterSequence, std::to_string(m.sequence));
    values.setText(kUpdaterPath, path_);
    values.setText(kUpdaterVersion, "1.3.0");
  }
  void TearDown() override { unsetenv("VARNELO_UPDATE_KEY"); }

  void runLauncher(PkexecStandIn& pkexec) {
    platform::ScopedLauncher use(pkexec);
    HostValues values(key_);
    OkQuestion question;
    UpdaterHost host(values, question, keys_, files::parentPath(VARNELO_HOST_BINARY));
    EXPECT_EQ(host.run({}), 0);
  }

  // What the installation at the prefix records as its version (in
  // folders and a file of ours that nobody else may change).
  void recordInstalled(const std::string& version) {
    std::string folder = prefix_ + "/share/varnelo";
    ASSERT_FALSE(files::createDirectories(folder));
    for (const std::string& f : {prefix_, prefix_ + "/share", folder})
      ASSERT_EQ(chmod(f.c_str(), 0755), 0);
    ASSERT_FALSE(files::writeFile(folder + "/version", version + "\n"));
    ASSERT_EQ(chmod((folder + "/version").c_str(), 0644), 0);
  }

  // Runs the elevated host as pkexec would, for an authentic installer of
  // `version` into the prefix (what any program of the user may ask for).
  std::optional<int> installElevated(const std::string& version) {
    std::string installer = world_.root() + "/Varnelo-" + version + ".run";
    std::string bytes = "#!/bin/sh\necho \"" + version + " $*\" >> '" + marker_ + "'\n";
    std::ofstream(installer, std::ios::binary) << bytes;
    UpdateManifest m{version, "https://127.0.0.1/update/" + installer_file_name(version),
                     test::SigningKey::sha256Hex(bytes), ""};
    publisher_.signManifest(m);
    std::vector<std::string> command{VARNELO_HOST_BINARY};
    for (const std::string& w : elevated_args(installer, m, {"--prefix=" + prefix_}))
      command.push_back(w);
    return HostWorld::runProgram(command, 20000);
  }

  std::string marker() const {
    std::ifstream in(marker_);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }

  HostWorld world_;
  platform::Registry key_;
  test::SigningKey publisher_;
  TrustedKeys keys_;
  std::string path_;
  std::string marker_ = world_.root() + "/installer-ran";
  std::string prefix_ = world_.root() + "/locked";
};

TEST_F(ElevatedInstallTest, AnInstallerSwappedAfterTheCheckNeverRuns) {
  PkexecStandIn pkexec;
  pkexec.swapWith = "#!/bin/sh\necho \"swapped $*\" >> '" + marker_ + "'\n";
  runLauncher(pkexec);
  ASSERT_FALSE(pkexec.elevatedArgs.empty()) << "the update asked for elevation";
  EXPECT_EQ(pkexec.elevatedArgs[0], kElevatedSwitch);
  EXPECT_EQ(pkexec.exitCode, 1);
  EXPECT_EQ(marker(), "") << "neither the swapped file nor anything else ran";
}

TEST_F(ElevatedInstallTest, AnUntouchedInstallerRunsFromRootsOwnCopy) {
  PkexecStandIn pkexec;
  runLauncher(pkexec);
  EXPECT_EQ(pkexec.exitCode, 0);
  EXPECT_EQ(marker(), "genuine --prefix=" + world_.root() + "/locked\n");
  EXPECT_TRUE(files::exists(path_)) << "the user's download is not touched";
}

TEST_F(ElevatedInstallTest, OnlyANewerSignedReleaseThanTheInstalledOneRuns) {
  recordInstalled("1.2.3");
  EXPECT_EQ(installElevated("1.2.0"), kElevatedNotNewer);
  EXPECT_EQ(installElevated("1.2.3"), kElevatedNotNewer) << "nor the same one again";
  EXPECT_EQ(installElevated("1.2"), kElevatedNotNewer) << "nor one that does not compare";
  EXPECT_EQ(marker(), "");
  EXPECT_EQ(installElevated("1.2.4"), 0);
  EXPECT_EQ(marker(), "1.2.4 --prefix=" + prefix_ + "\n");

  // With nothing installed there, the host's own version is the floor.
  files::removeTree(prefix_);
  EXPECT_EQ(installElevated("0.0.1"), kElevatedNotNewer);
}

TEST_F(ElevatedInstallTest, TheUsersSettingsCannotTalkRootIntoADowngrade) {
  // The user's settings say 1.2.3 (so 1.3.0 looks newer); the installation
  // itself is 1.4.0.
  recordInstalled("1.4.0");
  PkexecStandIn pkexec;
  runLauncher(pkexec);
  ASSERT_FALSE(pkexec.elevatedArgs.empty()) << "the update asked for elevation";
  EXPECT_EQ(pkexec.exitCode, kElevatedNotNewer);
  EXPECT_EQ(marker(), "");
}

TEST_F(ElevatedInstallTest, AVersionRecordOthersCouldWriteDoesNotCount) {
  // An installation is there (a program that is not this host), but its
  // version cannot be trusted: nothing is installed over it.
  ASSERT_FALSE(files::createDirectories(prefix_ + "/bin"));
  ASSERT_FALSE(files::copyFile(VARNELO_HOST_BINARY, prefix_ + "/bin/varnelohost"));
  recordInstalled("1.0.0");
  std::string record = prefix_ + "/" + kVersionFile;
  ASSERT_EQ(chmod(record.c_str(), 0664), 0);
  std::string why;
  EXPECT_FALSE(read_installed_version(prefix_, &why));
  EXPECT_EQ(installElevated("1.3.0"), kElevatedNotNewer) << why;

  // Nor through a link to a record of the right version elsewhere.
  ASSERT_EQ(chmod(record.c_str(), 0644), 0);
  ASSERT_EQ(rename((prefix_ + "/share/varnelo").c_str(), (world_.root() + "/elsewhere").c_str()),
            0);
  ASSERT_EQ(symlink((world_.root() + "/elsewhere").c_str(), (prefix_ + "/share/varnelo").c_str()),
            0);
  EXPECT_FALSE(read_installed_version(prefix_, &why));
  EXPECT_EQ(installElevated("1.3.0"), kElevatedNotNewer);
  EXPECT_EQ(marker(), "");
  if (geteuid() == 0) {
    // A record another user owns.
    ASSERT_EQ(unlink((prefix_ + "/share/varnelo").c_str()), 0);
    ASSERT_EQ(rename((world_.root() + "/elsewhere").c_str(), (prefix_ + "/share/varnelo").c_str()),
              0);
    ASSERT_EQ(read_installed_version(prefix_, &why), "1.0.0") << why;
    ASSERT_EQ(chown(record.c_str(), 65534, 65534), 0);
    EXPECT_FALSE(read_installed_version(prefix_, &why));
  }
}

TEST_F(ElevatedInstallTest, TheElevatedHostTakesOnlyWhatItWrites) {
  std::string why;
  std::vector<std::string> good{path_, "1", "http://a/b", "00", "sig", "5", "6", "--silent"};
  EXPECT_TRUE(parse_elevated_args(good, &why)) << why;
  for (const char* bad : {"--prefix=relative", "--evil", "--prefix=/a\nb"}) {
    auto words = good;
    words.push_back(bad);
    EXPECT_FALSE(parse_elevated_args(words, &why)) << bad;
  }
  auto words = good;
  words[5] = "-5";
  EXPECT_FALSE(parse_elevated_args(words, &why));
  words = good;
  words[0] = "relative/path";
  EXPECT_FALSE(parse_elevated_args(words, &why));

  // A FIFO in place of the installer neither hangs nor runs.
  std::string fifo = world_.root() + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::vector<std::string> command{
      VARNELO_HOST_BINARY,  kElevatedSwitch, fifo, "1.3.0", "http://a/b",
      std::string(64, '0'), "c2ln",          "5",  "6"};
  EXPECT_EQ(HostWorld::runProgram(command, 20000), 1);
}

}  // namespace
}  // namespace varnelo::host
