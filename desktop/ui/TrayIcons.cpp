#include "TrayIcons.h"

#include "TrayIds.h"

// The resources live in a static library: make sure they are registered
// before the first look-up, whatever the link order.
static void ensureIconResources() {
  static const bool loaded = [] {
    Q_INIT_RESOURCE(varnelo_icons);
    return true;
  }();
  (void)loaded;
}

namespace varnelo::desktop {

QString trayIconPath(int iconId) {
  switch (iconId) {
    case kIconCompleted:
      return QStringLiteral(":/varnelo/icons/completed.svg");
    case kIconSyncing1:
      return QStringLiteral(":/varnelo/icons/syncing1.svg");
    case kIconSyncing2:
      return QStringLiteral(":/varnelo/icons/syncing2.svg");
    case kIconError:
      return QStringLiteral(":/varnelo/icons/error.svg");
    case kIconOffline:
      return QStringLiteral(":/varnelo/icons/offline.svg");
    case kIconPaused:
      return QStringLiteral(":/varnelo/icons/paused.svg");
    default:
      return QStringLiteral(":/varnelo/icons/normal.svg");
  }
}

QIcon iconForId(int iconId) {
  ensureIconResources();
  return QIcon(trayIconPath(iconId));
}

QIcon applicationIcon() {
  ensureIconResources();
  // The icon theme's "varnelo" (the one installed with the package, or a
  // theme's own drawing of it), else the built-in one.
  static const QIcon bundled(QStringLiteral(":/varnelo/icons/varnelo.svg"));
  return QIcon::fromTheme(QStringLiteral("varnelo"), bundled);
}

}  // namespace varnelo::desktop
