// CDelayedNotifier: how a delayed handler hands a notification to the thread
// that delivers it. The only kind on this platform is the shared dispatch
// thread (CDelayedNotificationThread). Post is called from the watcher's
// worker and from threads that stop watches.
#pragma once

#include "CChangeNotification.h"

namespace varnelo::monitor {

class CDelayedNotifier {
 public:
  virtual ~CDelayedNotifier() = default;
  // Queues the notification for dispatch; false (and it is freed without
  // any callback) when there is no dispatch thread to take it.
  virtual bool Post(NotificationPtr notification) = 0;
};

}  // namespace varnelo::monitor
