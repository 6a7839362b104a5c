// Names the transfer paths make up or refuse: conflicted copies, part files,
// MIME types, remote names, case twins and the folder merge.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "ConflictNames.h"
#include "LocalListing.h"
#include "MimeTypes.h"
#include "SortedMerge.h"
#include "SyncPaths.h"
#include "TempDir.h"
#include "TempNames.h"
#include "platform/files.h"
#include "platform/text.h"

using namespace varnelo;
namespace files = platform::files;

TEST(ConflictNames, DateGoesBeforeTheExtensionAndReplacesAnEarlierMarker) {
  const platform::LocalTime t{2012, 5, 3, 14, 22, 1};
  EXPECT_EQ(conflictedCopyName("report.txt", t),
            "report (Conflicted copy 2012-05-03_14-22-01).txt");
  EXPECT_EQ(conflictedCopyName("README", t), "README (Conflicted copy 2012-05-03_14-22-01)");
  EXPECT_EQ(conflictedCopyName("a.tar.gz", t), "a.tar (Conflicted copy 2012-05-03_14-22-01).gz");
  const platform::LocalTime later{2013, 1, 2, 3, 4, 5};
  EXPECT_EQ(conflictedCopyName("report (Conflicted copy 2012-05-03_14-22-01).txt", later),
            "report (Conflicted copy 2013-01-02_03-04-05).txt");
  EXPECT_EQ(conflictedCopyName("v1.2 (Conflicted copy 2012-05-03_14-22-01)", later),
            "v1.2 (Conflicted copy 2013-01-02_03-04-05)");
}

TEST(ConflictNames, ALongNameGivesUpTheEndOfItsBaseToFitTheNameLimit) {
  const platform::LocalTime t{2012, 5, 3, 14, 22, 1};
  const std::string marker = " (Conflicted copy 2012-05-03_14-22-01)";
  // 240 bytes of two-byte letters: the cut falls between two of them.
  std::string base;
  for (int i = 0; i < 120; ++i) base += "\xc3\xa9";
  const std::string copy = conflictedCopyName(base + ".txt", t);
  EXPECT_LE(copy.size() + 4, 255u);  // room for " 999" too
  EXPECT_TRUE(platform::isValidUtf8(copy));
  EXPECT_EQ(copy.substr(copy.size() - marker.size() - 4), marker + ".txt");
  EXPECT_EQ(
      base.compare(0, copy.size() - marker.size() - 4, copy, 0, copy.size() - marker.size() - 4),
      0);
  // An "extension" too long to keep is cut with the rest of the name.
  const std::string odd = "a." + std::string(250, 'x');
  const std::string oddCopy = conflictedCopyName(odd, t);
  EXPECT_LE(oddCopy.size() + 4, 255u);
  EXPECT_EQ(oddCopy.substr(oddCopy.size() - marker.size()), marker);
  // A short name is left whole.
  EXPECT_EQ(conflictedCopyName("notes.txt", t), "notes" + marker + ".txt");
}

TEST(ConflictNames, CopyPathUsesTheFilesLocalTimeAndNeverOverwrites) {
  setenv("TZ", "Asia/Tokyo", 1);
  tzset();
  test::TempDir dir;
  const std::string file = dir / "notes.txt";
  ASSERT_FALSE(files::writeFile(file, "x"));
  // 2012-05-03 05:22:01 UTC is 14:22:01 in Tokyo.
  ASSERT_FALSE(files::setLastWriteTime(file, platform::fileTimeFromUnix(1336022521, 0)));
  const std::string first = conflictedCopyPath(file);
  EXPECT_EQ(first, dir / "notes (Conflicted copy 2012-05-03_14-22-01).txt");
  ASSERT_FALSE(files::writeFile(first, "earlier copy"));
  EXPECT_EQ(conflictedCopyPath(file), dir / "notes (Conflicted copy 2012-05-03_14-22-01 2).txt");
  unsetenv("TZ");
  tzset();
}

TEST(TempNames, PartNameIsStablePerVersionAndPathAndFitsTheNameLimit) {
  Signature v1{};
  v1[0] = 1;
  Signature v2 = v1;
  v2[15] = 9;
  const std::string a = partFileName("/sync/docs/a.txt", v1, 2);
  EXPECT_EQ(a, partFileName("/sync/docs/a.txt", v1, 2));
  EXPECT_NE(a, partFileName("/sync/docs/a.txt", v2, 2));
  EXPECT_NE(a, partFileName("/sync/other/a.txt", v1, 2));
  EXPECT_EQ(a.rfind("a.txt.", 0), 0u);
  EXPECT_EQ(a.size(), std::string("a.txt.").size() + 24 + std::string(".v2.part").size());
  EXPECT_EQ(a.substr(a.size() - 10), "==.v2.part");

  // 120 two-byte letters: the name is cut at a character boundary.
  std::string longName;
  for (int i = 0; i < 120; ++i) longName += "\xc3\xa9";
  const std::string cut = partFileName("/sync/" + longName, v1, 2);
  EXPECT_LE(cut.size(), 255u);
  EXPECT_TRUE(platform::isValidUtf8(cut));
}

