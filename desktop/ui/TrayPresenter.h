// Turns the tray's two private messages (status and progress) and the
// engine's balloon requests into icon, tooltip, menu and balloon changes.
// Runs on the UI thread only; reads the TrayModel that the event sink fills.
//
//   TrayPresenter tray(model, icon, "1.0.0", hooks);
//   tray.onTrayStatus(0);   // "同步完成", the completed icon, one balloon
#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>

#include "ITrayView.h"
#include "TrayModel.h"
#include "TrayStateTable.h"

namespace varnelo::desktop {

// A balloon asked for by the event sink (any thread), shown by the presenter.
struct BalloonRequest {
  int kind = 2;  // BalloonKind
  QString title;
  QString text;
  int timeoutMs = 500;
  // With `once`, the (code, path) pair is announced once per process.
  bool once = false;
  int code = 0;
  std::string path;

  static BalloonRequest make(int kind, QString title, QString text, int timeoutMs) {
    BalloonRequest r;
    r.kind = kind;
    r.title = std::move(title);
    r.text = std::move(text);
    r.timeoutMs = timeoutMs;
    return r;
  }
  static BalloonRequest oncePerPath(int kind, QString title, QString text, int timeoutMs, int code,
                                    std::string path) {
    BalloonRequest r = make(kind, std::move(title), std::move(text), timeoutMs);
    r.once = true;
    r.code = code;
    r.path = std::move(path);
    return r;
  }
};

// How a usage fetch went: Pending means the answer comes later through
// model.setQuota() and refreshUsage().
enum class QuotaFetch { Fetched, Failed, Pending };

class TrayPresenter {
 public:
  struct Hooks {
    std::function<int64_t()> nowMs;                     // the tray's clock
    std::function<bool(TransferSnapshot*)> readStatus;  // false without a running sync
    // Fetches the usage (varnelo_meta_info): Failed without credentials or
    // when the service refused.
    std::function<QuotaFetch(Quota*)> fetchQuota;
    std::function<void(int)> setAppState;
    std::function<bool()> balloonsEnabled;  // reads "showTrayBalloon"
    // What the engine holds now (varnelo_get_sync_holds2): the folder is
    // unavailable, deletions are held. False without a running sync.
    std::function<bool(bool* folderUnavailable, uint64_t* heldDeletions)> readHolds;
  };

  TrayPresenter(TrayModel& model, ITrayView& view, QString version, Hooks hooks);

  // UM_TRAY_STATUS with the new state.
  void onTrayStatus(int state);
  // UM_TRAY_PROGRESS: the progress line while syncing; in any state, what
  // the engine holds, so a notice ends when the engine lets go (at most
  // every 2 s).
  void onTrayProgress();
  // A balloon from the sink; dropped while balloons are off, and a (code,
  // path) pair already announced is not shown again.
  void showBalloon(const BalloonRequest& request);
  // UM_RELOAD_BALLOON: read "showTrayBalloon" again.
  void reloadBalloonSetting();
  // The pause / resume command: what to do for the displayed state.
  enum class PauseAction { None, Pause, Resume };
  PauseAction pauseActionFor() const;
  // Re-shows the usage item after the usage was forgotten (for example
  // after an upload), when it is visible.
  void refreshUsage();

  // An engine notice (EngineNotice.h) with the path it names; 200 ends the
  // folder-unavailable notice. A notice's balloon is shown once per path.
  void onNotice(int code, const std::string& path);
  void clearNotice(int code);
  bool hasNotice(int code) const { return notices_.count(code) != 0; }

  const QString& tooltip() const { return tooltip_; }
  int displayedState() const { return model_.displayedState.load(); }

 private:
  void showUsage();
  // Applies the active notices to a row of the state table.
  void applyNotices(int state, TrayView* row) const;
  void refreshStatus();
  void updateNoticeItems();

  TrayModel& model_;
  ITrayView& view_;
  QString version_;
  Hooks hooks_;
  QString tooltip_;
  int64_t lastProgressMs_ = -1000000;
  int64_t lastHoldsMs_ = -1000000;
  bool balloonsKnown_ = false;
  bool balloonsOn_ = false;
  bool usageShown_ = false;
  std::set<std::pair<int, std::string>> announced_;  // balloon pairs shown
  std::map<int, QString> notices_;                   // active notice code -> path
};

}  // namespace varnelo::desktop
