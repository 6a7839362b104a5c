// The extension's process-wide state: the object count, the live-proxy set,
// the implementation slot and the loader record (the implementation
// library's handle and path). The proxies forward through it; the pipe
// thread loads, unloads and replaces the implementation through it.
//
// Locking. `impl_` is a reader/writer lock over the implementation: every
// forwarded call holds it shared for the whole call (creating the real
// object, calling it), while load, unload and replace hold it exclusively.
// So unloading waits for running calls, no call starts while the library is
// away, and a real object is never released while a call on it runs.
// `proxies_` guards the live-proxy set alone; it is taken inside `impl_`
// (by unload) or on its own (by a proxy's construction and destruction),
// never the other way round.
//
// Thread safe. One instance serves the process (processState()); tests make
// their own.
#pragma once

#include <varnelo/shellproc.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <shared_mutex>
#include <string>

namespace varnelo::shellext {

// What the unloader asks of every live proxy: drop the real object.
class IProxy {
 public:
  virtual void releaseRealObject() noexcept = 0;

 protected:
  ~IProxy() = default;
};

class ShellExtState {
 public:
  ShellExtState() = default;
  ~ShellExtState();
  ShellExtState(const ShellExtState&) = delete;
  ShellExtState& operator=(const ShellExtState&) = delete;

  // Factories and proxies alive; 0 means the module may go.
  void objectCreated() noexcept { objects_.fetch_add(1); }
  void objectDestroyed() noexcept { objects_.fetch_sub(1); }
  int32_t objectCount() const noexcept { return objects_.load(); }

  void addProxy(IProxy* proxy);
  void removeProxy(IProxy* proxy);
  size_t liveProxies() const;

  // The library that load() opens (normally libvarneloShellProc.so beside
  // the module).
  void setImplementationPath(std::string path);
  std::string implementationPath() const;
  // The module's own file, which GetOverlayInfo hands out as the icon file
  // before the implementation answers. Set once, before the first proxy is
  // made (the module does so when it attaches); constant, and read without
  // a lock, from then on.
  void setModulePath(std::string path);
  const std::string& modulePath() const noexcept { return modulePath_; }

  // Opens the implementation unless it is open. A library that cannot be
  // opened, or has no "CreateInstance", leaves the slot empty: proxies then
  // answer E_FAIL. Logged, never reported.
  void load();
  // Clears the slot, makes every live proxy drop its real object and closes
  // the library. Proxies stay usable and create new objects once it is back.
  void unload();
  // Command "0": unload, copy `source` over the implementation (through a
  // temporary sibling and a rename, so no half-written library is ever at
  // the path), load. False when the copy failed: the implementation then
  // stays unloaded until the next load().
  bool replaceFrom(const std::string& source);
  bool loaded() const;

  // Held (shared) by every forwarded call; see the locking note above.
  std::shared_lock<std::shared_mutex> enterCall() const {
    return std::shared_lock<std::shared_mutex>(impl_);
  }
  // The implementation slot; call only while enterCall()'s lock is held.
  VarneloCreateInstanceFn createInstance() const noexcept { return create_; }

  // Told after every load() that found the library unloaded (true: the
  // slot is set) and after every unload() that closed it (false). Called
  // under the exclusive lock: it must not call into proxies.
  void setObserver(std::function<void(bool loaded)> observer);

 private:
  void unloadLocked();
  void loadLocked();

  std::atomic<int32_t> objects_{0};

  mutable std::mutex proxiesMutex_;  // guards proxies_
  std::set<IProxy*> proxies_;

  mutable std::shared_mutex impl_;  // guards the fields below; see above
  std::string path_;
  std::string modulePath_;
  void* handle_ = nullptr;
  VarneloCreateInstanceFn create_ = nullptr;
  std::function<void(bool)> observer_;
};

// The state of this process's extension.
ShellExtState& processState();

// Copies `from` over `to` without ever leaving a partial file at `to`: the
// bytes go to a temporary sibling that is flushed and renamed over `to`.
std::error_code copyOverAtomically(const std::string& from, const std::string& to);

}  // namespace varnelo::shellext
