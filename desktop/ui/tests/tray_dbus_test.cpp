// The tray as a desktop's tray host sees it: under a private session bus
// (dbus-run-session) and a private X display, a StatusNotifierWatcher of our
// own; the tray program registers its StatusNotifierItem with it, and the
// item's tooltip and its com.canonical.dbusmenu menu are read over D-Bus.
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QObject>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>
#include <unistd.h>

#include "DesktopNotifier.h"
#include "TrayIds.h"
#include "qstring_print.h"

#ifndef VARNELO_UI_DEMO
#error "VARNELO_UI_DEMO names the tray program"
#endif

namespace {

// The watcher side of the StatusNotifierItem protocol: enough for an item to
// register (Qt checks IsStatusNotifierHostRegistered before it offers one).
class Watcher : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
  Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
  Q_PROPERTY(int ProtocolVersion READ protocolVersion)
  Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)

 public:
  bool hostRegistered() const { return true; }
  int protocolVersion() const { return 0; }
  QStringList items() const { return items_; }
  QString lastSender;

 public slots:
  void RegisterStatusNotifierItem(const QString& service, const QDBusMessage& message) {
    lastSender = message.service();
    items_ << service;
  }
  void RegisterStatusNotifierHost(const QString&) {}

 private:
  QStringList items_;
};

// A notification server that records what it is asked to show and can
// report a click (ActionInvoked), as a desktop's notification daemon does.
class NotificationServer : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

 public:
  struct Note {
    QString app, icon, summary, body;
    QStringList actions;
    int timeout = 0;
  };
  explicit NotificationServer(QStringList caps) : caps_(std::move(caps)) {}
  std::vector<Note> notes;

 public slots:
  QStringList GetCapabilities() { return caps_; }
  uint Notify(const QString& app, uint, const QString& icon, const QString& summary,
              const QString& body, const QStringList& actions, const QVariantMap&, int timeout) {
    notes.push_back({app, icon, summary, body, actions, timeout});
    return static_cast<uint>(notes.size()) + 40;
  }
  void CloseNotification(uint) {}
  QString GetServerInformation(QString& vendor, QString& version, QString& specVersion) {
    vendor = "test";
    version = "1";
    specVersion = "1.2";
    return "recorder";
  }

 signals:
  void ActionInvoked(uint id, const QString& action);
  void NotificationClosed(uint id, uint reason);

 private:
  QStringList caps_;
};

struct MenuItem {
  int id = 0;
  QString label;
  bool enabled = true;
  bool separator = false;
  QString toggleState;
};

void readLayout(const QDBusArgument& arg, std::vector<MenuItem>* out) {
  MenuItem item;
  QVariantMap props;
  arg.beginStructure();
  arg >> item.id >> props;
  item.label = props.value("label").toString().remove('_');
  item.enabled = props.value("enabled", true).toBool();
  item.separator = props.value("type").toString() == "separator";
  if (props.contains("toggle-state"))
    item.toggleState = QString::number(props.value("toggle-state").toInt());
  if (item.id != 0) out->push_back(item);
  arg.beginArray();
  while (!arg.atEnd()) {
    QDBusVariant child;
    arg >> child;
    readLayout(child.variant().value<QDBusArgument>(), out);
  }
  arg.endArray();
  arg.endStructure();
}

