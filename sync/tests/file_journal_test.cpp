#include "FileJournal.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "TempDir.h"

using varnelo::sync::FileJournal;
using varnelo::sync::JournalEntry;
using varnelo::sync::VersionSignature;
using varnelo::test::TempDir;

namespace {

VersionSignature sig(uint8_t seed) {
  VersionSignature s{};
  for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<uint8_t>(seed + i * 17);
  return s;
}

class FileJournalTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(journal_.open(dir_ / "basefs.db"), 0); }

  int64_t idOf(const char* path) {
    int64_t id = -1;
    EXPECT_EQ(journal_.lookupPath(path, id), 0) << path;
    return id;
  }

  TempDir dir_;
  FileJournal journal_;
};

}  // namespace

TEST_F(FileJournalTest, FreshJournalHoldsOnlyTheRootAndRefusesASecondOpen) {
  int64_t rows = 0;
  ASSERT_EQ(journal_.count(rows), 0);
  EXPECT_EQ(rows, 1);
  JournalEntry root;
  ASSERT_EQ(journal_.getEntry(0, root), 0);
  EXPECT_EQ(root.pid, -1);
  EXPECT_EQ(root.name, "$");
  EXPECT_EQ(root.type, 2);
  EXPECT_EQ(journal_.open(dir_ / "basefs.db"), FileJournal::kAccessDenied);

  // Reopening keeps the rows and does not add a second root.
  journal_.putPath("home", FileJournal::kTypeFolder, {}, 0, 0);
  journal_.close();
  ASSERT_EQ(journal_.open(dir_ / "basefs.db"), 0);
  journal_.count(rows);
  EXPECT_EQ(rows, 2);
}

TEST_F(FileJournalTest, PathsAreLowerCasedAndLookupsIgnoreCase) {
  ASSERT_EQ(journal_.putPath("/Home/", FileJournal::kTypeFolder, {}, 0, 0),
            FileJournal::kNoLastComponent);
  ASSERT_EQ(journal_.putPath("Home", FileJournal::kTypeFolder, {}, 0, 0), 0);
  ASSERT_EQ(journal_.putPath("home/A", FileJournal::kTypeFolder, {}, 0, 0), 0);
  ASSERT_EQ(journal_.putPath("HOME/a/B.txt", FileJournal::kTypeFile, sig(1), 42, 7), 0);

  const int64_t folder = idOf("home/a");
  JournalEntry e;
  ASSERT_EQ(journal_.getEntry(idOf("/home//A/b.TXT"), e), 0);  // leading and empty parts skipped
  EXPECT_EQ(e.name, "b.txt");
  EXPECT_EQ(e.pid, folder);
  EXPECT_EQ(e.signature, sig(1));
  EXPECT_EQ(e.fileSize, 42);
  EXPECT_EQ(e.editTime, 7);
  EXPECT_TRUE(journal_.isFile(e.id));
  EXPECT_TRUE(journal_.isFolder(folder));
  EXPECT_EQ(journal_.getType(12345), 0);

  int64_t id;
  EXPECT_EQ(journal_.lookupPath("home/a/missing.txt", id), FileJournal::kNotFound);
  EXPECT_EQ(journal_.lookupPath("", id), 0);
  EXPECT_EQ(id, 0);
  EXPECT_EQ(journal_.lookupChild(folder, "B.TXT", id), 0);
  EXPECT_EQ(id, e.id);
}

