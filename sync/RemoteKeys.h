// The chunk keys of a stored file, from its metadata reply: the one key of
// inline data, or the list its data address carries. Used where this
// computer's content is compared with the service's without a transfer.
// Thread safe; blocks only when the list has to be fetched.
#pragma once

#include <cstdint>
#include <vector>

#include "Digest.h"
#include "varnelo/meta.h"

namespace varnelo {

// The keys of the file `result` describes, cut at `chunkSize`; false when
// they cannot be had at that size (another size stored, a malformed reply).
bool remoteKeysOf(const varnelo_meta_get_result& result, uint64_t chunkSize,
                  std::vector<ChunkKey>& keys);

}  // namespace varnelo
