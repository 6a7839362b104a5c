// CChangeNotification: one change on its way from the watcher's worker
// thread to the dispatch thread. Made by a CDelayedDirectoryChangeHandler,
// owned by the notifier's queue until it is dispatched, then freed. It
// holds a reference on the delayed handler that made it, so that handler
// stays valid until every notification posted for it has been dispatched.
// Not shared: one thread owns it at a time.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <system_error>

#include "CDirectoryChangeHandler.h"

namespace varnelo::monitor {

class CDelayedDirectoryChangeHandler;

struct CChangeNotification {
  CChangeNotification(CDelayedDirectoryChangeHandler* maker, ChangeKind changeKind,
                      std::string changedName, std::string changedNewName, std::error_code code,
                      size_t offset);
  ~CChangeNotification();
  CChangeNotification(const CChangeNotification&) = delete;
  CChangeNotification& operator=(const CChangeNotification&) = delete;

  CDelayedDirectoryChangeHandler* const handler;  // counted reference
  const ChangeKind kind;
  const std::string name;       // full path; the watched folder for kinds 5 to 7
  const std::string newName;    // renames only
  const std::error_code error;  // read errors and watch starts
  const size_t relativeOffset;  // where the path below the watched folder starts in `name`
};

using NotificationPtr = std::unique_ptr<CChangeNotification>;

}  // namespace varnelo::monitor
