// CDelayedNotificationThread: the notifier that queues notifications for the
// one dispatch thread of the process, which delivers them in the order they
// were posted. The thread starts with the first notification and runs until
// the process exits (it is joined then, after draining its queue).
//
// Thread safety: Post is safe from any thread.
// DispatchUntil is for a thread that must wait for a notification it has
// just posted: on the dispatch thread itself it delivers queued
// notifications meanwhile (waiting there would deadlock), elsewhere it
// simply waits.
#pragma once

#include "CDelayedNotifier.h"
#include "platform/sync_primitives.h"

namespace varnelo::monitor {

class CDelayedNotificationThread final : public CDelayedNotifier {
 public:
  bool Post(NotificationPtr notification) override;

  // Returns once `done` is set; `done` must be set by the dispatch of a
  // notification that is already queued.
  static void DispatchUntil(platform::Event& done);
};

}  // namespace varnelo::monitor
