// IMonitor: the local change monitor as the engine drives it. It watches the
// registered folders with everything below them and reports each change to
// its event sink (IMonitorEvent) on its dispatch thread. Operations may be
// called from any thread (they serialise on the monitor's lock), but not
// from inside another operation of the same monitor. The object is destroyed
// only by release().
#pragma once

#include <cstdint>

#include "varnelo/IMonitorEvent.h"

namespace varnelo {

class IMonitor {
 public:
  // Stops every watch, then destroys the object.
  virtual void release() = 0;
  // Watches every registered folder. 200.
  virtual int32_t start() = 0;
  // Ends every watch; events already queued are delivered first. 200.
  virtual int32_t stop() = 0;
  // Registers a folder (UTF-8); watched at once when started. 200; -101 when
  // the path is not an existing folder; -4 when it is not valid UTF-8.
  virtual int32_t addDirectory(const char* path) = 0;
  virtual int32_t removeDirectory(const char* path) = 0;
  virtual int32_t removeAllDirectories() = 0;
  // Wildcard patterns ("*", "?", case-sensitive) tested against each changed
  // path relative to its watched folder; a match is not reported. A changed
  // list restarts the watches when started. 200; -4 for a pattern that is
  // not valid UTF-8 (nothing changes then).
  virtual int32_t setExcludes(const char* const* patterns, uint32_t count) = 0;
  // The receiver of events (not owned; null drops events).
  virtual int32_t setEventSink(IMonitorEvent* sink) = 0;

 protected:
  ~IMonitor() = default;
};

}  // namespace varnelo
