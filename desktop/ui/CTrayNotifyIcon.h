// The notification-area icon: a QSystemTrayIcon (a StatusNotifierItem where
// the desktop runs a watcher, an XEmbed icon otherwise) with the popup menu
// of the application's commands, a two-frame animation and balloons. Where
// the desktop has no tray host (setHostAvailable(false), from
// TrayHostMonitor) the same picture, texts and menu are shown in a small
// status window instead, until a host appears. Balloons go to the desktop's
// notification server (DesktopNotifier), and to the icon's own message only
// where no server runs. UI thread only. Clicks become `command` signals
// that the main window carries out.
#pragma once

#include <QElapsedTimer>
#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>

#include <map>
#include <memory>

#include "ITrayView.h"

class QMenu;
class QAction;

namespace varnelo::desktop {

class CStatusWindow;
class DesktopNotifier;

class CTrayNotifyIcon : public QObject, public ITrayView {
  Q_OBJECT
 public:
  explicit CTrayNotifyIcon(QObject* parent = nullptr);
  ~CTrayNotifyIcon() override;

  // Adds the icon with its tooltip; the menu is built once, here.
  void create(int iconId, const QString& tooltip);
  void remove();
  bool added() const { return added_; }

  void setIcon(int iconId) override;
  void animate(int firstIconId, int secondIconId) override;
  void setTooltip(const QString& text) override;
  void showBalloon(int kind, const QString& text, const QString& title, int timeoutMs) override;
  void setPauseItemText(const QString& text) override;
  void showUsageItem(const QString& text) override;
  void hideUsageItem() override;
  void setShutdownChecked(bool checked) override;
  void showHeldDeletionsItem(bool shown) override;
  void showAdoptFolderItem(bool shown) override;

  QMenu* menu() const { return menu_.get(); }
  // The menu item of a command, or null (the usage item while hidden).
  QAction* action(int commandId) const;
  QString tooltip() const { return tooltip_; }
  int currentIconId() const { return iconId_; }
  QSystemTrayIcon* trayIcon() const { return tray_.get(); }
  // Shown instead of the icon while the desktop has no tray host; null
  // until the first time it was needed.
  CStatusWindow* statusWindow() const { return window_.get(); }
  bool hostAvailable() const { return hostAvailable_; }
  DesktopNotifier* notifier() const { return notifier_; }

  // Whether a tray host exists. Without one the status window stands in for
  // the icon; when one appears the icon is made again (the kind of icon Qt
  // offers is fixed when it is made) and the window goes.
  void setHostAvailable(bool available);

 signals:
  // A menu command (TrayIds.h), also for clicks on the icon.
  void command(int commandId);
  void balloonClicked();

 private:
  void buildMenu();
  QAction* addCommand(int commandId);
  void onActivated(QSystemTrayIcon::ActivationReason reason);
  void nextFrame();
  void showFirstItem(int commandId, int textId, bool shown);
  void makeTray();
  void showFace();
  void showPicture(int iconId);
  void showOwnMessage(int kind, const QString& title, const QString& text, int timeoutMs);

  std::unique_ptr<QMenu> menu_;  // owned here: QSystemTrayIcon does not own its menu
  std::unique_ptr<QSystemTrayIcon> tray_;
  std::unique_ptr<CStatusWindow> window_;
  DesktopNotifier* notifier_;  // child of this
  bool hostAvailable_ = true;
  // The command of the last single click: a double click that follows
  // within the double-click time would open the same thing again.
  QElapsedTimer lastTrigger_;
  int lastTriggerCommand_ = 0;
  std::map<int, QAction*> actions_;  // owned by menu_
  QTimer animation_;
  int frames_[2] = {0, 0};
  int frame_ = 0;
  int iconId_ = 0;
  QString tooltip_;
  bool added_ = false;
};

}  // namespace varnelo::desktop
