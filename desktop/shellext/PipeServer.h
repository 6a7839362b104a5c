// The replacement pipe of one process: claims the first free pipe number of
// 1..99, loads the implementation and serves the commands "0" + path
// (replace the library, then tell the other numbers "1"), "1" (load if not
// loaded) and "2" (stop). See VARNELO_SHELLEXT_PIPE_FORMAT in
// varnelo/shellproc.h for the message format.
//
// Messages from another user never arrive (the pipe admits only this
// user); a message longer than 2,048 bytes, or one that is not valid UTF-8,
// is ignored (the platform's pipe drops and logs them).
//
// Threads: start() and stop() from one owner thread; the pipe thread is the
// only other thread and is always joined by stop() (or the destructor).
#pragma once

#include <platform/local_pipe.h>
#include <platform/sync_primitives.h>

#include <string>
#include <thread>

#include "ShellExtState.h"

namespace varnelo::shellext {

// "{52AE308F-1E38-4870-9D78-D5714C47A7D8}-7" for 7.
std::string pipeName(int number);
// Sends one command message to the pipe `name`; false when nobody serves it.
bool sendPipeCommand(const std::string& name, std::string_view message);

class PipeServer {
 public:
  explicit PipeServer(ShellExtState& state) : state_(state) {}
  ~PipeServer() { stop(); }
  PipeServer(const PipeServer&) = delete;
  PipeServer& operator=(const PipeServer&) = delete;

  // Starts the pipe thread unless it runs. It loads the implementation
  // whether or not a number was free.
  void start();
  // Sends "2" to the own pipe (and stops the pipe directly, should that not
  // arrive) and joins the thread, which unloads the implementation on its
  // way out when it served a number (without one it was left loaded).
  void stop();

  // The number this process serves, 0 while none (not yet, or all taken).
  int number() const noexcept { return number_.load(); }
  // True once the thread has claimed a number or given up.
  bool ready() const noexcept { return ready_.load(); }

 private:
  void run();
  void handle(std::string_view message);
  void tellOthers();

  ShellExtState& state_;
  platform::PipeServer pipe_;  // listened on and served by the pipe thread
  std::thread thread_;
  std::atomic<int> number_{0};
  std::atomic<bool> ready_{false};
  platform::Event claimed_{platform::Event::Reset::Manual};  // set with ready_; stop() waits on it
};

}  // namespace varnelo::shellext
