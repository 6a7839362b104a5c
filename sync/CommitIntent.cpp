#include "CommitIntent.h"

#include <cstring>

#include "JournalRows.h"
#include "Log.h"
#include "MetaApi.h"
#include "RemoteKeys.h"
#include "TransferCodes.h"

namespace varnelo {

namespace {

struct GetResult {
  varnelo_meta_get_result* p = nullptr;
  ~GetResult() { varnelo_meta_destroy_get_result(p); }
};

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
                    remoteKeysOf(*remote.p, static_cast<uint64_t>(intent.chunkSize), keys) &&
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