TEST_F(FileJournalTest, PutUpdatesTheExistingRowAndRefusesWrongParentsAndTypes) {
  journal_.putPath("home", FileJournal::kTypeFolder, {}, 0, 0);
  ASSERT_EQ(journal_.putPath("home/b.txt", FileJournal::kTypeFile, sig(1), 10, 100), 0);
  const int64_t file = idOf("home/b.txt");

  ASSERT_EQ(journal_.putPath("home/B.TXT", FileJournal::kTypeFile, sig(2), 20, 200), 0);
  JournalEntry e;
  journal_.getEntry(file, e);
  EXPECT_EQ(e.id, file);  // the same row, changed in place
  EXPECT_EQ(e.signature, sig(2));
  EXPECT_EQ(e.fileSize, 20);
  EXPECT_EQ(e.editTime, 200);

  EXPECT_EQ(journal_.put(file, "under-a-file", FileJournal::kTypeFile, sig(3), 1, 1),
            FileJournal::kParentNotFolder);
  EXPECT_EQ(journal_.put(999, "no-parent", FileJournal::kTypeFile, sig(3), 1, 1),
            FileJournal::kParentNotFolder);
  EXPECT_EQ(journal_.putPath("home/nowhere/x.txt", FileJournal::kTypeFile, sig(3), 1, 1),
            FileJournal::kNotFound);
  // The same name as a folder: the file row is neither replaced nor duplicated.
  EXPECT_EQ(journal_.putPath("home/b.txt", FileJournal::kTypeFolder, {}, 0, 0),
            FileJournal::kNothingUpdated);
  int64_t rows;
  journal_.count(rows);
  EXPECT_EQ(rows, 3);

  // A folder's signature is written, and all zeros marks it out of step.
  ASSERT_EQ(journal_.setFolderSignature("home", sig(9)), 0);
  journal_.getEntry(idOf("home"), e);
  EXPECT_EQ(e.signature, sig(9));
  int64_t total;
  journal_.totalSize(total);
  EXPECT_EQ(total, 20);
}

TEST_F(FileJournalTest, SignatureWordsAreLittleEndianHalves) {
  VersionSignature s{};
  s[0] = 0x01;
  s[7] = 0x80;
  s[8] = 0xff;
  int64_t lo, hi;
  FileJournal::signatureWords(s, lo, hi);
  EXPECT_EQ(static_cast<uint64_t>(lo), 0x8000000000000001ULL);
  EXPECT_EQ(hi, 0xff);
  EXPECT_EQ(FileJournal::signatureFromWords(lo, hi), s);
}

TEST_F(FileJournalTest, RemovePathTakesTheWholeSubtreeAtAnyDepthAndNothingElse) {
  journal_.putPath("home", FileJournal::kTypeFolder, {}, 0, 0);
  journal_.putPath("home/keep", FileJournal::kTypeFolder, {}, 0, 0);
  journal_.putPath("home/keep/k.txt", FileJournal::kTypeFile, sig(1), 1, 1);
  // A chain deeper than any recursion budget, with files along the way.
  std::string path = "home/deep";
  journal_.putPath(path, FileJournal::kTypeFolder, {}, 0, 0);
  for (int level = 0; level < 400; ++level) {
    journal_.putPath(path + "/f.txt", FileJournal::kTypeFile, sig(2), 1, 1);
    path += "/d";
    ASSERT_EQ(journal_.putPath(path, FileJournal::kTypeFolder, {}, 0, 0), 0);
  }
  ASSERT_EQ(journal_.removePath("HOME/Deep"), 0);
  int64_t rows, id;
  journal_.count(rows);
  EXPECT_EQ(rows, 4);  // root, home, keep, k.txt
  EXPECT_EQ(journal_.lookupPath("home/deep", id), FileJournal::kNotFound);
  EXPECT_EQ(journal_.lookupPath("home/keep/k.txt", id), 0);
  EXPECT_EQ(journal_.removePath("home/deep"), FileJournal::kNotFound);

  // Removing the root empties the tree but keeps the root, so the journal
  // stays usable.
  ASSERT_EQ(journal_.removePath(""), 0);
  journal_.count(rows);
  EXPECT_EQ(rows, 1);
  EXPECT_EQ(journal_.putPath("home", FileJournal::kTypeFolder, {}, 0, 0), 0);
}

