#include "Application.h"

#include <QtGlobal>
#include <charconv>
#include <cstdlib>

#include "NetworkEnvironment.h"
#include "platform/files.h"

namespace varnelo::desktop {
namespace {

struct Releaser {
  template <typename T>
  void operator()(T* object) const {
    if (object) object->release();
  }
};

bool isPort(std::string_view text) {
  int value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() && value > 0 && value < 65536;
}

constexpr const char* kHome = "/home";

}  // namespace

const char* applicationVersion() {
  return VARNELO_VERSION;
}

const varnelo_token_pair& consumerToken() {
  static const varnelo_token_pair pair{VARNELO_CONSUMER_KEY, VARNELO_CONSUMER_SECRET};
  return pair;
}

std::string webSiteBase() {
  const char* setting = std::getenv("VARNELO_SERVICE");
  std::string text = setting && *setting ? setting : "127.0.0.1:8080:8443";
  // "host:httpPort:httpsPort"; the host holds colons only as a bracketed
  // IPv6 literal, so the ports are the last two fields.
  size_t second = text.rfind(':');
  if (second == std::string::npos || second == 0) return "";
  size_t first = text.rfind(':', second - 1);
  if (first == std::string::npos || first == 0) return "";
  std::string_view http(text.data() + first + 1, second - first - 1);
  if (!isPort(http) || !isPort(std::string_view(text).substr(second + 1))) return "";
  return "http://" + text.substr(0, first) + ":" + std::string(http);
}

Application::Application(std::string dataFolder)
    : dataFolder_(std::move(dataFolder)), device_(settings_, dataFolder_) {}

Application::~Application() {
  stateWorker_.stop();
  if (engine_) {
    engine_->release();
    engine_ = nullptr;
  }
}

bool Application::openStores() {
  const bool settingsOpen = settings_.open(platform::files::joinPath(dataFolder_, "appconfig.db"));
  const bool cacheOpen = stateCache_.open(platform::files::joinPath(dataFolder_, "statecache.db"));
  {
    std::lock_guard lock(accountMutex_);
    accountInfo_ = settings_.accountInfo();
  }
  settings_.clearLegacyAccountKeys();
  device_.setHostName(hostName());
  device_.deviceId();  // made and stored now when this is the first start
  return settingsOpen && cacheOpen;
}

void Application::pushEnvironment() {
  pushNetworkSettings(
      settings_, Device::userAgent(applicationVersion(), machineArchitecture(), osDisplayName()));
}

int32_t Application::createEngine() {
  IVarnelo2* engine = nullptr;
  int32_t rc = varnelo_new2(dataFolder_.c_str(), &engine);
  if (rc != 200 || !engine) {
    qWarning("application: the engine cannot be made over %s (%d)", dataFolder_.c_str(), rc);
    return rc != 200 ? rc : -4;
  }
  engine_ = engine;
  return 200;
}

void Application::attachEventSink() {
  if (!engine_) return;
  IVarneloEvent* sink = ui_->eventSink();
  engine_->setEventSink(sink ? sink : &events_);
}

void Application::setUi(AppUi* ui) {
  ui_ = ui ? ui : &headless_;
}

void Application::post(int message, qintptr wParam) const {
  postAppMessage(mainWindow_, message, wParam);
}

const varnelo_credentials* Application::session() {
  if (const varnelo_credentials* s = session_.load()) return s;
  if (!engine_) return nullptr;
  const varnelo_credentials* s = engine_->getSession();
  session_.store(s);
  return s;
}

void Application::forgetSession() {
  session_.store(nullptr);
}

std::string Application::accountInfo() {
  std::lock_guard lock(accountMutex_);
  return accountInfo_;
}

void Application::setAccountInfo(const std::string& json) {
  std::lock_guard lock(accountMutex_);
  accountInfo_ = json;
}

std::vector<std::string> Application::volumeFolders() {
  std::vector<std::string> folders;
  if (!engine_) return folders;
  IVolumes* raw = nullptr;
  if (engine_->getVolumes(&raw) != 200 || !raw) return folders;
  std::unique_ptr<IVolumes, Releaser> volumes(raw);
  for (uint32_t i = 0; i < volumes->count(); ++i) {
    VolumeInfo info{};
    volumes->at(i, info);
    if (info.localPath && *info.localPath) folders.emplace_back(info.localPath);
  }
  return folders;
}

std::string Application::syncFolder() {
  if (!engine_) return "";
  IVolumes* raw = nullptr;
  if (engine_->getVolumes(&raw) != 200 || !raw) return "";
  std::unique_ptr<IVolumes, Releaser> volumes(raw);
  std::string first;
  for (uint32_t i = 0; i < volumes->count(); ++i) {
    VolumeInfo info{};
    volumes->at(i, info);
    if (!info.localPath) continue;
    std::string_view server = info.serverPath ? info.serverPath : "";
    if (server == kHome || server == "home") return info.localPath;
    if (first.empty()) first = info.localPath;
  }
  return first;
}

std::string Application::chunkCacheFolder() {
  std::string stored = settings_.dataCacheDir();
  if (!stored.empty() && stored[0] == '/' &&
      (platform::files::isDirectory(stored) || !platform::files::createDirectories(stored, 0700))) {
    return stored;
  }
  // Beside the engine's own databases, where varnelocmd keeps it too: both
  // front ends of one data folder share the cache.
  std::string folder = platform::files::joinPath(dataFolder_, "cache");
  if (!platform::files::isDirectory(folder) && platform::files::createDirectories(folder, 0700)) {
    return "";
  }
  settings_.setDataCacheDir(folder);
  return folder;
}

void Application::openChunkCache() {
  IChunkCache* cache = engine_->getChunkCache();
  std::string folder = chunkCacheFolder();
  if (!cache || folder.empty()) return;
  cache->close();
  int32_t rc =
      cache->open(platform::files::joinPath(dataFolder_, "chunk.db").c_str(), folder.c_str());
  if (rc != 200) qWarning("application: the chunk index cannot be opened (%d)", rc);
}

void Application::startSyncAfterLogin(bool fromWizard) {
  if (!engine_) return;
  auto lock = engineLock();
  const varnelo_credentials* s = session();
  if (!fromWizard) device_.refreshName(s);
  if (s) {
    varnelo_user_info_result* info = nullptr;
    if (varnelo_user_info(s, &info) == 200 && info && info->text && *info->text) {
      setAccountInfo(info->text);
    }
    varnelo_destroy_user_info(info);
  }

  // The sync folder must be there. When it is not, the windows may re-create
  // it or let the user choose another; either way the new folder is compared
  // in full. A folder that is still missing is left to the engine, which
  // reports it unavailable and deletes nothing: the journal is kept for when
  // the disk comes back.
  bool replaced = false;  // missing, and now re-created or another one chosen
  std::string folder = syncFolder();
  if (!platform::files::isDirectory(folder)) {
    lock.unlock();
    ui_->syncFolderMissing(QString::fromStdString(folder));
    lock.lock();
    folder = syncFolder();
    replaced = platform::files::isDirectory(folder);
    if (!replaced) qWarning("application: the sync folder [%s] is missing", folder.c_str());
  }
  openChunkCache();
  const bool resync = replaced || fromWizard;
  if (resync) stateCache_.clear();
  for (const std::string& volume : volumeFolders()) stateCache_.addRoot(volume);
  stateCache_.setRunning(true);
  int32_t rc = engine_->startSync(resync);
  if (rc != 200) qWarning("application: starting the sync failed (%d)", rc);
  lock.unlock();
  if (fromWizard) openSyncFolder();
}

int32_t Application::mountSyncFolder(const std::string& folder) {
  if (!engine_) return -4;
  if (!platform::files::isDirectory(folder)) return -101;
  auto lock = engineLock();
  int32_t rc = engine_->mountVolume(kHome, folder.c_str());
  if (rc != 200) {
    qWarning("application: mounting [%s] failed (%d)", folder.c_str(), rc);
    return rc;
  }
  device_.reportDevice(session(), gatherDeviceFacts(folder));
  settings_.setLastSyncFolder(folder);
  return 200;
}

void Application::stopSync(bool atExit) {
  if (engine_) {
    auto lock = engineLock();
    engine_->stopSync(atExit);
  }
  stateCache_.setRunning(false);
}

bool Application::unlinkDevice(bool showWizard) {
  if (state_.get() == kAppLoginNeeded || !engine_) return false;
  {
    auto lock = engineLock();
    if (const varnelo_credentials* s = session()) device_.unlink(s);
    // Forgetting the account stops the sync and empties the engine's store.
    int32_t rc = engine_->unlinkAccount();
    if (rc != 200) {
      qWarning("application: signing out failed (%d)", rc);
      return false;
    }
  }
  setAccountInfo("");
  settings_.setAccountInfo("");
  ui_->accountUnlinked();
  stateCache_.clear();
  state_.set(kAppLoginNeeded);
  if (showWizard) {
    ui_->showMain(kShowShow);
    ui_->restartWizard();
  }
  forgetSession();
  return true;
}

bool Application::open(const std::string& target) {
  if (!opener_) {
    qWarning("application: nothing can open [%s]", target.c_str());
    return false;
  }
  return opener_(target);
}

bool Application::run(const std::string& program, const std::vector<std::string>& arguments) {
  if (!runner_) {
    qWarning("application: nothing can start [%s]", program.c_str());
    return false;
  }
  return runner_(program, arguments);
}

bool Application::powerOff() {
  if (!powerOff_) {
    qWarning("application: the computer cannot be powered off from here");
    return false;
  }
  return powerOff_();
}

void Application::openSyncFolder() {
  if (opening_) return;
  opening_ = true;
  std::string folder = syncFolder();
  if (!folder.empty() && platform::files::isDirectory(folder) && open(folder)) {
    ui_->registerFolderShortcut(QString::fromStdString(folder));
  }
  opening_ = false;
}

void Application::openWebPage(const std::string& page) {
  std::string base = webSiteBase();
  if (!base.empty()) open(base + page);
}

void Application::shutdown() {
  if (engine_) {
    state_.set(kAppStopping);
    stopSync(true);
    state_.set(kAppStopped);
  }
  settings_.setDevice(device_.deviceId(), device_.deviceName());
  settings_.setAccountInfo(accountInfo());
  if (engine_) {
    auto lock = engineLock();
    engine_->release();
    engine_ = nullptr;
  }
  forgetSession();
}

}  // namespace varnelo::desktop
