#include "sqlite/Sqlite.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using varnelo::sqlite::Database;
using varnelo::sqlite::Statement;
using varnelo::sqlite::Transaction;

class SqliteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/varnelo-sqlite-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  std::string dir_;
};

unsigned modeOf(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0;
}

std::vector<std::string> logged;
void collect(const char* line) {
  logged.emplace_back(line);
}

TEST_F(SqliteTest, PrivateFilesAreOwnerOnlyWhetherNewOrNarrowedAndTheirJournalsFollow) {
  const std::string fresh = path("fresh.db");
  Database db;
  ASSERT_EQ(db.openPrivate(fresh), SQLITE_OK);
  EXPECT_EQ(modeOf(fresh), 0600u);
  // An older file made with wider permissions (it may hold a password).
  const std::string older = path("older.db");
  std::ofstream(older).close();
  ASSERT_EQ(chmod(older.c_str(), 0644), 0);
  Database again;
  ASSERT_EQ(again.openPrivate(older), SQLITE_OK);
  EXPECT_EQ(modeOf(older), 0600u);
  // The write-ahead log and its index get the database file's permissions.
  const std::string journal = path("journal.db");
  Database wal;
  ASSERT_EQ(wal.open(journal, 0600), SQLITE_OK);
  ASSERT_EQ(wal.useWal(), SQLITE_OK);
  ASSERT_EQ(wal.exec("CREATE TABLE t(v)"), SQLITE_OK);
  EXPECT_EQ(modeOf(journal + "-wal"), 0600u);
  EXPECT_EQ(modeOf(journal + "-shm"), 0600u);
}

TEST_F(SqliteTest, OpeningWithoutCreateLeavesAMissingFileMissing) {
  const std::string missing = path("missing.db");
  Database db;
  EXPECT_EQ(db.openWithFlags(missing, SQLITE_OPEN_READWRITE), SQLITE_CANTOPEN);
  EXPECT_FALSE(db.isOpen());
  EXPECT_FALSE(std::filesystem::exists(missing));
  // A closed connection refuses work instead of handing SQLite a null handle.
  EXPECT_EQ(db.exec("SELECT 1"), SQLITE_MISUSE);
  EXPECT_FALSE(db.prepare("SELECT 1").valid());
  EXPECT_EQ(db.setBusyTimeout(10), SQLITE_MISUSE);
}

TEST_F(SqliteTest, BlobsKeepEveryByteAndAnEmptyOneIsNotNull) {
  Database db;
  ASSERT_EQ(db.open(path("b.db")), SQLITE_OK);
  ASSERT_EQ(db.exec("CREATE TABLE b(id INTEGER PRIMARY KEY, v BLOB)"), SQLITE_OK);
  const std::string bytes("a\0b\xff", 4);
  auto insert = db.prepare("INSERT INTO b(id, v) VALUES(?, ?)");
  ASSERT_TRUE(insert.bind(1, 1).bindBlob(2, std::string_view(bytes)).run());
  insert.reset();
  ASSERT_TRUE(insert.bind(1, 2).bindBlob(2, std::string_view()).run());
  auto read = db.prepare("SELECT typeof(v), length(v), v FROM b ORDER BY id");
  ASSERT_EQ(read.step(), SQLITE_ROW);
  EXPECT_EQ(read.columnBlob(2), bytes);
  ASSERT_EQ(read.step(), SQLITE_ROW);
  EXPECT_EQ(read.columnText(0), "blob");
  EXPECT_EQ(read.columnInt64(1), 0);
  EXPECT_FALSE(read.columnIsNull(2));
}

TEST_F(SqliteTest, FailuresGoToTheConnectionsLogOnlyWhenItHasOne) {
  Database db;
  ASSERT_EQ(db.open(path("l.db")), SQLITE_OK);
  ASSERT_EQ(db.exec("CREATE TABLE u(k TEXT PRIMARY KEY)"), SQLITE_OK);
  auto quiet = db.prepare("INSERT INTO u VALUES('a')");
  logged.clear();
  db.setFailureLog(&collect);
  auto insert = db.prepare("INSERT INTO u VALUES(?)");
  ASSERT_TRUE(insert.bind(1, "a").run());
  insert.reset();
  EXPECT_FALSE(insert.bind(1, "a").run());
  EXPECT_NE(db.exec("INSERT INTO nowhere VALUES(1)"), SQLITE_OK);
  ASSERT_EQ(logged.size(), 2u);
  EXPECT_NE(logged[0].find("UNIQUE constraint failed"), std::string::npos) << logged[0];
  EXPECT_NE(logged[1].find("INSERT INTO nowhere"), std::string::npos) << logged[1];
  // Prepared before the log was set: its failure is only returned.
  EXPECT_FALSE(quiet.run());
  EXPECT_EQ(logged.size(), 2u);
}

TEST_F(SqliteTest, ATransactionKeepsItsStatementsOnlyWhenCommitted) {
  Database db;
  ASSERT_EQ(db.open(path("t.db")), SQLITE_OK);
  ASSERT_EQ(db.exec("CREATE TABLE t(v INTEGER)"), SQLITE_OK);
  {
    Transaction undone(db);
    ASSERT_TRUE(undone.began());
    ASSERT_EQ(db.exec("INSERT INTO t VALUES(1)"), SQLITE_OK);
  }
  {
    Transaction kept(db);
    ASSERT_EQ(db.exec("INSERT INTO t VALUES(2)"), SQLITE_OK);
    EXPECT_TRUE(kept.commit());
    EXPECT_FALSE(kept.commit());
  }
  auto st = db.prepare("SELECT group_concat(v) FROM t");
  ASSERT_EQ(st.step(), SQLITE_ROW);
  EXPECT_EQ(st.columnText(0), "2");
}

}  // namespace
