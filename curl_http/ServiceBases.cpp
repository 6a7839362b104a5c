#include "ServiceBases.h"

#include <cstdlib>

#include "Environment.h"
#include "Log.h"

namespace varnelo::http {
namespace {

constexpr const char* kDefaultHost = "127.0.0.1";

bool parse_port(const std::string& text, int& port) {
  if (text.empty() || text.size() > 5) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  port = std::atoi(text.c_str());
  return port > 0 && port < 65536;
}

std::string origin(bool secure) {
  ServiceAddress address = service_address();
  return std::string(secure ? "https://" : "http://") + address.host + ":" +
         std::to_string(secure ? address.httpsPort : address.httpPort);
}

}  // namespace

ServiceAddress service_address() {
  ServiceAddress address;
  address.host = kDefaultHost;
  auto value = env_value("VARNELO_SERVICE");
  if (!value) return address;
  // The host may itself hold colons (IPv6), so the ports are taken from the right.
  size_t second = value->rfind(':');
  size_t first = second == std::string::npos || second == 0 ? std::string::npos
                                                            : value->rfind(':', second - 1);
  ServiceAddress parsed;
  if (first == std::string::npos || first == 0 ||
      !parse_port(value->substr(first + 1, second - first - 1), parsed.httpPort) ||
      !parse_port(value->substr(second + 1), parsed.httpsPort)) {
    log_write(kLogError, kModuleVarnelo, "VARNELO_SERVICE [%s] is not host:httpPort:httpsPort",
              value->c_str());
    return address;
  }
  parsed.host = value->substr(0, first);
  if (parsed.host.find(':') != std::string::npos && parsed.host.front() != '[')
    parsed.host = "[" + parsed.host + "]";
  return parsed;
}

bool use_https() {
  return env_is("USE_HTTPS", "true");
}

std::string account_service_base() {
  return origin(true);
}
std::string file_service_base() {
  return origin(use_https());
}
std::string device_service_base() {
  return origin(use_https());
}
std::string log_service_base() {
  return origin(use_https());
}
std::string update_service_base() {
  return origin(use_https());
}

}  // namespace varnelo::http
