// The "shut down when sync completes" dialog: a 30-second countdown, then
// (or when the user presses the button) the computer is powered off through
// the given action and the application exits in order. Cancel hides it and
// stops the countdown. UI thread only.
#pragma once

#include <QDialog>
#include <QTimer>
#include <functional>

class QLabel;
class QPushButton;

namespace varnelo::desktop {

class CShutdownDlg : public QDialog {
 public:
  // `powerOff` starts the system's power-off; `exitApp` the orderly exit.
  CShutdownDlg(std::function<void()> powerOff, std::function<void()> exitApp);

  // Shows the dialog with the countdown at 30 and brings it to the front.
  void start();
  int secondsLeft() const { return seconds_; }
  QPushButton* shutdownButton() const { return shutdownButton_; }
  QPushButton* cancelButton() const { return cancelButton_; }
  QString countdownText() const;

 protected:
  void hideEvent(QHideEvent* event) override;

 private:
  void tick();
  void shutDownNow();
  void updateCountdown();

  std::function<void()> powerOff_;
  std::function<void()> exitApp_;
  QTimer timer_;
  int seconds_ = 30;
  QLabel* countdown_;
  QPushButton* shutdownButton_;
  QPushButton* cancelButton_;
};

}  // namespace varnelo::desktop
