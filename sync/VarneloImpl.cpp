#include "VarneloImpl.h"

#include <new>

#include "AccountApi.h"
#include "JournalFiles.h"
#include "Log.h"
#include "SyncFilter.h"
#include "VolumesImpl.h"
#include "WinMonitor.h"
#include "platform/files.h"

namespace varnelo::sync {
namespace {

constexpr const char* kConfigName = "config.db";
constexpr const char* kOldJournalName = "journal.db";
constexpr const char* kJournalName = "basefs.db";

}  // namespace

VarneloImpl::VarneloImpl(const std::string& dataFolder) : dataFolder_(dataFolder) {
  if (dataFolder_.empty() || dataFolder_.back() != '/') dataFolder_ += '/';
  auto* monitor = new WinMonitor();
  monitor_.reset(monitor);
  watcher_ = monitor;
  log_open(dataFolder_);  // also writes the user agent line, once
  syncer_.setWatchProbe([this] { return watching(); });
}

VarneloImpl::~VarneloImpl() = default;

void VarneloImpl::release() {
  log_write(kLogInfo, kModuleVarnelo, "Releasing VarneloImpl...");
  stopSync(false);
  syncer_.join();  // also a thread that a forced stop left ending
  config_.close();
  freeCredentials();
  cache_.close();
  delete this;
}

void VarneloImpl::freeCredentials() {
  syncer_.setCredentials(nullptr);
  if (credentials_) varnelo_destroy_token(credentials_);
  credentials_ = nullptr;
}

int32_t VarneloImpl::openConfig() {
  const int rc = config_.open(dataFolder_ + kConfigName);
  return rc;
}

int32_t VarneloImpl::checkSignIn() {
  if (!credentials_) return kEngineNotSignedIn;
  const int32_t rc = http::account_ping(credentials_);
  log_write(kLogInfo, kModuleVarnelo, "varnelo_auth_ping return code: [%d]", rc);
  return rc;
}

int32_t VarneloImpl::loginWithSavedToken(const varnelo_token_pair* consumer) {
  log_write(kLogInfo, kModuleVarnelo, "Authing token...");
  if (!consumer) return VARNELO_NULL_ARGUMENT;
  if (const int rc = openConfig(); rc != kEngineOk) return rc;
  config_.remove("consumerToken");
  config_.remove("consumerTokenSecret");
  std::string user, token, secret;
  if (const int rc = config_.get("user", user); rc != kEngineOk) return rc;
  if (const int rc = config_.get("accessToken", token); rc != kEngineOk) return rc;
  if (const int rc = config_.get("accessTokenSecret", secret); rc != kEngineOk) return rc;
  if (token.empty() || secret.empty()) return kEngineNoSavedToken;
  freeCredentials();
  const varnelo_token_pair access{token.c_str(), secret.c_str()};
  const int32_t rc = varnelo_auth_combine(user.c_str(), consumer, &access, &credentials_);
  if (rc != kEngineOk) return rc;
  syncer_.setCredentials(credentials_);
  return checkSignIn();
}

int32_t VarneloImpl::login(const char* user, const varnelo_token_pair* consumer,
                           const varnelo_token_pair* access) {
  if (!consumer || !access || !access->key || !access->secret) return VARNELO_NULL_ARGUMENT;
  freeCredentials();
  int32_t rc = varnelo_auth_combine(user, consumer, access, &credentials_);
  if (rc != kEngineOk) return rc;
  syncer_.setCredentials(credentials_);
  varnelo_user_info_result* info = nullptr;
  rc = varnelo_user_info(credentials_, &info);
  if (rc != kEngineOk) {
    log_write(kLogError, kModuleVarnelo, "varnelo_user_info return error: [%d]", rc);
    log_location();
    return rc;
  }
  log_write(kLogInfo, kModuleVarnelo, "varnelo_user_info succeeded with result:[%s]",
            info && info->text ? info->text : "");
  varnelo_destroy_user_info(info);
  if (const int open = openConfig(); open != kEngineOk) return open;
  config_.set("accessToken", access->key);
  config_.set("accessTokenSecret", access->secret);
  if (user) config_.set("user", user);
  return kEngineOk;
}

int32_t VarneloImpl::mountVolume(const char* serverPath, const char* localPath) {
  if (!serverPath || !localPath) return VARNELO_NULL_ARGUMENT;
  const std::string name = platform::files::fileName(localPath);
  if (const int rc = config_.putVolume(serverPath, localPath, name); rc != kEngineOk) return rc;
  monitor_->addDirectory(localPath);
  syncer_.setConfiguration(&config_);
  log_write(kLogInfo, kModuleVarnelo, "mount volume:[%s], on local:[%s]", serverPath, localPath);
  return kEngineOk;
}

int32_t VarneloImpl::startSync(bool resyncAll) {
  if (const int32_t rc = checkSignIn(); rc != kEngineOk) return rc;
  syncer_.setCredentials(credentials_);
  syncer_.setConfiguration(&config_);
  syncer_.setChunkCache(&cache_);
  const std::string oldJournal = dataFolder_ + kOldJournalName;
  const std::string journal = dataFolder_ + kJournalName;
  if (resyncAll) {
    // Never under a running sync's open journal: a thread a forced stop left
    // ending is waited for; a sync that runs on keeps its journal.
    if (syncer_.joinIfEnding()) {
      removeJournalFile(oldJournal);
      removeJournalFile(journal);
    } else {
      log_write(kLogWarning, kModuleVarnelo, "sync is running, journal kept despite resyncAll");
    }
  }
  log_write(kLogInfo, kModuleVarnelo, "start sync with resyncAll = [%d]", resyncAll ? 1 : 0);
  syncer_.setJournalPath(journalPath());
  syncer_.setSyncMode(getSyncMode());
  syncer_.start();

  monitor_->setEventSink(&syncer_);
  monitor_->removeAllDirectories();
  std::vector<VolumeRecord> volumes;
  std::vector<std::string> dirs;
  if (config_.listVolumes(volumes) == kEngineOk) {
    for (const VolumeRecord& volume : volumes) {
      monitor_->addDirectory(volume.localPath.c_str());
      dirs.push_back(volume.localPath);
    }
  }
  const auto& patterns = SyncFilter::patterns();
  monitor_->setExcludes(patterns.data(), static_cast<uint32_t>(patterns.size()));
  monitor_->start();
  {
    // Asked about only once the watches had their chance to start.
    std::lock_guard lock(watchedMutex_);
    watchedDirs_ = std::move(dirs);
  }
  return kEngineOk;
}

std::string VarneloImpl::journalPath() const {
  const std::string oldJournal = dataFolder_ + kOldJournalName;
  return platform::files::isRegularFile(oldJournal) ? oldJournal : dataFolder_ + kJournalName;
}

bool VarneloImpl::watching() const {
  std::lock_guard lock(watchedMutex_);
  for (const std::string& dir : watchedDirs_) {
    if (!watcher_->watcher().IsWatched(dir)) return false;
  }
  return true;
}

int32_t VarneloImpl::stopSync(bool force) {
  log_write(kLogInfo, kModuleVarnelo, "stoping sync with force = [%d]", force ? 1 : 0);
  {
    // Folders no longer watched on purpose: the sync thread's last passes
    // must not take the stopped monitor for a watch that failed.
    std::lock_guard lock(watchedMutex_);
    watchedDirs_.clear();
  }
  monitor_->stop();
  syncer_.stop(force);
  return kEngineOk;
}

int32_t VarneloImpl::pauseSync() {
  log_write(kLogInfo, kModuleVarnelo, "pausing sync...");
  syncer_.setPaused(true, false);
  return kEngineOk;
}

int32_t VarneloImpl::resumeSync(bool recheckAll) {
  log_write(kLogInfo, kModuleVarnelo, "resuming sync with recheckAll = [%d]", recheckAll ? 1 : 0);
  syncer_.setPaused(false, recheckAll);
  return kEngineOk;
}

int32_t VarneloImpl::unlinkAccount() {
  log_write(kLogInfo, kModuleVarnelo, "unlinking account...");
  stopSync(false);
  syncer_.join();
  config_.close();
  removeDatabaseFiles(dataFolder_ + kConfigName);
  removeJournalFile(dataFolder_ + kOldJournalName);
  removeJournalFile(dataFolder_ + kJournalName);
  freeCredentials();
  openConfig();
  syncer_.setConfiguration(&config_);
  return kEngineOk;
}

int32_t VarneloImpl::setSyncMode(int32_t mode) {
  log_write(kLogInfo, kModuleVarnelo, "set SyncMode: [%d]", mode);
  config_.set("syncMode", std::to_string(mode));
  return kEngineOk;
}

int32_t VarneloImpl::getSyncMode() {
  std::string text;
  if (config_.get("syncMode", text) != kEngineOk || text.empty()) return kEngineTwoWay;
  char* end = nullptr;
  const long mode = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0' || mode < 0 || mode > kEngineTwoWay) return kEngineTwoWay;
  return static_cast<int32_t>(mode);
}

int32_t VarneloImpl::setEventSink(IVarneloEvent* sink) {
  sink_ = sink;
  syncer_.setEventSink(sink);
  return kEngineOk;
}

int32_t VarneloImpl::getStatus(IVarneloStatus** out) {
  if (!out) return VARNELO_NULL_ARGUMENT;
  *out = syncer_.newStatus();
  return *out ? kEngineOk : kEngineNotRunning;
}

int32_t VarneloImpl::getVolumes(IVolumes** out) {
  if (!out) return VARNELO_NULL_ARGUMENT;
  std::vector<VolumeRecord> volumes;
  if (config_.listVolumes(volumes) != kEngineOk || volumes.empty()) {
    *out = nullptr;
    return kEngineNoVolume;
  }
  *out = new (std::nothrow) VolumesImpl(std::move(volumes));
  return kEngineOk;
}

int32_t VarneloImpl::setExcludeDirs(const char* const* dirs, uint32_t count) {
  log_write(kLogInfo, kModuleVarnelo, "excluding dirs...");
  if (!dirs && count > 0) return VARNELO_NULL_ARGUMENT;
  std::vector<std::string> oldDirs;
  config_.getExcludeDirs(oldDirs);
  std::vector<std::string> newDirs;
  for (uint32_t i = 0; i < count; ++i) {
    // "|" separates stored entries; a name holding it cannot be stored.
    if (!dirs[i]) continue;
    if (std::string_view(dirs[i]).find('|') != std::string_view::npos) {
      log_write(kLogError, kModuleVarnelo, "exclude dir refused (holds \"|\"): [%s]", dirs[i]);
      continue;
    }
    newDirs.emplace_back(dirs[i]);
  }
  const int rc = config_.putExcludeDirs(newDirs);
  if (rc != kEngineOk) return rc;
  if (syncer_.joinIfEnding()) {
    // No sync runs (a front end that changes the list between syncs): the
    // change reaches the journal here, an old journal migrated first, so
    // that the next sync never takes what it forgot for deletions.
    std::string journal = journalPath();
    transformJournalDb(journal);
    syncer_.setJournalPath(journal);
  }
  if (const int applied = syncer_.applyExcludeChange(oldDirs, newDirs); applied != kEngineOk) {
    // The list and the journal must agree: the old list stays.
    log_write(kLogError, kModuleVarnelo, "exclude change not applied:[%d], list kept as it was",
              applied);
    config_.putExcludeDirs(oldDirs);
    syncer_.setConfiguration(&config_);
    return applied;
  }
  for (const std::string& dir : newDirs) {
    log_write(kLogInfo, kModuleVarnelo, "exclude dir: [%s]", dir.c_str());
  }
  return kEngineOk;
}

int32_t VarneloImpl::getExcludeDirs(IExcludeDirs** out) {
  if (!out) return VARNELO_NULL_ARGUMENT;
  std::vector<std::string> dirs;
  const int rc = config_.getExcludeDirs(dirs);
  *out = dirs.empty() ? nullptr : new (std::nothrow) ExcludeDirsImpl(std::move(dirs));
  return rc;
}

int32_t VarneloImpl::open(const char* indexPath, const char* cacheFolder) {
  if (!indexPath || !cacheFolder) return VARNELO_NULL_ARGUMENT;
  const int rc = cache_.open(indexPath, cacheFolder);
  const int32_t code = rc == 0 ? kEngineOk : kEngineStoreFailed;
  log_write(kLogInfo, kModuleVarnelo, "Opening ChunkCache returned code:[%d]", code);
  return code;
}

int32_t VarneloImpl::close() {
  cache_.close();
  return kEngineOk;
}

}  // namespace varnelo::sync

