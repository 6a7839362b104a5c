// The application's face where the desktop has no tray host (stock GNOME):
// a small window with the tray icon's picture, its version and state lines,
// a button for the default command, a button that opens the very menu the
// tray icon has, and a line that says how to get a tray. CTrayNotifyIcon
// shows it instead of the icon and keeps it up to date. Closing it only
// minimises it: without a tray it is the one way back to the application.
// UI thread only.
#pragma once

#include <QWidget>

class QLabel;
class QMenu;
class QPushButton;

namespace varnelo::desktop {

class CStatusWindow : public QWidget {
  Q_OBJECT
 public:
  // `menu` is the tray's menu; not owned.
  explicit CStatusWindow(QMenu* menu, QWidget* parent = nullptr);

  void setPicture(const QIcon& icon);
  // The tooltip text: its first line is the title, the rest the state.
  void setStatusText(const QString& text);

  QString stateText() const;
  QPushButton* openButton() const { return open_; }
  QPushButton* menuButton() const { return menuButton_; }
  QLabel* hintLabel() const { return hint_; }

 signals:
  void openClicked();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QLabel* picture_;
  QLabel* title_;
  QLabel* state_;
  QPushButton* open_;
  QPushButton* menuButton_;
  QLabel* hint_;
};

}  // namespace varnelo::desktop
