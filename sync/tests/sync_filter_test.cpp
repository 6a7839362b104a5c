#include "SyncFilter.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "TempDir.h"
#include "WildcardMatch.h"
#include "platform/files.h"

using varnelo::sync::matchWildcards;
using varnelo::sync::SyncFilter;
using varnelo::test::TempDir;

TEST(WildcardMatch, WildcardsCaseAndAlternatives) {
  EXPECT_TRUE(matchWildcards("*.tmp", "REPORT.TMP"));
  EXPECT_TRUE(matchWildcards("*.tmp", ".tmp"));
  EXPECT_FALSE(matchWildcards("*.tmp", "report.tmpx"));
  EXPECT_TRUE(matchWildcards("a*b*c", "a-b-b-c"));  // needs backtracking past the first b
  EXPECT_FALSE(matchWildcards("a*b*c", "a-b-b-"));
  EXPECT_TRUE(matchWildcards("?.txt", "\xC3\xA9.txt"));  // one character, two bytes
  EXPECT_FALSE(matchWildcards("??.txt", "\xC3\xA9.txt"));
  EXPECT_TRUE(matchWildcards("*.doc; *.tmp", "x.tmp"));
  EXPECT_FALSE(matchWildcards("*.doc;", "x.tmp"));
  EXPECT_FALSE(matchWildcards("", "x"));
  EXPECT_TRUE(matchWildcards("COM1", "com1"));
  EXPECT_FALSE(matchWildcards("COM1", "COM10"));
}

TEST(SyncFilter, PatternTableIsFiftyEightInOrder) {
  const auto& p = SyncFilter::patterns();
  EXPECT_STREQ(p[0], "Desktop.ini");
  EXPECT_STREQ(p[13], "*/.*/*");
  EXPECT_STREQ(p[14], "CON");
  EXPECT_STREQ(p[18], "COM1");
  EXPECT_STREQ(p[35], "LPT9");
  EXPECT_STREQ(p[36], "CON.*");
  EXPECT_STREQ(p[57], "LPT9.*");
}

TEST(SyncFilter, NamesFromThePatternTableAreUnsupported) {
  SyncFilter filter;
  for (const char* name : {"report.tmp", "~$report.docx", "thumbs.db", "DESKTOP.INI", "x.part",
                           ".notes.swp", "a.BAK", "COM1", "com1.txt", "LPT9.log", "nul", "Aux.h"}) {
    bool unsupported = false;
    EXPECT_FALSE(filter.accept(std::string("/sync/") + name, &unsupported)) << name;
    EXPECT_TRUE(unsupported) << name;
  }
  for (const char* name : {"COM10", "report.txt", "console.log", "LPT", "notes.swo"}) {
    bool unsupported = true;
    EXPECT_TRUE(filter.accept(std::string("/sync/") + name, &unsupported)) << name;
    EXPECT_FALSE(unsupported) << name;
  }
}

// Of the refused paths, the user's own files are said so (a name too long,
// or reserved for a device on other peers' systems); temporary and system
// files, dot folders and excluded folders are left out without a word.
TEST(SyncFilter, RefusalsOfTheUsersOwnFilesAreSaidTheRestAreSilent) {
  SyncFilter filter;
  filter.setFolders("/sync", {"home/Excluded"});
  for (const char* rel : {"aux.c", "Con.txt", "docs/NUL", "LPT1.log"}) {
    EXPECT_TRUE(filter.refusesOnlyForItsForm(std::string("/sync/") + rel)) << rel;
  }
  EXPECT_TRUE(filter.refusesOnlyForItsForm("/sync/" + std::string(260, 'a')));
  for (const char* rel : {"report.tmp", "nul.tmp", "thumbs.db", ".git/con.txt", "a/.cache/aux.c",
                          "Excluded/aux.c", "report.txt", "COM10"}) {
    EXPECT_FALSE(filter.refusesOnlyForItsForm(std::string("/sync/") + rel)) << rel;
  }
}

TEST(SyncFilter, DotFoldersAndEverythingBelowThemAreRefused) {
  SyncFilter filter;
  bool unsupported = false;
  EXPECT_FALSE(filter.accept("/sync/project/.git", &unsupported));
  EXPECT_TRUE(unsupported);
  EXPECT_FALSE(filter.accept("/sync/project/.git/objects/ab/cdef", &unsupported));
  EXPECT_TRUE(unsupported);
  EXPECT_TRUE(filter.accept("/sync/project/v1.git/file"));

  // Only what lies below the sync folder counts: a sync folder inside a dot
  // folder still syncs its ordinary files.
  filter.setFolders("/home/u/.local/Sync", {});
  EXPECT_TRUE(filter.accept("/home/u/.local/Sync/a/b.txt"));
  EXPECT_FALSE(filter.accept("/home/u/.local/Sync/a/.hidden/b.txt"));
}

