#include "FolderMove.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>

namespace varnelo::desktop {

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
  return out.commit();
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
  QStringList entries;
  QDirIterator it(source, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) entries << it.next();
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
  for (const QString& path : entries) {
    if (progress && !progress(done, total)) return kCopyCancelled;
    const QFileInfo info(path);
    const QString dest = target + path.mid(source.size());
    if (info.isSymLink()) {
      // never followed
    } else if (info.isDir()) {
      failed |= !makeFolder(dest);
    } else if (info.isFile() && QFileInfo::exists(dest)) {
      failed |= !replaceWithCopy(path, dest);
    } else if (info.isFile()) {
      const bool copied = QFile::copy(path, dest);
      if (copied && made) made->append(dest);
      failed |= !copied;
    }
    ++done;
  }
  if (progress && !progress(done, total)) return kCopyCancelled;
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

}  // namespace varnelo::desktop