class TrayDbusTest : public testing::Test {
 protected:
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("VARNELO_TRAY_DBUS_INNER")) {
      // Outer run: start ourselves again under a private session bus.
      const QString runner = QStandardPaths::findExecutable("dbus-run-session");
      if (runner.isEmpty()) GTEST_SKIP() << "dbus-run-session is not installed (package dbus)";
      if (QStandardPaths::findExecutable("Xvfb").isEmpty())
        GTEST_SKIP() << "Xvfb is not installed (package xvfb)";
      outer_ = true;
      return;
    }
    // A display of our own for the tray program (Qt offers a tray icon only
    // on a real windowing system).
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    xvfb_.setProgram("Xvfb");
    xvfb_.setArguments(
        {"-displayfd", QString::number(fds[1]), "-screen", "0", "640x480x24", "-nolisten", "tcp"});
    xvfb_.setChildProcessModifier([fd = fds[0]] { ::close(fd); });
    xvfb_.start();
    ::close(fds[1]);
    QByteArray number;
    char c;
    while (::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    ::close(fds[0]);
    ASSERT_FALSE(number.isEmpty()) << "Xvfb did not report its display";
    display_ = ":" + QString::fromLatin1(number);
  }

  void TearDown() override {
    if (tray_.state() != QProcess::NotRunning) {
      tray_.write("quit\n");
      if (!tray_.waitForFinished(5000)) tray_.kill();
      tray_.waitForFinished(2000);
    }
    if (xvfb_.state() != QProcess::NotRunning) {
      xvfb_.terminate();
      if (!xvfb_.waitForFinished(5000)) xvfb_.kill();
    }
  }

  // One command to the tray program, answered with "ok".
  void send(const QByteArray& line) {
    tray_.write(line + "\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return tray_.canReadLine(); }, 10000)) << line.data();
    EXPECT_EQ(tray_.readLine().trimmed(), "ok");
  }

  // What the tray program shows as its face: "tray" or "window".
  QByteArray face() {
    tray_.write("face\n");
    QByteArray answer;
    while (QTest::qWaitFor([&] { return tray_.canReadLine(); }, 10000)) {
      const QByteArray line = tray_.readLine().trimmed();
      if (line == "ok") break;
      answer = line;
    }
    return answer;
  }

  void startDemo() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display_);
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.remove("QT_QPA_PLATFORMTHEME");
    tray_.setProcessEnvironment(env);
    tray_.setProcessChannelMode(QProcess::SeparateChannels);
    tray_.setReadChannel(QProcess::StandardOutput);
    tray_.start(VARNELO_UI_DEMO, {"--tray", "--lang", "en"});
    ASSERT_TRUE(tray_.waitForStarted(10000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return tray_.canReadLine(); }, 20000))
        << tray_.readAllStandardError().toStdString();
    EXPECT_EQ(tray_.readLine().trimmed(), "ready");
  }

  bool outer_ = false;
  QString display_;
  QProcess xvfb_;
  QProcess tray_;
};

QDBusMessage call(const QString& service, const QString& path, const QString& iface,
                  const QString& method, const QVariantList& args) {
  QDBusMessage m = QDBusMessage::createMethodCall(service, path, iface, method);
  m.setArguments(args);
  return QDBusConnection::sessionBus().call(m, QDBus::Block, 10000);
}

QVariant property(const QString& service, const QString& path, const QString& iface,
                  const QString& name) {
  const QDBusMessage reply =
      call(service, path, "org.freedesktop.DBus.Properties", "Get", {iface, name});
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return {};
  return reply.arguments().first().value<QDBusVariant>().variant();
}

// The tooltip as a host shows it: (icon name, pixmaps, title, text).
QString tooltip(const QString& service) {
  const QVariant v =
      property(service, "/StatusNotifierItem", "org.kde.StatusNotifierItem", "ToolTip");
  const QDBusArgument arg = v.value<QDBusArgument>();
  QString icon, title, text;
  arg.beginStructure();
  arg >> icon;
  arg.beginArray();
  while (!arg.atEnd()) {
    int w, h;
    QByteArray bytes;
    arg.beginStructure();
    arg >> w >> h >> bytes;
    arg.endStructure();
  }
  arg.endArray();
  arg >> title >> text;
  arg.endStructure();
  return title + (text.isEmpty() ? QString() : "|" + text);
}

std::vector<MenuItem> menu(const QString& service) {
  const QString path =
      property(service, "/StatusNotifierItem", "org.kde.StatusNotifierItem", "Menu")
          .value<QDBusObjectPath>()
          .path();
  const QDBusMessage reply =
      call(service, path, "com.canonical.dbusmenu", "GetLayout", {0, -1, QStringList()});
  std::vector<MenuItem> items;
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() < 2) return items;
  readLayout(reply.arguments().at(1).value<QDBusArgument>(), &items);
  return items;
}

std::vector<QString> labels(const std::vector<MenuItem>& items) {
  std::vector<QString> out;
  for (const MenuItem& i : items) out.push_back(i.separator ? "-" : i.label);
  return out;
}

}  // namespace

