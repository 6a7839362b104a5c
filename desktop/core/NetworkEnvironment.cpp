#include "NetworkEnvironment.h"

#include <cstdlib>

namespace varnelo::desktop {

std::optional<std::string> speedLimitValue(bool on, uint32_t kbps) {
  if (!on || kbps == 0) return std::nullopt;
  return std::to_string(kbps / 4 == 0 ? 1 : kbps / 4);
}

namespace {

void addSpeedLimits(const SpeedSettings& speed, std::vector<EnvChange>& out) {
  out.push_back({"CURL_UPLOAD_SPEEDLIMIT", speedLimitValue(speed.limitUpload, speed.uploadKBps)});
  out.push_back(
      {"CURL_DOWNLOAD_SPEEDLIMIT", speedLimitValue(speed.limitDownload, speed.downloadKBps)});
}

}  // namespace

std::vector<EnvChange> networkEnvironment(const NetworkSettings& s) {
  std::vector<EnvChange> out;
  out.push_back({"CURL_USERAGENT", s.userAgent});
  const ProxySettings& p = s.proxy;
  if (p.typeStored) {
    out.push_back({"CURL_PROXY_SETTINGTYPE",
                   p.settingType == 1 ? std::optional<std::string>("auto") : std::nullopt});
    if (p.settingType == 2 && !p.address.empty()) {
      const int port = p.port <= 0 || p.port > 65535 ? 80 : p.port;
      out.push_back({"CURL_PROXY", p.address + ":" + std::to_string(port)});
      out.push_back({"CURL_PROXYTYPE", p.proxyType});
      if (p.auth && !p.user.empty()) {
        out.push_back({"CURL_PROXYUSERPWD", p.user + ":" + p.password});
      }
    } else {
      out.push_back({"CURL_PROXY", std::nullopt});
      out.push_back({"CURL_PROXYTYPE", std::nullopt});
      out.push_back({"CURL_PROXYUSERPWD", std::nullopt});
    }
    out.push_back({"CURL_RESHARE_HANDLE", "true"});
  }
  if (s.useHttps) out.push_back({"USE_HTTPS", "true"});
  addSpeedLimits(s.speed, out);
  return out;
}

void applyEnvironment(const std::vector<EnvChange>& changes) {
  for (const EnvChange& c : changes) {
    // An empty value removes the variable, as the transport treats an empty
    // one as absent.
    if (c.value && !c.value->empty()) {
      setenv(c.name.c_str(), c.value->c_str(), 1);
    } else {
      unsetenv(c.name.c_str());
    }
  }
}

void pushNetworkSettings(SettingsStore& settings, const std::string& userAgent) {
  NetworkSettings s;
  s.userAgent = userAgent;
  s.proxy = settings.proxy();
  s.useHttps = settings.useHttps();
  s.speed = settings.speed();
  applyEnvironment(networkEnvironment(s));
}

void pushSpeedLimits(const SpeedSettings& speed) {
  std::vector<EnvChange> changes;
  addSpeedLimits(speed, changes);
  applyEnvironment(changes);
}

}  // namespace varnelo::desktop
