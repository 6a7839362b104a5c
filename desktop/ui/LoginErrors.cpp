#include "LoginErrors.h"

#include <QDir>
#include <QFileInfo>

#include "Strings.h"
#include "TextFormat.h"

namespace varnelo::desktop {

QString loginErrorText(int result, bool proxySet, int loginType, const QString& host) {
  switch (result) {
    case 5:
      return str(proxySet ? 189 : 208);
    case 6:
      return str(proxySet ? 189 : 190);
    case 7:
      return str(proxySet ? 189 : 188);
    case 28:
      return str(proxySet ? 189 : 187);
    case -116:
      return formatText(str(loginType == kLoginPassport ? 203 : 204), {host});
    case -115:
      return str(186);
    default:
      break;
  }
  if (result >= 0 && result < 100) return str(proxySet ? 189 : 188);
  return QString();
}

QString loginFailureText(int result, bool proxySet, int loginType, const QString& host) {
  const QString text = loginErrorText(result, proxySet, loginType, host);
  if (!text.isEmpty()) return text;
  if (loginType == kLoginVerifier) return str(134);
  if (loginType == kLoginPassport) return str(185);
  return str(116);
}

namespace {

bool atOrInside(const QString& path, const QString& folder) {
  return path == folder || path.startsWith(folder + QLatin1Char('/'));
}

QString refusalOf(const QString& path, const QString& home) {
  // Refused with everything below them.
  static const char* const kSystem[] = {"/bin",   "/boot",  "/dev",    "/etc",  "/lib",
                                        "/lib32", "/lib64", "/libx32", "/proc", "/run",
                                        "/sbin",  "/sys",   "/usr",    "/var"};
  // Refused themselves; a folder of one's own inside them is fine.
  static const char* const kShared[] = {"/",    "/home", "/media", "/mnt", "/opt",
                                        "/srv", "/tmp",  "/root",  "/snap"};
  for (const char* s : kSystem)
    if (atOrInside(path, QLatin1String(s))) return formatText(str(14304), {path});
  for (const char* s : kShared)
    if (path == QLatin1String(s)) return formatText(str(14304), {path});
  const QString h = QDir::cleanPath(home);
  if (!h.isEmpty() && h != QLatin1String("/") && path == h) return formatText(str(14305), {path});
  return QString();
}

}  // namespace

QString syncFolderRefusal(const QString& cleanPath, const QString& home) {
  const QString why = refusalOf(cleanPath, home);
  if (!why.isEmpty()) return why;
  // A link that leads there is refused the same way.
  const QString real = QFileInfo(cleanPath).canonicalFilePath();
  if (real.isEmpty() || real == cleanPath) return QString();
  const QString realHome = QFileInfo(home).canonicalFilePath();
  return refusalOf(real, realHome.isEmpty() ? home : realHome);
}

FolderCheck validateSyncFolder(const QString& typed, const QString& home) {
  FolderCheck check;
  const QString text = typed.trimmed();
  if (!text.startsWith(QLatin1Char('/'))) {
    check.message = formatText(str(202), {text});
    return check;
  }
  check.path = QDir::cleanPath(text);
  // Before anything is created there.
  check.message = syncFolderRefusal(check.path, home);
  if (!check.message.isEmpty()) return check;
  const QFileInfo info(check.path);
  if (info.isDir() || (!info.exists() && QDir().mkpath(check.path))) {
    check.ok = true;
  } else {
    check.message = formatText(str(201), {check.path});
  }
  return check;
}

QString defaultSyncFolder(const QString& last, const QString& home) {
  if (!last.isEmpty() && last.startsWith(QLatin1Char('/'))) {
    const QFileInfo info(last);
    if (info.isDir()) return QDir::cleanPath(last);
    if (!info.exists() && QFileInfo(info.absolutePath()).isDir()) return QDir::cleanPath(last);
  }
  return QDir::cleanPath(home + QStringLiteral("/Varnelo"));
}

}  // namespace varnelo::desktop