TEST_F(FileJournalTest, ChildrenOfIdsBeyond32BitsAreListed) {
  // Ids are 64-bit: a parent id that would be cut to 32 bits must still find
  // its children.
  const int64_t bigId = (int64_t{1} << 33) + 5;
  {
    varnelo::sqlite::Database db;
    ASSERT_EQ(db.open(dir_ / "basefs.db"), SQLITE_OK);
    auto st = db.prepare(
        "INSERT INTO file_journal(id,pid,name,type,sigLo,sigHi,fileSize,editTime) "
        "VALUES(?, 0, 'big', 2, 0, 0, 0, 0)");
    st.bind(1, bigId);
    ASSERT_TRUE(st.run());
  }
  ASSERT_EQ(journal_.putPath("big/child.txt", FileJournal::kTypeFile, sig(1), 5, 5), 0);
  std::vector<JournalEntry> children;
  ASSERT_EQ(journal_.listChildren(bigId, children), 0);
  ASSERT_EQ(children.size(), 1u);
  EXPECT_EQ(children[0].name, "child.txt");
  EXPECT_EQ(journal_.listChildren(5, children), 0);  // the truncated id has none
  EXPECT_TRUE(children.empty());
}

TEST_F(FileJournalTest, DbVersionAndWriteAheadLog) {
  int v = 0;
  EXPECT_EQ(journal_.getDbVersion(v), FileJournal::kNotFound);
  ASSERT_EQ(journal_.setDbVersion(2), 0);
  ASSERT_EQ(journal_.setDbVersion(3), 0);  // the second write updates
  ASSERT_EQ(journal_.getDbVersion(v), 0);
  EXPECT_EQ(v, 3);

  varnelo::sqlite::Database db;
  ASSERT_EQ(db.open(dir_ / "basefs.db"), SQLITE_OK);
  auto st = db.prepare("PRAGMA journal_mode");
  ASSERT_EQ(st.step(), SQLITE_ROW);
  EXPECT_EQ(st.columnText(0), "wal");
}

TEST_F(FileJournalTest, ABatchCommitsEveryStatementThatSucceededAndOnlyWhenItEnds) {
  varnelo::sqlite::Database other;
  ASSERT_EQ(other.open(dir_ / "basefs.db"), SQLITE_OK);
  auto rowsSeenByOther = [&] {
    auto st = other.prepare("SELECT COUNT(*) FROM file_journal");
    return st.step() == SQLITE_ROW ? st.columnInt64(0) : -1;
  };
  int64_t id = 0;
  {
    auto batch = journal_.batch();
    ASSERT_EQ(journal_.putPath("home", FileJournal::kTypeFolder, {}, 0, 0), 0);
    ASSERT_EQ(journal_.putPath("home/a.txt", FileJournal::kTypeFile, sig(1), 1, 1), 0);
    // A statement that fails keeps its own result; the batch goes on.
    EXPECT_EQ(journal_.putPath("missing/b.txt", FileJournal::kTypeFile, sig(2), 1, 1),
              FileJournal::kNotFound);
    EXPECT_EQ(journal_.putPath("home/a.txt/c.txt", FileJournal::kTypeFile, sig(3), 1, 1),
              FileJournal::kParentNotFolder);
    // A transaction inside the batch is a savepoint: removing a subtree is
    // still all or nothing, and reads inside see the batch's own writes.
    ASSERT_EQ(journal_.putPath("home/d", FileJournal::kTypeFolder, {}, 0, 0), 0);
    ASSERT_EQ(journal_.putPath("home/d/e.txt", FileJournal::kTypeFile, sig(4), 1, 1), 0);
    ASSERT_EQ(journal_.removePath("home/d"), 0);
    EXPECT_EQ(journal_.lookupPath("home/d/e.txt", id), FileJournal::kNotFound);
    EXPECT_EQ(journal_.lookupPath("home/a.txt", id), 0);
    EXPECT_EQ(rowsSeenByOther(), 1);  // only the root until the batch ends
  }
  EXPECT_EQ(rowsSeenByOther(), 3);  // root, home, a.txt
  {
    // A batch inside a batch adds nothing: the outer one commits.
    auto outer = journal_.batch();
    {
      auto inner = journal_.batch();
      ASSERT_EQ(journal_.putPath("home/f.txt", FileJournal::kTypeFile, sig(5), 1, 1), 0);
    }
    EXPECT_EQ(rowsSeenByOther(), 3);
  }
  EXPECT_EQ(rowsSeenByOther(), 4);
  // Without a batch every statement commits by itself, as before.
  ASSERT_EQ(journal_.putPath("home/g.txt", FileJournal::kTypeFile, sig(6), 1, 1), 0);
  EXPECT_EQ(rowsSeenByOther(), 5);
  {
    // A batch of lookups takes no write lock: another connection still writes.
    auto reads = journal_.readBatch();
    EXPECT_EQ(journal_.lookupPath("home/g.txt", id), 0);
    EXPECT_EQ(other.exec("INSERT INTO file_journal(id,pid,name,type,sigLo,sigHi,fileSize,"
                         "editTime) VALUES(99, 0, 'x', 1, 0, 0, 0, 0)"),
              SQLITE_OK);
  }
  EXPECT_EQ(journal_.lookupPath("x", id), 0);
}

