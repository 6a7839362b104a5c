// Reading handed-over command lines, the share link's remote path, the
// "-sendto" copy and the log clean-up.
#include <gtest/gtest.h>

#include "FolderCopy.h"
#include "HandOver.h"
#include "LogCleanup.h"
#include "TempDir.h"
#include "platform/files.h"

namespace varnelo::desktop {
namespace {

namespace files = platform::files;

TEST(HandOverTest, SwitchesByPrefixInOrder) {
  EXPECT_EQ(parseHandOver("").kind, HandOverSwitch::Empty);
  HandOver link = parseHandOver("-extlink /home/u/Varnelo/a b.txt");
  EXPECT_EQ(link.kind, HandOverSwitch::ExtLink);
  EXPECT_EQ(link.argument, "/home/u/Varnelo/a b.txt");
  HandOver send = parseHandOver("-sendto \"/tmp/a b\" /tmp/c");
  EXPECT_EQ(send.kind, HandOverSwitch::SendTo);
  EXPECT_EQ(send.argument, "\"/tmp/a b\" /tmp/c");
  EXPECT_EQ(parseHandOver("-quit").kind, HandOverSwitch::Quit);
  EXPECT_EQ(parseHandOver("-quitnow").kind, HandOverSwitch::Quit);  // a prefix is enough
  EXPECT_EQ(parseHandOver("-uninst").kind, HandOverSwitch::Uninst);
  EXPECT_EQ(parseHandOver("-upgrade").kind, HandOverSwitch::Upgrade);
  EXPECT_EQ(parseHandOver("-QUIT").kind, HandOverSwitch::Other);  // case matters
  EXPECT_EQ(parseHandOver("/some/file").kind, HandOverSwitch::Other);
  EXPECT_EQ(parseHandOver("-extlink").argument, "");
}

TEST(HandOverTest, ArgumentsTravelAndComeBack) {
  std::string text = joinArguments({"-sendto", "/tmp/a b", "/tmp/c"});
  EXPECT_EQ(text, "-sendto \"/tmp/a b\" /tmp/c");
  EXPECT_EQ(splitPaths(parseHandOver(text).argument),
            (std::vector<std::string>{"/tmp/a b", "/tmp/c"}));
  EXPECT_EQ(splitPaths("  x  \"y z\"\"w\" \"open"),
            (std::vector<std::string>{"x", "y z", "w", "open"}));
  EXPECT_EQ(singlePath(parseHandOver(joinArguments({"-extlink", "/s/a b"})).argument), "/s/a b");
  EXPECT_EQ(joinArguments({}), "");
  EXPECT_EQ(handOverMessage({}), std::string(1, '\0'));
  EXPECT_EQ(handOverText(handOverMessage({"-quit"})), "-quit");
  EXPECT_EQ(handOverText("-closepipe"), "-closepipe");  // a terminator is optional
  // The file manager quotes each path itself.
  std::string quoted = joinArguments({"-sendto", "\"/tmp/a b\"", "\"/tmp/c\""});
  EXPECT_EQ(quoted, "-sendto \"/tmp/a b\" \"/tmp/c\"");
  EXPECT_EQ(splitPaths(parseHandOver(quoted).argument),
            (std::vector<std::string>{"/tmp/a b", "/tmp/c"}));
}

TEST(HandOverTest, RemotePathsOnlyBelowTheSyncFolder) {
  EXPECT_EQ(remotePathOf("/home/u/Varnelo/docs/a.txt", "/home/u/Varnelo"), "home/docs/a.txt");
  EXPECT_EQ(remotePathOf("/home/u/Varnelo/docs", "/home/u/Varnelo/"), "home/docs");
  EXPECT_EQ(remotePathOf("/home/u/Varnelo", "/home/u/Varnelo"), "");
  EXPECT_EQ(remotePathOf("/home/u/VarneloX/a", "/home/u/Varnelo"), "");
  EXPECT_EQ(remotePathOf("/etc/passwd", "/home/u/Varnelo"), "");
  EXPECT_EQ(remotePathOf("/a", ""), "");
}

TEST(HandOverTest, LongOrMalformedMessagesAreRefused) {
  EXPECT_TRUE(acceptableHandOver(std::string(1023, 'a')));
  EXPECT_FALSE(acceptableHandOver(std::string(1024, 'a')));
  EXPECT_TRUE(acceptableHandOver("-sendto /tmp/文件"));
  std::string han;  // 3 bytes and one UTF-16 unit each: 700 of them are 2,100 bytes
  for (int i = 0; i < 700; ++i) han += "文";
  EXPECT_FALSE(acceptableHandOver(han));
  EXPECT_FALSE(acceptableHandOver("-extlink /tmp/\xff\xfe"));
}

TEST(FolderCopyTest, StopsAtTheFirstMissingPathAndNeverOverwrites) {
  test::TempDir dir;
  ASSERT_FALSE(files::createDirectories(dir.file("src/folder/inner")));
  ASSERT_FALSE(files::writeFile(dir.file("src/one.txt"), "1"));
  ASSERT_FALSE(files::writeFile(dir.file("src/folder/inner/two.txt"), "2"));
  ASSERT_FALSE(files::writeFile(dir.file("src/three.txt"), "3"));
  ASSERT_FALSE(files::createDirectories(dir.file("target")));
  ASSERT_FALSE(files::writeFile(dir.file("target/one.txt"), "mine"));

  int copied = copyInto({dir.file("src/one.txt"), dir.file("src/folder"), dir.file("src/gone"),
                         dir.file("src/three.txt")},
                        dir.file("target"));
  EXPECT_EQ(copied, 2);
  std::string text;
  ASSERT_FALSE(files::readFile(dir.file("target/one.txt"), text));
  EXPECT_EQ(text, "mine");
  ASSERT_FALSE(files::readFile(dir.file("target/folder/inner/two.txt"), text));
  EXPECT_EQ(text, "2");
  EXPECT_FALSE(files::exists(dir.file("target/three.txt")));

  EXPECT_EQ(copyInto({dir.file("src")}, dir.file("src/folder")), 0);  // not into itself
}

TEST(LogCleanupTest, RemovesLogsOlderThan29WholeDays) {
  test::TempDir dir;
  ASSERT_FALSE(files::createDirectories(dir.file("log")));
  const platform::FileTime now = platform::currentFileTime();
  const platform::FileTime day = 864000000000ULL;
  for (auto [name, age] :
       std::initializer_list<std::pair<const char*, platform::FileTime>>{{"old.log", 30 * day},
                                                                         {"edge.log", 30 * day - 1},
                                                                         {"new.log", day},
                                                                         {"old.txt", 40 * day}}) {
    std::string path = dir.file(std::string("log/") + name);
    ASSERT_FALSE(files::writeFile(path, "x"));
    ASSERT_FALSE(files::setLastWriteTime(path, now - age));
  }
  EXPECT_EQ(cleanOldLogs(dir.path(), now), 1);
  EXPECT_FALSE(files::exists(dir.file("log/old.log")));
  EXPECT_TRUE(files::exists(dir.file("log/edge.log")));  // 29.99 days: 29 whole days
  EXPECT_TRUE(files::exists(dir.file("log/new.log")));
  EXPECT_TRUE(files::exists(dir.file("log/old.txt")));
  EXPECT_EQ(cleanOldLogs(dir.file("missing"), now), 0);
}

}  // namespace
}  // namespace varnelo::desktop
