// Moving the sync folder keeps what the engine and the user know each file
// by (modification time, mode, the folder's own identity), and the rules for
// what may be a sync folder at all.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "qstring_print.h"

#include "CSettingDlg.h"
#include "FakeBackend.h"
#include "FolderMove.h"
#include "LoginErrors.h"
#include "ModalAnswers.h"
#include "SettingsStore.h"
#include "Strings.h"
#include "platform/file_id.h"

using namespace varnelo::desktop;
using varnelo::desktop::test::answerBoxes;
using varnelo::desktop::test::chooseInNextDialog;
using varnelo::desktop::test::FakeBackend;

namespace {

bool write(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).path());
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

struct Meta {
  timespec atime{}, mtime{};
  mode_t mode = 0;
  bool operator==(const Meta& o) const {
    return atime.tv_sec == o.atime.tv_sec && atime.tv_nsec == o.atime.tv_nsec &&
           mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec && mode == o.mode;
  }
};

Meta metaOf(const QString& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.toLocal8Bit().constData(), &st), 0) << path.toStdString();
  return {st.st_atim, st.st_mtim, st.st_mode & 07777};
}

// An old, odd time and mode, as files synced long ago have.
void age(const QString& path, long seconds, mode_t mode) {
  ASSERT_EQ(::chmod(path.toLocal8Bit().constData(), mode), 0);
  const timespec times[2] = {{seconds - 100, 111111111}, {seconds, 987654321}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.toLocal8Bit().constData(), times, 0), 0);
}

// The old folder as the engine left it: files, a folder, the marker.
void makeSyncFolder(const QString& root) {
  ASSERT_TRUE(write(root + "/docs/report.txt", "report"));
  ASSERT_TRUE(write(root + "/run.sh", "#!/bin/sh\n"));
  ASSERT_TRUE(write(root + "/.varnelo-root", "marker-id\n"));
  age(root + "/docs/report.txt", 1000000000, 0640);
  age(root + "/run.sh", 1100000000, 0750);
  age(root + "/docs", 1200000000, 0700);
}

platform::files::FileId idOf(const QString& path) {
  platform::files::FileId id;
  EXPECT_FALSE(platform::files::fileId(path.toStdString(), id));
  return id;
}

// A folder on another file system than the temporary folder, when the
// machine has one (tmpfs in /dev/shm).
QString otherFileSystem(const QString& besides) {
  const QString shm = QStringLiteral("/dev/shm");
  if (!QFileInfo(shm).isDir() || !QFileInfo(shm).isWritable()) return QString();
  if (idOf(shm).device == idOf(besides).device) return QString();
  return shm;
}

}  // namespace

TEST(FolderMoveTest, WithinOneFileSystemTheFolderIsRenamedWithEverythingItHolds) {
  QTemporaryDir tmp;
  const QString from = tmp.path() + "/Varnelo";
  makeSyncFolder(from);
  const Meta report = metaOf(from + "/docs/report.txt");
  const Meta script = metaOf(from + "/run.sh");
  const Meta docs = metaOf(from + "/docs");
  const auto folderId = idOf(from);
  for (const bool targetExists : {false, true}) {
    const QString to = tmp.path() + (targetExists ? "/Empty" : "/new/place/Varnelo");
    const QString source = targetExists ? tmp.path() + "/Varnelo2" : from;
    if (targetExists) {
      QDir().mkpath(to);
      ASSERT_TRUE(QDir().rename(tmp.path() + "/new/place/Varnelo", source));
    }
    const FolderMoveResult moved = moveFolderContents(source, to, {});
    ASSERT_EQ(moved.code, 0);
    EXPECT_TRUE(moved.renamed);
    EXPECT_FALSE(QFileInfo::exists(source));
    // The very folder, so the engine's device, inode and marker all match.
    EXPECT_EQ(idOf(to), folderId);
    EXPECT_EQ(QFile(to + "/.varnelo-root").size(), 10);
    EXPECT_EQ(metaOf(to + "/docs/report.txt"), report);
    EXPECT_EQ(metaOf(to + "/run.sh"), script);
    EXPECT_EQ(metaOf(to + "/docs"), docs);
  }
}

