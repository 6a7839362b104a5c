// The download path: brings remote changes into the sync folder. A remote
// pass (syncDir) lists the service's folders from "home" down, merges each
// listing with the journal and turns every difference into work: create a
// local folder, download a file (through a resumable part file, moved into
// place with one atomic rename), keep a locally changed file as a
// conflicted copy, or remove what was deleted on the service without losing
// local changes. Sync thread only: it decides and completes every file in
// order, while chunks, and the whole transfer of files of one chunk (several
// at once, DownloadWindow.h), move on the I/O channel. The walk is
// RemotePass.h, one folder's listing RemoteListing.h, a file on its way down
// FileDownload.h and its placing DownloadCompletion.h.
#pragma once

#include <string>

#include "Context.h"

namespace varnelo::downloader {

// One remote pass over the whole tree. A full recheck lists every folder
// even when its signature is unchanged. 200, or the first failing code of
// the root listing (-120 when the sync folder is missing: nothing is done).
int syncDir(Context& context, bool fullRecheck);

// Applies the remote deletion of the entry at `journalPath` to `localPath`.
int removePath(Context& context, const std::string& localPath, const std::string& journalPath);

}  // namespace varnelo::downloader
