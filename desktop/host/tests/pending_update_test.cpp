// The launcher's side of a pending update: which installer runs how, what
// the question does, and how the registry values move between none,
// downloaded, started, declined and stale. Real registry file, real files,
// a recording launcher instead of started programs.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "ElevatedInstall.h"
#include "HostValues.h"
#include "InstallerDownload.h"
#include "SigningKey.h"
#include "UpdaterHost.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/shell.h"

namespace varnelo::host {
namespace {

using platform::RecordingLauncher;
using Call = RecordingLauncher::Call;
using Verb = RecordingLauncher::Verb;
namespace files = platform::files;

class AnsweringQuestion : public UpdateQuestion {
 public:
  Answer ask(const std::string& version) override {
    asked.push_back(version);
    return answer;
  }
  Answer answer = Answer::kOk;
  std::vector<std::string> asked;
};

// A registry file of the test's own (removed with the test's folder is not
// possible: the folder is made in SetUp, after the members).
std::string tempRegistry() {
  static int n = 0;
  return "/tmp/host-pending-registry-" + std::to_string(getpid()) + "-" + std::to_string(++n) +
         "/registry";
}

class PendingUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/host-pending-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    root_ = dir;
    ASSERT_FALSE(files::createDirectories(root_ + "/tmp", 0700));
    ASSERT_FALSE(files::createDirectories(appFolder_ = root_ + "/opt/bin"));
    ASSERT_FALSE(files::createDirectories(ownFolder_ = root_ + "/own"));
    setenv("TMPDIR", (root_ + "/tmp").c_str(), 1);
    ASSERT_TRUE(keys_.add(publisher_.publicBase64()));
    ASSERT_FALSE(key_.writeString(kAppVersion, "1.2.3"));
    ASSERT_FALSE(key_.writeString(kAppFolder, appFolder_));
  }
  void TearDown() override {
    unsetenv("TMPDIR");
    files::removeTree(root_);
    files::removeTree(files::parentPath(key_.path()));
  }

  // An installer as check_for_update leaves it: in the private folder, its
  // signed facts in the registry.
  std::string recordPending(const std::string& version) {
    auto folder = private_download_folder(nullptr);
    EXPECT_TRUE(folder);
    std::string path = *folder + "/" + installer_file_name(version);
    std::string bytes = "#!/bin/sh\n# installer " + version + "\n";
    std::ofstream(path, std::ios::binary) << bytes;
    UpdateManifest m{version, "https://127.0.0.1/update/" + installer_file_name(version),
                     test::SigningKey::sha256Hex(bytes), ""};
    publisher_.signManifest(m);
    values_.setText(kUpdaterUrl, m.url);
    values_.setText(kUpdaterDigest, m.sha256);
    values_.setText(kUpdaterSignature, m.signature);
    values_.setText(kUpdaterExpires, std::to_string(m.expires));
    values_.setText(kUpdaterSequence, std::to_string(m.sequence));
    values_.setText(kUpdaterPath, path);
    values_.setText(kUpdaterVersion, version);
    values_.setNumber(kUpdaterIgnore, 0);
    return path;
  }

  bool pendingRecorded() { return values_.text(kUpdaterPath) || values_.text(kUpdaterVersion); }

  std::vector<Call> runHost(const std::vector<std::string>& args) {
    RecordingLauncher recorder;
    platform::ScopedLauncher use(recorder);
    UpdaterHost host(values_, question_, keys_, ownFolder_);
    EXPECT_EQ(host.run(args), 0);
    return recorder.calls();
  }

  Call application(const std::vector<std::string>& args) const {
    return {Verb::Run, appFolder_ + "/varnelo", args};
  }

  std::string root_, appFolder_, ownFolder_;
  test::SigningKey publisher_;
  TrustedKeys keys_;
  platform::Registry key_{tempRegistry()};
  HostValues values_{key_};
  AnsweringQuestion question_;
};

TEST_F(PendingUpdateTest, WithNothingPendingTheLauncherStartsTheApplicationWithItsCommandLine) {
  EXPECT_EQ(runHost({"-extlink", "/home/u/Varnelo/a b.txt"}),
            std::vector<Call>{application({"-extlink", "/home/u/Varnelo/a b.txt"})});
  key_.deleteValue(kAppFolder);
  EXPECT_EQ(runHost({}), (std::vector<Call>{{Verb::Run, ownFolder_ + "/varnelo", {}}}));
  key_.writeString(kAppFolder, root_ + "/gone");
  EXPECT_EQ(runHost({}), (std::vector<Call>{{Verb::Run, ownFolder_ + "/varnelo", {}}}));
}

TEST_F(PendingUpdateTest, ANewerMinorVersionInstallsSilentlyWithoutTheApplication) {
  std::string path = recordPending("1.3.0");
  EXPECT_EQ(runHost({}),
            (std::vector<Call>{
                {Verb::Run, path, {"--silent", "--autoupdate", "--prefix=" + root_ + "/opt"}}}));
  EXPECT_TRUE(question_.asked.empty());
  // Started: the values stay until the installed version catches up.
  EXPECT_EQ(values_.text(kUpdaterVersion), "1.3.0");
}

