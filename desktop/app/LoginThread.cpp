#include "LoginThread.h"

#include <QtGlobal>
#include <chrono>
#include <system_error>

#include "AppMessages.h"
#include "Application.h"

namespace varnelo::desktop {

bool LoginThread::start() {
  try {
    thread_ = std::thread([this] { run(); });
    return true;
  } catch (const std::system_error& e) {
    qWarning("login: no thread (%s); signing in on this one", e.what());
    return false;
  }
}

void LoginThread::stop() {
  stop_.set();
  if (thread_.joinable()) thread_.join();
}

void LoginThread::run() {
  app_.state().set(kAppConnecting);
  while (true) {
    int32_t rc;
    {
      auto lock = app_.engineLock();
      IVarnelo2* engine = app_.engine();
      rc = engine ? engine->loginWithSavedToken(&consumerToken()) : -4;
    }
    if (rc == 200) {
      app_.post(UM_START_SYNC, 0);
      return;
    }
    if (rc == 401 || rc == 404 || rc == -105) {
      app_.state().set(kAppLoginNeeded);
      app_.post(UM_SHOW_MAIN, kShowShow);
      return;
    }
    qWarning("login: signing in with the stored token answered %d; trying again", rc);
    if (stop_.waitFor(std::chrono::milliseconds(kRetryMs))) return;
  }
}

}  // namespace varnelo::desktop
