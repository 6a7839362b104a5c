// Whether the desktop has a tray host at all: a StatusNotifierWatcher on the
// session bus with a host registered (org.kde.StatusNotifierWatcher, which
// panels and the GNOME app-indicator extension provide), or an XEmbed tray
// (an owner of the X selection _NET_SYSTEM_TRAY_S<screen>). Stock GNOME has
// neither; the application then shows its status window instead of an icon
// nobody can see. Looked at once at start() and every two seconds after, so
// a panel that starts or quits later is followed.
//
// Qt chooses the kind of tray icon once per process, when it first makes
// one: a StatusNotifierItem when a watcher is registered then, an XEmbed icon
// otherwise. Only a host of the chosen kind can show our icon, so only that
// kind counts as available; a watcher that appears after an XEmbed start is
// logged (the icon shows there after the next start, or through the
// watcher's own XEmbed support). UI thread only.
//
//   TrayHostMonitor hosts;
//   connect(&hosts, &TrayHostMonitor::availableChanged, icon, &CTrayNotifyIcon::setHostAvailable);
//   hosts.start();
#pragma once

#include <QObject>
#include <QTimer>

namespace varnelo::desktop {

class TrayHostMonitor : public QObject {
  Q_OBJECT
 public:
  static constexpr int kIntervalMs = 2000;

  explicit TrayHostMonitor(QObject* parent = nullptr);

  // Looks now (availableChanged is emitted for the first answer too) and
  // then every kIntervalMs. Called right after the first tray icon was made.
  void start();
  // Which kind of host counts (what Qt chose for this process).
  bool usesStatusNotifier() const { return statusNotifier_; }
  bool available() const { return available_; }

  // The two kinds of host, asked directly (also for tests and logs).
  static bool statusNotifierHostPresent();
  static bool statusNotifierWatcherPresent();
  static bool xembedTrayPresent();

 signals:
  void availableChanged(bool available);

 private:
  void look();

  QTimer timer_;
  bool statusNotifier_ = false;
  bool lateWatcherLogged_ = false;
  bool known_ = false;
  bool available_ = false;
  int absentReadings_ = 0;  // a panel that restarts is briefly gone
};

}  // namespace varnelo::desktop
