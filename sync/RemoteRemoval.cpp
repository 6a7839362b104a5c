#include "RemoteRemoval.h"

#include <cstring>
#include <map>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ConflictNames.h"
#include "FileJournal.h"
#include "JournalRows.h"
#include "LocalRemoval.h"
#include "Log.h"
#include "MetaApi.h"
#include "RemoteHoldFile.h"
#include "SyncPaths.h"
#include "TransferCodes.h"
#include "platform/time.h"

namespace varnelo::uploader {

namespace {

// Conflicted-copy names tried for taking a file aside before giving up.
constexpr int kHoldAttempts = 5;

struct GetResult {
  varnelo_meta_get_result* p = nullptr;
  ~GetResult() { varnelo_meta_destroy_get_result(p); }
};

bool sameVersion(const uint8_t* ver, const sync::VersionSignature& sig) {
  return std::memcmp(ver, sig.data(), sig.size()) == 0;
}

std::string textOf(const char* text) {
  return text ? std::string(text) : std::string();
}

// What a reply says of a remote file that is as last synced: enough to tell
// afterwards whether a file taken aside is still that one (the move gives it
// a new version, so versions cannot be compared).
RemoteHold describe(const varnelo_meta_entry& e, const uint8_t* data, int32_t length) {
  RemoteHold seen;
  seen.size = e.fileSize;
  seen.editTime = textOf(e.editTime);
  if (data && length >= 0) seen.data.emplace(reinterpret_cast<const char*>(data), length);
  return seen;
}

bool sameFile(const RemoteHold& seen, const varnelo_meta_get_result& now) {
  const varnelo_meta_entry& e = now.entry;
  if (!(e.type & 1) || (e.type & 2) || e.fileSize != seen.size ||
      textOf(e.editTime) != seen.editTime) {
    return false;
  }
  if (!seen.data) return true;
  return now.data && now.dataLength >= 0 &&
         static_cast<size_t>(now.dataLength) == seen.data->size() &&
         std::memcmp(now.data, seen.data->data(), seen.data->size()) == 0;
}

// `remotePath` with its last name spelled as the service's reply spells it:
// a deletion found by a local scan has its path from the lower-cased
// journal, and a file given back must keep its own letter case.
std::string spelledAsService(const std::string& remotePath, const char* replyPath) {
  if (!replyPath) return remotePath;
  const std::string_view reply(replyPath);
  const std::string_view name = reply.substr(reply.rfind('/') + 1);
  const size_t slash = remotePath.rfind('/');
  if (!isSafeRemoteName(name) ||
      nameKey(name) != nameKey(std::string_view(remotePath).substr(slash + 1))) {
    return remotePath;
  }
  return remotePath.substr(0, slash + 1) + std::string(name);
}

// A free name beside `remotePath` to take the file aside under: its
// conflicted-copy name, numbered from the second attempt on. Should the
// engine stop before the deletion completes, the file stays there and is
// synced like any conflicted copy.
std::string holdPathFor(const std::string& remotePath, int attempt) {
  const size_t slash = remotePath.rfind('/');
  std::string name = conflictedCopyName(remotePath.substr(slash + 1), platform::currentLocalTime());
  if (attempt > 1) name.insert(name.rfind(')'), " " + std::to_string(attempt));
  return remotePath.substr(0, slash + 1) + name;
}

class Pruner {
 public:
  explicit Pruner(Context& context)
      : context_(context), holds_(context.remoteHolds()), file_(context.holdFile()) {}

  // Deletes the remote entry (described by `type`, `ver` and, for a file,
  // `seen`) where it still matches `node`; `kept` is set when anything of it
  // stays. `listed` says that `type` and `ver` come from the listing of the
  // folder above: they are read again right before a delete, since another
  // computer may have changed the entry while the entries before it were
  // being deleted.
  int entry(const std::string& remotePath, const JournalNode& node, uint32_t type,
            const uint8_t* ver, bool listed, RemoteHold seen, bool& kept) {
    const bool rowFolder = (node.row.type & sync::FileJournal::kTypeFolder) != 0;
    const bool remoteFolder = (type & 2) != 0;
    if (rowFolder != remoteFolder) return keep(remotePath, kept);
    if (sameVersion(ver, node.row.signature)) {
      if (listed) return again(remotePath, node, kept);
      seen.from = remotePath;
      seen.synced = node.row.signature;
      if (rowFolder) seen.folder = std::make_shared<const JournalNode>(node);
      return takeAside(std::move(seen), kept);
    }
    if (!rowFolder) return keep(remotePath, kept);
    return prune(remotePath, node, kept);
  }

