// The sync folder's place on the desktop and the start at login:
// - an entry in the GTK bookmarks file ($XDG_CONFIG_HOME/gtk-3.0/bookmarks),
//   which the file manager's sidebar and every file dialog's places list
//   show; added without touching the user's other lines and removed only
//   while it is still exactly ours;
// - an XDG autostart entry ($XDG_CONFIG_HOME/autostart/varnelo.desktop) that
//   starts the launcher `varnelohost` beside the application.
// The files are the platform layer's (desktop_places.h, autostart.h); this
// adds our label and names. Failures return false and are only logged.
// UI thread (or any one thread at a time).
#pragma once

#include <QString>

namespace varnelo::desktop {

// $XDG_CONFIG_HOME (default ~/.config).
QString configHome();
QString bookmarksPath();
QString autostartPath(const QString& name = QStringLiteral("varnelo"));

// The bookmark line of `folder`: "file:///…/Varnelo Varnelo" (one label in
// every language).
QString folderBookmarkLine(const QString& folder);
// Makes the folder's line our one bookmark: our lines for earlier sync
// folders (with any label we ever wrote) go, the user's lines stay, and a
// folder the user bookmarked already keeps their line. Registering twice
// changes nothing.
bool registerFolderBookmark(const QString& folder);
// Removes the folder's line only if it is still one we wrote.
bool unregisterFolderBookmark(const QString& folder);

// Writes the autostart entry for `hostProgram` (default: varnelohost beside
// the running program) after removing the old one.
bool setAutostart(const QString& hostProgram = QString());
// Removes the entry and the legacy ones ("Varnelo", "Tolmar网盘Varnelo").
void removeAutostart();
// The program the entry starts, without its quotes; empty when there is no
// readable entry.
QString readAutostart();

}  // namespace varnelo::desktop
