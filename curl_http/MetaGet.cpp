// Reading one remote entry, its inline data and, for a folder, its children.
#include <memory>

#include "ApiGuard.h"
#include "Base64Url.h"
#include "JsonAccess.h"
#include "JsonRequest.h"
#include "Log.h"
#include "MetaApi.h"
#include "MetaEntry.h"
#include "MetaRequest.h"
#include "Records.h"

namespace varnelo::http {

int32_t meta_get(const varnelo_credentials* credentials, std::string_view path,
                 varnelo_meta_get_result** out, const uint8_t* base, bool list, int32_t showType,
                 uint32_t inlineUpTo) {
  if (out != nullptr) *out = nullptr;
  if (credentials == nullptr || out == nullptr) return 499;
  Json::Value body(Json::objectValue);
  body["path"] = json_text(path);
  body["base"] = version_text(base);
  body["list"] = list ? 1 : 0;
  body["showType"] = showType;
  if (list && inlineUpTo > 0) body["inline"] = inlineUpTo;
  auto result = std::make_unique<GetResult>();
  int32_t rc = signed_json_post(credentials, file_url("/get"), body, result->reply);
  if (rc != 200) return rc;
  const Json::Value& reply = result->reply;
  rc = parse_meta_entry(reply, result->entry);
  if (rc != 200) return rc;
  result->dataurl = text_of(member(reply, "dataurl"));
  if (const char* data = text_of(member(reply, "data"))) {
    base64url_decode(data, result->buffer);
    if (result->buffer.size() > INT32_MAX) {
      log_write(kLogError, kModuleVarnelo, "get reply: inline data too large");
      return -1;
    }
    result->data = result->buffer.data();
    result->dataLength = static_cast<int32_t>(result->buffer.size());
  }
  const Json::Value& entries = member(reply, "entries");
  result->entries = entries.isArray() ? as_handle(&entries) : nullptr;
  *out = result.release();
  return 200;
}

}  // namespace varnelo::http

using namespace varnelo;
using namespace varnelo::http;

extern "C" {

int32_t varnelo_meta_get(const varnelo_credentials* credentials, const char* path,
                         varnelo_meta_get_result** out, const uint8_t* base, unsigned char list,
                         int32_t showType) {
  return api_guard(__func__, [&]() -> int32_t {
    if (out != nullptr) *out = nullptr;
    if (path == nullptr) return 499;
    return meta_get(credentials, path, out, base, list != 0, showType);
  });
}

int32_t varnelo_meta_destroy_get_result(varnelo_meta_get_result* result) {
  delete static_cast<GetResult*>(result);
  return 200;
}

}  // extern "C"