  // Something below the folder changed (or it was never listed in full):
  // only the entries still as synced go, and the folder itself only once
  // nothing else is in it.
  int prune(const std::string& remotePath, const JournalNode& node, bool& kept) {
    GetResult listing;
    int rc = http::meta_list(context_.credentials(), remotePath, &listing.p);
    if (rc == codes::kNotFound) return codes::kOk;
    if (rc != codes::kOk) return rc;
    std::unordered_map<std::string, const JournalNode*> rows;
    // Entries of this folder that an earlier attempt took aside, by the
    // lower-cased name they stand under now.
    std::unordered_map<std::string, const RemoteHold*> held;
    for (const JournalNode& child : node.children) {
      rows.emplace(child.row.name, &child);
      if (const RemoteHold* hold = pendingHold(childPath(remotePath, child.row.name), child)) {
        held.emplace(nameKey(hold->path.substr(hold->path.rfind('/') + 1)), hold);
      }
    }
    bool keptBelow = false;
    const int32_t count = varnelo_array_size(listing.p->entries);
    for (int32_t i = 0; i < count; ++i) {
      if (context_.isStopping()) return codes::kStopped;
      varnelo_meta_entry e{};
      if (varnelo_meta_entry_array_at(listing.p->entries, i, &e) != codes::kOk || !e.path)
        return codes::kOtherFailure;
      std::string_view path(e.path);
      const std::string name(path.substr(path.rfind('/') + 1));
      if (auto h = held.find(nameKey(name)); h != held.end()) {
        RemoteHold hold = *h->second;
        hold.moved = true;  // found where it was taken to
        rc = finishHold(std::move(hold), keptBelow);
        if (rc != codes::kOk) return rc;
        continue;
      }
      auto it = isSafeRemoteName(name) ? rows.find(nameKey(name)) : rows.end();
      if (it == rows.end()) {
        keptBelow = true;  // new on the service since the last sync
        continue;
      }
      rc = entry(childPath(remotePath, name), *it->second, e.type, e.ver, true,
                 describe(e, nullptr, 0), keptBelow);
      if (rc != codes::kOk) return rc;
    }
    if (keptBelow) {
      kept = true;
      return codes::kOk;
    }
    return removeIfEmpty(remotePath, node, kept);
  }

  // The entry of `remotePath` that an earlier attempt took aside and could
  // not delete, while the journal's row is still the one it was taken for.
  const RemoteHold* pendingHold(const std::string& remotePath, const JournalNode& node) {
    auto it = holds_.find(sync::journalPathOf(remotePath));
    if (it == holds_.end()) return nullptr;
    if (it->second.synced != node.row.signature) {
      holds_.erase(it);  // the name was synced again since: a new start
      return nullptr;
    }
    return &it->second;
  }

  // Finishes deleting an entry taken aside: deleted when it is still what
  // was found as last synced, otherwise (written to between that check and
  // the move) given back its name, and `kept` is set where anything stays.
  // 404 when the hold was not known to be moved and nothing stands aside:
  // it is forgotten, and what stands at its own name is weighed as if it
  // had never been taken aside.
  int finishHold(RemoteHold hold, bool& kept) {
    holds_.erase(sync::journalPathOf(hold.from));
    const int rc = settle(std::move(hold), kept);
    // What is still held (this one again, when it failed) is what the
    // record keeps.
    record(nullptr);
    return rc;
  }

 private:
  int settle(RemoteHold hold, bool& kept) {
    if (!hold.checked) {
      GetResult taken;
      const int rc = hold.folder ? http::meta_list(context_.credentials(), hold.path, &taken.p)
                                 : http::meta_get(context_.credentials(), hold.path, &taken.p,
                                                  nullptr, false, 0);
      if (rc == codes::kNotFound) {
        if (hold.moved) return codes::kOk;  // deleted already
        log_write(kLogInfo, kModuleRemove, "nothing stands aside as %s, [%s] was not moved",
                  hold.path.c_str(), hold.from.c_str());
        return codes::kNotFound;
      }
      if (rc != codes::kOk) return remember(std::move(hold), rc);
      hold.moved = true;
      const bool same = hold.folder ? sameFolder(*hold.folder, *taken.p) : sameFile(hold, *taken.p);
      if (!same) return giveBack(std::move(hold), kept);
      hold.checked = true;
    }
    const int rc = remove(hold.path);
    if (rc != codes::kOk) return remember(std::move(hold), rc);
    return codes::kOk;
  }

  // Writes what is held, and `next` when given, to the record file (where
  // there is one). False when it could not be written.
  bool record(const RemoteHold* next) { return !file_ || file_->save(holds_, next); }

