#include "TrayHostMonitor.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QGuiApplication>

#include <xcb/xcb.h>

#include <cstdlib>
#include <string>

namespace varnelo::desktop {

namespace {

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");

// Two absent readings in a row before the window replaces the icon: a
// watcher that is re-registered (a panel restart) is not a lost tray.
constexpr int kAbsentReadingsBeforeSwitch = 2;

}  // namespace

TrayHostMonitor::TrayHostMonitor(QObject* parent) : QObject(parent) {
  timer_.setInterval(kIntervalMs);
  connect(&timer_, &QTimer::timeout, this, &TrayHostMonitor::look);
}

void TrayHostMonitor::start() {
  // As Qt decides: a watcher that has a host registered.
  statusNotifier_ = statusNotifierHostPresent();
  qInfo("tray: %s icon", statusNotifier_ ? "StatusNotifierItem" : "XEmbed");
  look();
  timer_.start();
}

bool TrayHostMonitor::statusNotifierWatcherPresent() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  return bus.isConnected() && bus.interface() &&
         bus.interface()->isServiceRegistered(kWatcherService).value();
}

bool TrayHostMonitor::statusNotifierHostPresent() {
  if (!statusNotifierWatcherPresent()) return false;
  QDBusConnection bus = QDBusConnection::sessionBus();
  // A watcher without a host shows nothing (Qt asks the same before it
  // offers an item). A short time-out: a hung watcher is no tray either.
  QDBusMessage get = QDBusMessage::createMethodCall(
      kWatcherService, QStringLiteral("/StatusNotifierWatcher"),
      QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
  get << QStringLiteral("org.kde.StatusNotifierWatcher")
      << QStringLiteral("IsStatusNotifierHostRegistered");
  const QDBusMessage reply = bus.call(get, QDBus::Block, 1000);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return false;
  return reply.arguments().first().value<QDBusVariant>().variant().toBool();
}

bool TrayHostMonitor::xembedTrayPresent() {
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  xcb_connection_t* c = x11 ? x11->connection() : nullptr;
  if (!c) return false;  // not on X (offscreen, Wayland)
  // The selection of the screen our windows go to.
  int screen = 0;
  if (const char* display = std::getenv("DISPLAY")) {
    const std::string d = display;
    const size_t dot = d.rfind('.');
    if (dot != std::string::npos && d.find(':') < dot) screen = std::atoi(d.c_str() + dot + 1);
  }
  const std::string name = "_NET_SYSTEM_TRAY_S" + std::to_string(screen);
  xcb_intern_atom_reply_t* atom =
      xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, name.size(), name.c_str()), nullptr);
  if (!atom) return false;
  const xcb_atom_t selection = atom->atom;
  std::free(atom);
  if (selection == XCB_ATOM_NONE) return false;  // never made: nobody owns it
  xcb_get_selection_owner_reply_t* owner =
      xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr);
  const bool present = owner && owner->owner != XCB_WINDOW_NONE;
  std::free(owner);
  return present;
}

void TrayHostMonitor::look() {
  bool present = false;
  if (statusNotifier_) {
    present = statusNotifierHostPresent();
  } else {
    present = xembedTrayPresent();
    if (!present && !lateWatcherLogged_ && statusNotifierWatcherPresent()) {
      lateWatcherLogged_ = true;
      qInfo(
          "tray: a StatusNotifier watcher appeared after the start; its icon shows after the "
          "next start");
    }
  }
  if (present) {
    absentReadings_ = 0;
  } else if (known_ && available_ && ++absentReadings_ < kAbsentReadingsBeforeSwitch) {
    return;
  }
  if (known_ && present == available_) return;
  known_ = true;
  available_ = present;
  qInfo("tray: %s", present ? "a tray host is present" : "no tray host; showing the status window");
  emit availableChanged(present);
}

}  // namespace varnelo::desktop