TEST(SqliteTransaction, ANestedTransactionRollsBackOnlyItsOwnStatements) {
  TempDir dir;
  varnelo::sqlite::Database db;
  ASSERT_EQ(db.open(dir / "t.db"), SQLITE_OK);
  ASSERT_EQ(db.exec("CREATE TABLE t(v INTEGER)"), SQLITE_OK);
  {
    varnelo::sqlite::Batch batch(db);
    ASSERT_EQ(db.exec("INSERT INTO t VALUES(1)"), SQLITE_OK);
    {
      varnelo::sqlite::Transaction rolledBack(db);
      ASSERT_TRUE(rolledBack.began());
      ASSERT_EQ(db.exec("INSERT INTO t VALUES(2)"), SQLITE_OK);
    }
    {
      varnelo::sqlite::Transaction kept(db);
      ASSERT_EQ(db.exec("INSERT INTO t VALUES(3)"), SQLITE_OK);
      EXPECT_TRUE(kept.commit());
    }
  }
  {
    varnelo::sqlite::Transaction alone(db);  // a plain one again, outside any batch
    ASSERT_EQ(db.exec("INSERT INTO t VALUES(4)"), SQLITE_OK);
  }
  auto st = db.prepare("SELECT group_concat(v) FROM (SELECT v FROM t ORDER BY v)");
  ASSERT_EQ(st.step(), SQLITE_ROW);
  EXPECT_EQ(st.columnText(0), "1,3");
}

