// The application's event sink: the engine calls it on its own threads, and
// it only records (TrayModel, the application state) and hands everything
// else on through the hooks, which post to the UI thread or queue work for
// the file state cache. Never touches a window.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "TrayModel.h"
#include "TrayPresenter.h"
#include "varnelo/IVarneloEvent.h"

namespace varnelo::desktop {

class AppEventSink final : public varnelo::IVarneloEvent {
 public:
  struct Hooks {
    std::function<int()> appState;
    std::function<void(int)> setAppState;
    std::function<void(const std::string& path, int state)> enqueueFileState;
    std::function<void(const BalloonRequest&)> postBalloon;
    std::function<void()> postUnlinkDevice;  // UM_UNLINK_DEVICE with wParam 1
    // An engine code with its own notice (folder unavailable, deletions
    // held, watch unavailable); see EngineNotice.h.
    std::function<void(int code, const std::string& path)> postNotice;
  };

  AppEventSink(TrayModel& model, Hooks hooks);

  void downloaded(const char* path) override;
  void uploaded(const char* path) override;
  void statusChanged(int32_t state) override;
  void fileStateChanged(const char* path, int32_t state) override;
  void result(int32_t code, const char* path) override;

 private:
  TrayModel& model_;
  Hooks hooks_;
  int lastEngineState_ = 0;  // engine threads, one at a time
};

}  // namespace varnelo::desktop
