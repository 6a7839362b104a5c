// Where the cloud service lives: the origins of the account, file, device and
// log services, built from VARNELO_SERVICE ("host:httpPort:httpsPort", default
// 127.0.0.1:8080:8443) and USE_HTTPS, read afresh on every call. The account
// base is always HTTPS. Thread safe (reads the environment only).
#pragma once

#include <string>

namespace varnelo::http {

struct ServiceAddress {
  std::string host;  // bracketed when it is an IPv6 literal
  int httpPort = 8080;
  int httpsPort = 8443;
};

ServiceAddress service_address();

// True when USE_HTTPS is "true" (any letter case).
bool use_https();

std::string account_service_base();
std::string file_service_base();
std::string device_service_base();
std::string log_service_base();
// The updater host's manifest and installer service.
std::string update_service_base();

}  // namespace varnelo::http