TEST(FolderMoveTest, IntoAFullFolderOrAnotherFileSystemTheCopyKeepsTimesAndModes) {
  QTemporaryDir tmp;
  const QString other = otherFileSystem(tmp.path());
  // A folder that holds something cannot be renamed onto; across file
  // systems nothing can: both copy.
  std::vector<QString> targets = {tmp.path() + "/Full"};
  ASSERT_TRUE(write(targets[0] + "/theirs.txt", "theirs"));
  QTemporaryDir far(other.isEmpty() ? QDir::tempPath() + "/x" : other + "/varnelo-move-XXXXXX");
  if (!other.isEmpty()) targets.push_back(far.path() + "/Varnelo");

  for (const QString& to : targets) {
    const QString from = tmp.path() + "/Varnelo";
    makeSyncFolder(from);
    const Meta before = metaOf(from + "/docs/report.txt");
    const FolderMoveResult moved = moveFolderContents(from, to, {});
    ASSERT_EQ(moved.code, 0) << to.toStdString();
    EXPECT_FALSE(moved.renamed);
    // The copy has the original's times and mode (reading it for the copy
    // may have set the original's access time; the copy carries that too).
    EXPECT_EQ(metaOf(to + "/docs/report.txt"), metaOf(from + "/docs/report.txt"));
    EXPECT_EQ(metaOf(to + "/docs/report.txt").mtime.tv_nsec, before.mtime.tv_nsec);
    EXPECT_EQ(metaOf(to + "/docs/report.txt").mtime.tv_sec, before.mtime.tv_sec);
    EXPECT_EQ(metaOf(to + "/run.sh").mode, mode_t(0750));
    EXPECT_EQ(metaOf(to + "/docs"), metaOf(from + "/docs"));
    EXPECT_EQ(metaOf(to + "/docs").mode, mode_t(0700));
    EXPECT_EQ(QFile(to + "/.varnelo-root").size(), 10);  // the marker comes along
    EXPECT_TRUE(verifyCopy(from, to));

    // A file changed after the copy is not the copy's: it stays.
    ASSERT_TRUE(write(from + "/run.sh", "#!/bin/sh\necho changed\n"));
    EXPECT_FALSE(verifyCopy(from, to));
    removeCopiedSource(from, to);
    EXPECT_TRUE(QFileInfo::exists(from + "/run.sh"));
    EXPECT_FALSE(QFileInfo::exists(from + "/docs"));
    EXPECT_FALSE(QFileInfo::exists(from + "/.varnelo-root"));
    QFile::remove(from + "/run.sh");
    removeCopiedSource(from, to);
    EXPECT_FALSE(QFileInfo::exists(from));
  }
  EXPECT_TRUE(QFileInfo::exists(targets[0] + "/theirs.txt"));
  if (other.isEmpty()) GTEST_SKIP() << "no second file system (tmpfs in /dev/shm) to copy across";
}

