#include "EngineEvents.h"

#include "AppMessages.h"
#include "AppState.h"
#include "AppUi.h"
#include "Application.h"

namespace varnelo::desktop {

void EngineEvents::downloaded(const char* path) {
  app_.ui().engineDownloaded(path);
}

void EngineEvents::uploaded(const char* path) {
  app_.ui().engineUploaded(path);
}

void EngineEvents::statusChanged(int32_t state) {
  app_.state().set(state);
}

void EngineEvents::fileStateChanged(const char* path, int32_t state) {
  if (path) app_.stateWorker().enqueue(path, state);
}

void EngineEvents::result(int32_t code, const char* path) {
  AppState& state = app_.state();
  switch (code) {
    case -118:  // the journal is of a newer client
      state.set(kAppClientTooOld);
      break;
    case 5:
    case 6:
    case 7:
    case 28:  // proxy or server unreachable, timed out
      state.set(kAppConnecting);
      break;
    case 200:
      if (state.get() == kAppLoginNeeded || state.get() == kAppConnecting) state.set(kAppIdle);
      break;
    case 401:  // the token was refused: this computer must sign in again
      postAppMessage(app_.mainWindow(), UM_UNLINK_DEVICE, 1);
      break;
    default:
      break;
  }
  app_.ui().engineResult(code, path);
}

}  // namespace varnelo::desktop
