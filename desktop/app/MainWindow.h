// The hidden main window: the target of the private messages, of the
// command lines that later instances hand over, and of the tray menu's
// commands. It owns no widget of its own (the login wizard, which the
// windows show for it, stands in as the visible main window); everything
// runs on the UI thread.
#pragma once

#include <QObject>
#include <QString>
#include <memory>

#include "AppMessages.h"

namespace varnelo::desktop {

class Application;
class CShutdownDlg;

class MainWindow : public QObject {
 public:
  explicit MainWindow(Application& app);
  ~MainWindow() override;

  // A command line handed over by a later instance (the instance message).
  void handleCommandLine(const QString& text);
  // A command of the tray menu or the main window (AppCommandId).
  void runCommand(int commandId);
  // The orderly exit: the windows' threads stop, then the event loop ends
  // with 0.
  void orderlyExit();

  CShutdownDlg* shutdownDialog() const { return shutdownDialog_.get(); }

 protected:
  bool event(QEvent* event) override;

 private:
  void handleMessage(AppMessage& message);
  void frontOrFolder();
  void publishLink(const QString& argument);
  void sendTo(const QString& argument);
  void toggleShutdownAfterSync();
  void showShutdownDialog();

  Application& app_;
  std::unique_ptr<CShutdownDlg> shutdownDialog_;
  bool exiting_ = false;
};

}  // namespace varnelo::desktop
