// A QCoreApplication for a test binary that needs an event loop but no GUI.
#include <QCoreApplication>

#include <gtest/gtest.h>

namespace {

class CoreEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "desktop_tray_dbus_tests";
    static char* argv[] = {name, nullptr};
    app_ = new QCoreApplication(argc, argv);
  }
  void TearDown() override { delete app_; }

 private:
  QCoreApplication* app_ = nullptr;
};

const auto* const kEnvironment = testing::AddGlobalTestEnvironment(new CoreEnvironment);

}  // namespace
