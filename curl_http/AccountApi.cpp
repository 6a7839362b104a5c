// Account profile, ping and log upload.
#include "AccountApi.h"

#include <string>

#include "ApiGuard.h"
#include "JsonAccess.h"
#include "JsonRequest.h"
#include "Log.h"
#include "Records.h"
#include "ServiceBases.h"

namespace varnelo::http {

int32_t account_ping(const varnelo_credentials* credentials) {
  return api_guard(__func__, [&]() -> int32_t {
    if (credentials == nullptr) return 499;
    Json::Value reply;
    int32_t rc =
        signed_json_post(credentials, account_service_base() + "/api/1/ping", Json::Value(), reply);
    if (rc != 200) return rc;
    const Json::Value& code = member(reply, "code");
    if (!is_integer(code) || integer_value(code) != 0) {
      log_write(kLogError, kModuleVarnelo, "ping reply without code 0");
      return -1;
    }
    return 200;
  });
}

}  // namespace varnelo::http

using namespace varnelo;
using namespace varnelo::http;

extern "C" {

int32_t varnelo_user_info(const varnelo_credentials* credentials, varnelo_user_info_result** out) {
  return api_guard(__func__, [&]() -> int32_t {
    if (out != nullptr) *out = nullptr;
    if (credentials == nullptr || out == nullptr) return 499;
    Json::Value reply;
    int32_t rc = signed_json_get(credentials, account_service_base() + "/api/1/user_info", reply);
    if (rc != 200) return rc;
    Json::StyledWriter writer;
    std::string text = writer.write(reply);
    // An absent body re-serialises as "null": there is no profile in it.
    if (reply.isNull() || text.empty()) {
      log_write(kLogError, kModuleVarnelo, "user_info reply is empty");
      return -1;
    }
    *out = new UserInfo(std::move(text));
    return 200;
  });
}

int32_t varnelo_destroy_user_info(varnelo_user_info_result* info) {
  delete static_cast<UserInfo*>(info);
  return 200;
}

int32_t varnelo_log(const varnelo_credentials*, const char* type, const char*, int32_t length) {
  // The log service is the only log endpoint; typed texts (the device
  // description) are kept local.
  log_write(kLogInfo, kModuleVarnelo, "log text of type [%s], %d bytes, kept local",
            type != nullptr ? type : "", length);
  return 200;
}

int32_t varnelo_log2(const char* text) {
  return api_guard(__func__, [&]() -> int32_t {
    if (text == nullptr) return 499;
    Json::Value reply;
    return json_post_text(reply, log_service_base() + "/", text, nullptr, kRequestTimeoutMs);
  });
}

}  // extern "C"
