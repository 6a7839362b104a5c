// Deleting on the service what was deleted (or replaced) locally, but only
// what is still as last synced: a remote change this computer never saw
// wins over the local deletion. A file goes only while its remote version
// equals the journal's; a folder whose version changed is walked, and only
// the entries below it that are still as synced are deleted, each read
// again right before its delete, and the folder itself only while nothing
// else came into it meanwhile (the service's delete takes no expected
// version, so what is checked is only ever one request old). Whatever stays
// has its journal rows forgotten (and the folders above marked out of step),
// so the next remote pass brings the newer content back. Used by the upload
// path on the sync thread.
#pragma once

#include <string>

#include "Context.h"

namespace varnelo::uploader {

// Deletes the remote entry of `remotePath` as far as it is unchanged since
// the last sync. 200 when it is gone (also when it was gone already, or the
// journal never knew it) and its journal rows are removed; -108 when a
// remote change kept all or part of it (nothing changed was deleted, its
// rows are forgotten); otherwise the failing request's code, with the
// journal unchanged so that a retry starts over.
int deleteIfUnchanged(Context& context, const std::string& remotePath);

}  // namespace varnelo::uploader
