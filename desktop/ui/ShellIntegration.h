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

// The bookmark line of `folder`: "file:///…/Varnelo <label>".
QString folderBookmarkLine(const QString& folder);
// Adds the line unless the folder is bookmarked already (with any label);
// registering twice changes nothing.
bool registerFolderBookmark(const QString& folder);
// Removes the line only if it is still exactly the one we wrote.
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