TEST(TempNames, ScratchNamesDifferAndTheTempFolderIsHidden) {
  EXPECT_NE(scratchFileName(), scratchFileName());
  EXPECT_EQ(scratchFileName().rfind("~$", 0), 0u);
  test::TempDir dir;
  ASSERT_FALSE(ensureTempFolder(dir.path()));
  EXPECT_TRUE(files::isDirectory(dir / kTempFolderName));
  EXPECT_EQ(files::fileName(dir / kTempFolderName)[0], '.');
  EXPECT_EQ(tempFolderPath(dir.path()), dir / kTempFolderName + "/");
}

TEST(TempNames, PartNameDigestIsUrlSafeBase64WithItsPad) {
  // The digest part never holds "/" (it would make a folder) or "+".
  for (uint8_t b = 0; b < 64; ++b) {
    Signature sig{};
    sig.fill(b);
    const std::string name = partFileName("/s/f", sig, 2);
    const std::string digest = name.substr(2, 24);
    EXPECT_EQ(digest.find_first_of("/+"), std::string::npos) << name;
    EXPECT_EQ(digest.substr(22), "==");
  }
}

TEST(MimeTypes, WeightThenLengthThenCaseRules) {
  test::TempDir dir;
  const std::string globs = dir / "globs2";
  std::ofstream(globs) << "# comment\n"
                          "50:text/plain:*.txt\n"
                          "50:application/x-compressed-tar:*.tar.gz\n"
                          "50:application/gzip:*.gz\n"
                          "50:text/x-c++src:*.C:cs\n"
                          "50:text/x-csrc:*.c\n"
                          "50:text/x-makefile:makefile\n"
                          "60:application/x-sharedlib:*.so.[0-9]*\n"
                          "40:text/x-low:*.lo\n"
                          "80:text/x-high:*.lo\n";
  MimeTypes table(globs);
  EXPECT_EQ(table.lookup("Notes.TXT"), "text/plain");
  EXPECT_EQ(table.lookup("backup.tar.gz"), "application/x-compressed-tar");
  EXPECT_EQ(table.lookup("x.gz"), "application/gzip");
  EXPECT_EQ(table.lookup("main.C"), "text/x-c++src");
  EXPECT_EQ(table.lookup("main.c"), "text/x-csrc");
  EXPECT_EQ(table.lookup("Makefile"), "text/x-makefile");
  EXPECT_EQ(table.lookup("libz.so.1"), "application/x-sharedlib");
  EXPECT_EQ(table.lookup("a.lo"), "text/x-high");
  EXPECT_EQ(table.lookup("a.unknownext"), "unknown");
  EXPECT_EQ(table.lookup("noext"), "unknown");
  EXPECT_EQ(MimeTypes(dir / "missing").lookup("a.txt"), "unknown");
}

TEST(MimeTypes, SystemDatabaseKnowsCommonTypes) {
  if (!files::exists("/usr/share/mime/globs2")) GTEST_SKIP() << "shared-mime-info not installed";
  EXPECT_EQ(MimeTypes::system().lookup("photo.JPG"), "image/jpeg");
  EXPECT_EQ(MimeTypes::system().lookup("page.html"), "text/html");
}

TEST(SyncPaths, RemoteNamesThatCouldEscapeAreRefused) {
  for (const std::string& bad :
       std::vector<std::string>{"", ".", "..", "a/b", "a\\b", std::string("a\0b", 3), "\xff\xfe"}) {
    EXPECT_FALSE(isSafeRemoteName(bad)) << bad;
  }
  for (const std::string& good :
       std::vector<std::string>{"a", "..a", "a..", "...", " x ", "\xc3\xa9t\xc3\xa9"}) {
    EXPECT_TRUE(isSafeRemoteName(good)) << good;
  }
}

TEST(SyncPaths, LocalRemoteAndJournalSpellings) {
  EXPECT_EQ(remotePathOf("/s/Sync", "/s/Sync"), "home");
  EXPECT_EQ(remotePathOf("/s/Sync/", "/s/Sync/Docs/A.txt"), "home/Docs/A.txt");
  EXPECT_FALSE(remotePathOf("/s/Sync", "/s/Sync2/a"));
  EXPECT_FALSE(remotePathOf("/s/Sync", "/s/Sync/../etc/passwd"));
  EXPECT_FALSE(remotePathOf("/s/Sync", "/s/Sync//a"));
  EXPECT_FALSE(remotePathOf("/s/Sync", "/s"));
  EXPECT_EQ(childPath("home/a", "b"), "home/a/b");
}