// The factories and the state query: no exception and no null dereference
// leaves the library.
namespace {

varnelo::sync::VarneloImpl* makeEngine(const char* dataFolder, int32_t& rc) {
  rc = VARNELO_NULL_ARGUMENT;
  if (!dataFolder) return nullptr;
  if (!platform::files::isDirectory(dataFolder)) {
    rc = varnelo::kEngineNoDataFolder;
    return nullptr;
  }
  rc = varnelo::kEngineOk;
  try {
    return new varnelo::sync::VarneloImpl(dataFolder);
  } catch (...) {
    return nullptr;  // cannot be allocated: still 200, with a null engine
  }
}

}  // namespace

int32_t varnelo_new(const char* dataFolder, varnelo::IVarnelo** out) {
  if (!out) return VARNELO_NULL_ARGUMENT;
  int32_t rc;
  varnelo::sync::VarneloImpl* engine = makeEngine(dataFolder, rc);
  if (rc == varnelo::kEngineOk) *out = engine;
  return rc;
}

int32_t varnelo_new2(const char* dataFolder, varnelo::IVarnelo2** out) {
  if (!out) return VARNELO_NULL_ARGUMENT;
  int32_t rc;
  varnelo::sync::VarneloImpl* engine = makeEngine(dataFolder, rc);
  if (rc == varnelo::kEngineOk) *out = engine;
  return rc;
}

