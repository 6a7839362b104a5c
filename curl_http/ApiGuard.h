// Keeps C++ exceptions (in practice only std::bad_alloc, and jsoncpp's
// logic errors should a check be missed) from crossing the exported C
// interface: every exported function runs its body through api_guard.
// Thread safe.
#pragma once

#include <cstdint>
#include <exception>
#include <type_traits>

#include "Log.h"

namespace varnelo::http {

template <typename Body>
auto api_guard(const char* function, Body&& body) noexcept -> decltype(body()) {
  try {
    auto result = body();
    if constexpr (std::is_same_v<decltype(result), int32_t>) {
      if (result == 499)
        log_write(kLogError, kModuleVarnelo, "%s: a required argument is NULL", function);
    }
    return result;
  } catch (const std::exception& e) {
    log_write(kLogError, kModuleVarnelo, "%s failed: %s", function, e.what());
  } catch (...) {
    log_write(kLogError, kModuleVarnelo, "%s failed with an unknown exception", function);
  }
  return decltype(body())(-1);
}

}  // namespace varnelo::http
