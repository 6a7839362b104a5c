// JSON requests over the transport: the body is a JSON document (or a ready
// text) sent as application/octet-stream, the reply is parsed with jsoncpp.
// The signed forms add the OAuth Authorization header for the credentials.
// Called by the account, device and metadata functions; thread safe.
//
// Results: a libcurl code (1-99) when the transfer failed; -1 without a
// status line; -119 when a non-empty body is not JSON; otherwise the HTTP
// status, whatever it is (callers decide what a non-200 means).
#pragma once

#include <json/json.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "Transport.h"
#include "varnelo/account.h"

namespace varnelo::http {

// The timeout of every request of the exported functions.
inline constexpr long kRequestTimeoutMs = 30000;

int32_t json_post(Json::Value& reply, const std::string& url, const Json::Value& request,
                  HeaderList headers, long timeoutMs);
// The same with the body as a ready text.
int32_t json_post_text(Json::Value& reply, const std::string& url, std::string_view body,
                       HeaderList headers, long timeoutMs);
int32_t json_get(Json::Value& reply, const std::string& url, HeaderList headers, long timeoutMs);
// As json_post, but the reply body is not parsed.
int32_t json_post_status(const std::string& url, const Json::Value& request, HeaderList headers,
                         long timeoutMs);

// Signed forms: Authorization header over (method, url), then the request.
int32_t signed_json_post(const varnelo_credentials* credentials, const std::string& url,
                         const Json::Value& request, Json::Value& reply,
                         long timeoutMs = kRequestTimeoutMs);
int32_t signed_json_get(const varnelo_credentials* credentials, const std::string& url,
                        Json::Value& reply, long timeoutMs = kRequestTimeoutMs);
// A signed POST whose reply may not exceed `replyLimit` bytes (more ends
// the transfer) and that `cancel` may end early (a libcurl code then).
int32_t signed_json_post_bounded(const varnelo_credentials* credentials, const std::string& url,
                                 const Json::Value& request, Json::Value& reply, long timeoutMs,
                                 size_t replyLimit, CancelSignal* cancel);
// A signed POST of a ready body (application/octet-stream) whose reply may
// not exceed `replyLimit` bytes and that `cancel` may end early.
int32_t signed_post_text_bounded(const varnelo_credentials* credentials, const std::string& url,
                                 std::string_view body, Json::Value& reply, long timeoutMs,
                                 size_t replyLimit, CancelSignal* cancel = nullptr);
int32_t signed_json_post_status(const varnelo_credentials* credentials, const std::string& url,
                                const Json::Value& request, long timeoutMs = kRequestTimeoutMs);

}  // namespace varnelo::http
