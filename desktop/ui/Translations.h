// Chooses the application's language: the Chinese source texts on a Chinese
// desktop, the embedded English translation on any other. Called once on the
// UI thread after the QApplication exists.
#pragma once

#include <QLocale>
#include <QString>

class QCoreApplication;

namespace varnelo::desktop {

// Installs the translators for `locale` (parented to `app`) and returns the
// language now in use, "zh" or "en".
QString installTranslations(QCoreApplication& app, const QLocale& locale = QLocale::system());

}  // namespace varnelo::desktop
