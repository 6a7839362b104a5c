// Notifications through the desktop's notification server
// (org.freedesktop.Notifications on the session bus), which shows them long
// enough to be read, in the desktop's own style, and lets them be clicked.
// A balloon asked for with a time-out below kMinReadableMs gets the server's
// default time-out instead. Where the server's capabilities list "actions",
// the notification carries a default action, and invoking it emits
// `clicked`. When no server answers (none runs and none can be started),
// `unavailable` is emitted with the notification, for the caller to show it
// its own way (the tray icon's message). Never blocks: every call is
// asynchronous. UI thread only.
//
//   DesktopNotifier notes;
//   connect(&notes, &DesktopNotifier::clicked, ...);
//   notes.notify(kBalloonInfo, "Sync complete", "Uploaded 3 files", 500);
#pragma once

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

namespace varnelo::desktop {

class DesktopNotifier : public QObject {
  Q_OBJECT
 public:
  static constexpr int kMinReadableMs = 5000;

  explicit DesktopNotifier(QObject* parent = nullptr);

  // kind: BalloonKind (TrayIds.h).
  void notify(int kind, const QString& title, const QString& text, int timeoutMs);
  // The expire_timeout sent for a requested time-out (-1: the server's own).
  static int expireTimeoutFor(int timeoutMs);

 signals:
  // The user invoked the default action of one of our notifications.
  void clicked();
  // No notification server: the caller shows this one itself.
  void unavailable(int kind, const QString& title, const QString& text, int timeoutMs);

 private slots:
  void onActionInvoked(uint id, const QString& action);
  void onClosed(uint id, uint reason);

 private:
  struct Pending {
    int kind;
    QString title;
    QString text;
    int timeoutMs;
  };
  void askCapabilities();
  void send(const Pending& note);

  std::optional<bool> actions_;  // the server lists "actions"; unknown until asked
  bool asking_ = false;
  QVector<Pending> waiting_;  // sent once the capabilities are known
  QSet<uint> ours_;           // ids of our notifications still shown
};

}  // namespace varnelo::desktop