TEST_F(TrayDbusTest, ItemRegistersAndShowsItsTooltipAndMenuInEachState) {
  if (outer_) {
    QProcess inner;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VARNELO_TRAY_DBUS_INNER", "1");
    inner.setProcessEnvironment(env);
    inner.setProcessChannelMode(QProcess::ForwardedChannels);
    inner.start(QStandardPaths::findExecutable("dbus-run-session"),
                {"--", QCoreApplication::applicationFilePath(), "--gtest_filter=TrayDbusTest.*"});
    ASSERT_TRUE(inner.waitForFinished(120000));
    EXPECT_EQ(inner.exitCode(), 0);
    return;
  }
  Watcher watcher;
  QDBusConnection bus = QDBusConnection::sessionBus();
  ASSERT_TRUE(bus.isConnected());
  ASSERT_TRUE(
      bus.registerObject("/StatusNotifierWatcher", &watcher,
                         QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties));
  ASSERT_TRUE(bus.registerService("org.kde.StatusNotifierWatcher"));

  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("DISPLAY", display_);
  env.insert("QT_QPA_PLATFORM", "xcb");
  env.remove("QT_QPA_PLATFORMTHEME");
  tray_.setProcessEnvironment(env);
  tray_.setProcessChannelMode(QProcess::SeparateChannels);
  tray_.setReadChannel(QProcess::StandardOutput);
  tray_.start(VARNELO_UI_DEMO, {"--tray", "--lang", "en"});
  ASSERT_TRUE(tray_.waitForStarted(10000));
  ASSERT_TRUE(QTest::qWaitFor([&] { return tray_.canReadLine(); }, 20000))
      << tray_.readAllStandardError().toStdString();
  EXPECT_EQ(tray_.readLine().trimmed(), "ready");

  ASSERT_TRUE(QTest::qWaitFor([&] { return !watcher.items().isEmpty(); }, 20000))
      << "no StatusNotifierItem registered";
  // The item is reached on the connection that registered it.
  const QString service = watcher.lastSender;

  send("state 0");
  EXPECT_TRUE(tooltip(service).contains("Varnelo " VARNELO_VERSION))
      << tooltip(service).toStdString();
  EXPECT_TRUE(tooltip(service).contains("Sync complete")) << tooltip(service).toStdString();
  std::vector<MenuItem> items = menu(service);
  const std::vector<QString> expected = {"Open Varnelo folder",
                                         "Open Varnelo website",
                                         "-",
                                         "Space 10.00GB, used 1.00GB(10.0%)",
                                         "Get more space",
                                         "-",
                                         "Pause sync",
                                         "Shut down when sync completes",
                                         "Settings",
                                         "-",
                                         "About",
                                         "Help",
                                         "Feedback",
                                         "-",
                                         "Exit"};
  EXPECT_EQ(labels(items), expected);

  send("state 4");
  EXPECT_TRUE(tooltip(service).contains("Sync paused")) << tooltip(service).toStdString();
  items = menu(service);
  ASSERT_GE(items.size(), 7u);
  EXPECT_EQ(items[6].label, "Resume sync");

  send("state 16");
  EXPECT_TRUE(tooltip(service).contains("Waiting for you to sign in..."))
      << tooltip(service).toStdString();
  items = menu(service);
  // Without an account the usage item is gone and "get more space" is greyed.
  ASSERT_GE(items.size(), 4u);
  EXPECT_EQ(items[3].label, "Get more space");
  EXPECT_FALSE(items[3].enabled);

  // The tray host restarts (its watcher goes and comes back): the item
  // registers again, as after a panel restart.
  ASSERT_TRUE(bus.unregisterService("org.kde.StatusNotifierWatcher"));
  const qsizetype before = watcher.items().size();
  ASSERT_TRUE(bus.registerService("org.kde.StatusNotifierWatcher"));
  EXPECT_TRUE(QTest::qWaitFor([&] { return watcher.items().size() > before; }, 20000))
      << "the item did not register with the new watcher";

  send("state 0");
  send("notice -123");  // deletions held
  EXPECT_TRUE(tooltip(service).contains("Deletions are waiting for your confirmation"))
      << tooltip(service).toStdString();
  items = menu(service);
  ASSERT_FALSE(items.empty());
  EXPECT_EQ(items[0].label, "View held deletions...");

  send("notice -124");  // the journal cannot be opened: said before anything else
  EXPECT_TRUE(tooltip(service).contains("Cannot open the sync records; sync has not started"))
      << tooltip(service).toStdString();
}

