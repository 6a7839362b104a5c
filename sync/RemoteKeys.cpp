#include "RemoteKeys.h"

#include "ChunkKeys.h"
#include "KeyList.h"
#include "TransferCodes.h"

namespace varnelo {

bool remoteKeysOf(const varnelo_meta_get_result& result, uint64_t chunkSize,
                  std::vector<ChunkKey>& keys) {
  const varnelo_meta_entry& e = result.entry;
  keys.clear();
  if (!(e.type & 1) || e.fileSize < 0) return false;
  const auto size = static_cast<uint64_t>(e.fileSize);
  if (size == 0) return true;
  if (result.data) {
    if (result.dataLength < 0 || static_cast<uint64_t>(result.dataLength) != size ||
        size > chunkSize)
      return false;
    keys.push_back(sha1Of(result.data, size));
    return true;
  }
  if (!result.dataurl || chunkSize == 0 || chunkSize > UINT32_MAX) return false;
  uint32_t stored = 0;
  if (http::key_list_chunk_size(result.dataurl, stored) != codes::kOk || stored != chunkSize)
    return false;
  const uint64_t count = chunkCountOf(size, chunkSize);
  if (count > INT32_MAX) return false;
  keys.resize(count);
  return http::decode_key_list(result.dataurl, stored, static_cast<int32_t>(count),
                               keys.front().data()) == codes::kOk;
}

}  // namespace varnelo