int32_t varnelo_get_sync_state(varnelo::IVarnelo* engine, varnelo_sync_state* out) {
  if (!engine || !out) return VARNELO_NULL_ARGUMENT;
  static_cast<varnelo::sync::VarneloImpl*>(engine)->syncState(*out);
  return varnelo::kEngineOk;
}

int32_t varnelo_get_sync_state2(varnelo::IVarnelo2* engine, varnelo_sync_state* out) {
  if (!engine || !out) return VARNELO_NULL_ARGUMENT;
  static_cast<varnelo::sync::VarneloImpl*>(engine)->syncState(*out);
  return varnelo::kEngineOk;
}

int32_t varnelo_get_sync_holds(varnelo::IVarnelo* engine, varnelo_sync_holds* out) {
  if (!engine || !out) return VARNELO_NULL_ARGUMENT;
  static_cast<varnelo::sync::VarneloImpl*>(engine)->syncHolds(*out);
  return varnelo::kEngineOk;
}

int32_t varnelo_get_sync_holds2(varnelo::IVarnelo2* engine, varnelo_sync_holds* out) {
  if (!engine || !out) return VARNELO_NULL_ARGUMENT;
  static_cast<varnelo::sync::VarneloImpl*>(engine)->syncHolds(*out);
  return varnelo::kEngineOk;
}

int32_t varnelo_confirm_deletions(varnelo::IVarnelo* engine) {
  if (!engine) return VARNELO_NULL_ARGUMENT;
  return static_cast<varnelo::sync::VarneloImpl*>(engine)->confirmDeletions();
}

int32_t varnelo_confirm_deletions2(varnelo::IVarnelo2* engine) {
  if (!engine) return VARNELO_NULL_ARGUMENT;
  return static_cast<varnelo::sync::VarneloImpl*>(engine)->confirmDeletions();
}
