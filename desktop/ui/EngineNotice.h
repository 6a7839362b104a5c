// The engine's conditions that the tray announces beyond the state table:
// the sync folder is unavailable (an unmounted disk, a moved folder: nothing
// is deleted, sync waits), deletions are held until the user confirms them,
// the folder cannot be watched (changes are found by periodic scans), and
// the engine's journal cannot be opened (nothing syncs until it can).
// Each has a state line, an icon and a balloon. Pure data, any thread.
#pragma once

#include <QString>

#include <cstdint>

#include "varnelo/IVarnelo.h"

namespace varnelo::desktop {

// The engine's result codes for the conditions; a missing sync folder
// (-120) is shown as the unavailable one.
inline constexpr int32_t kNoticeWatchUnavailable = varnelo::kEngineWatchUnavailable;
inline constexpr int32_t kNoticeFolderUnavailable = varnelo::kEngineFolderUnavailable;
inline constexpr int32_t kNoticeFolderMissing = varnelo::kEngineSyncRootMissing;
inline constexpr int32_t kNoticeDeletionsHeld = varnelo::kEngineDeletionsHeld;
inline constexpr int32_t kNoticeJournalUnavailable = varnelo::kEngineJournalUnavailable;

bool isEngineNoticeCode(int32_t code);

struct NoticeView {
  QString stateLine;
  int iconId = 0;
  // Whether the notice replaces the state line and icon (sync is held up) or
  // only adds its line below them (sync goes on).
  bool replacesState = false;
  int balloonKind = 0;
  QString balloonTitle;
  QString balloonText;
};

// `path` is the folder or file the engine named (may be empty).
NoticeView noticeViewFor(int32_t code, const QString& path);

}  // namespace varnelo::desktop
