#include "LocalListing.h"

#include <algorithm>

#include "SyncPaths.h"

namespace varnelo {

const platform::files::DirEntry* LocalListing::find(std::string_view name) const {
  const std::string key = nameKey(name);
  auto it = std::lower_bound(
      entries.begin(), entries.end(), key,
      [](const platform::files::DirEntry& e, const std::string& k) { return nameKey(e.name) < k; });
  if (it == entries.end() || nameKey(it->name) != key) return nullptr;
  return &*it;
}

bool LocalListing::isHeld(std::string_view name) const {
  const std::string key = nameKey(name);
  return std::find(held.begin(), held.end(), key) != held.end();
}

std::vector<std::string> LocalListing::twinsOf(std::string_view name) const {
  std::vector<std::string> out;
  if (twins.empty()) return out;  // the usual folder: no name to fold
  const std::string key = nameKey(name);
  for (const std::string& twin : twins) {
    if (nameKey(twin) == key) out.push_back(twin);
  }
  return out;
}

bool LocalListing::isUndecided(std::string_view name) const {
  const std::string key = nameKey(name);
  return std::find(undecided.begin(), undecided.end(), key) != undecided.end();
}

std::error_code listLocalFolder(const std::string& folder, LocalListing& out,
                                const TwinChooser& choose) {
  std::vector<platform::files::DirEntry> all;
  if (auto ec = platform::files::listDirectory(folder, all)) {
    out = {};
    return ec;
  }
  arrangeLocalFolder(folder, std::move(all), out, choose);
  return {};
}

void arrangeLocalFolder(const std::string& folder, std::vector<platform::files::DirEntry> all,
                        LocalListing& out, const TwinChooser& choose) {
  out = {};
  std::erase_if(all, [](const platform::files::DirEntry& e) {
    return e.info.type != platform::files::EntryType::File &&
           e.info.type != platform::files::EntryType::Directory;
  });
  std::vector<std::pair<std::string, size_t>> keyed;
  keyed.reserve(all.size());
  for (size_t i = 0; i < all.size(); ++i) keyed.emplace_back(nameKey(all[i].name), i);
  std::sort(keyed.begin(), keyed.end(), [&](const auto& a, const auto& b) {
    if (a.first != b.first) return a.first < b.first;
    return all[a.second].name < all[b.second].name;
  });
  out.entries.reserve(all.size());
  std::vector<const platform::files::DirEntry*> group;
  for (size_t i = 0; i < keyed.size();) {
    size_t end = i + 1;
    while (end < keyed.size() && keyed[end].first == keyed[i].first) ++end;
    int chosen = 0;
    if (end - i > 1 && choose) {
      group.clear();
      for (size_t j = i; j < end; ++j) group.push_back(&all[keyed[j].second]);
      chosen = choose(folder, group);
      if (chosen < kTwinUndecided || chosen >= static_cast<int>(group.size())) chosen = -1;
      if (chosen == kTwinUndecided) out.undecided.push_back(keyed[i].first);
      if (chosen < 0) out.held.push_back(keyed[i].first);
    }
    for (size_t j = i; j < end; ++j) {
      auto& entry = all[keyed[j].second];
      if (static_cast<int>(j - i) == chosen) {
        out.entries.push_back(std::move(entry));
      } else {
        out.twins.push_back(std::move(entry.name));
      }
    }
    i = end;
  }
}

const CaseTwinCache::Folder* CaseTwinCache::folder(const std::string& path,
                                                   const TwinChooser& choose) {
  platform::files::EntryInfo info;
  if (platform::files::stat(path, info) || info.type != platform::files::EntryType::Directory)
    return nullptr;
  // Folder times come from a coarse clock (a few milliseconds per tick): a
  // listing taken within the same tick as the folder's last change may have
  // missed an entry added later in that tick, so it is not trusted.
  constexpr platform::FileTime kSettle = 50 * 10000ULL;  // 50 ms
  auto it = folders_.find(path);
  if (it != folders_.end() && it->second.modified == info.lastWrite &&
      it->second.listedAt > info.lastWrite + kSettle) {
    return &it->second;
  }
  if (folders_.size() > 4096) folders_.clear();  // bounded memory
  Folder f;
  f.modified = info.lastWrite;
  f.listedAt = platform::currentFileTime();
  LocalListing listing;
  if (listLocalFolder(path, listing, choose)) return nullptr;
  f.shadowed.insert(listing.twins.begin(), listing.twins.end());
  f.undecided.insert(listing.undecided.begin(), listing.undecided.end());
  // An undecided twin group (the service could not be asked) is asked again
  // next time rather than kept.
  if (!listing.held.empty()) f.listedAt = 0;
  return &(folders_[path] = std::move(f));
}

bool CaseTwinCache::isShadowed(const std::string& localRoot, const std::string& localPath,
                               const TwinChooser& choose, bool* undecided) {
  auto rel = relativeToRoot(localRoot, localPath);
  if (!rel || rel->empty()) return false;
  std::string parent = localRoot;
  size_t start = 0;
  while (start < rel->size()) {
    size_t end = rel->find('/', start);
    std::string name =
        rel->substr(start, end == std::string::npos ? std::string::npos : end - start);
    const Folder* f = folder(parent, choose);
    if (f && f->shadowed.count(name)) {
      if (undecided) *undecided = f->undecided.count(nameKey(name)) != 0;
      return true;
    }
    if (end == std::string::npos) break;
    parent = platform::files::joinPath(parent, name);
    start = end + 1;
  }
  return false;
}

bool CaseTwinCache::hasShadowedTwin(const std::string& localPath, const TwinChooser& choose) {
  const Folder* f = folder(platform::files::parentPath(localPath), choose);
  if (!f) return false;
  const std::string name = platform::files::fileName(localPath);
  const std::string key = nameKey(name);
  return std::any_of(f->shadowed.begin(), f->shadowed.end(), [&](const std::string& other) {
    return other != name && nameKey(other) == key;
  });
}

}  // namespace varnelo
