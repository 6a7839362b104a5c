// A sync context over real local parts (journal, filter, chunk cache) in a
// fresh temporary folder, for tests of the transfer paths that need no
// service: the local scan, remote deletions, local chunk copies.
#pragma once

#include <memory>
#include <string>

#include "ChunkCache.h"
#include "Context.h"
#include "FileJournal.h"
#include "SyncFilter.h"
#include "TempDir.h"
#include "platform/files.h"

namespace varnelo::test {

class LocalContext {
 public:
  explicit LocalContext(IVarneloEvent* sink = nullptr) {
    root_ = dir_ / "Sync";
    platform::files::createDirectories(root_);
    journal_.open(dir_ / "basefs.db");
    journal_.put(sync::FileJournal::kRootId, "home", sync::FileJournal::kTypeFolder, {}, 0, 0);
    cache_.open(dir_ / "chunks.db", dir_ / "cache");
    filter_.setFolders(root_, {});
    settings_.chunkCache = &cache_;
    Context::Setup setup;
    setup.settings = &settings_;
    setup.localRoot = root_;
    setup.filter = &filter_;
    setup.journal = &journal_;
    setup.sink = sink;
    context_ = std::make_unique<Context>(std::move(setup));
  }

  Context& context() { return *context_; }
  sync::FileJournal& journal() { return journal_; }
  chunkcache::ChunkCache& cache() { return cache_; }
  SyncSettings& settings() { return settings_; }
  const std::string& root() const { return root_; }
  std::string path(const std::string& rel) const { return platform::files::joinPath(root_, rel); }
  const TempDir& dir() const { return dir_; }

  // Writes a file and records it in the journal as synced.
  // Folders on the way are created and recorded too.
  void synced(const std::string& rel, const std::string& content) {
    for (size_t slash = rel.find('/'); slash != std::string::npos;
         slash = rel.find('/', slash + 1)) {
      platform::files::createDirectories(path(rel.substr(0, slash)));
      record(rel.substr(0, slash));
    }
    platform::files::writeFile(path(rel), content);
    record(rel);
  }
  void record(const std::string& rel) {
    platform::files::EntryInfo info;
    platform::files::stat(path(rel), info);
    const bool folder = info.type == platform::files::EntryType::Directory;
    const std::string jp = sync::journalPathOf("home/" + rel);
    journal_.putPath(jp, folder ? 2 : 1, sync::VersionSignature{1}, folder ? 0 : info.size,
                     folder ? 0 : info.lastWrite);
  }

 private:
  TempDir dir_;
  std::string root_;
  sync::FileJournal journal_;
  chunkcache::ChunkCache cache_;
  sync::SyncFilter filter_;
  SyncSettings settings_;
  std::unique_ptr<Context> context_;
};

}  // namespace varnelo::test