TEST_F(TrayDbusTest, TheProgramRegistersItsItemWhileWaitingForSignIn) {
  if (outer_) return;  // the first test ran both under the private bus
  Watcher watcher;
  QDBusConnection bus = QDBusConnection::sessionBus();
  ASSERT_TRUE(
      bus.registerObject("/StatusNotifierWatcher", &watcher,
                         QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties));
  ASSERT_TRUE(bus.registerService("org.kde.StatusNotifierWatcher"));
  QTemporaryDir home;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("DISPLAY", display_);
  env.insert("QT_QPA_PLATFORM", "xcb");
  env.remove("QT_QPA_PLATFORMTHEME");
  env.insert("LANG", "en_US.UTF-8");
  env.insert("LC_ALL", "en_US.UTF-8");
  env.insert("HOME", home.path());
  env.insert("XDG_CONFIG_HOME", home.path() + "/config");
  env.insert("XDG_DATA_HOME", home.path() + "/data");
  env.insert("XDG_CACHE_HOME", home.path() + "/cache");
  env.insert("XDG_RUNTIME_DIR", home.path());
  env.insert("VARNELO_SERVICE", "127.0.0.1:9:9");  // nothing listens: no account
  tray_.setProcessEnvironment(env);
  tray_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  tray_.start(VARNELO_PROGRAM, {});
  ASSERT_TRUE(tray_.waitForStarted(10000));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !watcher.items().isEmpty(); }, 30000))
      << "varnelo registered no StatusNotifierItem";
  const QString service = watcher.lastSender;
  // Without a stored account the program waits for the sign-in.
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return tooltip(service).contains("Waiting for you to sign in..."); }, 30000))
      << tooltip(service).toStdString();
  EXPECT_TRUE(tooltip(service).contains("Varnelo " VARNELO_VERSION));
  const std::vector<MenuItem> items = menu(service);
  ASSERT_FALSE(items.empty());
  EXPECT_EQ(items.front().label, "Open Varnelo folder");
  EXPECT_EQ(items.back().label, "Exit");
  tray_.terminate();
  if (!tray_.waitForFinished(10000)) tray_.kill();
}

TEST_F(TrayDbusTest, WithoutATrayHostTheStatusWindowStandsInUntilOneAppears) {
  if (outer_) return;  // the first test ran all of them under the private bus
  QDBusConnection bus = QDBusConnection::sessionBus();
  bus.unregisterService("org.kde.StatusNotifierWatcher");  // the earlier tests' host
  startDemo();
  // Nothing on this display or bus hosts an icon: the window is the face.
  EXPECT_EQ(face(), "window");

  // An XEmbed panel starts: the icon docks there and the window goes.
  if (QStandardPaths::findExecutable("trayer").isEmpty()) GTEST_SKIP() << "trayer is missing";
  QProcess panel;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("DISPLAY", display_);
  panel.setProcessEnvironment(env);
  panel.start("trayer", {"--edge", "top", "--widthtype", "pixel", "--width", "100"});
  ASSERT_TRUE(panel.waitForStarted(10000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return face() == "tray"; }, 20000));
  // It quits: the window comes back.
  panel.terminate();
  ASSERT_TRUE(panel.waitForFinished(10000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return face() == "window"; }, 20000));
}

TEST_F(TrayDbusTest, AStatusNotifierHostThatGoesForGoodBringsTheWindow) {
  if (outer_) return;
  QDBusConnection bus = QDBusConnection::sessionBus();
  Watcher watcher;
  bus.unregisterService("org.kde.StatusNotifierWatcher");
  bus.unregisterObject("/StatusNotifierWatcher");
  ASSERT_TRUE(
      bus.registerObject("/StatusNotifierWatcher", &watcher,
                         QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties));
  ASSERT_TRUE(bus.registerService("org.kde.StatusNotifierWatcher"));
  startDemo();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !watcher.items().isEmpty(); }, 20000));
  EXPECT_EQ(face(), "tray");
  ASSERT_TRUE(bus.unregisterService("org.kde.StatusNotifierWatcher"));
  EXPECT_TRUE(QTest::qWaitFor([&] { return face() == "window"; }, 20000));
  // The panel is back: the item registers again and replaces the window.
  const qsizetype before = watcher.items().size();
  ASSERT_TRUE(bus.registerService("org.kde.StatusNotifierWatcher"));
  EXPECT_TRUE(QTest::qWaitFor([&] { return watcher.items().size() > before; }, 20000));
  EXPECT_TRUE(QTest::qWaitFor([&] { return face() == "tray"; }, 20000));
  send("state 4");
  EXPECT_TRUE(tooltip(watcher.lastSender).contains("Sync paused"));
  tray_.write("quit\n");
  EXPECT_TRUE(QTest::qWaitFor([&] { return tray_.state() == QProcess::NotRunning; }, 10000));
  bus.unregisterService("org.kde.StatusNotifierWatcher");
  bus.unregisterObject("/StatusNotifierWatcher");
}

