// Deleting on the service what was deleted (or replaced) locally, but only
// what is still as last synced: a remote change this computer never saw
// wins over the local deletion. A file goes only while its remote version
// equals the journal's; a folder whose version changed is walked, and only
// the entries below it that are still as synced are deleted, each read
// again right before its delete, and the folder itself only while nothing
// else came into it meanwhile (taken aside as an empty folder, below).
// A folder that holds what this computer left out (excluded, or not to be
// stored here) has an all-zero version in the journal, so it is always
// walked and what it never had stays. Whatever stays
// has its journal rows forgotten (and the folders above marked out of step),
// so the next remote pass brings the newer content back. Used by the upload
// path on the sync thread.
//
// The service deletes whatever stands at a path when the request arrives, so
// a file or folder found as synced is first moved aside under its
// conflicted-copy name (one atomic step) and deleted there only when it is
// still what was synced: a file of the same size, time and inline bytes, a
// folder whose every entry has the journal's version (a folder's version
// covers all below it). An upload from another computer that lands between
// the check and the delete is given back its name instead of being deleted
// with it; a folder given back is walked as above, so only what is new or
// changed in it stays. What is taken aside is recorded (RemoteHoldFile.h)
// before the move is sent and until its deletion went through; a deletion
// that fails after the move is finished by a retry, at the start of the
// next remote pass, or by the next run of the engine should it stop (or be
// killed) first. A recorded move that never happened deletes nothing by
// itself: with nothing found aside, the entry is weighed where it stands.
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

// Finishes the deletions of files and folders taken aside that an earlier
// attempt could not complete. 200, or the code of a request that failed again (those stay
// remembered).
int finishRemoteHolds(Context& context);

// True while `remotePath` is a file or folder this computer took aside to
// delete: the remote pass leaves it alone.
bool isRemoteHold(Context& context, const std::string& remotePath);

}  // namespace varnelo::uploader
