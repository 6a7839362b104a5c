#include "JournalFiles.h"

#include <gtest/gtest.h>

#include "FileJournal.h"
#include "TempDir.h"
#include "platform/files.h"

using namespace varnelo::sync;
using varnelo::test::TempDir;
namespace files = platform::files;

namespace {

// Writes an old-layout journal: the same table, names in their original case.
void writeOldJournal(const std::string& path,
                     const std::vector<std::tuple<int64_t, int64_t, std::string, int>>& rows) {
  varnelo::sqlite::Database db;
  ASSERT_EQ(db.open(path), SQLITE_OK);
  ASSERT_EQ(db.exec("CREATE TABLE file_journal(id INTEGER PRIMARY KEY,pid INTEGER,name TEXT NOT "
                    "NULL,type INTEGER,sigLo INTEGER,sigHi INTEGER,fileSize INTEGER,editTime "
                    "INTEGER,UNIQUE(pid, name))"),
            SQLITE_OK);
  auto st = db.prepare("INSERT INTO file_journal VALUES(?, ?, ?, ?, 1, 2, 3, 4)");
  for (const auto& [id, pid, name, type] : rows) {
    st.bind(1, id).bind(2, pid).bind(3, name).bind(4, type);
    ASSERT_TRUE(st.run());
    st.reset();
  }
}

}  // namespace

TEST(JournalMigration, LowerCasesNamesAndDropsTheDuplicateWithItsSubtree) {
  TempDir dir;
  std::string path = dir / "journal.db";
  writeOldJournal(path, {{0, -1, "$", 2},
                         {1, 0, "Home", 2},
                         {2, 1, "Foo", 2},  // collides with 4 once lower-cased
                         {3, 2, "Inside.txt", 1},
                         {4, 1, "foo", 2},
                         {5, 4, "Kept.TXT", 1},
                         {6, 1, "Other", 1}});
  ASSERT_TRUE(transformJournalDb(path));
  EXPECT_EQ(path, dir / "basefs.db");
  EXPECT_FALSE(files::exists(dir / "journal.db"));

  FileJournal journal;
  ASSERT_EQ(journal.open(path), 0);
  std::vector<JournalEntry> rows;
  ASSERT_EQ(journal.listAll(rows), 0);
  std::vector<std::pair<int64_t, std::string>> got;
  for (const auto& r : rows) got.emplace_back(r.id, r.name);
  const std::vector<std::pair<int64_t, std::string>> want = {
      {1, "home"}, {4, "foo"}, {5, "kept.txt"}, {6, "other"}};
  EXPECT_EQ(got, want);
  int version = 0;
  ASSERT_EQ(journal.getDbVersion(version), 0);
  EXPECT_EQ(version, 2);
}

TEST(JournalMigration, FailuresLeaveJournalDbAloneAndNoCopyBehind) {
  TempDir dir;
  // Not a database at all: the copy fails.
  std::string path = dir / "journal.db";
  ASSERT_FALSE(files::writeFile(path, std::string(4096, 'x')));
  ASSERT_FALSE(files::writeFile(dir / "basefs.db", "stale"));  // an earlier attempt's leftover
  EXPECT_FALSE(transformJournalDb(path));
  EXPECT_EQ(path, dir / "journal.db");
  EXPECT_TRUE(files::exists(path));
  EXPECT_FALSE(files::exists(dir / "basefs.db"));

  // A folder where the file should be.
  files::removeFile(path);
  ASSERT_FALSE(files::createDirectory(path));
  EXPECT_FALSE(transformJournalDb(path));
  EXPECT_TRUE(files::isDirectory(path));
  EXPECT_FALSE(files::exists(dir / "basefs.db"));

  // Nothing to do for basefs.db itself or for a bare name.
  std::string already = dir / "basefs.db";
  EXPECT_FALSE(transformJournalDb(already));
  EXPECT_EQ(already, dir / "basefs.db");
  std::string bare = "journal.db";
  EXPECT_FALSE(transformJournalDb(bare));
}

TEST(JournalMigration, AStaleWriteAheadLogOfBasefsIsNotAppliedToTheCopy) {
  TempDir dir;
  // A basefs.db left with a WAL full of other rows.
  {
    FileJournal old;
    ASSERT_EQ(old.open(dir / "basefs.db"), 0);
    old.putPath("stale", FileJournal::kTypeFolder, {}, 0, 0);
    ASSERT_FALSE(files::copyFile(dir / "basefs.db-wal", dir / "saved-wal"));
  }
  ASSERT_FALSE(files::copyFile(dir / "saved-wal", dir / "basefs.db-wal"));
  std::string path = dir / "journal.db";
  writeOldJournal(path, {{0, -1, "$", 2}, {1, 0, "Home", 2}});
  ASSERT_TRUE(transformJournalDb(path));
  FileJournal journal;
  ASSERT_EQ(journal.open(path), 0);
  int64_t id;
  EXPECT_EQ(journal.lookupPath("stale", id), FileJournal::kNotFound);
  EXPECT_EQ(journal.lookupPath("home", id), 0);
}

TEST(JournalVersion, NewerLayoutIsRefusedAndAMissingVersionIsWritten) {
  TempDir dir;
  FileJournal journal;
  ASSERT_EQ(journal.open(dir / "basefs.db"), 0);
  EXPECT_EQ(checkJournalVersion(journal), 0);
  int v = 0;
  ASSERT_EQ(journal.getDbVersion(v), 0);
  EXPECT_EQ(v, 2);
  journal.setDbVersion(3);
  EXPECT_EQ(checkJournalVersion(journal), kUnsupportedJournalVersion);
  journal.setDbVersion(1);
  EXPECT_EQ(checkJournalVersion(journal), 0);
}

TEST(JournalRemoval, RemovesTheFileWithItsCompanions) {
  TempDir dir;
  {
    FileJournal journal;
    ASSERT_EQ(journal.open(dir / "basefs.db"), 0);
    journal.putPath("home", FileJournal::kTypeFolder, {}, 0, 0);
    EXPECT_TRUE(files::exists(dir / "basefs.db-wal"));
  }
  ASSERT_FALSE(files::writeFile(dir / "basefs.db-wal", "left over"));
  EXPECT_TRUE(removeJournalFile(dir / "basefs.db"));
  for (const char* name : {"basefs.db", "basefs.db-wal", "basefs.db-shm"}) {
    EXPECT_FALSE(files::exists(dir / name)) << name;
  }
  EXPECT_TRUE(removeJournalFile(dir / "never-there.db"));
}

TEST(JournalRemoval, AFileThatCannotBeDeletedIsEmptied) {
  TempDir dir;
  const std::string path = dir / "basefs.db";
  {
    FileJournal journal;
    ASSERT_EQ(journal.open(path), 0);
    journal.putPath("home", FileJournal::kTypeFolder, {}, 0, 0);
  }
  const FileDeleter locked = [&path](const std::string& file) -> std::error_code {
    if (file == path) return std::make_error_code(std::errc::permission_denied);
    return files::removeFile(file);
  };
  EXPECT_FALSE(removeJournalFile(path, locked));
  FileJournal journal;
  ASSERT_EQ(journal.open(path), 0);
  int64_t id;
  EXPECT_EQ(journal.lookupPath("home", id), FileJournal::kNotFound);
}