TEST_F(TrayDbusTest, BalloonsGoToTheNotificationServerReadableAndClickable) {
  if (outer_) return;
  QDBusConnection bus = QDBusConnection::sessionBus();
  for (const bool withActions : {true, false}) {
    NotificationServer server(withActions ? QStringList{"body", "actions"} : QStringList{"body"});
    ASSERT_TRUE(
        bus.registerObject("/org/freedesktop/Notifications", &server,
                           QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
    ASSERT_TRUE(bus.registerService("org.freedesktop.Notifications"));
    startDemo();
    send("balloon Uploaded 3 files");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !server.notes.empty(); }, 10000));
    const NotificationServer::Note note = server.notes.front();
    EXPECT_EQ(note.app, "Varnelo");
    EXPECT_EQ(note.summary, "Varnelo");
    EXPECT_EQ(note.body, "Uploaded 3 files");
    // Asked for 500 ms, which nobody can read: the server's own time-out.
    EXPECT_EQ(note.timeout, -1);
    if (withActions) {
      EXPECT_EQ(note.actions, (QStringList{"default", ""}));
      // A click on it reaches the program as the balloon's click.
      emit server.ActionInvoked(41, "default");
      EXPECT_TRUE(QTest::qWaitFor(
          [&] { return tray_.canReadLine() && tray_.readLine().trimmed() == "clicked"; }, 10000));
    } else {
      EXPECT_TRUE(note.actions.isEmpty());
    }
    // Our bus connection answers the program while it ends: wait with events.
    tray_.write("quit\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return tray_.state() == QProcess::NotRunning; }, 10000))
        << tray_.readAllStandardOutput().toStdString()
        << tray_.readAllStandardError().toStdString();
    bus.unregisterService("org.freedesktop.Notifications");
    bus.unregisterObject("/org/freedesktop/Notifications");
  }
}

TEST_F(TrayDbusTest, WithoutANotificationServerTheBalloonIsHandedBack) {
  if (outer_) return;
  QDBusConnection bus = QDBusConnection::sessionBus();
  bus.unregisterService("org.freedesktop.Notifications");
  varnelo::desktop::DesktopNotifier notes;
  QStringList handedBack;
  QObject::connect(&notes, &varnelo::desktop::DesktopNotifier::unavailable,
                   [&](int, const QString& title, const QString& text, int) {
                     handedBack << title + "|" + text;
                   });
  notes.notify(varnelo::desktop::kBalloonError, "Not enough space", "Cannot sync \"a.bin\"", 500);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !handedBack.isEmpty(); }, 10000));
  EXPECT_EQ(handedBack, QStringList{"Not enough space|Cannot sync \"a.bin\""});

  // A server that starts later is used from then on.
  NotificationServer server({"actions"});
  QDBusConnection serverBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "srv");
  ASSERT_TRUE(serverBus.registerObject(
      "/org/freedesktop/Notifications", &server,
      QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
  ASSERT_TRUE(serverBus.registerService("org.freedesktop.Notifications"));
  notes.notify(varnelo::desktop::kBalloonInfo, "Sync complete", "Uploaded 1 file", 8000);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !server.notes.empty(); }, 10000));
  EXPECT_EQ(server.notes.front().timeout, 8000);  // long enough already: kept
  EXPECT_EQ(handedBack.size(), 1);
  serverBus.unregisterService("org.freedesktop.Notifications");
  QDBusConnection::disconnectFromBus("srv");
}

#include "tray_dbus_test.moc"
