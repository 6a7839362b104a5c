// A QCoreApplication for tests that post events or translate texts, made on
// first use on the test's main thread and kept for the process.
#pragma once

#include <QCoreApplication>

namespace varnelo::desktop::test {

inline QCoreApplication& coreApp() {
  static int argc = 1;
  static char name[] = "desktop_tests";
  static char* argv[] = {name, nullptr};
  static QCoreApplication* app = QCoreApplication::instance() ? QCoreApplication::instance()
                                                              : new QCoreApplication(argc, argv);
  return *app;
}

}  // namespace varnelo::desktop::test
