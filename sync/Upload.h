// The upload path: publishes one local path at a time to the service. The
// sync thread hands each path from the updating or retry set to
// prepareUploading, which classifies it by what is on disk now: an existing
// file is uploaded, an existing folder is created on the service, a path
// that is gone is deleted there. Sync thread only.
#pragma once

#include <string>

#include "Context.h"

namespace varnelo::uploader {

// Entry point for one queued local path (UTF-8). Returns the operation's
// code; the per-file outcome also reaches the event sink through uploadDone.
int prepareUploading(Context& context, const std::string& localPath);

int uploadFile(Context& context, const std::string& localPath, const std::string& remotePath);
int uploadFolder(Context& context, const std::string& localPath, const std::string& remotePath);
int deleteRemote(Context& context, const std::string& localPath, const std::string& remotePath);

// Queues every entry of the local folder (case twins too) for the upload
// path, which decides each one: for a folder just recorded in the journal,
// what it holds is known from nowhere else.
void queueFolderEntries(Context& context, const std::string& localFolder);
// The same for the `made` nearest folders above `localPath`: those whose
// journal rows were added only now, for the path below them that went first
// (putRowWithParents), so their own entries were never queued.
void queueMadeFolders(Context& context, const std::string& localPath, int made);

}  // namespace varnelo::uploader
