// One QApplication for the whole test binary, made before the first test and
// set to the Chinese source texts; tests that switch the language switch back.
#include <QApplication>
#include <QLocale>

#include <gtest/gtest.h>

#include "Translations.h"

namespace {

class QtEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "desktop_ui_tests";
    static char* argv[] = {name, nullptr};
    app_ = new QApplication(argc, argv);
    varnelo::desktop::installTranslations(*app_, QLocale(QLocale::Chinese, QLocale::China));
  }
  void TearDown() override {
    delete app_;
    app_ = nullptr;
  }

 private:
  QApplication* app_ = nullptr;
};

const auto* const kEnvironment = testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace
