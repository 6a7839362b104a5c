// varnelo: the tray application. One instance per user: a later start hands
// its command line to the running one and exits with -1. The start-up and
// shutdown orders below are the ones the rest of the application relies on.
#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "AppMessages.h"
#include "AppUi.h"
#include "Application.h"
#include "DailyTasks.h"
#include "HandOver.h"
#include "HandOverServer.h"
#include "LogCleanup.h"
#include "LoginThread.h"
#include "MainWindow.h"
#include "PlatformServices.h"
#include "SchedulerThread.h"
#include "Strings.h"
#include "TerminationSignals.h"
#include "platform/data_folder.h"
#include "platform/instance_lock.h"
#include "platform/local_pipe.h"

namespace {

using namespace varnelo::desktop;

constexpr const char* kInstanceName = "Global\\VarneloAppInstance";

// A message box where a screen can show one; always on stderr too.
void showError(const QString& caption, const QString& text) {
  std::fprintf(stderr, "varnelo: %s\n", text.toUtf8().constData());
  const QString platform = QGuiApplication::platformName();
  if (platform != "offscreen" && platform != "minimal") {
    QMessageBox::critical(nullptr, caption, text);
  }
}

int usage(FILE* out) {
  std::fputs(
      "usage: varnelo [--version | -quit | -uninst | -upgrade | -extlink PATH | -sendto PATH...]\n"
      "Starts the Varnelo tray application, or hands the command to the one running.\n",
      out);
  return out == stdout ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  if (!arguments.empty() && arguments[0] == "--version") {
    std::printf("varnelo %s\n", applicationVersion());
    return 0;
  }
  if (!arguments.empty() && (arguments[0] == "--help" || arguments[0] == "-h")) {
    return usage(stdout);
  }

  // One instance per user; a later one hands its command line over.
  platform::InstanceLock instance;
  if (std::error_code ec = instance.tryAcquire(kInstanceName)) {
    if (ec == std::errc::resource_unavailable_try_again) {
      if (std::error_code sent = platform::pipeSend(kHandOverPipe, handOverMessage(arguments))) {
        std::fprintf(stderr, "varnelo: the running instance (%s) did not take the command: %s\n",
                     instance.holder().describe().c_str(), sent.message().c_str());
      }
      return -1;
    }
    std::fprintf(stderr, "varnelo: cannot take the instance lock: %s\n", ec.message().c_str());
    return 1;
  }

  QApplication qapp(argc, argv);
  QApplication::setApplicationName("varnelo");
  QApplication::setApplicationVersion(applicationVersion());
  QApplication::setQuitOnLastWindowClosed(false);
  registerAppMessages();
  // A signal is handled by the event loop, so by then the main window exists.
  MainWindow* mainWindow = nullptr;
  TerminationSignals terminationSignals([&mainWindow] {
    if (mainWindow) {
      postAppMessage(mainWindow, UM_QUIT);
    } else {
      QCoreApplication::quit();
    }
  });

  // The data folder, which varnelocmd may be using.
  const std::string dataFolder = platform::defaultDataFolder();
  if (std::string error = platform::prepareDataFolder(dataFolder); !error.empty()) {
    showError(str(kStrError), QString::fromStdString(error));
    return 1;
  }
  platform::InstanceLock dataLock;
  if (std::error_code ec = dataLock.tryAcquireFile(platform::dataFolderLockPath(dataFolder))) {
    const std::string who = ec == std::errc::resource_unavailable_try_again
                                ? dataLock.holder().describe()
                                : "another program";
    showError(str(kStrOtherFrontEndTitle),
              str(kStrOtherFrontEnd)
                  .arg(QString::fromStdString(who), QString::fromStdString(dataFolder)));
    return 1;
  }

  // Settings, file state cache, device; environment; logs; threads.
  Application app(dataFolder);
  PlatformServices services(app);
  app.openStores();
  app.pushEnvironment();
  cleanOldLogs(dataFolder, platform::currentFileTime());
  DailyTasks tasks = services.dailyTasks();
  SchedulerThread scheduler(tasks);
  scheduler.start();
  HandOverServer pipe;
  pipe.start();
  app.stateWorker().start();

  // The engine.
  if (int32_t rc = app.createEngine(); rc != 200) {
    showError(str(kStrError), str(kStrInitFailed));
    app.stateWorker().stop();
    scheduler.stop();
    pipe.stop();
    return rc;
  }

  // The windows, the event sink, the hidden main window.
#ifdef VARNELO_HAVE_UI
  std::unique_ptr<AppUi> windows = createAppUi();
  app.setUi(windows.get());
#endif
  app.attachEventSink();
  MainWindow window(app);
  mainWindow = &window;
  app.setMainWindow(&window);
  app.setCommandHandler([&window](int id) { window.runCommand(id); });
  app.ui().start(app);
  pipe.setTarget(&window, [&window](const QString& line) { window.handleCommandLine(line); });

  // Sign in, then the event loop.
  LoginThread login(app);
  if (!login.start()) login.run();
  const int exitCode = QApplication::exec();

  // No more hand-overs, no more sign-in, then the stops in order.
  pipe.clearTarget();
  login.stop();
  qInfo("varnelo: stopping the file state worker");
  app.stateWorker().stop();
  qInfo("varnelo: stopping the scheduler");
  scheduler.stop();
  qInfo("varnelo: stopping the pipe server");
  pipe.stop();
  qInfo("varnelo: stopping sync");
  app.shutdown();
  qInfo("varnelo: engine released");
  mainWindow = nullptr;
  app.setMainWindow(nullptr);
  app.setUi(nullptr);
  return exitCode;
}
