#include "ShellIntegration.h"

#include <QCoreApplication>
#include <QFile>

#include "Strings.h"
#include "platform/autostart.h"
#include "platform/desktop_places.h"

namespace varnelo::desktop {

namespace {

std::string label() {
  return str(152).toStdString();
}

bool succeeded(const std::error_code& ec, const char* what) {
  if (ec) qWarning("shell integration: %s: %s", what, ec.message().c_str());
  return !ec;
}

}  // namespace

QString configHome() {
  return QString::fromStdString(platform::places::configHome());
}

QString bookmarksPath() {
  return QString::fromStdString(platform::places::defaultBookmarksFile());
}

QString autostartPath(const QString& name) {
  return QString::fromStdString(platform::autostart::folder()) + QLatin1Char('/') + name +
         QStringLiteral(".desktop");
}

QString folderBookmarkLine(const QString& folder) {
  return QString::fromStdString(platform::places::fileUri(folder.toStdString())) +
         QLatin1Char(' ') + str(152);
}

bool registerFolderBookmark(const QString& folder) {
  return succeeded(platform::places::addBookmark(platform::places::defaultBookmarksFile(),
                                                 folder.toStdString(), label()),
                   "bookmark");
}

bool unregisterFolderBookmark(const QString& folder) {
  return succeeded(platform::places::removeBookmark(platform::places::defaultBookmarksFile(),
                                                    folder.toStdString(), label()),
                   "bookmark removal");
}

bool setAutostart(const QString& hostProgram) {
  platform::autostart::Entry entry;
  entry.name = "Varnelo";
  entry.program = (hostProgram.isEmpty()
                       ? QCoreApplication::applicationDirPath() + QStringLiteral("/varnelohost")
                       : hostProgram)
                      .toStdString();
  entry.comment = str(153).toStdString();
  entry.icon = "varnelo";
  platform::autostart::remove("varnelo");
  return succeeded(platform::autostart::write("varnelo", entry), "autostart");
}

void removeAutostart() {
  platform::autostart::remove("varnelo");
  platform::autostart::remove("Varnelo");
  // Not a plain file name, so not one the layer writes: removed here.
  QFile::remove(autostartPath(QStringLiteral("Tolmar网盘Varnelo")));
}

QString readAutostart() {
  std::string program;
  if (platform::autostart::read("varnelo", program)) return QString();
  return QString::fromStdString(program);
}

}  // namespace varnelo::desktop
