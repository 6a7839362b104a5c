#include "AppMessages.h"

#include <QCoreApplication>

namespace varnelo::desktop {
namespace {

constexpr int kMessages[] = {UM_TRAY_NOTIFY,    UM_UNLINK_DEVICE, UM_START_SYNC,
                             UM_RELOAD_BALLOON, UM_QUIT,          UM_SHOW_MAIN,
                             UM_SHOW_SHUTDOWN,  UM_TRAY_STATUS,   UM_TRAY_PROGRESS};

}  // namespace

bool isAppMessage(const QEvent* event) {
  for (int m : kMessages) {
    if (event->type() == static_cast<QEvent::Type>(m)) return true;
  }
  return false;
}

bool registerAppMessages() {
  static const bool granted = [] {
    bool all = true;
    for (int m : kMessages) all = QEvent::registerEventType(m) == m && all;
    return all;
  }();
  return granted;
}

void postAppMessage(QObject* target, int message, qintptr wParam, qintptr lParam) {
  if (target) QCoreApplication::postEvent(target, new AppMessage(message, wParam, lParam));
}

qintptr sendAppMessage(QObject* target, int message, qintptr wParam, qintptr lParam) {
  if (!target) return 0;
  AppMessage m(message, wParam, lParam);
  QCoreApplication::sendEvent(target, &m);
  return m.result;
}

}  // namespace varnelo::desktop
