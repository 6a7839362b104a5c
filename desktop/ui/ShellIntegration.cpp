#include "ShellIntegration.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>
#include <QUrl>

#include "Strings.h"

namespace varnelo::desktop {

namespace {

bool writeAtomically(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) {
    qWarning("shell integration: cannot write %s", qPrintable(path));
    return false;
  }
  file.write(bytes);
  return file.commit();
}

QStringList readLines(const QString& path, bool* ok) {
  QFile file(path);
  if (!file.exists()) {
    *ok = true;
    return {};
  }
  *ok = file.open(QIODevice::ReadOnly);
  if (!*ok) return {};
  QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
  if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
  return lines;
}

QString uriOf(const QString& folder) {
  return QString::fromUtf8(QUrl::fromLocalFile(QDir::cleanPath(folder)).toEncoded());
}

// Quoting of one Exec argument of a desktop entry.
QString quotedExec(const QString& program) {
  QString q = program;
  for (const char* c : {"\\", "\"", "`", "$"})
    q.replace(QLatin1String(c), QLatin1String("\\") + QLatin1String(c));
  return QLatin1Char('"') + q + QLatin1Char('"');
}

QString unquotedExec(QString exec) {
  exec = exec.trimmed();
  if (exec.startsWith(QLatin1Char('"'))) {
    QString out;
    for (int i = 1; i < exec.size(); ++i) {
      if (exec[i] == QLatin1Char('\\') && i + 1 < exec.size()) {
        out += exec[++i];
      } else if (exec[i] == QLatin1Char('"')) {
        break;
      } else {
        out += exec[i];
      }
    }
    return out;
  }
  return exec.section(QLatin1Char(' '), 0, 0);
}

}  // namespace

QString configHome() {
  const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
  return xdg.startsWith(QLatin1Char('/')) ? xdg : QDir::homePath() + QStringLiteral("/.config");
}

QString bookmarksPath() {
  return configHome() + QStringLiteral("/gtk-3.0/bookmarks");
}

QString autostartPath(const QString& name) {
  return configHome() + QStringLiteral("/autostart/") + name + QStringLiteral(".desktop");
}

QString folderBookmarkLine(const QString& folder) {
  return uriOf(folder) + QLatin1Char(' ') + str(152);
}

bool registerFolderBookmark(const QString& folder) {
  bool ok = false;
  QStringList lines = readLines(bookmarksPath(), &ok);
  if (!ok) return false;
  const QString uri = uriOf(folder);
  for (const QString& line : lines)
    if (line.section(QLatin1Char(' '), 0, 0) == uri) return true;
  lines << folderBookmarkLine(folder);
  return writeAtomically(bookmarksPath(), (lines.join(QLatin1Char('\n')) + "\n").toUtf8());
}

bool unregisterFolderBookmark(const QString& folder) {
  bool ok = false;
  QStringList lines = readLines(bookmarksPath(), &ok);
  if (!ok) return false;
  const QString ours = folderBookmarkLine(folder);
  if (lines.removeAll(ours) == 0) return true;
  return writeAtomically(bookmarksPath(), lines.isEmpty()
                                              ? QByteArray()
                                              : (lines.join(QLatin1Char('\n')) + "\n").toUtf8());
}

bool setAutostart(const QString& hostProgram) {
  const QString host = hostProgram.isEmpty()
                           ? QCoreApplication::applicationDirPath() + QStringLiteral("/varnelohost")
                           : hostProgram;
  QFile::remove(autostartPath());
  const QString entry = QStringLiteral(
                            "[Desktop Entry]\n"
                            "Type=Application\n"
                            "Name=Varnelo\n"
                            "Comment=%1\n"
                            "Exec=%2\n"
                            "Icon=varnelo\n"
                            "Terminal=false\n"
                            "X-GNOME-Autostart-enabled=true\n")
                            .arg(str(153), quotedExec(host));
  return writeAtomically(autostartPath(), entry.toUtf8());
}

void removeAutostart() {
  for (const QString& name :
       {QStringLiteral("varnelo"), QStringLiteral("Varnelo"), QStringLiteral("Tolmar网盘Varnelo")})
    QFile::remove(autostartPath(name));
}

QString readAutostart() {
  QFile file(autostartPath());
  if (!file.open(QIODevice::ReadOnly)) return QString();
  const QStringList lines = QString::fromUtf8(file.read(64 * 1024)).split(QLatin1Char('\n'));
  for (const QString& line : lines)
    if (line.startsWith(QLatin1String("Exec="))) return unquotedExec(line.mid(5));
  return QString();
}

}  // namespace varnelo::desktop
