#include "CDelayedNotificationThread.h"

#include <thread>

#include "CDelayedDirectoryChangeHandler.h"
#include "Log.h"
#include "platform/queue.h"

namespace varnelo::monitor {
namespace {

using Queue = platform::CompletionQueue<NotificationPtr>;

// The queue the calling thread dispatches, when it is the dispatch thread.
thread_local Queue* tlsDispatchQueue = nullptr;

void runDispatchThread(Queue* queue) {
  tlsDispatchQueue = queue;
  NotificationPtr notification;
  while (queue->get(notification)) {
    CDelayedDirectoryChangeHandler::Dispatch(std::move(notification));
  }
  tlsDispatchQueue = nullptr;
}

// Owns the dispatch thread and its queue for the rest of the process. One
// thread for the whole life of the process (rather than one per period of
// use) keeps every receiver on a single thread even when a receiver stops
// and restarts watches from inside a callback.
class Dispatcher {
 public:
  static Dispatcher& instance() {
    static Dispatcher dispatcher;
    return dispatcher;
  }

  bool post(NotificationPtr notification) { return queue_.post(std::move(notification)); }

  ~Dispatcher() {
    queue_.close();  // what is queued is drained first
    if (thread_.get_id() == std::this_thread::get_id()) {
      // The process is exiting from inside a callback; the thread cannot
      // wait for itself and ends with the process.
      thread_.detach();
    } else {
      thread_.join();
    }
  }

 private:
  Dispatcher() : thread_(runDispatchThread, &queue_) {
    // The thread may log until it is joined at exit: make sure the logger
    // exists first, so that it is destroyed after this.
    Logger::instance();
  }

  Queue queue_;         // declared first: the thread uses it until joined
  std::thread thread_;  // the dispatch thread
};

}  // namespace

bool CDelayedNotificationThread::Post(NotificationPtr notification) {
  if (Dispatcher::instance().post(std::move(notification))) return true;
  log_write(kLogWarning, "monitor", "change notification dropped: no dispatch thread");
  return false;
}

void CDelayedNotificationThread::DispatchUntil(platform::Event& done) {
  if (!tlsDispatchQueue) {
    done.wait();
    return;
  }
  // Waiting here would wait for ourselves: deliver what is queued, in
  // order, until the awaited notification has been dispatched.
  NotificationPtr notification;
  while (!done.isSet() && tlsDispatchQueue->get(notification)) {
    CDelayedDirectoryChangeHandler::Dispatch(std::move(notification));
  }
}

}  // namespace varnelo::monitor
