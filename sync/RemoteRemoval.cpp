#include "RemoteRemoval.h"

#include <cstring>
#include <unordered_map>

#include "FileJournal.h"
#include "JournalRows.h"
#include "LocalRemoval.h"
#include "Log.h"
#include "MetaApi.h"
#include "SyncPaths.h"
#include "TransferCodes.h"

namespace varnelo::uploader {

namespace {

struct GetResult {
  varnelo_meta_get_result* p = nullptr;
  ~GetResult() { varnelo_meta_destroy_get_result(p); }
};

bool sameVersion(const uint8_t* ver, const sync::VersionSignature& sig) {
  return std::memcmp(ver, sig.data(), sig.size()) == 0;
}

class Pruner {
 public:
  explicit Pruner(Context& context) : context_(context) {}

  // Deletes the remote entry (described by `type` and `ver`) where it still
  // matches `node`; `kept` is set when anything of it stays. `listed` says
  // that `type` and `ver` come from the listing of the folder above: they
  // are read again right before a delete, since another computer may have
  // changed the entry while the entries before it were being deleted.
  int entry(const std::string& remotePath, const JournalNode& node, uint32_t type,
            const uint8_t* ver, bool listed, bool& kept) {
    const bool rowFolder = (node.row.type & sync::FileJournal::kTypeFolder) != 0;
    const bool remoteFolder = (type & 2) != 0;
    if (rowFolder != remoteFolder) return keep(remotePath, kept);
    if (sameVersion(ver, node.row.signature)) {
      return listed ? again(remotePath, node, kept) : remove(remotePath);
    }
    if (!rowFolder) return keep(remotePath, kept);
    // Something below changed (or the folder was never listed in full):
    // only the entries still as synced go.
    GetResult listing;
    int rc = http::meta_list(context_.credentials(), remotePath, &listing.p);
    if (rc == codes::kNotFound) return codes::kOk;
    if (rc != codes::kOk) return rc;
    std::unordered_map<std::string, const JournalNode*> rows;
    for (const JournalNode& child : node.children) rows.emplace(child.row.name, &child);
    bool keptBelow = false;
    const int32_t count = varnelo_array_size(listing.p->entries);
    for (int32_t i = 0; i < count; ++i) {
      if (context_.isStopping()) return codes::kStopped;
      varnelo_meta_entry e{};
      if (varnelo_meta_entry_array_at(listing.p->entries, i, &e) != codes::kOk || !e.path)
        return codes::kOtherFailure;
      std::string_view path(e.path);
      const std::string name(path.substr(path.rfind('/') + 1));
      auto it = isSafeRemoteName(name) ? rows.find(nameKey(name)) : rows.end();
      if (it == rows.end()) {
        keptBelow = true;  // new on the service since the last sync
        continue;
      }
      rc = entry(childPath(remotePath, name), *it->second, e.type, e.ver, true, keptBelow);
      if (rc != codes::kOk) return rc;
    }
    if (keptBelow) {
      kept = true;
      return codes::kOk;
    }
    return removeIfEmpty(remotePath, kept);
  }

 private:
  int keep(const std::string& remotePath, bool& kept) {
    log_write(kLogInfo, kModuleRemove, "remote entry changed since the last sync, kept:[%s]",
              remotePath.c_str());
    kept = true;
    return codes::kOk;
  }

  // Reads the entry again and deletes what of it is still as synced.
  int again(const std::string& remotePath, const JournalNode& node, bool& kept) {
    GetResult remote;
    const int rc = http::meta_get(context_.credentials(), remotePath, &remote.p, nullptr, false, 0);
    if (rc == codes::kNotFound) return codes::kOk;
    if (rc != codes::kOk) return rc;
    return entry(remotePath, node, remote.p->entry.type, remote.p->entry.ver, false, kept);
  }

  // The folder whose synced entries were deleted one by one goes only while
  // nothing else is in it: an entry another computer added meanwhile stays,
  // and so does the folder.
  int removeIfEmpty(const std::string& remotePath, bool& kept) {
    GetResult listing;
    const int rc = http::meta_list(context_.credentials(), remotePath, &listing.p);
    if (rc == codes::kNotFound) return codes::kOk;
    if (rc != codes::kOk) return rc;
    if (varnelo_array_size(listing.p->entries) > 0) return keep(remotePath, kept);
    return remove(remotePath);
  }

  int remove(const std::string& remotePath) {
    int rc =
        http::meta_delete(context_.credentials(), remotePath, context_.settings().requestTimeoutMs);
    if (rc == codes::kOk || rc == codes::kPartial || rc == codes::kNotFound) return codes::kOk;
    log_write(kLogError, kModuleRemove, "remove remote fs entry %s, error:[%d]", remotePath.c_str(),
              rc);
    return rc;
  }

  Context& context_;
};

}  // namespace

int deleteIfUnchanged(Context& context, const std::string& remotePath) {
  sync::FileJournal& journal = context.journal();
  const std::string journalPath = sync::journalPathOf(remotePath);
  int64_t id = 0;
  if (journal.lookupPath(journalPath, id) != 0) return codes::kOk;
  JournalNode node;
  if (readJournalTree(journal, id, node) != 0) return codes::kLocalFailure;

  GetResult remote;
  int rc = http::meta_get(context.credentials(), remotePath, &remote.p, nullptr, false, 0);
  bool kept = false;
  if (rc == codes::kOk) {
    rc = Pruner(context).entry(remotePath, node, remote.p->entry.type, remote.p->entry.ver, false,
                               kept);
  } else if (rc == codes::kNotFound) {
    rc = codes::kOk;  // deleted on the service as well
  }
  if (rc != codes::kOk) return rc;
  if (journal.removePath(journalPath) != 0) return codes::kLocalFailure;
  if (!kept) return codes::kOk;
  // The rows are gone; the folders above are listed again by the next
  // remote pass, which brings what stayed back to this computer.
  if (markFoldersOutOfStep(journal, journalPath) != 0) return codes::kLocalFailure;
  return codes::kUnchanged;
}

}  // namespace varnelo::uploader
