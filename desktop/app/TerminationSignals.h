// SIGTERM, SIGINT and SIGHUP (a session ending, Ctrl-C in a terminal) end
// the application in order, like "-quit": the signal handler only writes a
// byte to a pipe, which the UI thread watches. One object, made on the UI
// thread after the QApplication.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace varnelo::desktop {

class TerminationSignals {
 public:
  explicit TerminationSignals(std::function<void()> onSignal);
  ~TerminationSignals();
  TerminationSignals(const TerminationSignals&) = delete;
  TerminationSignals& operator=(const TerminationSignals&) = delete;

 private:
  std::function<void()> onSignal_;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace varnelo::desktop
