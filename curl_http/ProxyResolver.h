// Automatic proxy discovery for one URL. The transport asks the libproxy
// resolver when CURL_PROXY_SETTINGTYPE is "auto"; tests hand the settings
// computation a fake. Thread safe: each call makes and frees its own factory.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace varnelo::http {

class ProxyResolver {
 public:
  virtual ~ProxyResolver() = default;
  // The proxies to try for `url` in order ("direct://" for none), or nothing
  // when discovery itself is unavailable.
  virtual std::optional<std::vector<std::string>> proxies_for(const std::string& url) = 0;
};

// The process's resolver, backed by libproxy.
ProxyResolver& system_proxy_resolver();

}  // namespace varnelo::http