  // Deletes the remote entry `seen.from` if what is deleted is what `seen`
  // describes. It is first taken aside, one atomic move on the service:
  // whatever another computer writes to its name (or into it, for a folder)
  // from then on cannot go with it, and whatever it wrote just before is
  // noticed and given back instead of deleted.
  int takeAside(RemoteHold seen, bool& kept) {
    int rc = codes::kConflict;
    for (int attempt = 1; attempt <= kHoldAttempts && rc == codes::kConflict; ++attempt) {
      seen.path = holdPathFor(seen.from, attempt);
      // Recorded before the move is sent: should the engine stop before
      // the delete, the next run still knows what it moved, and where.
      if (!record(&seen)) return codes::kLocalFailure;
      rc = http::meta_move(context_.credentials(), seen.from, seen.path);
    }
    if (rc == codes::kNotFound || rc == codes::kConflict) {
      record(nullptr);                                // not moved
      if (rc == codes::kNotFound) return codes::kOk;  // gone already
    }
    if (rc != codes::kOk) {
      log_write(kLogError, kModuleRemove, "take remote entry aside %s, error:[%d]",
                seen.from.c_str(), rc);
      if (rc == codes::kConflict) return rc;
      // A failure that does not say whether the move was done (a lost
      // answer): the retry looks at what may stand aside first.
      const std::string key = sync::journalPathOf(seen.from);
      holds_[key] = std::move(seen);
      return rc;
    }
    seen.moved = true;
    return finishHold(std::move(seen), kept);
  }

  // A folder taken aside is still as synced when every entry in it is one
  // the journal knows, of the same kind and version. A moved folder keeps
  // the versions of what it holds, and a folder's version covers everything
  // below it, so one listing tells. Entries deleted meanwhile do not matter.
  static bool sameFolder(const JournalNode& synced, const varnelo_meta_get_result& now) {
    std::unordered_map<std::string_view, const sync::JournalEntry*> rows;
    for (const JournalNode& child : synced.children) rows.emplace(child.row.name, &child.row);
    const int32_t count = varnelo_array_size(now.entries);
    for (int32_t i = 0; i < count; ++i) {
      varnelo_meta_entry e{};
      if (varnelo_meta_entry_array_at(now.entries, i, &e) != codes::kOk || !e.path) return false;
      const std::string_view path(e.path);
      const std::string_view name = path.substr(path.rfind('/') + 1);
      if (!isSafeRemoteName(name)) return false;
      auto it = rows.find(nameKey(name));
      if (it == rows.end()) return false;
      const bool rowFolder = (it->second->type & sync::FileJournal::kTypeFolder) != 0;
      const bool entryFolder = (e.type & 2) != 0;
      const bool entryFile = (e.type & 1) != 0;
      if (rowFolder != entryFolder || rowFolder == entryFile ||
          !sameVersion(e.ver, it->second->signature)) {
        return false;
      }
    }
    return true;
  }

  int giveBack(RemoteHold hold, bool& kept) {
    log_write(kLogInfo, kModuleRemove, "remote entry changed while it was deleted, kept:[%s]",
              hold.from.c_str());
    const int rc = http::meta_move(context_.credentials(), hold.path, hold.from);
    if (hold.folder) {
      // What of it is still as synced goes, entry by entry, the rest stays.
      // When its name was taken meanwhile (an upload from another computer
      // made the folder again), that happens where it stands, and what
      // stays keeps the conflicted-copy name.
      if (rc == codes::kOk) return prune(hold.from, *hold.folder, kept);
      if (rc == codes::kConflict) return prune(hold.path, *hold.folder, kept);
      // A failure that does not say whether the move back was done: the
      // folder stands either aside or at its name again. The retry looks
      // aside first and, finding nothing there, weighs what stands at its
      // name, as it does after a move that may not have happened.
      hold.moved = false;
      return remember(std::move(hold), rc);
    }
    kept = true;
    if (rc != codes::kOk) {
      // It stays under its conflicted-copy name and is synced as such.
      log_write(kLogError, kModuleRemove, "cannot give back %s, it stays as %s, error:[%d]",
                hold.from.c_str(), hold.path.c_str(), rc);
    }
    return codes::kOk;
  }

  int remember(RemoteHold hold, int rc) {
    log_write(kLogError, kModuleRemove, "remote entry taken aside as %s not deleted, error:[%d]",
              hold.path.c_str(), rc);
    // The key is read before the hold is moved into the map.
    std::string key = sync::journalPathOf(hold.from);
    holds_[std::move(key)] = std::move(hold);
    return rc;
  }

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
    const varnelo_meta_get_result& r = *remote.p;
    return entry(remotePath, node, r.entry.type, r.entry.ver, false,
                 describe(r.entry, r.data, r.dataLength), kept);
  }

