#include "HostFetch.h"

#include "HttpStatus.h"
#include "ServiceBases.h"

namespace varnelo::host {

int host_fetch(const std::string& url, http::Sink& body, long timeoutMs) {
  http::StringSink headers;
  int rc = http::http_get(url, nullptr, timeoutMs, 0, 0, body, headers, kConnectTimeoutMs);
  if (rc != 0) return rc;
  return http::parse_http_status(headers.bytes);
}

std::string manifest_url() {
  return http::update_service_base() + "/update/varnelo-win/version.dat";
}

}  // namespace varnelo::host