TEST(LocalListing, CaseTwinsAfterTheFirstAreSetAside) {
  test::TempDir dir;
  ASSERT_FALSE(files::writeFile(dir / "b.txt", "1"));
  ASSERT_FALSE(files::writeFile(dir / "a.txt", "1"));
  ASSERT_FALSE(files::writeFile(dir / "A.txt", "2"));
  ASSERT_FALSE(files::createDirectory(dir / "Docs"));
  ASSERT_FALSE(files::createDirectory(dir / "docs"));
  ASSERT_FALSE(files::writeFile(dir / "docs/inner.txt", "3"));
  LocalListing listing;
  ASSERT_FALSE(listLocalFolder(dir.path(), listing));
  ASSERT_EQ(listing.entries.size(), 3u);
  EXPECT_EQ(listing.entries[0].name, "A.txt");  // "A" < "a" in byte order
  EXPECT_EQ(listing.entries[1].name, "b.txt");
  EXPECT_EQ(listing.entries[2].name, "Docs");
  EXPECT_EQ(listing.twins, (std::vector<std::string>{"a.txt", "docs"}));
  ASSERT_NE(listing.find("DOCS"), nullptr);
  EXPECT_EQ(listing.find("DOCS")->name, "Docs");

  CaseTwinCache cache;
  EXPECT_FALSE(cache.isShadowed(dir.path(), dir / "A.txt"));
  EXPECT_TRUE(cache.isShadowed(dir.path(), dir / "a.txt"));
  EXPECT_TRUE(cache.isShadowed(dir.path(), dir / "docs/inner.txt"));
  EXPECT_FALSE(cache.isShadowed(dir.path(), dir / "b.txt"));
  // The first twin goes away: the remaining one takes part again.
  ASSERT_FALSE(files::removeFile(dir / "A.txt"));
  EXPECT_FALSE(cache.isShadowed(dir.path(), dir / "a.txt"));
}

TEST(LocalListing, AChooserPicksTheTwinThatTakesPartOrHoldsThemAll) {
  test::TempDir dir;
  ASSERT_FALSE(files::writeFile(dir / "Report.txt", "newcomer"));
  ASSERT_FALSE(files::writeFile(dir / "report.txt", "synced"));
  ASSERT_FALSE(files::createDirectory(dir / "Docs"));
  ASSERT_FALSE(files::createDirectory(dir / "docs"));
  ASSERT_FALSE(files::writeFile(dir / "docs/inner.txt", "3"));
  // The synced report is the second in byte order; no docs twin can be told.
  const TwinChooser choose = [](const std::string&,
                                const std::vector<const files::DirEntry*>& twins) {
    if (nameKey(twins.front()->name) == "docs") return -1;
    return twins[1]->name == "report.txt" ? 1 : 0;
  };
  LocalListing listing;
  ASSERT_FALSE(listLocalFolder(dir.path(), listing, choose));
  ASSERT_EQ(listing.entries.size(), 1u);
  EXPECT_EQ(listing.entries[0].name, "report.txt");
  EXPECT_EQ(listing.twins, (std::vector<std::string>{"Docs", "docs", "Report.txt"}));
  EXPECT_TRUE(listing.isHeld("DOCS"));
  EXPECT_FALSE(listing.isHeld("report.txt"));
  EXPECT_EQ(listing.find("docs"), nullptr);

  CaseTwinCache cache;
  EXPECT_TRUE(cache.isShadowed(dir.path(), dir / "Report.txt", choose));
  EXPECT_FALSE(cache.isShadowed(dir.path(), dir / "report.txt", choose));
  EXPECT_TRUE(cache.isShadowed(dir.path(), dir / "docs/inner.txt", choose));
  EXPECT_TRUE(cache.isShadowed(dir.path(), dir / "Docs", choose));
}

TEST(TempNames, PartFilesOfOtherVersionsOfTheSameNameAreRecognised) {
  Signature v1{}, v2{};
  v2[3] = 7;
  const std::string path = "/sync/docs/a.txt";
  EXPECT_TRUE(isPartFileOf(partFileName(path, v1, 2), path, 2));
  EXPECT_TRUE(isPartFileOf(partFileName(path, v2, 2), path, 2));
  EXPECT_FALSE(isPartFileOf(partFileName(path, v1, 3), path, 2));
  EXPECT_FALSE(isPartFileOf(partFileName("/sync/docs/b.txt", v1, 2), path, 2));
  EXPECT_FALSE(isPartFileOf(partFileName("/sync/docs/a.txt.old", v1, 2), path, 2));
  EXPECT_FALSE(isPartFileOf("a.txt", path, 2));
  EXPECT_FALSE(isPartFileOf(scratchFileName(), path, 2));
}

TEST(SortedMerge, VisitsEachKeyOnceInOrderAndStopsWhenAsked) {
  std::vector<std::string> left{"a", "c", "d"}, right{"b", "c", "e"};
  std::string trace;
  auto key = [](const std::string& s) -> std::string_view { return s; };
  EXPECT_TRUE(mergeSorted(
      left, right, key, key,
      [&](const std::string* l, const std::string* r) {
        trace += l && r ? "=" + *l : l ? "<" + *l : ">" + *r;
      },
      [] { return false; }));
  EXPECT_EQ(trace, "<a>b=c<d>e");
  int visits = 0;
  EXPECT_FALSE(mergeSorted(
      left, right, key, key, [&](const std::string*, const std::string*) { ++visits; },
      [&] { return visits == 2; }));
  EXPECT_EQ(visits, 2);
}