  // The folder whose synced entries were deleted one by one goes only while
  // nothing else is in it: an entry another computer added meanwhile stays,
  // and so does the folder. It is taken aside as one known to hold nothing
  // and deleted there only while it still holds nothing: an upload that
  // lands after the listing below then makes the folder again under its own
  // name, or is found aside and given back, instead of going with it.
  int removeIfEmpty(const std::string& remotePath, const JournalNode& node, bool& kept) {
    GetResult listing;
    const int rc = http::meta_list(context_.credentials(), remotePath, &listing.p);
    if (rc == codes::kNotFound) return codes::kOk;
    if (rc != codes::kOk) return rc;
    if (varnelo_array_size(listing.p->entries) > 0) return keep(remotePath, kept);
    auto empty = std::make_shared<JournalNode>();
    empty->row = node.row;
    RemoteHold seen;
    seen.from = remotePath;
    seen.synced = node.row.signature;
    seen.folder = std::move(empty);
    return takeAside(std::move(seen), kept);
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
  std::map<std::string, RemoteHold>& holds_;
  RemoteHoldFile* file_;  // null: holds are kept in memory only
};

}  // namespace

int deleteIfUnchanged(Context& context, const std::string& remotePath) {
  sync::FileJournal& journal = context.journal();
  const std::string journalPath = sync::journalPathOf(remotePath);
  int64_t id = 0;
  if (journal.lookupPath(journalPath, id) != 0) return codes::kOk;
  JournalNode node;
  if (readJournalTree(journal, id, node) != 0) return codes::kLocalFailure;

  Pruner pruner(context);
  bool kept = false;
  int rc = codes::kNotFound;
  if (const RemoteHold* hold = pruner.pendingHold(remotePath, node)) {
    rc = pruner.finishHold(*hold, kept);  // taken aside by an earlier attempt
  }
  if (rc == codes::kNotFound) {
    // Never taken aside, or an earlier attempt's move did not happen.
    GetResult remote;
    rc = http::meta_get(context.credentials(), remotePath, &remote.p, nullptr, false, 0);
    if (rc == codes::kOk) {
      const varnelo_meta_get_result& r = *remote.p;
      rc = pruner.entry(spelledAsService(remotePath, r.entry.path), node, r.entry.type, r.entry.ver,
                        false, describe(r.entry, r.data, r.dataLength), kept);
    } else if (rc == codes::kNotFound) {
      rc = codes::kOk;  // deleted on the service as well
    }
  }
  if (rc != codes::kOk) return rc;
  if (journal.removePath(journalPath) != 0) return codes::kLocalFailure;
  if (!kept) return codes::kOk;
  // The rows are gone; the folders above are listed again by the next
  // remote pass, which brings what stayed back to this computer.
  if (markFoldersOutOfStep(journal, journalPath) != 0) return codes::kLocalFailure;
  return codes::kUnchanged;
}

int finishRemoteHolds(Context& context) {
  std::vector<RemoteHold> pending;
  for (const auto& [key, hold] : context.remoteHolds()) pending.push_back(hold);
  sync::FileJournal& journal = context.journal();
  Pruner pruner(context);
  int result = codes::kOk;
  for (const RemoteHold& hold : pending) {
    if (context.isStopping()) return codes::kStopped;
    bool kept = false;
    const int rc = pruner.finishHold(hold, kept);
    if (rc == codes::kNotFound) continue;  // never moved: the scans decide as before
    if (rc != codes::kOk) {
      result = rc;
      continue;
    }
    // The row of the name it was taken from goes too, unless that name was
    // synced again meanwhile; what was given back is listed again.
    const std::string journalPath = sync::journalPathOf(hold.from);
    auto row = journalRow(journal, journalPath);
    if (row && row->signature == hold.synced && journal.removePath(journalPath) != 0)
      result = codes::kLocalFailure;
    if (kept && markFoldersOutOfStep(journal, journalPath) != 0) result = codes::kLocalFailure;
  }
  return result;
}

bool isRemoteHold(Context& context, const std::string& remotePath) {
  if (context.remoteHolds().empty()) return false;
  const std::string key = sync::journalPathOf(remotePath);
  for (const auto& [from, hold] : context.remoteHolds()) {
    if (sync::journalPathOf(hold.path) == key) return true;
  }
  return false;
}

}  // namespace varnelo::uploader
