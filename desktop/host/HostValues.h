// The values of the application's settings key that the host reads and
// writes ("AppVersion", "AppFolder", "UpdaterPath", "UpdaterVersion",
// "UpdaterIgnore" and the signed facts of a downloaded update), with the
// host's rules on top of the platform registry: the host never creates the
// key, so without it every write fails; an empty text counts as missing.
// Used on the host's only thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/registry.h"

namespace varnelo::host {

inline constexpr const char* kAppVersion = "AppVersion";
inline constexpr const char* kAppFolder = "AppFolder";
inline constexpr const char* kUpdaterPath = "UpdaterPath";
inline constexpr const char* kUpdaterVersion = "UpdaterVersion";
inline constexpr const char* kUpdaterIgnore = "UpdaterIgnore";
// What the signature covered besides the version, kept so that the pending
// installer is checked again right before it runs.
inline constexpr const char* kUpdaterUrl = "UpdaterUrl";
inline constexpr const char* kUpdaterDigest = "UpdaterDigest";
inline constexpr const char* kUpdaterSignature = "UpdaterSignature";
inline constexpr const char* kUpdaterExpires = "UpdaterExpires";
inline constexpr const char* kUpdaterSequence = "UpdaterSequence";
// The highest manifest sequence this host accepted (decimal text): an older
// manifest replayed later is refused. Kept when a pending update goes.
inline constexpr const char* kUpdateSequence = "UpdateSequence";

class HostValues {
 public:
  explicit HostValues(platform::Registry& key) : key_(key) {}

  // Nothing unless the value exists as text, is not empty and at most 4096
  // bytes long.
  std::optional<std::string> text(const char* name) const;
  // The number when the value exists as a number, else 0.
  uint32_t number(const char* name) const;
  // False when the key does not exist or the write failed (logged).
  bool setText(const char* name, const std::string& value);
  bool setNumber(const char* name, uint32_t value);
  // A 64-bit number kept as decimal text; `fallback` when missing or not one.
  int64_t bigNumber(const char* name, int64_t fallback) const;
  void remove(const char* name);
  // Drops every value of a pending update.
  void forgetPendingUpdate();

 private:
  platform::Registry& key_;
};

}  // namespace varnelo::host