namespace {

std::string contentOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Names in `dir` that begin with `prefix`.
std::vector<std::string> namesStartingWith(const std::string& dir, const std::string& prefix) {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    if (name.rfind(prefix, 0) == 0) out.push_back(name);
  }
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace

TEST(SqliteDamagedFile, ADamagedJournalIsKeptAsideAndAFreshOneOpensWhileAHealthyOneStays) {
  TempDir dir;
  const std::string path = dir / "basefs.db";
  auto openJournal = [&](FileJournal& j) {
    return varnelo::sqlite::openSettingDamagedAside(
        path, [&] { return j.open(path); }, [&] { j.close(); });
  };
  // Written over by something else (not a database at all), and cut short
  // (a database whose pages are missing).
  std::string cut;
  {
    FileJournal full;
    ASSERT_EQ(full.open(dir / "full.db"), 0);
    for (int i = 0; i < 2000; ++i)
      ASSERT_EQ(full.put(0, "name " + std::to_string(i), FileJournal::kTypeFile, sig(1), i, i), 0);
    full.close();
    cut = contentOf(dir / "full.db").substr(0, 4096);
  }
  for (const std::string& damage : {std::string(20000, 'x'), cut}) {
    { std::ofstream(path, std::ios::binary) << damage; }
    // A write-ahead log left beside it goes along, never into the new one.
    { std::ofstream(path + "-wal", std::ios::binary) << "stale"; }
    FileJournal journal;
    ASSERT_EQ(openJournal(journal), 0);
    int64_t rows = 0;
    ASSERT_EQ(journal.count(rows), 0);
    EXPECT_EQ(rows, 1) << "a fresh journal holds only the root";
    journal.close();
    const auto aside = namesStartingWith(dir.path(), "basefs.db.damaged-");
    ASSERT_FALSE(aside.empty());
    EXPECT_EQ(contentOf(dir / aside.front()), damage) << "kept as it was";
    for (const auto& name : aside) std::filesystem::remove(dir / name);
  }
  // A healthy journal, and a file that cannot be opened for another reason,
  // are left where they are.
  {
    FileJournal journal;
    ASSERT_EQ(openJournal(journal), 0);
    ASSERT_EQ(journal.put(0, "kept", FileJournal::kTypeFile, sig(2), 1, 1), 0);
  }
  FileJournal again;
  ASSERT_EQ(openJournal(again), 0);
  int64_t id = 0;
  EXPECT_EQ(again.lookupPath("kept", id), 0);
  EXPECT_TRUE(namesStartingWith(dir.path(), "basefs.db.damaged-").empty());
  FileJournal nowhere;
  const std::string missing = dir / "no-such-folder/basefs.db";
  EXPECT_NE(varnelo::sqlite::openSettingDamagedAside(
                missing, [&] { return nowhere.open(missing); }, [&] { nowhere.close(); }),
            0);
}

namespace {

// A journal as engines wrote it before the change time and inode were kept.
void writeJournalWithoutStamps(const std::string& path) {
  varnelo::sqlite::Database db;
  ASSERT_EQ(db.open(path), SQLITE_OK);
  ASSERT_EQ(db.exec("CREATE TABLE file_journal(id INTEGER PRIMARY KEY,pid INTEGER,name TEXT NOT "
                    "NULL,type INTEGER,sigLo INTEGER,sigHi INTEGER,fileSize INTEGER,editTime "
                    "INTEGER,UNIQUE(pid, name))"),
            SQLITE_OK);
  ASSERT_EQ(db.exec("CREATE TABLE db_config(key TEXT PRIMARY KEY,value TEXT)"), SQLITE_OK);
  ASSERT_EQ(db.exec("INSERT INTO db_config VALUES('dbVersion', '2')"), SQLITE_OK);
  ASSERT_EQ(db.exec("INSERT INTO file_journal VALUES(0, -1, '$', 2, 0, 0, 0, 0)"), SQLITE_OK);
  ASSERT_EQ(db.exec("INSERT INTO file_journal VALUES(1, 0, 'home', 2, 7, 8, 0, 0)"), SQLITE_OK);
  ASSERT_EQ(db.exec("INSERT INTO file_journal VALUES(2, 1, 'a.txt', 1, 11, 12, 5, 1234)"),
            SQLITE_OK);
}

}  // namespace

TEST(FileJournalStamps, AnOlderJournalGainsTheColumnsKeepsItsRowsAndTakesStamps) {
  TempDir dir;
  const std::string path = dir / "basefs.db";
  writeJournalWithoutStamps(path);
  FileJournal journal;
  ASSERT_EQ(journal.open(path), 0);
  int version = 0;
  ASSERT_EQ(journal.getDbVersion(version), 0);
  EXPECT_EQ(version, 2);

  // The old row reads as it was, its stamp not recorded.
  int64_t id = 0;
  ASSERT_EQ(journal.lookupPath("home/A.txt", id), 0);
  JournalEntry old;
  ASSERT_EQ(journal.getEntry(id, old), 0);
  EXPECT_EQ(old.fileSize, 5);
  EXPECT_EQ(old.editTime, 1234);
  EXPECT_EQ(old.signature, FileJournal::signatureFromWords(11, 12));
  EXPECT_EQ(old.changeTime, 0);
  EXPECT_EQ(old.inode, 0);

  // New rows and updates of old ones keep a stamp; a put without one
  // clears it again (what was recorded no longer describes the file).
  ASSERT_EQ(journal.putPath("home/b.txt", FileJournal::kTypeFile, sig(1), 3, 30, {300, 77}), 0);
  ASSERT_EQ(journal.putPath("home/a.txt", FileJournal::kTypeFile, sig(2), 6, 40, {400, 78}), 0);
  std::vector<JournalEntry> rows;
  ASSERT_EQ(journal.listChildren(1, rows), 0);
  ASSERT_EQ(rows.size(), 2u);
  for (const JournalEntry& row : rows) {
    EXPECT_EQ(row.changeTime, row.name == "a.txt" ? 400 : 300) << row.name;
    EXPECT_EQ(row.inode, row.name == "a.txt" ? 78 : 77) << row.name;
  }
  EXPECT_EQ(rows[0].name == "a.txt" ? rows[0].id : rows[1].id, id) << "updated in place";
  ASSERT_EQ(journal.putPath("home/b.txt", FileJournal::kTypeFile, sig(3), 3, 31), 0);
  ASSERT_EQ(journal.lookupPath("home/b.txt", id), 0);
  JournalEntry cleared;
  ASSERT_EQ(journal.getEntry(id, cleared), 0);
  EXPECT_EQ(cleared.changeTime, 0);
  EXPECT_EQ(cleared.inode, 0);
  journal.close();

  // Opened again: the columns are not added twice, the stamps stay.
  ASSERT_EQ(journal.open(path), 0);
  ASSERT_EQ(journal.lookupPath("home/a.txt", id), 0);
  JournalEntry again;
  ASSERT_EQ(journal.getEntry(id, again), 0);
  EXPECT_EQ(again.changeTime, 400);
  int64_t count = 0;
  ASSERT_EQ(journal.count(count), 0);
  EXPECT_EQ(count, 4);
}

TEST_F(FileJournalTest, ACommitIntentIsKeptPerPathUntilRemovedAndTheLatestWins) {
  varnelo::sync::CommitIntent intent;
  EXPECT_EQ(journal_.getCommitIntent("home/a.txt", intent), FileJournal::kNotFound);
  intent.fileSize = 10;
  intent.editTime = 20;
  intent.stamp = {30, 40};
  intent.chunkSize = 4194304;
  intent.keysDigest = std::string("\0\x01\xff", 3) + std::string(17, 'k');
  ASSERT_EQ(journal_.putCommitIntent("home/A.txt", intent), 0);
  intent.fileSize = 11;  // a later try of the same file replaces it
  ASSERT_EQ(journal_.putCommitIntent("home/a.txt", intent), 0);
  journal_.close();
  ASSERT_EQ(journal_.open(dir_ / "basefs.db"), 0);

  varnelo::sync::CommitIntent read;
  ASSERT_EQ(journal_.getCommitIntent("HOME/a.txt", read), 0);
  EXPECT_EQ(read.fileSize, 11);
  EXPECT_EQ(read.editTime, 20);
  EXPECT_EQ(read.stamp.changeTime, 30);
  EXPECT_EQ(read.stamp.inode, 40);
  EXPECT_EQ(read.chunkSize, 4194304);
  EXPECT_EQ(read.keysDigest, intent.keysDigest) << "binary digests survive";
  ASSERT_EQ(journal_.removeCommitIntent("home/a.txt"), 0);
  EXPECT_EQ(journal_.getCommitIntent("home/a.txt", read), FileJournal::kNotFound);
}
