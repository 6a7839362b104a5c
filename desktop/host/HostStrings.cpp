#include "HostStrings.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace varnelo::host {
namespace {

struct Entry {
  int id;
  const char* text;
};

constexpr Entry kStrings[] = {
    {kStrUpgradeCaption, QT_TRANSLATE_NOOP("HostStrings", "版本升级")},
    {kStrUpgradeQuestion, QT_TRANSLATE_NOOP("HostStrings", "发现Varnelo新版本%s,请点击确认升级")},
};

}  // namespace

QString host_str(int id) {
  for (const Entry& e : kStrings)
    if (e.id == id) return QCoreApplication::translate("HostStrings", e.text);
  return {};
}

void install_host_translation() {
  // Owned by the application object, which outlives every use.
  auto* translator = new QTranslator(QCoreApplication::instance());
  // Our texts are Chinese already; Qt's own buttons get theirs from the Qt
  // translations when they are installed.
  bool loaded = QLocale::system().language() == QLocale::Chinese
                    ? translator->load(QStringLiteral("qtbase_zh_CN"),
                                       QLibraryInfo::path(QLibraryInfo::TranslationsPath))
                    : translator->load(QStringLiteral(":/varnelohost/i18n/varnelohost_en.qm"));
  if (loaded) QCoreApplication::installTranslator(translator);
}

}  // namespace varnelo::host
