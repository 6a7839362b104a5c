// The packages scripts/package made, when they exist: the Debian package's
// control data and contents (and lintian finds no error), and the per-user
// installer installed into a temporary folder and then updated to a newer
// version through the installed varnelohost and a real varnelo-service.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <memory>

#include "HostProcess.h"
#include "ServiceProcess.h"
#include "Version.h"
#include "platform/files.h"
#include "platform/registry.h"

namespace varnelo::host {
namespace {

namespace files = platform::files;
using test::HostWorld;

const std::string kPackages = std::string(VARNELO_BUILD_DIR) + "/packages";

// Standard output of a shell command line (the words are ours, not input).
std::string output(const std::string& command, int* status = nullptr) {
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen((command + " 2>&1").c_str(), "r"), pclose);
  std::string text;
  std::array<char, 4096> block;
  size_t n;
  while (pipe && (n = fread(block.data(), 1, block.size(), pipe.get())) > 0)
    text.append(block.data(), n);
  int rc = pclose(pipe.release());
  if (status != nullptr) *status = rc;
  return text;
}

std::string installerOf(const std::string& version) {
  return kPackages + "/Varnelo-x86-" + version + "-Setup.run";
}

// The newest installer in packages/ that is newer than this build.
std::string newerInstallerVersion() {
  std::vector<files::DirEntry> entries;
  files::listDirectory(kPackages, entries);
  std::string best;
  for (const auto& e : entries) {
    const std::string prefix = "Varnelo-x86-", suffix = "-Setup.run";
    if (e.name.rfind(prefix, 0) != 0 || !e.name.ends_with(suffix)) continue;
    std::string v = e.name.substr(prefix.size(), e.name.size() - prefix.size() - suffix.size());
    if (compare_versions(v, VARNELO_VERSION) > 0 && (best.empty() || compare_versions(v, best) > 0))
      best = v;
  }
  return best;
}

TEST(PackageTest, TheDebianPackageCarriesThePrograms) {
  std::string deb = kPackages + "/varnelo_" VARNELO_VERSION "_amd64.deb";
  if (!files::exists(deb)) GTEST_SKIP() << "no " << deb << " (scripts/package makes it)";
  std::string info = output("dpkg-deb --info " + deb);
  EXPECT_NE(info.find("Package: varnelo\n"), std::string::npos) << info;
  EXPECT_NE(info.find("Version: " VARNELO_VERSION "\n"), std::string::npos) << info;
  EXPECT_NE(info.find("Architecture: amd64"), std::string::npos) << info;
  for (const char* dependency :
       {"libcurl4", "libqt6widgets6", "libsqlite3-0", "libssl3", "xdg-utils"})
    EXPECT_NE(info.find(dependency), std::string::npos) << dependency << " missing in\n" << info;

  std::string contents = output("dpkg-deb --contents " + deb);
  for (const char* file :
       {"./usr/bin/varnelo", "./usr/bin/varnelohost", "./usr/bin/varnelocmd",
        "./usr/lib/varnelo/libvarnelo.so.0", "./usr/share/applications/varnelo.desktop",
        "./usr/share/icons/hicolor/scalable/apps/varnelo.svg",
        "nautilus/extensions-4/libvarneloShellExt.so", "./usr/share/doc/varnelo/copyright",
        "./usr/share/varnelo/version"})
    EXPECT_NE(contents.find(file), std::string::npos) << file << " missing in\n" << contents;

  if (output("command -v lintian").empty()) return;
  std::string report = output("lintian --no-tag-display-limit " + deb);
  EXPECT_EQ(report.find("\nE: "), std::string::npos) << report;
  EXPECT_NE(report.rfind("E: ", 0), 0u) << report;
}

class InstallerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!files::exists(installerOf(VARNELO_VERSION)))
      GTEST_SKIP() << "no " << installerOf(VARNELO_VERSION) << " (scripts/package makes it)";
    setenv("HOME", world_.root().c_str(), 1);
    setenv("VARNELO_INSTALLER_START", "0", 1);  // no tray application in a test
  }
  void TearDown() override {
    unsetenv("VARNELO_INSTALLER_START");
    if (home_) setenv("HOME", home_->c_str(), 1);
  }

  std::string installedVersion() { return output(prefix_ + "/bin/varnelo --version"); }
  std::string value(const char* name) {
    platform::Registry key;
    std::string text;
    return key.readString(name, text) ? std::string() : text;
  }

  std::optional<std::string> home_ =
      getenv("HOME") ? std::optional<std::string>(getenv("HOME")) : std::nullopt;
  HostWorld world_;
  std::string prefix_ = world_.root() + "/opt/varnelo";
};

TEST_F(InstallerTest, InstallsForTheUserAndUpdatesThroughTheHost) {
  int status = 0;
  std::string log = output(installerOf(VARNELO_VERSION) + " --prefix=" + prefix_, &status);
  ASSERT_EQ(status, 0) << log;
  EXPECT_EQ(installedVersion(), "varnelo " VARNELO_VERSION "\n");
  EXPECT_EQ(value("AppVersion"), VARNELO_VERSION);
  EXPECT_EQ(value("AppFolder"), prefix_ + "/bin");
  EXPECT_TRUE(files::exists(world_.root() + "/config/autostart/varnelo.desktop"));
  EXPECT_TRUE(files::exists(world_.root() + "/data/applications/varnelo.desktop"));

  std::string newer = newerInstallerVersion();
  if (newer.empty())
    GTEST_SKIP() << "no newer installer in " << kPackages
                 << " for the update (scripts/package --version X, X newer than " VARNELO_VERSION
                    ")";
  varnelo::test::ServiceProcess service;
  ASSERT_TRUE(service.started()) << service.error();
  service.exportEnvironment();
  setenv("VARNELO_UPDATE_KEY", (service.dataDir() + "/update-key.pub").c_str(), 1);
  std::ifstream in(installerOf(newer), std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_TRUE(service.publishUpdate(newer, bytes));

  // The installed host downloads, checks and starts the newer installer,
  // which replaces the programs and records the new version.
  std::string host = prefix_ + "/bin/varnelohost";
  int rc = -2;
  std::string hostLog = output(host + " -scheduler", &rc);
  EXPECT_EQ(rc, 0) << hostLog;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (value("AppVersion") != newer && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(value("AppVersion"), newer) << hostLog;
  EXPECT_EQ(installedVersion(), "varnelo " + newer + "\n");
  EXPECT_EQ(output(host + " --version"), "varnelohost " + newer + "\n");

  // The installed version caught up: the next run forgets the pending one.
  HostWorld::writeRecorder(prefix_ + "/bin/varnelo", world_.root() + "/app-ran");
  EXPECT_EQ(HostWorld::runHost({}), 0);
  EXPECT_EQ(value("UpdaterPath"), "");
  EXPECT_EQ(HostWorld::waitForFile(world_.root() + "/app-ran"), "\n");
  unsetenv("VARNELO_UPDATE_KEY");
}

}  // namespace
}  // namespace varnelo::host
