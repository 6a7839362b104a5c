#include "FolderMove.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>

#include <cstdlib>

#include "platform/file_id.h"
#include "platform/file_metadata.h"
#include "platform/files.h"

namespace varnelo::desktop {

namespace files = platform::files;

namespace {

QString clean(const QString& p) {
  QString c = QDir::cleanPath(p);
  while (c.size() > 1 && c.endsWith(QLatin1Char('/'))) c.chop(1);
  return c;
}

bool inside(const QString& inner, const QString& outer) {
  return inner.startsWith(outer == QLatin1String("/") ? outer : outer + QLatin1Char('/'));
}

// Replaces `dest` (which the user agreed to overwrite) with a copy of
// `source` under a temporary name that is renamed over it once whole: a copy
// that fails leaves the file it would have replaced as it was.
bool replaceWithCopy(const QString& source, const QString& dest) {
  QFile in(source);
  if (!in.open(QIODevice::ReadOnly)) return false;
  QSaveFile out(dest);
  if (!out.open(QIODevice::WriteOnly)) return false;
  char buffer[64 * 1024];
  for (;;) {
    const qint64 got = in.read(buffer, sizeof buffer);
    if (got == 0) break;
    if (got < 0 || out.write(buffer, got) != got) {
      out.cancelWriting();
      return false;
    }
  }
  out.setPermissions(in.permissions());
  if (!out.commit()) return false;
  // The journal knows the file by its modification time: the copy keeps it.
  if (std::error_code ec = files::copyModeAndTimes(source.toStdString(), dest.toStdString())) {
    qWarning("folder move: cannot keep the times of %s: %s", qPrintable(dest),
             ec.message().c_str());
    return false;
  }
  return true;
}

QStringList entriesBelow(const QString& root) {
  QStringList entries;
  QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) entries << it.next();
  return entries;
}

// The same kind, size and modification time (as the engine reads them).
bool sameFile(const QString& a, const QString& b) {
  files::EntryInfo x, y;
  if (files::stat(a.toStdString(), x) || files::stat(b.toStdString(), y)) return false;
  if (x.type != y.type) return false;
  if (x.type == files::EntryType::Directory) return true;
  return x.size == y.size && x.lastWrite == y.lastWrite;
}

}  // namespace

MoveTarget classifyMoveTarget(const QString& current, const QString& chosen) {
  const QString a = clean(current);
  const QString b = clean(chosen);
  if (a == b) return MoveTarget::Same;
  if (inside(a, b) || inside(b, a)) return MoveTarget::Nested;
  const QDir dir(b);
  if (!dir.exists() ||
      dir.isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System))
    return MoveTarget::Empty;
  return MoveTarget::NotEmpty;
}

int copyFolderContents(const QString& from, const QString& to,
                       const std::function<bool(int, int)>& progress, QStringList* made) {
  const QString source = clean(from);
  const QString target = clean(to);
  const QStringList entries = entriesBelow(source);
  const auto makeFolder = [made](const QString& path) {
    if (QFileInfo(path).isDir()) return true;
    if (!QDir().mkpath(path)) return false;
    if (made) made->append(path);
    return true;
  };
  if (!makeFolder(target)) return -1;
  const int total = static_cast<int>(entries.size());
  int done = 0;
  bool failed = false;
  QStringList folders;  // their times are set once their contents are in
  for (const QString& path : entries) {
    if (progress && !progress(done, total)) return kCopyCancelled;
    const QFileInfo info(path);
    const QString dest = target + path.mid(source.size());
    if (info.isSymLink()) {
      // never followed
    } else if (info.isDir()) {
      const bool ok = makeFolder(dest);
      if (ok) folders << path;
      failed |= !ok;
    } else if (info.isFile()) {
      const bool existed = QFileInfo::exists(dest);
      const bool copied = replaceWithCopy(path, dest);
      if (copied && !existed && made) made->append(dest);
      failed |= !copied;
    }
    ++done;
  }
  if (progress && !progress(done, total)) return kCopyCancelled;
  // Deepest first: setting a folder's times never touches its parent's.
  for (auto it = folders.crbegin(); it != folders.crend(); ++it) {
    const QString dest = target + it->mid(source.size());
    if (std::error_code ec = files::copyModeAndTimes(it->toStdString(), dest.toStdString())) {
      qWarning("folder move: cannot keep the times of %s: %s", qPrintable(dest),
               ec.message().c_str());
      failed = true;
    }
  }
  return failed ? -1 : 0;
}

void removeMade(const QStringList& made) {
  for (auto it = made.crbegin(); it != made.crend(); ++it) {
    const QFileInfo info(*it);
    if (info.isDir() && !info.isSymLink()) {
      QDir().rmdir(*it);  // only when empty
    } else if (info.isFile()) {
      QFile::remove(*it);
    }
  }
}

bool verifyCopy(const QString& from, const QString& to) {
  const QString source = clean(from);
  const QString target = clean(to);
  bool ok = true;
  for (const QString& path : entriesBelow(source)) {
    const QFileInfo info(path);
    if (info.isSymLink() || !(info.isFile() || info.isDir())) continue;  // never copied
    const QString dest = target + path.mid(source.size());
    if (!sameFile(path, dest)) {
      qWarning("folder move: the copy of %s does not match it", qPrintable(path));
      ok = false;
    }
  }
  return ok;
}

void removeCopiedSource(const QString& from, const QString& to) {
  const QString source = clean(from);
  const QString target = clean(to);
  const QStringList entries = entriesBelow(source);
  for (auto it = entries.crbegin(); it != entries.crend(); ++it) {
    const QFileInfo info(*it);
    if (info.isSymLink()) continue;
    if (info.isDir()) {
      QDir().rmdir(*it);  // only when empty
    } else if (info.isFile() && sameFile(*it, target + it->mid(source.size()))) {
      // Only what is, right now, the same as its copy.
      QFile::remove(*it);
    }
  }
  QDir().rmdir(source);
}

FolderMoveResult moveFolderContents(const QString& from, const QString& to,
                                    const std::function<bool(int, int)>& progress) {
  FolderMoveResult result;
  const QString source = clean(from);
  const QString target = clean(to);
  const bool targetExisted = QFileInfo(target).isDir();
  if (!targetExisted) QDir().mkpath(QFileInfo(target).absolutePath());
  // rename(2) takes an empty folder's place, refuses a full one (ENOTEMPTY)
  // and another file system (EXDEV): then the copy.
  const std::error_code ec = files::rename(source.toStdString(), target.toStdString());
  if (!ec) {
    result.renamed = true;
    if (progress) progress(1, 1);
    return result;
  }
  qInfo("folder move: %s cannot be renamed to %s (%s); copying", qPrintable(source),
        qPrintable(target), ec.message().c_str());
  result.code = copyFolderContents(source, target, progress, &result.made);
  if (result.code == 0 && !verifyCopy(source, target)) result.code = -1;
  return result;
}

bool undoRename(const QString& from, const QString& to, bool toExisted) {
  if (std::error_code ec = files::rename(clean(to).toStdString(), clean(from).toStdString())) {
    qWarning("folder move: cannot move %s back to %s: %s", qPrintable(to), qPrintable(from),
             ec.message().c_str());
    return false;
  }
  if (toExisted) QDir().mkpath(clean(to));
  return true;
}

}  // namespace varnelo::desktop
