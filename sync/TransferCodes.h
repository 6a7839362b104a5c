// Result codes of the transfer paths and chunk tasks, named once so that the
// upload path, the download path and the sync context agree on them. Values
// share the engine's result space (HTTP statuses, libcurl codes, negatives).
#pragma once

namespace varnelo::codes {

inline constexpr int kOk = 200;
inline constexpr int kPartial = 298;
inline constexpr int kQuotaExceeded = 402;
inline constexpr int kNotFound = 404;
inline constexpr int kConflict = 409;
inline constexpr int kOtherFailure = -1;
inline constexpr int kLocalFailure = -4;      // disk, journal or size mismatch
inline constexpr int kStopped = -103;         // stopping, or a sibling chunk failed
inline constexpr int kBadChunk = -106;        // bytes do not hash to the key
inline constexpr int kVersionChanged = -107;  // remote version is not the expected one
inline constexpr int kUnchanged = -108;       // nothing to send, or sent as a small file
inline constexpr int kFileChanged = -109;     // source changed while it was sent
inline constexpr int kReplacedLocal = -111;   // downloaded over an existing local file
inline constexpr int kReplacedRemote = -112;  // uploaded over an existing remote file
inline constexpr int kUnsupported = -113;     // a name that cannot exist locally
inline constexpr int kCancelled = -114;
inline constexpr int kBadReply = -119;         // reply body is not JSON
inline constexpr int kSyncRootMissing = -120;  // the sync folder is missing or unmounted
// Another folder stands where the sync folder was (marker, device or inode
// differ), or a mount point below it went away: nothing is touched.
inline constexpr int kSyncRootUnavailable = -122;
// Deletions held back until the user confirms them (too many at once).
inline constexpr int kDeletionsHeld = -123;

}  // namespace varnelo::codes
