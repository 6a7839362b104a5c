#include <QCoreApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include "qstring_print.h"

#include <set>

#include "Format.h"
#include "Strings.h"
#include "TextFormat.h"
#include "Translations.h"

using namespace varnelo::desktop;

TEST(FormatTest, SpeedsSwitchUnitsAtTheBoundaries) {
  EXPECT_EQ(speedText(1048575), "1024.00KB/s");
  EXPECT_EQ(speedText(1048576), "1.00MB/s");
  EXPECT_EQ(speedText(1023), "1023B/s");
  EXPECT_EQ(speedText(1024), "1.00KB/s");
  EXPECT_EQ(speedText(0), "0B/s");
}

TEST(FormatTest, SizesHaveABlankBelowOneMegabyte) {
  EXPECT_EQ(sizeText(1024), "1.00 KB");
  EXPECT_EQ(sizeText(1023), "1023 B");
  EXPECT_EQ(sizeText(1048576), "1.00MB");
  EXPECT_EQ(sizeText(int64_t{10} << 30), "10.00GB");
  EXPECT_EQ(sizeText(int64_t{5} << 40), "5120.00GB");
}

TEST(FormatTest, PercentIsCappedAndSafeForAnEmptyTotal) {
  EXPECT_DOUBLE_EQ(transferPercent(50, 200), 25.0);
  EXPECT_DOUBLE_EQ(transferPercent(300, 200), 100.0);
  EXPECT_DOUBLE_EQ(transferPercent(5, 0), 0.0);
}

TEST(FormatTest, LongNamesKeepTheirStartAndEnd) {
  // 30 characters: the first 16, "...", the last 5.
  EXPECT_EQ(shortFileName("docs/abcdefghijklmnopqrstuvwxyz1234"), "abcdefghijklmnop...z1234");
  EXPECT_EQ(shortFileName("/home/u/Varnelo/report-2024.pdf"), "report-2024.pdf");
  EXPECT_EQ(shortFileName(QString(24, QLatin1Char('a'))), QString(24, QLatin1Char('a')));
  // Characters outside the basic plane are never cut in half.
  const QString emoji = QString::fromUtf8("\xF0\x9F\x98\x80");
  QString name;
  for (int i = 0; i < 30; ++i) name += emoji;
  const QString shown = shortFileName(name);
  EXPECT_EQ(shown.toUcs4().size(), 16 + 3 + 5);
  EXPECT_TRUE(shown.startsWith(emoji) && shown.endsWith(emoji));
}

TEST(FormatTest, PrintfTextsTakeTheirArgumentsInOrder) {
  EXPECT_EQ(formatText("↑ %s %.1f%% %s", {QString("a.txt"), 42.25, QString("1.00KB/s")}),
            "↑ a.txt 42.2% 1.00KB/s");
  EXPECT_EQ(formatText("成功上传 %d 个文件", {3LL}), "成功上传 3 个文件");
  EXPECT_EQ(formatText("%s(%.1f%%)", {QString("1.00MB"), 10.0}), "1.00MB(10.0%)");
  // A translation with more conversions than arguments loses text, nothing else.
  EXPECT_EQ(formatText("%s and %s and %d", {QString("x")}), "x and  and ");
  EXPECT_EQ(formatText("100%", {}), "100%");
}

namespace {

// The conversions of a printf text, in order.
QStringList conversions(const QString& text) {
  static const QRegularExpression re(QStringLiteral("%(\\.\\d+)?(l|ll|I64)?[sdfu%]|%[0-9]"));
  QStringList out;
  for (auto it = re.globalMatch(text); it.hasNext();) out << it.next().captured(0);
  return out;
}

}  // namespace

TEST(StringTableTest, EveryTextIsTranslatedWithTheSameConversions) {
  installTranslations(*QCoreApplication::instance(), QLocale(QLocale::English));
  for (const int id : allStringIds()) {
    const QString source = QString::fromUtf8(sourceText(id));
    const QString english = str(id);
    EXPECT_FALSE(english.isEmpty()) << id;
    // Every text a person reads is in English: no Chinese left over.
    EXPECT_FALSE(english.contains(QRegularExpression(QStringLiteral("[\\x{4e00}-\\x{9fff}]"))))
        << id << " " << english.toStdString();
    EXPECT_EQ(conversions(english), conversions(source)) << id << " " << english.toStdString();
  }
  EXPECT_EQ(str(112), "Sync complete");
  installTranslations(*QCoreApplication::instance(), QLocale(QLocale::Chinese, QLocale::China));
  EXPECT_EQ(str(112), QString::fromUtf8("同步完成"));
  EXPECT_TRUE(str(99999).isEmpty());
}

TEST(TextFormatTest, MenuTextsBecomeTitlesWithoutTheirAccessKey) {
  EXPECT_EQ(withoutMnemonic(QString::fromUtf8("关于(&A)")), QString::fromUtf8("关于"));
  EXPECT_EQ(withoutMnemonic("&About"), "About");
  EXPECT_EQ(withoutMnemonic("Save && &quit"), "Save & quit");
  EXPECT_EQ(withoutMnemonic("Plain"), "Plain");
}

TEST(StringTableTest, QtsOwnDialogsSpeakChineseOnAChineseDesktop) {
  // Folder choosers and standard buttons come from Qt's own translations
  // (package qt6-translations-l10n).
  if (!QFileInfo::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + "/qtbase_zh_CN.qm"))
    GTEST_SKIP() << "qt6-translations-l10n is not installed";
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QString::fromUtf8("取消"));
}
