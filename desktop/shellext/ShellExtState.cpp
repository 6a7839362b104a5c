#include "ShellExtState.h"

#include <dlfcn.h>

#include <platform/file.h>
#include <platform/files.h>

#include <memory>
#include <random>

#include "Log.h"

namespace varnelo::shellext {

ShellExtState::~ShellExtState() {
  std::unique_lock lock(impl_);
  unloadLocked();
}

void ShellExtState::addProxy(IProxy* proxy) {
  std::lock_guard lock(proxiesMutex_);
  proxies_.insert(proxy);
}

void ShellExtState::removeProxy(IProxy* proxy) {
  std::lock_guard lock(proxiesMutex_);
  proxies_.erase(proxy);
}

size_t ShellExtState::liveProxies() const {
  std::lock_guard lock(proxiesMutex_);
  return proxies_.size();
}

void ShellExtState::setImplementationPath(std::string path) {
  std::unique_lock lock(impl_);
  path_ = std::move(path);
}

std::string ShellExtState::implementationPath() const {
  std::shared_lock lock(impl_);
  return path_;
}

void ShellExtState::setModulePath(std::string path) {
  std::unique_lock lock(impl_);
  modulePath_ = std::move(path);
}

void ShellExtState::setObserver(std::function<void(bool)> observer) {
  std::unique_lock lock(impl_);
  observer_ = std::move(observer);
}

bool ShellExtState::loaded() const {
  std::shared_lock lock(impl_);
  return handle_ != nullptr;
}

void ShellExtState::load() {
  std::unique_lock lock(impl_);
  loadLocked();
}

void ShellExtState::unload() {
  std::unique_lock lock(impl_);
  unloadLocked();
}

bool ShellExtState::replaceFrom(const std::string& source) {
  std::unique_lock lock(impl_);
  unloadLocked();
  if (auto ec = copyOverAtomically(source, path_)) {
    logLine("cannot copy [%s] over [%s]: %s; the implementation stays unloaded", source.c_str(),
            path_.c_str(), ec.message().c_str());
    return false;
  }
  loadLocked();
  return true;
}

void ShellExtState::loadLocked() {
  if (handle_ || path_.empty()) return;
  // RTLD_LOCAL: the implementation's symbols stay its own, so a new copy
  // never binds to the old one's.
  void* handle = ::dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = ::dlerror();
    logLine("cannot load the implementation [%s]: %s", path_.c_str(), why ? why : "?");
    return;
  }
  handle_ = handle;
  create_ =
      reinterpret_cast<VarneloCreateInstanceFn>(::dlsym(handle, VARNELO_CREATE_INSTANCE_NAME));
  if (!create_) logLine("the implementation [%s] has no CreateInstance", path_.c_str());
  if (observer_) observer_(true);
}

void ShellExtState::unloadLocked() {
  if (!handle_) return;
  create_ = nullptr;
  {
    std::lock_guard lock(proxiesMutex_);
    for (IProxy* proxy : proxies_) proxy->releaseRealObject();
  }
  ::dlclose(handle_);
  handle_ = nullptr;
  if (observer_) observer_(false);
}

ShellExtState& processState() {
  static ShellExtState* state = new ShellExtState;  // lives as long as the module's code
  return *state;
}

std::error_code copyOverAtomically(const std::string& from, const std::string& to) {
  if (to.empty()) return std::make_error_code(std::errc::invalid_argument);
  if (!platform::files::isRegularFile(from))
    return std::make_error_code(std::errc::no_such_file_or_directory);
  std::random_device random;
  const std::string temp = platform::files::joinPath(
      platform::files::parentPath(to),
      "." + platform::files::fileName(to) + ".new-" + std::to_string(random()));
  auto copy = [&]() -> std::error_code {
    platform::File in;
    if (auto ec = in.open(from, platform::File::Mode::Read)) return ec;
    platform::File out;
    if (auto ec = out.open(temp, platform::File::Mode::CreateTruncate, 0755)) return ec;
    constexpr size_t kBuffer = 1 << 16;
    std::unique_ptr<char[]> buffer(new char[kBuffer]);
    for (uint64_t offset = 0;;) {
      size_t got = 0;
      if (auto ec = in.readAt(offset, buffer.get(), kBuffer, got)) return ec;
      if (got == 0) break;
      if (auto ec = out.writeAt(offset, buffer.get(), got)) return ec;
      offset += got;
    }
    return out.sync();
  };
  if (auto ec = copy()) {
    platform::files::removeFile(temp);
    return ec;
  }
  if (auto ec = platform::files::rename(temp, to)) {
    platform::files::removeFile(temp);
    return ec;
  }
  return {};
}

}  // namespace varnelo::shellext
