#include "Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace varnelo::desktop {

QString installTranslations(QCoreApplication& app, const QLocale& locale) {
  // Translators installed earlier (a second call) are replaced.
  for (QTranslator* old : app.findChildren<QTranslator*>(QStringLiteral("varnelo-translator"))) {
    QCoreApplication::removeTranslator(old);
    delete old;
  }
  auto install = [&app](const QString& file, const QString& dir) {
    auto* t = new QTranslator(&app);
    t->setObjectName(QStringLiteral("varnelo-translator"));
    if (t->load(file, dir)) {
      QCoreApplication::installTranslator(t);
      return true;
    }
    delete t;
    return false;
  };
  const QString qtDir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  if (locale.language() == QLocale::Chinese) {
    // Our texts are Chinese already; Qt's own buttons and file dialogs get
    // theirs when the Qt translations are installed.
    install(QStringLiteral("qtbase_zh_CN"), qtDir);
    return QStringLiteral("zh");
  }
  install(QStringLiteral("varnelo_en"), QStringLiteral(":/varnelo/i18n"));
  return QStringLiteral("en");
}

}  // namespace varnelo::desktop
