// The pipe server of the running instance: takes the command lines that
// later instances hand over and has them handled on the UI thread, one at a
// time, while the sender waits. A message is taken only from the same user
// (the platform's pipe checks the peer), as valid UTF-8 of at most 1,023
// characters; "-closepipe" ends the server. Any other message is dropped
// with a log line.
//
// Threads: start, setTarget, clearTarget and stop on the UI thread; the
// handler runs on the pipe's own thread and blocks it until the UI thread
// has handled the line (or the server is stopping).
#pragma once

#include <QObject>
#include <QPointer>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/local_pipe.h"
#include "platform/sync_primitives.h"

namespace varnelo::desktop {

// The pipe named after the application's instance id.
inline constexpr const char* kHandOverPipe = "{C27A6189-DF1C-467b-9E40-233BF6A2BF67}";
inline constexpr const char* kClosePipe = "-closepipe";

class HandOverServer {
 public:
  using Handler = std::function<void(const QString& line)>;

  HandOverServer() = default;
  ~HandOverServer() { stop(); }
  HandOverServer(const HandOverServer&) = delete;
  HandOverServer& operator=(const HandOverServer&) = delete;

  // Creates the pipe and its thread; false (logged) when the pipe cannot be
  // made: later instances then cannot hand over.
  bool start(const std::string& pipeName = kHandOverPipe);
  // Where lines go: `handler` runs on `context`'s thread. A line that comes
  // before the first setTarget waits for it (the program is still starting;
  // its sender has gone on already); after clearTarget lines are dropped.
  void setTarget(QObject* context, Handler handler);
  void clearTarget();
  // Sends "-closepipe" to itself (waiting at most 500 ms to be taken), then
  // ends the server regardless and joins its thread.
  void stop();
  bool serving() const { return server_.listening(); }

 private:
  bool handle(std::string_view message);

  std::string pipeName_;
  platform::PipeServer server_;
  // Guards context_, handler_, cleared_, stopping_ and pending_.
  std::mutex targetMutex_;
  std::condition_variable targetChanged_;  // a target set or cleared, or stopping
  QPointer<QObject> context_;
  Handler handler_;
  bool cleared_ = false;
  bool stopping_ = false;
  // Set when the line in hand has been handled; stop() sets it too, so the
  // pipe's thread never waits for a UI thread that has left its loop.
  std::shared_ptr<platform::Event> pending_;
};

}  // namespace varnelo::desktop
