// What the tray presenter drives: the icon, its tooltip, its balloons and the
// variable items of its popup menu. CTrayNotifyIcon is the real one; tests
// record the calls. UI thread only.
#pragma once

#include <QString>

namespace varnelo::desktop {

class ITrayView {
 public:
  virtual ~ITrayView() = default;
  // One still icon (any animation stops).
  virtual void setIcon(int iconId) = 0;
  // Two icons shown in turn every 500 ms.
  virtual void animate(int firstIconId, int secondIconId) = 0;
  virtual void setTooltip(const QString& text) = 0;
  // kind: BalloonKind (TrayIds.h).
  virtual void showBalloon(int kind, const QString& text, const QString& title, int timeoutMs) = 0;
  virtual void setPauseItemText(const QString& text) = 0;
  // Sets the usage item's text, inserting it before "get more space" when
  // missing, and enables "get more space".
  virtual void showUsageItem(const QString& text) = 0;
  // Removes the usage item and greys "get more space".
  virtual void hideUsageItem() = 0;
  virtual void setShutdownChecked(bool checked) = 0;
  // The items of the engine's notices, first in the menu: the one that
  // opens the held-deletions dialog, and the one that adopts a sync folder
  // that is not the one synced before.
  virtual void showHeldDeletionsItem(bool shown) = 0;
  virtual void showAdoptFolderItem(bool shown) = 0;
};

}  // namespace varnelo::desktop
