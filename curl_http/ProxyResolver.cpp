#include "ProxyResolver.h"

#include <proxy.h>

#include <memory>

#include "Log.h"

namespace varnelo::http {
namespace {

struct FactoryDeleter {
  void operator()(pxProxyFactory* factory) const { px_proxy_factory_free(factory); }
};

struct ProxiesDeleter {
  void operator()(char** proxies) const { px_proxy_factory_free_proxies(proxies); }
};

class LibproxyResolver final : public ProxyResolver {
 public:
  std::optional<std::vector<std::string>> proxies_for(const std::string& url) override {
    std::unique_ptr<pxProxyFactory, FactoryDeleter> factory(px_proxy_factory_new());
    if (!factory) {
      log_write(kLogWarning, kModuleVarnelo, "libproxy factory unavailable; connecting directly");
      return std::nullopt;
    }
    std::unique_ptr<char*, ProxiesDeleter> proxies(
        px_proxy_factory_get_proxies(factory.get(), url.c_str()));
    std::vector<std::string> result;
    for (char** entry = proxies.get(); entry != nullptr && *entry != nullptr; ++entry)
      result.emplace_back(*entry);
    return result;
  }
};

}  // namespace

ProxyResolver& system_proxy_resolver() {
  static LibproxyResolver resolver;
  return resolver;
}

}  // namespace varnelo::http
