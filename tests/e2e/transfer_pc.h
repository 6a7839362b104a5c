// One computer's engine state for end-to-end scenarios and benchmarks: a
// sync folder, journal, chunk index, filter, settings, sync context and a
// recording event sink, signed in with the given credentials. Drives the
// upload and download paths the way the sync thread will. Used from one
// thread; chunk tasks run on the I/O channel's threads.
#pragma once

#include <memory>
#include <string>

#include "ChunkCache.h"
#include "Context.h"
#include "Download.h"
#include "FileJournal.h"
#include "LocalScan.h"
#include "RecordingSink.h"
#include "SyncFilter.h"
#include "TempDir.h"
#include "Upload.h"
#include "platform/files.h"

namespace varnelo::e2e {

inline std::string patternBytes(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<char>((i * 131 + seed * 7 + i / 977) & 0xff);
  return bytes;
}

class Pc {
 public:
  explicit Pc(const varnelo_credentials* credentials, uint32_t chunkSize = 65536) {
    root_ = dir_ / "Sync";
    platform::files::createDirectories(root_);
    ok_ = journal_.open(dir_ / "basefs.db") == 0 &&
          cache_.open(dir_ / "chunks.db", dir_ / "cache") == 0;
    filter_.setFolders(root_, {});
    settings_.credentials = credentials;
    settings_.chunkSize = chunkSize;
    settings_.chunkCache = &cache_;
    Context::Setup setup;
    setup.settings = &settings_;
    setup.localRoot = root_;
    setup.filter = &filter_;
    setup.journal = &journal_;
    setup.sink = &sink_;
    context_ = std::make_unique<Context>(std::move(setup));
  }

  // False when the journal or the chunk index could not be opened.
  bool ok() const { return ok_; }
  Context& context() { return *context_; }
  sync::FileJournal& journal() { return journal_; }
  chunkcache::ChunkCache& cache() { return cache_; }
  SyncSettings& settings() { return settings_; }
  test::RecordingSink& sink() { return sink_; }
  const std::string& root() const { return root_; }
  std::string path(const std::string& rel) const { return platform::files::joinPath(root_, rel); }
  const test::TempDir& dir() const { return dir_; }

  bool write(const std::string& rel, const std::string& content) {
    platform::files::createDirectories(platform::files::parentPath(path(rel)));
    return !platform::files::writeFile(path(rel), content);
  }
  std::string read(const std::string& rel) const {
    std::string out;
    platform::files::readFile(path(rel), out);
    return out;
  }
  bool exists(const std::string& rel) const { return platform::files::exists(path(rel)); }

  // One queued path through the upload path.
  int upload(const std::string& rel) { return uploader::prepareUploading(*context_, path(rel)); }

  // Local scan, then every queued path (and what uploading queues in turn).
  bool push() {
    uploader::syncLocalFiles(*context_);
    return drain();
  }
  // False when the set never ran dry (something keeps queueing itself).
  bool drain() {
    for (int guard = 0; guard < 1000000; ++guard) {
      auto next = context_->updating().take();
      if (!next) return true;
      uploader::prepareUploading(*context_, *next);
    }
    return false;
  }

  // One remote pass.
  int pull(bool fullRecheck = false) { return downloader::syncDir(*context_, fullRecheck); }

 private:
  test::TempDir dir_;
  std::string root_;
  sync::FileJournal journal_;
  chunkcache::ChunkCache cache_;
  sync::SyncFilter filter_;
  SyncSettings settings_;
  test::RecordingSink sink_;
  std::unique_ptr<Context> context_;
  bool ok_ = false;
};

}  // namespace varnelo::e2e
