#include "CommitIntent.h"

#include <cstring>

#include "ChunkKeys.h"
#include "JournalRows.h"
#include "KeyList.h"
#include "Log.h"
#include "MetaApi.h"
#include "TransferCodes.h"

namespace varnelo {

namespace {

struct GetResult {
  varnelo_meta_get_result* p = nullptr;
  ~GetResult() { varnelo_meta_destroy_get_result(p); }
};

// The keys of the stored file `result` describes, cut at `chunkSize`; false
// when they cannot be had at that size.
bool remoteKeys(const varnelo_meta_get_result& result, uint64_t chunkSize,
                std::vector<ChunkKey>& keys) {
  const varnelo_meta_entry& e = result.entry;
  const auto size = static_cast<uint64_t>(e.fileSize);
  keys.clear();
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

}  // namespace

std::string keysDigestOf(const std::vector<ChunkKey>& keys) {
  static const uint8_t kNone = 0;
  const ChunkKey digest = sha1Of(keys.empty() ? &kNone : keys.front().data(), keys.size() * 20);
  return std::string(reinterpret_cast<const char*>(digest.data()), digest.size());
}

bool settleUnfinishedCommit(Context& context, const std::string& remotePath,
                            const std::string& journalPath) {
  sync::FileJournal& journal = context.journal();
  sync::CommitIntent intent;
  if (journal.getCommitIntent(journalPath, intent) != 0) return false;
  GetResult remote;
  const int code = http::meta_get(context.credentials(), remotePath, &remote.p, nullptr, false, 0);
  if (code != codes::kOk && code != codes::kNotFound) {
    log_write(kLogError, kModuleSync, "cannot settle the unfinished commit of:[%s], error:[%d]",
              remotePath.c_str(), code);
    return false;  // asked again at the next look at the path
  }
  const varnelo_meta_entry* e = code == codes::kOk ? &remote.p->entry : nullptr;
  std::vector<ChunkKey> keys;
  const bool ours = e && (e->type & 1) && e->fileSize == intent.fileSize && intent.chunkSize > 0 &&
                    remoteKeys(*remote.p, static_cast<uint64_t>(intent.chunkSize), keys) &&
                    keysDigestOf(keys) == intent.keysDigest;
  if (!ours) {
    log_write(kLogInfo, kModuleSync, "unfinished commit of:[%s] did not take", remotePath.c_str());
    journal.removeCommitIntent(journalPath);
    return false;
  }
  sync::VersionSignature ver;
  std::memcpy(ver.data(), e->ver, ver.size());
  auto batch = journal.batch();  // the row and the intent's end together
  if (putRowWithParents(journal, journalPath, sync::FileJournal::kTypeFile, ver,
                        static_cast<uint64_t>(intent.fileSize),
                        static_cast<uint64_t>(intent.editTime), nullptr, intent.stamp) != 0) {
    return false;
  }
  journal.removeCommitIntent(journalPath);
  log_write(kLogInfo, kModuleSync, "unfinished commit of:[%s] took; recorded as synced",
            remotePath.c_str());
  return true;
}

}  // namespace varnelo
