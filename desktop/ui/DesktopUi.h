// The windows of the running program: the AppUi that desktop/app drives. It
// owns the setup wizard (the hidden main window), the tray icon with its
// presenter, watcher thread and state listener, the event sink the engine
// calls, and the backend the windows use (over the Application object).
// createAppUi() (declared in AppUi.h) makes it and installs the translations
// for the desktop's language. UI thread, except the event sink, which the
// engine calls on its threads.
#pragma once

#include "AppUi.h"

namespace varnelo::desktop {

class CMainWizardDialog;
class CTrayNotifyIcon;
class TrayPresenter;

// The wizard and the tray of an AppUi made by createAppUi() once started,
// else null (for tests that drive the windows).
CMainWizardDialog* wizardOf(AppUi& ui);
TrayPresenter* trayOf(AppUi& ui);
CTrayNotifyIcon* trayIconOf(AppUi& ui);

}  // namespace varnelo::desktop
