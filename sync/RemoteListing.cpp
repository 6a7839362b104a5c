#include "RemoteListing.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "IoDownload.h"
#include "Log.h"
#include "MetaApi.h"
#include "SyncPaths.h"
#include "TransferCodes.h"
#include "platform/files.h"

namespace varnelo::downloader {

namespace files = platform::files;

namespace {

struct GetResult {
  varnelo_meta_get_result* p = nullptr;
  ~GetResult() { varnelo_meta_destroy_get_result(p); }
};

// The content the listing's element `index` carries for `entry`, kept when
// it is all of a small file and the allowance has room; anything else
// leaves the file to its own request. False when the element carried
// content that is not the file's (malformed, or of another length).
bool keepContent(const varnelo_array* entries, int32_t index, uint32_t limit,
                 ListedAllowance& allowance, RemoteEntry& entry) {
  if (entry.folder || entry.size == 0 || entry.size > limit) return true;
  std::vector<uint8_t> bytes;
  const int rc = http::meta_entry_inline_data(entries, index, bytes);
  if (rc == codes::kNotFound) return true;
  if (rc != codes::kOk || bytes.size() != entry.size) return false;
  entry.content = ListedContent::take(allowance, std::move(bytes));
  return true;
}

}  // namespace

FetchedListing fetchRemoteListing(Context& context, const std::string& remotePath,
                                  ListedAllowance* allowance) {
  FetchedListing fetched;
  GetResult result;
  const uint32_t inlineLimit = allowance ? context.settings().inlineLimit : 0;
  int rc = http::meta_list(context.credentials(), remotePath, &result.p, inlineLimit);
  if (rc != codes::kOk) {
    fetched.code = rc < -1024 ? (rc & 0x7fffffff) : rc;
    return fetched;
  }
  size_t refusedContent = 0;
  std::memcpy(fetched.listed.data(), result.p->entry.ver, fetched.listed.size());
  const int32_t count = varnelo_array_size(result.p->entries);
  std::vector<RemoteEntry>& out = fetched.entries;
  out.reserve(count > 0 ? count : 0);
  for (int32_t i = 0; i < count; ++i) {
    varnelo_meta_entry e{};
    if (varnelo_meta_entry_array_at(result.p->entries, i, &e) != codes::kOk || !e.path ||
        !(e.type & 3) || e.fileSize < 0) {
      return FetchedListing{codes::kOtherFailure, {}, {}, {}};
    }
    std::string_view path(e.path);
    RemoteEntry entry;
    entry.name = std::string(path.substr(path.rfind('/') + 1));
    if (!isSafeRemoteName(entry.name)) {
      fetched.unsafeNames.push_back(std::move(entry.name));
      continue;
    }
    entry.key = nameKey(entry.name);
    entry.folder = (e.type & 2) != 0;
    std::memcpy(entry.ver.data(), e.ver, entry.ver.size());
    entry.size = static_cast<uint64_t>(e.fileSize);
    entry.time = parseEditTime(e.editTime);
    if (inlineLimit > 0 && !keepContent(result.p->entries, i, inlineLimit, *allowance, entry))
      ++refusedContent;
    out.push_back(std::move(entry));
  }
  if (refusedContent > 0) {
    log_write(kLogWarning, kModuleSync,
              "listing of [%s]: content of %zu files not their own, fetched one by one",
              remotePath.c_str(), refusedContent);
  }
  std::sort(out.begin(), out.end(), [](const RemoteEntry& a, const RemoteEntry& b) {
    return a.key != b.key ? a.key < b.key : a.name < b.name;
  });
  return fetched;
}

int weighRemoteListing(Context& context, const std::string& remotePath,
                       const std::string& localFolder, FetchedListing&& fetched,
                       std::vector<RemoteEntry>& out, Signature& listed,
                       std::vector<std::string>& dropped, bool& leftOut) {
  if (fetched.code != codes::kOk) return fetched.code;
  listed = fetched.listed;
  for (const std::string& name : fetched.unsafeNames) {
    // Never turned into a local path: reported by the remote path only.
    const std::string shown = childPath(remotePath, name);
    log_write(kLogInfo, kModuleSync, "Unsupported path:[%s]", shown.c_str());
    context.reportResult(codes::kUnsupported, shown);
    dropped.push_back(nameKey(name));
    leftOut = true;
  }
  out = std::move(fetched.entries);
  // Names that differ only in case cannot both live in one local folder
  // next to the journal: the first one wins.
  size_t kept = 0;
  for (size_t i = 0; i < out.size(); ++i) {
    if (kept > 0 && out[i].key == out[kept - 1].key) {
      const std::string shown = files::joinPath(localFolder, out[i].name);
      log_write(kLogInfo, kModuleSync, "Unsupported path:[%s]", shown.c_str());
      context.reportResult(codes::kUnsupported, shown);
      leftOut = true;
      continue;
    }
    if (kept != i) out[kept] = std::move(out[i]);
    ++kept;
  }
  out.resize(kept);
  return codes::kOk;
}

int listRemoteFolder(Context& context, const std::string& remotePath,
                     const std::string& localFolder, std::vector<RemoteEntry>& out,
                     Signature& listed, std::vector<std::string>& dropped, bool& leftOut,
                     ListedAllowance* allowance) {
  return weighRemoteListing(context, remotePath, localFolder,
                            fetchRemoteListing(context, remotePath, allowance), out, listed,
                            dropped, leftOut);
}

}  // namespace varnelo::downloader
