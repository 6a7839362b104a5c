// The client's event sink: records what the engine reports during a sync
// (files sent and fetched, per-file results, the engine state) for the sync
// command's loop to print and to judge the outcome by. The engine calls it
// from its sync thread (and from the pausing thread); the command reads it
// from the main thread. Every member is guarded by mutex_.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/files.h"
#include "varnelo/IVarneloEvent.h"

namespace varnelo::cli {

class SyncEvents final : public IVarneloEvent {
 public:
  // Files are named relative to `root` (the sync folder) in lines and lists.
  explicit SyncEvents(std::string root);

  void downloaded(const char* path) override;
  void uploaded(const char* path) override;
  void statusChanged(int32_t state) override;
  void fileStateChanged(const char* path, int32_t state) override;
  void result(int32_t code, const char* path) override;

  // Log lines gathered since the last call, oldest first.
  std::vector<std::string> takeLines();
  // "path: reason" for every path whose latest result was a failure.
  std::vector<std::string> failures() const;
  int32_t engineState() const;
  uint64_t uploadedCount() const;
  uint64_t downloadedCount() const;

 private:
  std::string relative(const char* path) const;
  // True when an "unchanged" upload result only checked a file this run
  // placed and nobody changed since. Forgets the placed state. Under mutex_.
  bool isEchoOfDownload(int32_t code, const std::string& name, const char* path);
  // Records a file this run placed, forgetting the oldest beyond the limit.
  // Under mutex_.
  void remember(const std::string& name, const platform::files::EntryInfo& placed);

  const std::string root_;
  mutable std::mutex mutex_;  // guards everything below
  std::vector<std::string> lines_;
  std::map<std::string, int32_t> lastResult_;  // path ("" for a whole pass) → its failure
  std::map<std::string, int32_t> direction_;   // path → kFileUploading/kFileDownloading
  // Files this run placed, as they stood right after: the engine checks a
  // placed file again as a local change, which ends "unchanged" (-108) like
  // a small file that went up. Such an echo is no upload. The echo comes
  // within moments of the placement, so only the latest kArrivalsKept are
  // kept (in `arrivalOrder_`, oldest first): a download of a million files
  // does not keep a million entries.
  static constexpr size_t kArrivalsKept = 16384;
  struct Arrival {
    platform::files::EntryInfo placed;
    uint64_t serial = 0;  // which entry of arrivalOrder_ is this one's latest
  };
  std::map<std::string, Arrival> arrived_;
  std::deque<std::pair<std::string, uint64_t>> arrivalOrder_;
  uint64_t arrivals_ = 0;
  int32_t state_ = 0;
  uint64_t uploaded_ = 0;
  uint64_t downloaded_ = 0;
};

}  // namespace varnelo::cli
