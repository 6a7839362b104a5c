#include "EngineNotice.h"

#include "Strings.h"
#include "TextFormat.h"
#include "TrayIds.h"

namespace varnelo::desktop {

bool isEngineNoticeCode(int32_t code) {
  return code == kNoticeWatchUnavailable || code == kNoticeFolderUnavailable ||
         code == kNoticeFolderMissing || code == kNoticeDeletionsHeld ||
         code == kNoticeJournalUnavailable;
}

NoticeView noticeViewFor(int32_t code, const QString& path) {
  NoticeView v;
  if (code == kNoticeFolderUnavailable || code == kNoticeFolderMissing) {
    v = {str(14200), kIconError, true, kBalloonWarning, str(14200), formatText(str(14201), {path})};
  } else if (code == kNoticeDeletionsHeld) {
    v = {str(14202), kIconError, true, kBalloonWarning, str(14202), str(14203)};
  } else if (code == kNoticeJournalUnavailable) {
    v = {str(14218), kIconError, true, kBalloonError, str(14218), formatText(str(14219), {path})};
  } else if (code == kNoticeWatchUnavailable) {
    v = {str(14204), kIconNormal, false, kBalloonInfo, str(14204), str(14205)};
  }
  return v;
}

}  // namespace varnelo::desktop
