// The message for a failed sign-in, by result code, login type and whether a
// proxy is configured; and the sync folder rules of the finish page (the
// default folder and the validation). Pure functions.
#pragma once

#include <QDir>
#include <QString>

namespace varnelo::desktop {

// Login types, as the wizard's account combo box lists them.
enum LoginType : int {
  kLoginNative = 0,    // "Varnelo帐号"
  kLoginPassport = 1,  // "Tolmar通行证" (provider "kuv")
  kLoginWeb = 2,       // another provider through the web
  kLoginVerifier = 3,  // the verification code obtained on the web
};

// The table's text, or an empty text when the table gives none.
QString loginErrorText(int result, bool proxySet, int loginType, const QString& webSiteHost);
// The text the status label shows: the table's, else the type's default.
QString loginFailureText(int result, bool proxySet, int loginType, const QString& webSiteHost);

struct FolderCheck {
  bool ok = false;
  QString path;     // the cleaned absolute path
  QString message;  // for a refusal: string 202 or 201 with the path
};

// The finish page's check: an absolute path (starting with "/") that is not
// a system folder or the home folder itself (syncFolderRefusal) and is a
// directory or can be created (it is created).
FolderCheck validateSyncFolder(const QString& typed, const QString& home = QDir::homePath());

// Why a cleaned absolute path cannot be the sync folder, or an empty text:
// the root, a folder of the system (/usr, /etc, /proc, ... or anything
// inside them), a top folder that holds others' files (/home, /media, /mnt,
// /tmp, ...) and the user's home folder itself. A sync folder there would
// put the system's or everyone's files online, and its deletions would
// reach them.
QString syncFolderRefusal(const QString& cleanPath, const QString& home = QDir::homePath());

// "lastSyncFolder" when it is a directory or can be made below an existing
// folder, else ~/Varnelo. Nothing is created.
QString defaultSyncFolder(const QString& lastSyncFolder, const QString& home);

}  // namespace varnelo::desktop
