#include "TrayStateTable.h"

#include "Format.h"
#include "Strings.h"
#include "TextFormat.h"
#include "TrayIds.h"

namespace varnelo::desktop {

QString errorStateLine(const std::set<int>& errors) {
  if (errors.size() == 1) {
    const int code = *errors.begin();
    if (code == -109) return str(218);
    if (code == 402) return str(217);
    if (code >= 0 && code <= 99) return str(219);
  }
  return str(216);
}

TrayView trayViewFor(int state, const std::set<int>& errors) {
  TrayView v;
  switch (state) {
    case kAppIdle:
      v = {str(168), str(112), kIconCompleted, false, UsageItem::Show};
      break;
    case kAppLoginNeeded:
      v = {str(114), str(114), kIconOffline, false, UsageItem::Hide};
      break;
    case kAppConnecting:
      v = {str(110), str(110), kIconOffline, false, UsageItem::Hide};
      break;
    case kAppStarting:
      v = {str(157), str(157), kIconNormal, false, UsageItem::Hide};
      break;
    case kAppIndexing:
      v = {str(111), str(111), kIconNormal, false, UsageItem::Show};
      break;
    case kAppUploading:
    case kAppDownloading:
    case kAppSyncing:
      // The state line is the progress line, filled in by the caller.
      v = {str(168), str(107), kIconSyncing1, true, UsageItem::Keep};
      break;
    case kAppPaused:
      v = {str(169), str(171), kIconPaused, false, UsageItem::Show};
      break;
    case kAppClientTooOld:
      v = {str(214), str(215), kIconOffline, false, UsageItem::Hide};
      break;
    case kAppCompletedWithErrors:
      v = {str(168), errorStateLine(errors), kIconError, false, UsageItem::Hide};
      break;
    default:
      v = {str(115), str(115), kIconNormal, false, UsageItem::Keep};
      break;
  }
  return v;
}

QString progressLine(int state, const TransferSnapshot& s) {
  if (state == kAppSyncing) {
    if (s.uploadSpeed == 0 && s.downloadSpeed == 0) return str(107);
    return formatText(str(166), {speedText(s.downloadSpeed), speedText(s.uploadSpeed)});
  }
  if (!s.hasFile) return str(107);
  const bool up = state == kAppUploading;
  const QString name = shortFileName(s.file);
  const double percent = transferPercent(s.done, s.total);
  if (s.total == 0 || s.done == 0 || (percent < 0.000001 && percent > -0.000001))
    return formatText(str(up ? 213 : 212), {name});
  const uint64_t speed = up ? s.uploadSpeed : s.downloadSpeed;
  if (speed != 0) return formatText(str(up ? 211 : 209), {name, percent, speedText(speed)});
  return formatText(str(up ? 223 : 222), {name, percent});
}

QString trayTooltip(const QString& version, const QString& stateLine) {
  QString tip = formatText(str(156), {version}) + QLatin1Char('\n') + stateLine;
  if (tip.size() > 127) tip.truncate(127);
  return tip;
}

}  // namespace varnelo::desktop
