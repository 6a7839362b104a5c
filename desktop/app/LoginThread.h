// The login thread: signs in with the stored token, every 3 s again while
// the service cannot be reached, then posts UM_START_SYNC (signed in) or
// shows the login wizard (UM_SHOW_MAIN; the token was refused or none is
// stored). Started once at start; stop() ends the waiting and joins (an
// attempt in progress finishes first: the engine cannot be interrupted).
#pragma once

#include <thread>

#include "platform/sync_primitives.h"

namespace varnelo::desktop {

class Application;

class LoginThread {
 public:
  explicit LoginThread(Application& app) : app_(app) {}
  ~LoginThread() { stop(); }
  LoginThread(const LoginThread&) = delete;
  LoginThread& operator=(const LoginThread&) = delete;

  // False when the thread cannot be made (run() on the calling thread then).
  bool start();
  void stop();
  // The thread's body.
  void run();

  static constexpr int kRetryMs = 3000;

 private:
  Application& app_;
  platform::Event stop_{platform::Event::Reset::Manual};
  std::thread thread_;
};

}  // namespace varnelo::desktop
