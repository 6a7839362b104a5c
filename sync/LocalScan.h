// The local scan: after every start and resume the sync thread walks the
// sync folder against the journal and queues every difference (new, gone,
// or changed in kind, size or time) in the updating set, folder by folder in
// name order. Sync thread only.
#pragma once

#include <cstdint>
#include <string>

#include "Context.h"

namespace varnelo::uploader {

// 200 when the walk completed; -103 when it stopped for a pause; -120 (and
// nothing queued) when the sync folder is missing; a journal code otherwise.
int syncLocalFiles(Context& context);

// The same walk below one synced folder, `folderId` its journal row: for a
// folder whose name now holds another folder (made or moved in while the
// deletion of the synced one waited), whose differences no event names.
// 200, or -103 when it stopped.
int syncLocalFolder(Context& context, const std::string& localFolder, int64_t folderId);

}  // namespace varnelo::uploader