// The filter skips matching a pattern against the whole path where that
// cannot decide anything; the verdicts must be those of trying every
// pattern on both the last name and the path below the sync folder.
TEST(SyncFilter, VerdictsAreThoseOfEveryPatternOnNameAndWholePath) {
  SyncFilter filter;
  filter.setFolders("/sync", {});
  const char* const paths[] = {
      "/sync", "/sync/a.tmp", "/sync/tmp", "/sync/d.tmp/x", "/sync/~$x/y", "~$x/y", "a/CON", "CON",
      ".x/y", "x/.y", "/sync/.a", "/sync/a/.b/c", "/sync/a.b/.c", "/sync/.swo", "/sync/.a.swo",
      "/sync/x.part/y", "/other/.git/a", "/other/a.tmp", "/sync/com1.x/y", "relative.bak",
      "/sync/a/b/Desktop.ini", "/sync/a/desktop.ini/b", "/sync/thumbs.db.x",
      // Letter case and non-ASCII at the ends a
      // pattern's literals are looked for at.
      "/sync/A.TMP", "/sync/x.Part", "/sync/.B.SWN", "/sync/Lpt9.txt", "/sync/aUx", "/sync/~$",
      "/sync/\xc3\xa4.tmp", "/sync/\xc3\xa4/.x", "/sync/x.tmpx", "/sync/a/b.c/d", "/sync/a/b/c."};
  for (const char* path : paths) {
    const std::string_view view(path);
    const size_t slash = view.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? view : view.substr(slash + 1);
    std::string whole(view);
    if (view.starts_with("/sync/")) whole = std::string(view.substr(5));
    if (view == "/sync") whole.clear();
    bool expected = false;
    for (const char* pattern : SyncFilter::patterns()) {
      expected = expected || matchWildcards(pattern, name) || matchWildcards(pattern, whole);
    }
    bool unsupported = false;
    const bool accepted = filter.accept(path, &unsupported);
    EXPECT_EQ(!accepted && unsupported, expected) << path;
  }
}

TEST(SyncFilter, LengthIsCountedInUtf16UnitsAndMalformedNamesAreUnsupported) {
  SyncFilter filter;
  // "/s/" + 'é' (2 bytes, 1 unit) + an emoji (4 bytes, 2 units) + padding.
  const std::string head = "/s/\xC3\xA9\xF0\x9F\x98\x80";  // 6 units
  bool unsupported = true;
  EXPECT_TRUE(filter.accept(head + std::string(247 - 6, 'a'), &unsupported));
  EXPECT_FALSE(unsupported);
  EXPECT_FALSE(filter.accept(head + std::string(248 - 6, 'a'), &unsupported));
  EXPECT_TRUE(unsupported);
  EXPECT_FALSE(
      filter.accept("/s/bad\xFF"
                    "name",
                    &unsupported));
  EXPECT_TRUE(unsupported);
}

TEST(SyncFilter, ExcludedFolderCoversItselfAndBelowButNotASiblingPrefix) {
  SyncFilter filter;
  filter.setFolders("/home/u/Sync/", {"home/Photos", "/home/Music/"});
  EXPECT_EQ(filter.excludedFolders(),
            (std::vector<std::string>{"/home/u/Sync/Photos", "/home/u/Sync/Music/"}));
  bool unsupported = true;
  EXPECT_FALSE(filter.accept("/home/u/Sync/Photos", &unsupported));
  EXPECT_FALSE(unsupported);  // excluded, not unsupported
  EXPECT_FALSE(filter.accept("/home/u/Sync/photos/2012/a.jpg"));
  EXPECT_FALSE(filter.accept("/home/u/Sync/Music/a.mp3"));
  EXPECT_TRUE(filter.accept("/home/u/Sync/Photos2"));
  EXPECT_TRUE(filter.accept("/home/u/Sync/Photos2/a.jpg"));
  EXPECT_TRUE(filter.accept("/home/u/Sync/Photo"));

  filter.setFolders("/home/u/Sync", {});
  EXPECT_TRUE(filter.accept("/home/u/Sync/Photos/a.jpg"));
  EXPECT_EQ(SyncFilter::localPathOfServerFolder("/r", "homework/x"), "/r/homework/x");
  EXPECT_EQ(SyncFilter::localPathOfServerFolder("/r/", "/home/a/b"), "/r/a/b");
}

TEST(SyncFilter, LinksAndSpecialFilesAreRefusedWithoutTheFlag) {
  TempDir dir;
  SyncFilter filter;
  ASSERT_FALSE(platform::files::writeFile(dir / "real.txt", "x"));
  ASSERT_FALSE(platform::files::createDirectory(dir / "folder"));
  ASSERT_EQ(symlink((dir / "real.txt").c_str(), (dir / "link.txt").c_str()), 0);
  ASSERT_EQ(symlink((dir / "folder").c_str(), (dir / "dirlink").c_str()), 0);
  ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);

  bool unsupported = true;
  EXPECT_TRUE(filter.accept(dir / "real.txt", &unsupported));
  EXPECT_TRUE(filter.accept(dir / "folder", &unsupported));
  EXPECT_TRUE(filter.accept(dir / "gone.txt", &unsupported));  // a deletion is still examined
  for (const char* name : {"link.txt", "dirlink", "pipe"}) {
    EXPECT_FALSE(filter.accept(dir / name, &unsupported)) << name;
    EXPECT_FALSE(unsupported) << name;
  }

  // A scan's verdict from the kinds its listing read is the same.
  std::vector<platform::files::DirEntry> listed;
  ASSERT_FALSE(platform::files::listDirectory(dir.path(), listed));
  ASSERT_EQ(listed.size(), 5u);
  for (const auto& entry : listed) {
    const std::string path = dir / entry.name;
    EXPECT_EQ(filter.acceptListed(path, entry.info.type, &unsupported), filter.accept(path))
        << entry.name;
  }
  EXPECT_TRUE(filter.acceptListed(dir / "gone.txt", platform::files::EntryType::None));
  // The kind given is what counts, and the form still comes first.
  EXPECT_FALSE(filter.acceptListed(dir / "real.txt", platform::files::EntryType::Other));
  EXPECT_FALSE(
      filter.acceptListed(dir / "bad\xFF", platform::files::EntryType::File, &unsupported));
  EXPECT_TRUE(unsupported);
}
