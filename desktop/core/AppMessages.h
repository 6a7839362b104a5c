// The private messages of the hidden main window and the commands of the
// tray menu. A message is a posted Qt event whose type number is the
// message's own number (UM_QUIT is event type 1179, and so on), carrying the
// two message arguments as `wParam` and `lParam`; a handler's answer goes
// into `result` when the message is sent rather than posted.
//
//   postAppMessage(app.mainWindow(), UM_START_SYNC, 1);
//
// Posting is safe from any thread; the handlers run on the UI thread.
#pragma once

#include <QEvent>
#include <QObject>
#include <QtGlobal>

namespace varnelo::desktop {

enum AppMessageId : int {
  UM_TRAY_NOTIFY = 1174,     // the tray icon's callback (lParam: the mouse or balloon event)
  UM_UNLINK_DEVICE = 1175,   // wParam non-zero: show the login wizard afterwards
  UM_START_SYNC = 1176,      // wParam 1: coming from the wizard
  UM_RELOAD_BALLOON = 1178,  // re-read "showTrayBalloon"
  UM_QUIT = 1179,            // orderly exit
  UM_SHOW_MAIN = 1180,       // wParam: the show command (5 shows the login wizard)
  UM_SHOW_SHUTDOWN = 1181,   // the shut-down countdown
  UM_TRAY_STATUS = 1182,     // wParam: the new state
  UM_TRAY_PROGRESS = 1183,   // wParam: the displayed state
};

// Show commands carried by UM_SHOW_MAIN.
enum ShowCommand : int { kShowHide = 0, kShowNormal = 1, kShowShow = 5 };

// Commands of the tray menu and the main window.
enum AppCommandId : int {
  kCmdCancel = 2,            // orderly exit when the main window is visible
  kCmdOpenHomePage = 32771,  // WebSiteBase + "/?from=pc"
  kCmdPauseResume = 32774,
  kCmdHelp = 32775,  // WebSiteBase + "/help?from=pc"
  kCmdExit = 32778,
  kCmdOpenFolder = 32783,  // the main window to the front, else the sync folder
  kCmdSettings = 32785,
  kCmdAccountPage = 32789,  // WebSiteBase + "/account?from=pc"
  kCmdAbout = 32791,
  kCmdFeedback = 32797,  // WebSiteBase + "/feedback?from=pc"
  kCmdShutdownAfterSync = 32798,
  kCmdMoreSpace = 32799,  // WebSiteBase + "/start?from=pc"
};

class AppMessage : public QEvent {
 public:
  explicit AppMessage(int message, qintptr wParam = 0, qintptr lParam = 0)
      : QEvent(static_cast<QEvent::Type>(message)), wParam(wParam), lParam(lParam) {}
  int message() const { return static_cast<int>(type()); }

  qintptr wParam;
  qintptr lParam;
  qintptr result = 0;
};

// True for the event types above.
bool isAppMessage(const QEvent* event);

// Reserves the message numbers as Qt event types (once, at start); false if
// some other part of the program took one first.
bool registerAppMessages();

// Queues the message for `target`'s thread; any thread. Ignored for null.
void postAppMessage(QObject* target, int message, qintptr wParam = 0, qintptr lParam = 0);
// Delivers it now on the calling thread (the UI thread) and returns the
// handler's result.
qintptr sendAppMessage(QObject* target, int message, qintptr wParam = 0, qintptr lParam = 0);

}  // namespace varnelo::desktop
