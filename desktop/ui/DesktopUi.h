// The windows of the running program: the AppUi that desktop/app drives. It
// owns the setup wizard (the hidden main window), the tray icon with its
// presenter, watcher thread and state listener, the event sink the engine
// calls, and the backend the windows use (EngineBackend over Application).
// UI thread, except eventSink(), which the engine calls on its threads.
#pragma once

#include <memory>

#include "AppUi.h"

// createAppUi() (declared in AppUi.h) makes it and installs the translations
// for the desktop's language.
