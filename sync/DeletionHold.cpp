#include "DeletionHold.h"

#include <algorithm>
#include <utility>

namespace varnelo::sync {

namespace {

size_t index(DeletionHold::Side side) {
  return side == DeletionHold::Side::Local ? 0 : 1;
}

// "home/a/b" → "home/a": the top-level entry a path lies in (or is).
std::string topLevelOf(const std::string& journalPath) {
  const size_t first = journalPath.find('/');
  if (first == std::string::npos) return journalPath;
  return journalPath.substr(0, journalPath.find('/', first + 1));
}

}  // namespace

bool DeletionHold::ongoing(const Run& run, uint64_t nowMs) {
  return nowMs >= run.lastMs && nowMs - run.lastMs < kRunGapMs;
}

bool DeletionHold::exceeds(const std::vector<Candidate>& batch, uint64_t syncedFiles,
                           const Run& run) const {
  uint64_t files = run.passed;
  for (const Candidate& c : batch) {
    if (c.topLevelFolder) {
      const auto before = run.passedUnder.find(c.journalPath);
      const uint64_t earlier = before == run.passedUnder.end() ? 0 : before->second;
      if (c.files + earlier > limits_.folderFiles) return true;
    }
    files += c.files;
  }
  // The share is of the tree as it was before the run: what it let through
  // has left the journal already.
  return files > limits_.minFiles &&
         files * 100 > uint64_t{limits_.percent} * (syncedFiles + run.passed);
}

DeletionHold::Run& DeletionHold::runAt(Side side, uint64_t nowMs) {
  Run& run = runs_[index(side)];
  if (!ongoing(run, nowMs)) run = Run{};
  return run;
}

bool DeletionHold::decide(Side side, std::vector<Candidate>& batch, uint64_t syncedFiles,
                          uint64_t nowMs) {
  std::lock_guard lock(mutex_);
  auto& held = held_[index(side)];
  Run& run = runAt(side, nowMs);
  run.lastMs = nowMs;
  // Released paths go through as they are, once.
  batch.erase(std::remove_if(batch.begin(), batch.end(),
                             [&](const Candidate& c) {
                               if (!released_.erase(c.journalPath)) return false;
                               held.erase(c.journalPath);
                               shown_[index(side)].erase(c.journalPath);
                               return true;
                             }),
              batch.end());
  if (batch.empty()) return false;
  if (!run.held && !exceeds(batch, syncedFiles, run)) {
    for (const Candidate& c : batch) {
      held.erase(c.journalPath);
      shown_[index(side)].erase(c.journalPath);
      run.passed += c.files;
      run.passedUnder[topLevelOf(c.journalPath)] += c.files;
    }
    return false;
  }
  run.held = true;
  for (const Candidate& c : batch) held[c.journalPath] = Entry{c.files, c.localPath};
  return true;
}

uint64_t DeletionHold::runFiles(Side side, uint64_t nowMs) const {
  std::lock_guard lock(mutex_);
  const Run& run = runs_[index(side)];
  return ongoing(run, nowMs) ? run.passed : 0;
}

bool DeletionHold::runHolds(Side side, uint64_t nowMs) const {
  std::lock_guard lock(mutex_);
  const Run& run = runs_[index(side)];
  return run.held && ongoing(run, nowMs);
}

void DeletionHold::restart(Side side) {
  std::lock_guard lock(mutex_);
  shown_[index(side)] = std::exchange(held_[index(side)], {});
  runs_[index(side)] = Run{};
}

void DeletionHold::settle(Side side) {
  std::lock_guard lock(mutex_);
  shown_[index(side)].clear();
}

void DeletionHold::forget(const std::string& journalPath) {
  std::lock_guard lock(mutex_);
  for (auto& held : held_) held.erase(journalPath);
  for (auto& shown : shown_) shown.erase(journalPath);
}

std::map<std::string, DeletionHold::Entry> DeletionHold::answerable(size_t side) const {
  std::map<std::string, Entry> out = shown_[side];
  for (const auto& [path, entry] : held_[side]) out[path] = entry;
  return out;
}

void DeletionHold::confirm() {
  std::lock_guard lock(mutex_);
  for (size_t i = 0; i < 2; ++i) {
    for (const auto& [path, entry] : answerable(i)) released_.insert(path);
    held_[i].clear();
    shown_[i].clear();
  }
  for (Run& run : runs_) run = Run{};
}

void DeletionHold::restore() {
  std::lock_guard lock(mutex_);
  for (size_t i = 0; i < 2; ++i) {
    for (auto& [path, entry] : answerable(i))
      restoring_.push_back(
          {i == 0 ? Side::Local : Side::Remote, path, entry.localPath, entry.files});
    held_[i].clear();
    shown_[i].clear();
  }
  for (Run& run : runs_) run = Run{};
}

std::vector<DeletionHold::Held> DeletionHold::takeRestoring() {
  std::lock_guard lock(mutex_);
  // A pass that ran between the answer and now may have held them again.
  for (const Held& h : restoring_) {
    for (auto& held : held_) held.erase(h.journalPath);
    for (auto& shown : shown_) shown.erase(h.journalPath);
  }
  return std::exchange(restoring_, {});
}

bool DeletionHold::restorePending() const {
  std::lock_guard lock(mutex_);
  return !restoring_.empty();
}

uint64_t DeletionHold::heldFiles() const {
  std::lock_guard lock(mutex_);
  uint64_t files = 0;
  for (size_t i = 0; i < 2; ++i) {
    for (const auto& [path, entry] : answerable(i)) files += entry.files;
  }
  return files;
}

std::vector<DeletionHold::Held> DeletionHold::list() const {
  std::lock_guard lock(mutex_);
  std::vector<Held> out;
  for (size_t i = 0; i < 2; ++i) {
    for (const auto& [path, entry] : answerable(i))
      out.push_back({i == 0 ? Side::Local : Side::Remote, path, entry.localPath, entry.files});
  }
  return out;
}

uint64_t DeletionHold::heldEntries() const {
  std::lock_guard lock(mutex_);
  return answerable(0).size() + answerable(1).size();
}

}  // namespace varnelo::sync
