#include "ShellIntegration.h"

#include <QCoreApplication>
#include <QFile>

#include <string>
#include <vector>

#include "Strings.h"
#include "platform/autostart.h"
#include "platform/desktop_places.h"

namespace varnelo::desktop {

namespace {

// One label in every language: a label that followed the language could not
// be recognised as ours after a change of language.
constexpr const char* kBookmarkLabel = "Varnelo";

// Every label we ever wrote: ours, and the string table's (its source text
// and its English translation), which earlier versions used.
std::vector<std::string> ownLabels() {
  return {kBookmarkLabel, sourceText(152),
          QCoreApplication::translate("Strings", sourceText(152)).toStdString(), "Tolmar Disk"};
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
         QLatin1Char(' ') + QLatin1String(kBookmarkLabel);
}

bool registerFolderBookmark(const QString& folder) {
  return succeeded(
      platform::places::replaceOwnBookmark(platform::places::defaultBookmarksFile(),
                                           folder.toStdString(), kBookmarkLabel, ownLabels()),
      "bookmark");
}

bool unregisterFolderBookmark(const QString& folder) {
  bool ok = true;
  for (const std::string& label : ownLabels())
    ok &= succeeded(platform::places::removeBookmark(platform::places::defaultBookmarksFile(),
                                                     folder.toStdString(), label),
                    "bookmark removal");
  return ok;
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
