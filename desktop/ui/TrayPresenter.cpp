#include "TrayPresenter.h"

#include "EngineNotice.h"
#include "Format.h"
#include "Strings.h"
#include "TextFormat.h"
#include "TrayIds.h"

namespace varnelo::desktop {

TrayPresenter::TrayPresenter(TrayModel& model, ITrayView& view, QString version, Hooks hooks)
    : model_(model), view_(view), version_(std::move(version)), hooks_(std::move(hooks)) {}

void TrayPresenter::onTrayStatus(int state) {
  const std::set<int> errors = model_.errors();
  if (state == kAppIdle && !errors.empty()) {
    state = kAppCompletedWithErrors;
    if (hooks_.setAppState) hooks_.setAppState(state);
  }
  const int previous = model_.displayedState.load();
  // A transfer means the folder is back.
  if (isSyncingState(state)) {
    notices_.erase(kNoticeFolderUnavailable);
    notices_.erase(kNoticeFolderMissing);
  }
  TrayView row = trayViewFor(state, errors);
  applyNotices(state, &row);
  view_.setPauseItemText(row.pauseItemText);
  if (row.animate) {
    view_.animate(kIconSyncing1, kIconSyncing2);
    TransferSnapshot status;
    if (hooks_.readStatus && hooks_.readStatus(&status))
      row.stateLine = progressLine(state, status);
  } else {
    view_.setIcon(row.iconId);
  }

  if (state == kAppIdle) {
    model_.idleSinceMs.store(hooks_.nowMs ? hooks_.nowMs() : 0);
    const auto [uploaded, downloaded] = model_.takeCounts();
    if ((uploaded > 0 || downloaded > 0) && previous != kAppPaused) {
      QString text;
      if (uploaded > 0) text = formatText(str(130), {static_cast<long long>(uploaded)});
      if (downloaded > 0) {
        if (!text.isEmpty()) text += QLatin1Char('\n');
        text += formatText(str(129), {static_cast<long long>(downloaded)});
      }
      showBalloon(BalloonRequest::make(kBalloonInfo, str(131), text, 500));
    }
  } else {
    model_.idleSinceMs.store(-1);
  }

  if (row.usage == UsageItem::Show)
    showUsage();
  else if (row.usage == UsageItem::Hide) {
    view_.hideUsageItem();
    usageShown_ = false;
  }

  model_.displayedState.store(state);
  updateNoticeItems();
  tooltip_ = trayTooltip(version_, row.stateLine);
  view_.setTooltip(tooltip_);
}

void TrayPresenter::onTrayProgress() {
  const int state = model_.displayedState.load();
  const int64_t now = hooks_.nowMs ? hooks_.nowMs() : 0;
  if (hooks_.readHolds && now - lastHoldsMs_ >= 2001) {
    lastHoldsMs_ = now;
    bool unavailable = false;
    uint64_t held = 0;
    if (hooks_.readHolds(&unavailable, &held)) {
      if (!unavailable) {
        clearNotice(kNoticeFolderUnavailable);
        clearNotice(kNoticeFolderMissing);
      }
      if (held == 0) clearNotice(kNoticeDeletionsHeld);
    }
  }
  if (!isSyncingState(state)) return;
  if (now - lastProgressMs_ < 2001) return;
  lastProgressMs_ = now;
  TransferSnapshot status;
  if (!hooks_.readStatus || !hooks_.readStatus(&status)) status = {};
  TrayView row = trayViewFor(state, model_.errors());
  row.stateLine = progressLine(state, status);
  applyNotices(state, &row);
  tooltip_ = trayTooltip(version_, row.stateLine);
  view_.setTooltip(tooltip_);
}

void TrayPresenter::applyNotices(int state, TrayView* row) const {
  // States that say why nothing syncs keep their own line.
  if (state == kAppLoginNeeded || state == kAppConnecting || state == kAppClientTooOld ||
      state == kAppStopped || state == kAppStopping)
    return;
  for (const auto& [code, path] : notices_) {
    const NoticeView v = noticeViewFor(code, path);
    if (v.replacesState) {
      row->stateLine = v.stateLine;
      row->iconId = v.iconId;
      row->animate = false;
      return;
    }
  }
  for (const auto& [code, path] : notices_) {
    const NoticeView v = noticeViewFor(code, path);
    if (!v.replacesState) row->stateLine += QLatin1Char('\n') + v.stateLine;
  }
}

void TrayPresenter::onNotice(int code, const std::string& path) {
  if (code == 200) {
    // A pass went through: the folder is there, and so is the journal.
    if (notices_.erase(kNoticeFolderUnavailable) + notices_.erase(kNoticeFolderMissing) +
        notices_.erase(kNoticeJournalUnavailable))
      refreshStatus();
    return;
  }
  if (!isEngineNoticeCode(code)) return;
  const QString where = QString::fromStdString(path);
  notices_[code] = where;
  const NoticeView v = noticeViewFor(code, where);
  showBalloon(
      BalloonRequest::oncePerPath(v.balloonKind, v.balloonTitle, v.balloonText, 5000, code, path));
  refreshStatus();
}

void TrayPresenter::clearNotice(int code) {
  if (!notices_.erase(code)) return;
  refreshStatus();
}

void TrayPresenter::updateNoticeItems() {
  view_.showHeldDeletionsItem(hasNotice(kNoticeDeletionsHeld));
  view_.showAdoptFolderItem(hasNotice(kNoticeFolderUnavailable));
}

void TrayPresenter::refreshStatus() {
  updateNoticeItems();
  // Only the picture changes: the state was entered already.
  const int state = model_.displayedState.load();
  if (state < 0) return;
  TrayView row = trayViewFor(state, model_.errors());
  TransferSnapshot status;
  if (row.animate && hooks_.readStatus && hooks_.readStatus(&status))
    row.stateLine = progressLine(state, status);
  applyNotices(state, &row);
  if (row.animate)
    view_.animate(kIconSyncing1, kIconSyncing2);
  else
    view_.setIcon(row.iconId);
  tooltip_ = trayTooltip(version_, row.stateLine);
  view_.setTooltip(tooltip_);
}

void TrayPresenter::reloadBalloonSetting() {
  balloonsOn_ = hooks_.balloonsEnabled ? hooks_.balloonsEnabled() : false;
  balloonsKnown_ = true;
}

void TrayPresenter::showBalloon(const BalloonRequest& request) {
  if (!balloonsKnown_) reloadBalloonSetting();
  if (!balloonsOn_) return;
  if (request.once && !announced_.emplace(request.code, request.path).second) return;
  // A tray balloon holds at most 63 characters of title and 255 of text.
  view_.showBalloon(request.kind, request.text.left(255), request.title.left(63),
                    request.timeoutMs);
}

TrayPresenter::PauseAction TrayPresenter::pauseActionFor() const {
  const int state = model_.displayedState.load();
  if (isSyncingState(state) || state == kAppIdle || state == kAppCompletedWithErrors)
    return PauseAction::Pause;
  if (state == kAppPaused) return PauseAction::Resume;
  return PauseAction::None;
}

void TrayPresenter::refreshUsage() {
  if (usageShown_) showUsage();
}

void TrayPresenter::showUsage() {
  Quota quota = model_.quota();
  if (quota.total == 0 && quota.used == 0 && hooks_.fetchQuota) {
    Quota fetched;
    const QuotaFetch result = hooks_.fetchQuota(&fetched);
    if (result == QuotaFetch::Pending) {
      usageShown_ = true;  // the answer refreshes the item
      return;
    }
    if (result == QuotaFetch::Fetched) {
      model_.setQuota(fetched);
      quota = fetched;
    }
  }
  QString text;
  if (quota.total <= 0 || quota.used > quota.total || quota.used < 0) {
    text = str(141);
  } else {
    const double percent =
        static_cast<double>(quota.used) * 100.0 / static_cast<double>(quota.total);
    text = formatText(str(139),
                      {sizeText(quota.total),
                       formatText(QStringLiteral("%s(%.1f%%)"), {sizeText(quota.used), percent})});
  }
  view_.showUsageItem(text);
  usageShown_ = true;
}

}  // namespace varnelo::desktop
