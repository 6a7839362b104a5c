#include "ConnectionSettings.h"

#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cctype>
#include <vector>

#include "Environment.h"
#include "Log.h"
#include "platform/files.h"

namespace varnelo::http {
namespace {

long proxy_type_from(const std::string& text) {
  if (equals_ignore_case(text, "socks4")) return CURLPROXY_SOCKS4;
  if (equals_ignore_case(text, "socks5")) return CURLPROXY_SOCKS5;
  if (equals_ignore_case(text, "http1.0")) return CURLPROXY_HTTP_1_0;
  return CURLPROXY_HTTP;
}

void apply_proxy(const std::string& url, ProxyResolver& resolver, ConnectionSettings& s) {
  if (env_is("CURL_PROXY_SETTINGTYPE", "auto")) {
    auto proxies = resolver.proxies_for(url);
    if (!proxies || proxies->empty()) return;
    const std::string& first = proxies->front();
    if (first.size() >= 6 && equals_ignore_case(std::string_view(first).substr(0, 6), "direct"))
      return;
    s.proxy = first;
    s.proxyType = CURLPROXY_HTTP;
    return;
  }
  s.proxy = env_value("CURL_PROXY");
  if (!s.proxy) return;
  if (auto type = env_value("CURL_PROXYTYPE")) s.proxyType = proxy_type_from(*type);
  s.proxyUserPwd = env_value("CURL_PROXYUSERPWD");
}

curl_off_t speed_limit(const char* name) {
  int kib = env_int(name);
  return kib > 0 ? static_cast<curl_off_t>(kib) * 1024 : 0;
}

// Adds the extra CA bundle to the store libcurl filled from the system trust
// store, so both are trusted.
CURLcode add_extra_ca(CURL*, void* sslCtx, void* userData) {
  const auto* path = static_cast<const std::string*>(userData);
  X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(sslCtx));
  if (store == nullptr || X509_STORE_load_file(store, path->c_str()) != 1) {
    log_write(kLogError, kModuleVarnelo, "cannot load CA bundle [%s]", path->c_str());
    return CURLE_SSL_CACERT_BADFILE;
  }
  return CURLE_OK;
}

// The system's trust store as one file per certificate, each under the hash
// of its subject; the bundle file holds the same certificates in one.
constexpr const char* kSystemCaFolder = "/etc/ssl/certs";

}  // namespace

bool holds_hashed_certificates(const std::string& folder) {
  std::vector<platform::files::DirEntry> entries;
  if (platform::files::listDirectory(folder, entries)) return false;
  // "002c0b4f.0": eight hex digits, a dot and a number.
  return std::any_of(entries.begin(), entries.end(), [](const platform::files::DirEntry& e) {
    const std::string& n = e.name;
    return n.size() >= 10 && n[8] == '.' &&
           std::all_of(n.begin(), n.begin() + 8,
                       [](unsigned char c) { return std::isxdigit(c) != 0; }) &&
           std::all_of(n.begin() + 9, n.end(),
                       [](unsigned char c) { return std::isdigit(c) != 0; });
  });
}

ConnectionSettings compute_connection_settings(const std::string& url, bool withSpeedLimits,
                                               ProxyResolver& resolver) {
  ConnectionSettings s;
  s.userAgent = env_value("CURL_USERAGENT");
  s.secure = url.compare(0, 5, "https") == 0;
  s.protocols = s.secure ? "https" : "http,https";
  apply_proxy(url, resolver, s);
  s.tunnel = s.secure && s.proxy.has_value();
  if (withSpeedLimits) {
    s.maxSend = speed_limit("CURL_UPLOAD_SPEEDLIMIT");
    s.maxRecv = speed_limit("CURL_DOWNLOAD_SPEEDLIMIT");
  }
  s.caBundle = env_value("VARNELO_CA_BUNDLE");
  return s;
}

void apply_connection_settings(CURL* handle, const ConnectionSettings& s) {
  if (s.userAgent) curl_easy_setopt(handle, CURLOPT_USERAGENT, s.userAgent->c_str());
  curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, s.protocols.c_str());
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
  // Where the system's trust store has a folder of hashed names, OpenSSL
  // reads from it only the certificates a chain needs. The bundle file is
  // parsed whole, some 140 certificates and about 30 ms, for every new
  // connection: a start's first request waited on it. Looked at once.
  static const bool hashedStore = holds_hashed_certificates(kSystemCaFolder);
  if (hashedStore) {
    curl_easy_setopt(handle, CURLOPT_CAINFO, nullptr);
    curl_easy_setopt(handle, CURLOPT_CAPATH, kSystemCaFolder);
  }
  if (s.caBundle) {
    curl_easy_setopt(handle, CURLOPT_SSL_CTX_FUNCTION, &add_extra_ca);
    curl_easy_setopt(handle, CURLOPT_SSL_CTX_DATA, &*s.caBundle);
    // The callback adds to the CA store; a cached store would keep trusting
    // the bundle after the variable changes, so each connection builds its own.
    curl_easy_setopt(handle, CURLOPT_CA_CACHE_TIMEOUT, 0L);
  }
  if (s.proxy) {
    curl_easy_setopt(handle, CURLOPT_PROXY, s.proxy->c_str());
    if (s.proxyType) curl_easy_setopt(handle, CURLOPT_PROXYTYPE, *s.proxyType);
    if (s.proxyUserPwd) curl_easy_setopt(handle, CURLOPT_PROXYUSERPWD, s.proxyUserPwd->c_str());
  } else {
    // An empty proxy keeps libcurl from picking one up from http_proxy & co:
    // the application's settings are the only source.
    curl_easy_setopt(handle, CURLOPT_PROXY, "");
  }
  curl_easy_setopt(handle, CURLOPT_HTTPPROXYTUNNEL, s.tunnel ? 1L : 0L);
  // The proxy's own "200 Connection established" must not reach the header
  // sink, or it would be taken for the service's status.
  if (s.tunnel) curl_easy_setopt(handle, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  if (s.maxSend > 0) curl_easy_setopt(handle, CURLOPT_MAX_SEND_SPEED_LARGE, s.maxSend);
  if (s.maxRecv > 0) curl_easy_setopt(handle, CURLOPT_MAX_RECV_SPEED_LARGE, s.maxRecv);
}

}  // namespace varnelo::http