TEST_F(PendingUpdateTest, ANewerMajorVersionAsksAndOpensTheInstaller) {
  std::string path = recordPending("2.0.0");
  EXPECT_EQ(runHost({}), (std::vector<Call>{{Verb::Run, path, {"--prefix=" + root_ + "/opt"}}}));
  EXPECT_EQ(question_.asked, std::vector<std::string>{"2.0.0"});
}

TEST_F(PendingUpdateTest, AFolderTheUserCannotChangeAsksAndElevates) {
  std::string path = recordPending("1.3.0");
  std::string locked = root_ + "/locked/bin";
  if (geteuid() == 0) {
    key_.writeString(kAppFolder, locked);  // root may change any folder; a missing one it cannot
  } else {
    ASSERT_FALSE(files::createDirectories(locked));
    chmod(locked.c_str(), 0555);
    key_.writeString(kAppFolder, locked);
  }
  // pkexec runs the installed host (here: the host's own folder, as the
  // application folder is not there), never the user's file itself.
  std::vector<Call> calls = runHost({});
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].verb, Verb::RunElevated);
  EXPECT_EQ(calls[0].target, ownFolder_ + "/varnelohost");
  ASSERT_EQ(calls[0].args.size(), 9u);
  EXPECT_EQ(calls[0].args[0], "--install-elevated");
  EXPECT_EQ(calls[0].args[1], path);
  EXPECT_EQ(calls[0].args[2], "1.3.0");
  EXPECT_EQ(calls[0].args[8], "--prefix=" + root_ + "/locked");
  std::string why;
  auto request = parse_elevated_args({calls[0].args.begin() + 1, calls[0].args.end()}, &why);
  ASSERT_TRUE(request) << why;
  EXPECT_EQ(verify_manifest(request->facts, keys_), std::nullopt)
      << "the signed facts travel along";
  EXPECT_EQ(question_.asked, std::vector<std::string>{"1.3.0"});
  chmod(locked.c_str(), 0755);
}

TEST_F(PendingUpdateTest, CancelDeclinesTheUpdateAndTheNextRunForgetsIt) {
  recordPending("2.0.0");
  question_.answer = UpdateQuestion::Answer::kCancel;
  EXPECT_EQ(runHost({}), std::vector<Call>{application({})});
  EXPECT_EQ(values_.number(kUpdaterIgnore), 1u);
  EXPECT_TRUE(pendingRecorded());

  EXPECT_EQ(runHost({}), std::vector<Call>{application({})});
  EXPECT_FALSE(pendingRecorded());
  EXPECT_EQ(question_.asked.size(), 1u);
}

TEST_F(PendingUpdateTest, WithoutADisplayTheQuestionStaysOpen) {
  recordPending("2.0.0");
  question_.answer = UpdateQuestion::Answer::kNotAsked;
  EXPECT_EQ(runHost({}), std::vector<Call>{application({})});
  EXPECT_EQ(values_.number(kUpdaterIgnore), 0u);
  EXPECT_TRUE(pendingRecorded());
}

TEST_F(PendingUpdateTest, AStalePathIsForgotten) {
  std::string path = recordPending("1.3.0");
  unlink(path.c_str());
  EXPECT_EQ(runHost({}), std::vector<Call>{application({})});
  EXPECT_FALSE(pendingRecorded());
}

TEST_F(PendingUpdateTest, AnInstallerChangedAfterItsDownloadNeverRuns) {
  std::string path = recordPending("1.3.0");
  std::ofstream(path, std::ios::app) << "echo more\n";
  EXPECT_EQ(runHost({}), std::vector<Call>{application({})});
  EXPECT_FALSE(pendingRecorded());
  EXPECT_FALSE(files::exists(path));

  path = recordPending("1.3.0");
  key_.writeString(kUpdaterVersion, "1.4.0");  // the signature covers the version
  EXPECT_EQ(runHost({}), std::vector<Call>{application({})});
  EXPECT_FALSE(pendingRecorded());

  recordPending("1.3.0");
  key_.deleteValue(kUpdaterSignature);
  EXPECT_EQ(runHost({}), std::vector<Call>{application({})});
  EXPECT_FALSE(pendingRecorded());
}

TEST_F(PendingUpdateTest, AnInstalledPendingVersionIsForgottenInsteadOfRunAgain) {
  std::string path = recordPending("1.3.0");
  key_.writeString(kAppVersion, "1.3.0");
  EXPECT_EQ(runHost({}), std::vector<Call>{application({})});
  EXPECT_FALSE(pendingRecorded());
  EXPECT_FALSE(files::exists(path));
}

TEST_F(PendingUpdateTest, WithoutTheKeyNothingIsWrittenAndTheApplicationStarts) {
  key_.deleteKey();
  EXPECT_EQ(runHost({"-scheduler"}), std::vector<Call>{});  // the check needs "AppVersion"
  EXPECT_EQ(runHost({}), (std::vector<Call>{{Verb::Run, ownFolder_ + "/varnelo", {}}}));
  EXPECT_FALSE(key_.keyExists());
}

}  // namespace
}  // namespace varnelo::host
