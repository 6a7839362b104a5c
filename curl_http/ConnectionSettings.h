// The connection settings of one transfer, computed from the environment and
// the URL as a plain record (so they can be checked without libcurl), then
// applied to an easy handle. Called by the transport before every transfer;
// thread safe (no shared state besides the environment it reads).
//
//   ConnectionSettings s = compute_connection_settings(url, true, system_proxy_resolver());
//   apply_connection_settings(handle, s);
#pragma once

#include <curl/curl.h>

#include <optional>
#include <string>

#include "ProxyResolver.h"

namespace varnelo::http {

struct ConnectionSettings {
  bool secure = false;  // the URL begins with "https"
  // Protocols the transfer may use: "https" for secure URLs; "http,https"
  // otherwise, so an address handed out by the service can never name a
  // local file or another scheme.
  std::string protocols;
  std::optional<std::string> userAgent;
  std::optional<std::string> proxy;  // set when a proxy is used
  std::optional<long> proxyType;     // CURLPROXY_*; unset keeps libcurl's HTTP default
  std::optional<std::string> proxyUserPwd;
  bool tunnel = false;                  // HTTPS through a proxy: CONNECT tunnel
  curl_off_t maxSend = 0;               // bytes/s; 0 = unlimited
  curl_off_t maxRecv = 0;               // bytes/s; 0 = unlimited
  std::optional<std::string> caBundle;  // extra trusted CAs (VARNELO_CA_BUNDLE)
};

// True when `folder` holds certificates under hashed names ("002c0b4f.0"),
// as OpenSSL looks them up one at a time.
bool holds_hashed_certificates(const std::string& folder);

// Reads the settings for `url` from the environment: user agent, protocols, proxy
// (libproxy in "auto" mode, else the manual CURL_PROXY* variables), tunnel,
// and, when `withSpeedLimits` (GET and PUT), the CURL_*_SPEEDLIMIT limits.
ConnectionSettings compute_connection_settings(const std::string& url, bool withSpeedLimits,
                                               ProxyResolver& resolver);

// Sets the record's options on `handle` (peer verification stays on).
// `settings` must outlive the transfer (the CA callback reads it).
void apply_connection_settings(CURL* handle, const ConnectionSettings& settings);

}  // namespace varnelo::http
