#include "HostValues.h"

#include <cerrno>
#include <cstdlib>

#include "HostLog.h"

namespace varnelo::host {
namespace {
constexpr size_t kMaxText = 4096;
}

std::optional<std::string> HostValues::text(const char* name) const {
  std::string value;
  if (key_.readString(name, value) || value.empty() || value.size() > kMaxText) return std::nullopt;
  return value;
}

uint32_t HostValues::number(const char* name) const {
  uint32_t value = 0;
  return key_.readDword(name, value) ? 0 : value;
}

int64_t HostValues::bigNumber(const char* name, int64_t fallback) const {
  auto value = text(name);
  if (!value) return fallback;
  char* end = nullptr;
  errno = 0;
  long long n = strtoll(value->c_str(), &end, 10);
  return *end == '\0' && errno == 0 ? n : fallback;
}

bool HostValues::setText(const char* name, const std::string& value) {
  if (!key_.keyExists()) return false;
  if (auto ec = key_.writeString(name, value)) {
    host_log(kHostError, "cannot write %s: %s", name, ec.message().c_str());
    return false;
  }
  return true;
}

bool HostValues::setNumber(const char* name, uint32_t value) {
  if (!key_.keyExists()) return false;
  if (auto ec = key_.writeDword(name, value)) {
    host_log(kHostError, "cannot write %s: %s", name, ec.message().c_str());
    return false;
  }
  return true;
}

void HostValues::remove(const char* name) {
  if (key_.keyExists()) key_.deleteValue(name);
}

void HostValues::forgetPendingUpdate() {
  for (const char* name : {kUpdaterPath, kUpdaterVersion, kUpdaterUrl, kUpdaterDigest,
                           kUpdaterSignature, kUpdaterExpires, kUpdaterSequence})
    remove(name);
}

}  // namespace varnelo::host
