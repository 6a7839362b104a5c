#include "platform/desktop_places.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/autostart.h"
#include "platform/files.h"
#include "test_folder.h"

namespace places = platform::places;
namespace autostart = platform::autostart;
namespace files = platform::files;
using places::PlaceResult;
using platform::testing::ScopedEnv;
using platform::testing::TempFolder;

TEST(PlacesTest, FileAddresses) {
  EXPECT_EQ(places::fileUri("/home/u/My Sync/网"), "file:///home/u/My%20Sync/%E7%BD%91");
  std::string path;
  ASSERT_TRUE(places::pathFromFileUri("file:///home/u/My%20Sync/%e7%bd%91", path));
  EXPECT_EQ(path, "/home/u/My Sync/网");
  ASSERT_TRUE(places::pathFromFileUri("file://localhost/srv", path));
  EXPECT_EQ(path, "/srv");
  EXPECT_FALSE(places::pathFromFileUri("sftp://host/x", path));
  EXPECT_FALSE(places::pathFromFileUri("file://host/x", path));
  EXPECT_FALSE(places::pathFromFileUri("file:///bad%2", path));
  EXPECT_FALSE(places::pathFromFileUri("file:///nul%00", path));
}

TEST(PlacesTest, BookmarkAddedOnceAndRemovedOnlyWhileOurs) {
  TempFolder dir;
  ScopedEnv config("XDG_CONFIG_HOME", dir.path().c_str());
  const std::string file = places::defaultBookmarksFile();
  EXPECT_EQ(file, dir / "gtk-3.0/bookmarks");
  const std::string theirs =
      "file:///home/u/Documents\nsftp://nas/share NAS\nfile:///home/u/Odd%20Name Odd  label\n";

  // A first add makes the file; later adds keep the user's lines.
  PlaceResult result;
  ASSERT_FALSE(places::addBookmark(file, "/home/u/My Sync", "Varnelo", &result));
  EXPECT_EQ(result, PlaceResult::Changed);
  std::string text;
  ASSERT_FALSE(files::readFile(file, text));
  EXPECT_EQ(text, "file:///home/u/My%20Sync Varnelo\n");
  ASSERT_FALSE(files::writeFile(file, theirs));
  ASSERT_EQ(chmod(file.c_str(), 0600), 0);
  ASSERT_FALSE(places::addBookmark(file, "/home/u/My Sync/", "Varnelo", &result));
  ASSERT_FALSE(places::addBookmark(file, "/home/u/My Sync", "Varnelo", &result));
  EXPECT_EQ(result, PlaceResult::Unchanged);
  ASSERT_FALSE(files::readFile(file, text));
  EXPECT_EQ(text, theirs + "file:///home/u/My%20Sync Varnelo\n");
  struct stat st {};
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u) << "the file keeps its mode";

  ASSERT_FALSE(places::removeBookmark(file, "/home/u/My Sync", "Varnelo", &result));
  EXPECT_EQ(result, PlaceResult::Changed);
  ASSERT_FALSE(files::readFile(file, text));
  EXPECT_EQ(text, theirs);
  ASSERT_FALSE(places::removeBookmark(file, "/home/u/My Sync", "Varnelo", &result));
  EXPECT_EQ(result, PlaceResult::Unchanged);

  // The user renamed our entry: it is theirs now.
  ASSERT_FALSE(files::writeFile(file, theirs + "file:///home/u/My%20Sync Work\n"));
  ASSERT_FALSE(places::removeBookmark(file, "/home/u/My Sync", "Varnelo", &result));
  EXPECT_EQ(result, PlaceResult::NotOurs);
  ASSERT_FALSE(places::addBookmark(file, "/home/u/My Sync", "Varnelo", &result));
  EXPECT_EQ(result, PlaceResult::NotOurs);
  ASSERT_FALSE(files::readFile(file, text));
  EXPECT_EQ(text, theirs + "file:///home/u/My%20Sync Work\n");
  // Another folder's entry with our label is not ours to remove either.
  ASSERT_FALSE(places::removeBookmark(file, "/home/u/Odd Name", "Varnelo", &result));
  EXPECT_EQ(result, PlaceResult::NotOurs);

  EXPECT_EQ(places::addBookmark(file, "relative", "x"), std::errc::invalid_argument);
  EXPECT_EQ(places::addBookmark(file, "/a\nfile:///etc", "x"), std::errc::invalid_argument);
  EXPECT_EQ(places::addBookmark(file, "/a", "x\ny"), std::errc::invalid_argument);
}

TEST(AutostartTest, WriteReadRemove) {
  TempFolder dir;
  ScopedEnv config("XDG_CONFIG_HOME", dir.path().c_str());
  std::string program;
  EXPECT_EQ(autostart::read("varnelo", program), std::errc::no_such_file_or_directory);
  EXPECT_FALSE(autostart::remove("varnelo"));

  const autostart::Entry entry{
      "Varnelo", "/opt/My Apps/100% \"v\"\\bin/varnelohost", {"-a b"}, "", ""};
  ASSERT_FALSE(autostart::write("varnelo", entry));
  EXPECT_EQ(autostart::entryPath("varnelo"), dir / "autostart/varnelo.desktop");
  std::string text;
  ASSERT_FALSE(files::readFile(autostart::entryPath("varnelo"), text));
  EXPECT_NE(text.find("[Desktop Entry]\nType=Application\nName=Varnelo\n"), std::string::npos);
  EXPECT_NE(
      text.find("Exec=\"/opt/My Apps/100%% \\\\\"v\\\\\"\\\\\\\\bin/varnelohost\" \"-a b\"\n"),
      std::string::npos)
      << text;
  ASSERT_FALSE(autostart::read("varnelo", program));
  EXPECT_EQ(program, entry.program);

  // Switched off by the desktop's own settings.
  ASSERT_FALSE(files::writeFile(autostart::entryPath("varnelo"),
                                text + "X-GNOME-Autostart-enabled=false\n"));
  EXPECT_EQ(autostart::read("varnelo", program), std::errc::no_such_file_or_directory);
  ASSERT_FALSE(files::writeFile(autostart::entryPath("varnelo"),
                                "[Desktop Entry]\nExec=/usr/bin/plain -x\n[Other]\nHidden=true\n"));
  ASSERT_FALSE(autostart::read("varnelo", program));
  EXPECT_EQ(program, "/usr/bin/plain");

  ASSERT_FALSE(autostart::remove("varnelo"));
  EXPECT_FALSE(files::exists(autostart::entryPath("varnelo")));
  EXPECT_EQ(autostart::write("../x", entry), std::errc::invalid_argument);
  EXPECT_EQ(autostart::write("v", {"V", "relative/bin", {}, "", ""}), std::errc::invalid_argument);
  EXPECT_EQ(autostart::write("v", {"V\nExec=/bin/evil", "/bin/x", {}, "", ""}),
            std::errc::invalid_argument);
}
