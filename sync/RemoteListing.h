// One folder's listing from the service, checked before the remote pass
// weighs it: names that could not be stored here are reported and left
// out, and of names that differ only in case the first one is kept. Called
// by the remote pass (RemotePass.h) on the sync thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Context.h"
#include "ListedContent.h"
#include "TempNames.h"
#include "TransferCodes.h"
#include "platform/time.h"

namespace varnelo::downloader {

// One element of a folder listing, checked.
struct RemoteEntry {
  std::string name;
  std::string key;  // nameKey(name)
  bool folder = false;
  Signature ver{};
  uint64_t size = 0;
  std::optional<platform::FileTime> time;  // the entry's edit time, when it has one
  // A small file's bytes when they came with the listing (exactly `size`
  // of them), until its download takes them or the walk passes it by:
  // the walk reads the listing as const and only moves these out.
  mutable ListedContent content;
};

// A folder's listing as the service sent it, read but not yet weighed:
// entries sorted by key (then name), with their small files' content where
// it came and the allowance had room. Names that could never be stored
// here are only in `unsafeNames`, in the listing's order. Made on any
// thread (the listings fetched ahead, ListingAhead.h).
struct FetchedListing {
  int code = codes::kOk;
  Signature listed{};
  std::vector<RemoteEntry> entries;
  std::vector<std::string> unsafeNames;
};

// Fetches and reads the listing of `remotePath`. With an `allowance`, where
// the service offers it, small files' content is asked for too.
FetchedListing fetchRemoteListing(Context& context, const std::string& remotePath,
                                  ListedAllowance* allowance);

// Weighs a fetched listing on the sync thread (see listRemoteFolder) and
// returns its code.
int weighRemoteListing(Context& context, const std::string& remotePath,
                       const std::string& localFolder, FetchedListing&& fetched,
                       std::vector<RemoteEntry>& out, Signature& listed,
                       std::vector<std::string>& dropped, bool& leftOut);

// Lists the folder; `out` gets its entries sorted by key, `listed` the
// folder's own version. `dropped` gets the lower-cased names of entries
// refused as unsafe, whose journal rows must not read as deleted;
// `leftOut` is set when any listed entry is not taken (unsafe, a case twin).
// With an `allowance`, where the service offers it, the listing asks for
// the content of small files and keeps what the allowance lets it.
int listRemoteFolder(Context& context, const std::string& remotePath,
                     const std::string& localFolder, std::vector<RemoteEntry>& out,
                     Signature& listed, std::vector<std::string>& dropped, bool& leftOut,
                     ListedAllowance* allowance = nullptr);

}  // namespace varnelo::downloader
