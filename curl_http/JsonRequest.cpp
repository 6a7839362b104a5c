#include "JsonRequest.h"

#include <cstdlib>
#include <memory>
#include <vector>

#include "HttpStatus.h"
#include "JsonAccess.h"
#include "Log.h"
#include "OAuthHeader.h"

namespace varnelo::http {
namespace {

constexpr const char* kContentType = "Content-Type: application/octet-stream";
// An empty Expect header: libcurl never waits for an interim 100 reply.
constexpr const char* kNoExpect = "Expect:";

// The caller's header lines followed by `extra`, NULL-terminated.
std::vector<const char*> with_headers(HeaderList headers,
                                      std::initializer_list<const char*> extra) {
  std::vector<const char*> all;
  for (HeaderList h = headers; h != nullptr && *h != nullptr; ++h) all.push_back(*h);
  all.insert(all.end(), extra);
  all.push_back(nullptr);
  return all;
}

// Status from the captured headers; with `reply`, the trimmed body parsed.
int32_t finish(const std::string& url, int curlCode, const StringSink& headers,
               const StringSink& body, Json::Value* reply) {
  if (curlCode != 0) return curlCode;
  int status = parse_http_status(headers.bytes);
  if (status == -1) {
    log_write(kLogError, kModuleVarnelo, "reply of [%s] has no status line",
              url_for_log(url).c_str());
    return -1;
  }
  if (status >= 300 && status != 298)
    log_write(kLogInfo, kModuleVarnelo, "[%s] answered %d", url_for_log(url).c_str(), status);
  if (reply == nullptr) return status;
  std::string_view text = body.bytes;
  size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return status;
  text = text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
  if (!parse_json(text, *reply)) {
    log_write(kLogError, kModuleVarnelo, "reply of [%s] (status %d) is not JSON",
              url_for_log(url).c_str(), status);
    return -119;
  }
  return status;
}

int32_t post(Json::Value* reply, const std::string& url, std::string_view body, HeaderList headers,
             long timeoutMs, size_t replyLimit = StringSink::kMaxBytes,
             CancelSignal* cancel = nullptr) {
  auto all = with_headers(headers, {kContentType, kNoExpect});
  StringSink bodySink(replyLimit), headerSink(replyLimit);
  int rc =
      http_post(url, body.data(), body.size(), all.data(), timeoutMs, bodySink, headerSink, cancel);
  return finish(url, rc, headerSink, bodySink, reply);
}

struct FreeDeleter {
  void operator()(char* p) const { std::free(p); }
};

// "Authorization: OAuth …" for the request, or a result code.
int32_t auth_line(const varnelo_credentials* credentials, const char* method,
                  const std::string& url, std::string& line) {
  char* value = nullptr;
  int32_t rc = make_oauth_header(credentials, &value, method, url.c_str());
  std::unique_ptr<char, FreeDeleter> owned(value);
  if (rc != 200) return rc;
  line = std::string("Authorization: ") + value;
  return 200;
}

}  // namespace

int32_t json_post(Json::Value& reply, const std::string& url, const Json::Value& request,
                  HeaderList headers, long timeoutMs) {
  return post(&reply, url, write_compact(request), headers, timeoutMs);
}

int32_t json_post_text(Json::Value& reply, const std::string& url, std::string_view body,
                       HeaderList headers, long timeoutMs) {
  return post(&reply, url, body, headers, timeoutMs);
}

int32_t json_post_status(const std::string& url, const Json::Value& request, HeaderList headers,
                         long timeoutMs) {
  return post(nullptr, url, write_compact(request), headers, timeoutMs);
}

int32_t json_get(Json::Value& reply, const std::string& url, HeaderList headers, long timeoutMs) {
  auto all = with_headers(headers, {kContentType});
  StringSink bodySink, headerSink;
  int rc = http_get(url, all.data(), timeoutMs, 0, 0, bodySink, headerSink);
  return finish(url, rc, headerSink, bodySink, &reply);
}

int32_t signed_json_post(const varnelo_credentials* credentials, const std::string& url,
                         const Json::Value& request, Json::Value& reply, long timeoutMs) {
  std::string auth;
  if (int32_t rc = auth_line(credentials, "POST", url, auth); rc != 200) return rc;
  const char* headers[] = {auth.c_str(), nullptr};
  return json_post(reply, url, request, headers, timeoutMs);
}

int32_t signed_json_get(const varnelo_credentials* credentials, const std::string& url,
                        Json::Value& reply, long timeoutMs) {
  std::string auth;
  if (int32_t rc = auth_line(credentials, "GET", url, auth); rc != 200) return rc;
  const char* headers[] = {auth.c_str(), nullptr};
  return json_get(reply, url, headers, timeoutMs);
}

int32_t signed_json_post_bounded(const varnelo_credentials* credentials, const std::string& url,
                                 const Json::Value& request, Json::Value& reply, long timeoutMs,
                                 size_t replyLimit, CancelSignal* cancel) {
  std::string auth;
  if (int32_t rc = auth_line(credentials, "POST", url, auth); rc != 200) return rc;
  const char* headers[] = {auth.c_str(), nullptr};
  return post(&reply, url, write_compact(request), headers, timeoutMs, replyLimit, cancel);
}

int32_t signed_post_text_bounded(const varnelo_credentials* credentials, const std::string& url,
                                 std::string_view body, Json::Value& reply, long timeoutMs,
                                 size_t replyLimit, CancelSignal* cancel) {
  std::string auth;
  if (int32_t rc = auth_line(credentials, "POST", url, auth); rc != 200) return rc;
  const char* headers[] = {auth.c_str(), nullptr};
  return post(&reply, url, body, headers, timeoutMs, replyLimit, cancel);
}

int32_t signed_json_post_status(const varnelo_credentials* credentials, const std::string& url,
                                const Json::Value& request, long timeoutMs) {
  std::string auth;
  if (int32_t rc = auth_line(credentials, "POST", url, auth); rc != 200) return rc;
  const char* headers[] = {auth.c_str(), nullptr};
  return json_post_status(url, request, headers, timeoutMs);
}

}  // namespace varnelo::http
