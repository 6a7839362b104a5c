// The application's event sink, which the engine calls from its threads:
// the core's part of each report (the application state, the file state
// cache's queue, the unlink on a refused token) happens here, then the
// windows' part through AppUi's engine* operations. Never touches a window
// and never calls the engine.
#pragma once

#include "varnelo/IVarneloEvent.h"

namespace varnelo::desktop {

class Application;

class EngineEvents final : public IVarneloEvent {
 public:
  explicit EngineEvents(Application& app) : app_(app) {}

  void downloaded(const char* path) override;
  void uploaded(const char* path) override;
  void statusChanged(int32_t state) override;
  void fileStateChanged(const char* path, int32_t state) override;
  void result(int32_t code, const char* path) override;

 private:
  Application& app_;
};

}  // namespace varnelo::desktop
