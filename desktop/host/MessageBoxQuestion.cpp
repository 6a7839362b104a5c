#include <QApplication>
#include <QMessageBox>
#include <cstdlib>
#include <memory>

#include "HostLog.h"
#include "HostStrings.h"
#include "UpdateQuestion.h"

namespace varnelo::host {
namespace {

// Qt aborts the process when no platform plug-in can start, so without a
// display the question is not asked at all.
bool display_available() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

}  // namespace

UpdateQuestion::Answer MessageBoxQuestion::ask(const std::string& version) {
  if (!display_available()) {
    host_log(kHostWarning, "no display to ask about version %s; asking again later",
             version.c_str());
    return Answer::kNotAsked;
  }
  std::unique_ptr<QApplication> app;
  if (QCoreApplication::instance() == nullptr) {
    static int argc = 1;
    static char name[] = "varnelohost";
    static char* argv[] = {name, nullptr};
    app = std::make_unique<QApplication>(argc, argv);
    install_host_translation();
  }
  QString text = host_str(kStrUpgradeQuestion);
  text.replace(QStringLiteral("%s"), QString::fromStdString(version));
  QMessageBox box(QMessageBox::Information, host_str(kStrUpgradeCaption), text,
                  QMessageBox::Ok | QMessageBox::Cancel);
  return box.exec() == QMessageBox::Ok ? Answer::kOk : Answer::kCancel;
}

}  // namespace varnelo::host
