#include "Format.h"

#include <QList>

namespace varnelo::desktop {

QString speedText(uint64_t bytesPerSecond) {
  if (bytesPerSecond >= 1048576)
    return QString::asprintf("%.2fMB/s", static_cast<double>(bytesPerSecond) / 1048576.0);
  if (bytesPerSecond >= 1024)
    return QString::asprintf("%.2fKB/s", static_cast<double>(bytesPerSecond) / 1024.0);
  return QString::asprintf("%dB/s", static_cast<int>(bytesPerSecond));
}

QString sizeText(int64_t bytes) {
  if (bytes >= 1073741824)
    return QString::asprintf("%.2fGB", static_cast<double>(bytes) / 1073741824.0);
  if (bytes >= 1048576) return QString::asprintf("%.2fMB", static_cast<double>(bytes) / 1048576.0);
  if (bytes >= 1024) return QString::asprintf("%.2f KB", static_cast<double>(bytes) / 1024.0);
  return QString::asprintf("%d B", static_cast<int>(bytes));
}

double transferPercent(uint64_t transferred, uint64_t total) {
  if (total == 0) return 0.0;
  const double percent = static_cast<double>(transferred) * 100.0 / static_cast<double>(total);
  return percent > 100.0 ? 100.0 : percent;
}

QString shortFileName(const QString& path) {
  const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
  const QString name = slash < 0 ? path : path.mid(slash + 1);
  // Count characters, not UTF-16 units, so a name is never cut inside a
  // surrogate pair.
  const QList<uint> chars = name.toUcs4();
  if (chars.size() <= 24) return name;
  return QString::fromUcs4(reinterpret_cast<const char32_t*>(chars.constData()), 16) +
         QStringLiteral("...") +
         QString::fromUcs4(reinterpret_cast<const char32_t*>(chars.constData() + chars.size() - 5),
                           5);
}

}  // namespace varnelo::desktop
