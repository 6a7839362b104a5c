// The tray's icons and the application icon, drawn from the SVG files built
// into the library as resources. UI thread only (QIcon needs the GUI).
#pragma once

#include <QIcon>
#include <QString>

namespace varnelo::desktop {

// Resource path of the icon with the given id (TrayIds.h), the normal icon
// for unknown ids.
QString trayIconPath(int iconId);
QIcon iconForId(int iconId);
QIcon applicationIcon();

}  // namespace varnelo::desktop
