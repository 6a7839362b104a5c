// The self-extracting installer's script (cmake/Installer.sh.in) in front of
// an archive made here the way CPack makes it, with the real varnelohost
// inside: installed as root into a temporary folder, the files belong to
// root whoever built the archive, and a folder name full of characters that
// mean something to sed or to the desktop entry format still gives a menu
// entry that names it exactly. Needs root (skipped otherwise).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "HostProcess.h"
#include "platform/files.h"
#include "platform/registry.h"

namespace varnelo::host {
namespace {

using test::HostWorld;
namespace files = platform::files;

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

class InstallerScriptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "installs as root";
    // The payload, owned by a builder's uid as CPack's archive would be.
    std::string stage = world_.root() + "/payload";
    for (const char* sub : {"/bin", "/lib", "/share/applications", "/share/icons"})
      ASSERT_FALSE(files::createDirectories(stage + sub));
    ASSERT_FALSE(files::copyFile(VARNELO_HOST_BINARY, stage + "/bin/varnelohost"));
    chmod((stage + "/bin/varnelohost").c_str(), 0755);
    ASSERT_FALSE(
        files::copyFile(VARNELO_DESKTOP_ENTRY, stage + "/share/applications/varnelo.desktop"));
    std::ofstream(stage + "/lib/libexample.so") << "library";
    std::string archive = world_.root() + "/payload.tar.gz";
    std::string tar = "tar --owner=4242 --group=4242 -czf '" + archive + "' -C '" + stage + "' .";
    ASSERT_EQ(std::system(tar.c_str()), 0);

    std::string header = readFile(VARNELO_INSTALLER_TEMPLATE);
    replaceAll(header, "@CPACK_PACKAGE_VERSION@", "9.8.7");
    replaceAll(header, "@CPACK_AT_SIGN@", "@");
    size_t lines = static_cast<size_t>(std::count(header.begin(), header.end(), '\n'));
    replaceAll(header, "###CPACK_HEADER_LENGTH###", std::to_string(lines + 1));
    installer_ = world_.root() + "/Varnelo-x86-9.8.7-Setup.run";
    std::ofstream(installer_, std::ios::binary) << header << readFile(archive);
    chmod(installer_.c_str(), 0755);

    setenv("HOME", (world_.root() + "/home").c_str(), 1);
    setenv("VARNELO_INSTALLER_START", "0", 1);
  }
  void TearDown() override {
    unsetenv("VARNELO_INSTALLER_START");
    if (home_) setenv("HOME", home_->c_str(), 1);
  }

  std::optional<int> install(const std::string& prefix) {
    return HostWorld::runProgram({"/bin/sh", installer_, "--silent", "--prefix=" + prefix});
  }

  std::optional<std::string> home_ =
      getenv("HOME") ? std::optional<std::string>(getenv("HOME")) : std::nullopt;
  HostWorld world_;
  std::string installer_;
};

TEST_F(InstallerScriptTest, AsRootTheFilesAreRootsAndTheMenuEntryNamesAnOddFolderExactly) {
  // Characters sed and the desktop entry format take for their own.
  const std::string prefix = world_.root() + "/odd | & \\ $x \"q\" 100% dir/opt";
  ASSERT_EQ(install(prefix), 0);

  for (const char* file : {"/bin/varnelohost", "/lib/libexample.so", "/share/applications",
                           "/share/applications/varnelo.desktop", "/bin", "/lib"}) {
    struct stat st {};
    ASSERT_EQ(lstat((prefix + file).c_str(), &st), 0) << file;
    EXPECT_EQ(st.st_uid, 0u) << file << " keeps the builder's owner";
    EXPECT_EQ(st.st_gid, 0u) << file;
    EXPECT_EQ(st.st_mode & 0005,
              S_ISDIR(st.st_mode) || std::string(file) == "/bin/varnelohost" ? 0005u : 0004u)
        << file << " must stay readable for the user";
  }

  std::string entry = readFile(world_.root() + "/data/applications/varnelo.desktop");
  // Quoted argument rules (\" \` \$ \\ and %%), then the string rule (\\).
  EXPECT_NE(entry.find("\nExec=\"" + world_.root() +
                       "/odd | & \\\\\\\\ \\\\$x \\\\\"q\\\\\" 100%% dir/opt/bin/varnelohost\"\n"),
            std::string::npos)
      << entry;
  EXPECT_NE(entry.find("\nIcon=" + world_.root() +
                       "/odd | & \\\\ $x \"q\" 100% dir/opt/share/icons/hicolor/scalable/apps/"
                       "varnelo.svg\n"),
            std::string::npos)
      << entry;
  EXPECT_NE(entry.find("\nName=Varnelo\n"), std::string::npos) << "the rest is kept";

  platform::Registry key;
  std::string folder;
  EXPECT_FALSE(key.readString("AppFolder", folder));
  EXPECT_EQ(folder, prefix + "/bin");
}

TEST_F(InstallerScriptTest, AFolderWithALineBreakIsRefusedBeforeAnythingIsWritten) {
  const std::string prefix = world_.root() + "/two\nlines";
  EXPECT_EQ(install(prefix), 2);
  EXPECT_FALSE(files::exists(prefix));
  EXPECT_FALSE(files::exists(world_.root() + "/two"));
  EXPECT_EQ(install("relative/folder"), 2);
}

}  // namespace
}  // namespace varnelo::host
