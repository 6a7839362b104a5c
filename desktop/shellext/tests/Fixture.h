// Shared by the proxy and pipe tests: a private temporary folder (also the
// runtime folder, so pipes never meet a real session's), copies of the
// fake implementation, its control function, and a deadline wait.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <platform/files.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "ClassFactory.h"
#include "ClassIds.h"
#include "ShellExtState.h"

namespace varnelo::shellext::test {

inline std::string fake(const char* flavour) {
  return std::string(FAKE_DIR) + "/libshellext_fake_" + flavour + ".so";
}

inline bool waitFor(const std::function<bool()>& condition,
                    std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

class ShellExtTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/shellext-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    ::setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
    implementation_ = dir_ + "/libvarneloShellProc.so";
    state_.setModulePath(dir_ + "/libvarneloShellExt.so");
    state_.setImplementationPath(implementation_);
  }
  void TearDown() override {
    state_.unload();
    platform::files::removeTree(dir_);
  }

  // Puts a copy of the fake `flavour` where the implementation is looked for.
  void install(const char* flavour) {
    ASSERT_FALSE(platform::files::copyFile(fake(flavour), implementation_));
  }

  // The loaded copy's FakeControl (0 when the implementation is not loaded).
  int control(const char* what, int value = 0) {
    void* handle = ::dlopen(implementation_.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!handle) return -1;
    auto fn = reinterpret_cast<int (*)(const char*, int)>(::dlsym(handle, "FakeControl"));
    const int result = fn ? fn(what, value) : -1;
    ::dlclose(handle);
    return result;
  }

  template <class T>
  T* create(const VarneloGuid& clsid, const VarneloGuid& iid) {
    void* factoryObject = nullptr;
    EXPECT_EQ(dllGetClassObject(state_, &clsid, &kIidIClassFactory, &factoryObject), VARNELO_S_OK);
    auto* factory = static_cast<IClassFactory*>(factoryObject);
    void* object = nullptr;
    factory->lpVtbl->CreateInstance(factory, nullptr, &iid, &object);
    factory->lpVtbl->Release(factory);
    return static_cast<T*>(object);
  }
  IShellIconOverlayIdentifier* overlay(size_t index = 0) {
    return create<IShellIconOverlayIdentifier>(kClasses[index].clsid,
                                               kIidIShellIconOverlayIdentifier);
  }

  std::string dir_;
  std::string implementation_;
  ShellExtState state_;
};

}  // namespace varnelo::shellext::test