TEST(FolderMoveTest, TheSheetRenamesOrCopiesAndTellsTheEngineWhatItIs) {
  QTemporaryDir tmp;
  SettingsStore settings;
  ASSERT_TRUE(settings.open((tmp.path() + "/appconfig.db").toStdString()));
  FakeBackend backend;
  backend.state = 0;
  const QString first = tmp.path() + "/Varnelo";
  backend.folder = first;
  makeSyncFolder(first);
  CSettingDlg sheet(backend, settings);
  QStringList boxes;
  bool done = false;
  answerBoxes(&boxes, QMessageBox::Yes, &done);

  // The engine cannot use the new place: the renamed folder goes back.
  // (A chooser picks existing folders only.)
  const QString second = tmp.path() + "/Second";
  QDir().mkpath(second);
  backend.mountResult = -101;
  chooseInNextDialog(second);
  sheet.advanced->change->click();
  EXPECT_TRUE(QFileInfo::exists(first + "/docs/report.txt"));
  EXPECT_TRUE(QDir(second).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
  EXPECT_EQ(backend.folder, first);
  EXPECT_EQ(backend.calls, (QStringList{"stop", "folder " + second, "start"}));

  // Within the file system: one rename, nothing copied, nothing to adopt.
  backend.mountResult = 200;
  backend.calls.clear();
  chooseInNextDialog(second);
  sheet.advanced->change->click();
  EXPECT_EQ(backend.calls,
            (QStringList{"stop", "folder " + second, "rename " + first + " " + second, "start"}));
  EXPECT_FALSE(QFileInfo::exists(first));
  EXPECT_EQ(sheet.advanced->folder->text(), second);

  // Into a folder that holds something (as across file systems): the
  // verified copy, the old files go, and the engine is told the folder is
  // the same one. (The second file system of the machine, /dev/shm, is no
  // place for a sync folder.)
  const QString third = tmp.path() + "/Third";
  ASSERT_TRUE(write(third + "/theirs.txt", "theirs"));
  backend.calls.clear();
  chooseInNextDialog(third);
  sheet.advanced->change->click();
  EXPECT_EQ(backend.calls, (QStringList{"stop", "folder " + third, "rename " + second + " " + third,
                                        "adopt", "start"}));
  EXPECT_FALSE(QFileInfo::exists(second));
  EXPECT_EQ(QFile(third + "/docs/report.txt").size(), 6);
  EXPECT_EQ(QFile(third + "/theirs.txt").size(), 6);
  EXPECT_EQ(boxes.size(), 4);  // two questions, one failure, one "not empty"
  done = true;
}

TEST(FolderMoveTest, WithoutASyncFolderChangeSetsOneInsteadOfAskingForever) {
  QTemporaryDir tmp;
  SettingsStore settings;
  ASSERT_TRUE(settings.open((tmp.path() + "/appconfig.db").toStdString()));
  FakeBackend backend;
  backend.state = 0;
  backend.folder.clear();
  CSettingDlg sheet(backend, settings);
  const QString chosen = tmp.path() + "/Mine";
  QDir().mkpath(chosen);
  chooseInNextDialog(chosen);
  sheet.advanced->change->click();  // returns: no endless "contains the old one"
  EXPECT_EQ(backend.calls, (QStringList{"stop", "folder " + chosen, "start"}));
  EXPECT_EQ(sheet.advanced->folder->text(), chosen);
}

TEST(SyncFolderRulesTest, TheRootSystemFoldersAndTheHomeItselfAreRefused) {
  const QString home = QStringLiteral("/home/alice");
  for (const char* path : {"/", "/usr", "/usr/share/Varnelo", "/etc", "/proc/self", "/var/lib/x",
                           "/home", "/media", "/tmp", "/sys", "/boot"}) {
    EXPECT_EQ(syncFolderRefusal(path, home),
              QString(str(14304)).replace("%s", QString::fromLatin1(path)))
        << path;
  }
  EXPECT_EQ(syncFolderRefusal(home, home), QString(str(14305)).replace("%s", home));
  for (const char* path : {"/home/alice/Varnelo", "/media/alice/usb/Varnelo", "/tmp/x/Varnelo",
                           "/srv/sync/alice", "/homework"})
    EXPECT_TRUE(syncFolderRefusal(path, home).isEmpty()) << path;
  // The finish page refuses before making anything there.
  const FolderCheck check = validateSyncFolder("/usr/Varnelo-test-never-made", home);
  EXPECT_FALSE(check.ok);
  EXPECT_FALSE(QFileInfo::exists("/usr/Varnelo-test-never-made"));
  EXPECT_FALSE(validateSyncFolder("/home/alice/", home).ok);

  // A link that leads to a refused folder is refused too.
  QTemporaryDir tmp;
  ASSERT_TRUE(QFile::link("/etc", tmp.path() + "/etc-link"));
  EXPECT_FALSE(syncFolderRefusal(tmp.path() + "/etc-link", home).isEmpty());
}
