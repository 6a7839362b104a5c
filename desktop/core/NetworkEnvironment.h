// Hands the network settings to the engine's HTTP transport, which reads the
// CURL_ variables and USE_HTTPS afresh for every request. Called on the UI
// thread at start and by the settings sheet after a change. (Changing the
// environment while another thread reads it is what the transport's design
// asks for; the changes are rare and made between requests in practice.)
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "SettingsStore.h"

namespace varnelo::desktop {

struct NetworkSettings {
  std::string userAgent;
  ProxySettings proxy;
  bool useHttps = false;
  SpeedSettings speed;
};

// One change of the environment: a value to set, or nullopt to remove.
struct EnvChange {
  std::string name;
  std::optional<std::string> value;
  bool operator==(const EnvChange&) const = default;
};

// The changes for `s`, in the order they are made. Nothing about the proxy
// (nor CURL_RESHARE_HANDLE) when no proxy setting type was ever stored;
// USE_HTTPS only when on (turning it off is the settings sheet's).
std::vector<EnvChange> networkEnvironment(const NetworkSettings& s);

// The speed variable's value for a limit (KB/s): a quarter, at least 1;
// nullopt when the limit is off or 0.
std::optional<std::string> speedLimitValue(bool on, uint32_t kbps);

void applyEnvironment(const std::vector<EnvChange>& changes);

// The settings store's values with `userAgent`, pushed into the environment.
void pushNetworkSettings(SettingsStore& settings, const std::string& userAgent);
// Only the two speed variables (the bandwidth page).
void pushSpeedLimits(const SpeedSettings& speed);

}  // namespace varnelo::desktop
