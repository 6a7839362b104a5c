#include "DesktopNotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

#include "TrayIds.h"

namespace varnelo::desktop {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

// Urgency hint: 0 low, 1 normal, 2 critical.
uchar urgencyFor(int kind) {
  return kind == kBalloonError ? 2 : 1;
}

QString iconFor(int kind) {
  switch (kind) {
    case kBalloonWarning:
      return QStringLiteral("dialog-warning");
    case kBalloonError:
      return QStringLiteral("dialog-error");
    case kBalloonInfo:
      return QStringLiteral("dialog-information");
    case kBalloonOwnIcon:
      return QStringLiteral("varnelo");
    default:
      return QString();
  }
}

}  // namespace

DesktopNotifier::DesktopNotifier(QObject* parent) : QObject(parent) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return;
  bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
              SLOT(onActionInvoked(uint, QString)));
  bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
              SLOT(onClosed(uint, uint)));
}

int DesktopNotifier::expireTimeoutFor(int timeoutMs) {
  return timeoutMs >= kMinReadableMs ? timeoutMs : -1;
}

void DesktopNotifier::notify(int kind, const QString& title, const QString& text, int timeoutMs) {
  const Pending note{kind, title, text, timeoutMs};
  if (!QDBusConnection::sessionBus().isConnected()) {
    emit unavailable(kind, title, text, timeoutMs);
    return;
  }
  if (actions_.has_value()) {
    send(note);
    return;
  }
  waiting_.append(note);
  askCapabilities();
}

void DesktopNotifier::askCapabilities() {
  if (asking_) return;
  asking_ = true;
  const QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                           QStringLiteral("GetCapabilities"));
  auto* watch =
      new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call, 5000), this);
  connect(watch, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
    w->deleteLater();
    asking_ = false;
    const QDBusPendingReply<QStringList> reply = *w;
    const QVector<Pending> notes = std::exchange(waiting_, {});
    if (reply.isError()) {
      // Asked again with the next notification: a server may start later.
      qInfo("notifications: no notification server (%s)", qPrintable(reply.error().name()));
      for (const Pending& n : notes) emit unavailable(n.kind, n.title, n.text, n.timeoutMs);
      return;
    }
    actions_ = reply.value().contains(QStringLiteral("actions"));
    for (const Pending& n : notes) send(n);
  });
}

void DesktopNotifier::send(const Pending& note) {
  QVariantMap hints;
  hints.insert(QStringLiteral("urgency"), QVariant::fromValue(urgencyFor(note.kind)));
  hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("varnelo"));
  QStringList actions;
  if (actions_.value_or(false)) actions << QStringLiteral("default") << QString();
  QDBusMessage call =
      QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
  call << QStringLiteral("Varnelo") << uint(0) << iconFor(note.kind) << note.title << note.text
       << actions << hints << expireTimeoutFor(note.timeoutMs);
  auto* watch =
      new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call, 5000), this);
  connect(watch, &QDBusPendingCallWatcher::finished, this,
          [this, note](QDBusPendingCallWatcher* w) {
            w->deleteLater();
            const QDBusPendingReply<uint> reply = *w;
            if (reply.isError()) {
              // The server went away: ask again next time.
              qWarning("notifications: Notify failed (%s)", qPrintable(reply.error().name()));
              actions_.reset();
              emit unavailable(note.kind, note.title, note.text, note.timeoutMs);
              return;
            }
            ours_.insert(reply.value());
          });
}

void DesktopNotifier::onActionInvoked(uint id, const QString& action) {
  if (!ours_.contains(id) || action != QLatin1String("default")) return;
  emit clicked();
}

void DesktopNotifier::onClosed(uint id, uint) {
  ours_.remove(id);
}

}  // namespace varnelo::desktop
