// Publishing a file version: prepare_put (which chunks the service lacks),
// commit_put, and the single-request put address of a small file.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>

#include "ApiGuard.h"
#include "Base64Url.h"
#include "FormEscape.h"
#include "JsonAccess.h"
#include "JsonRequest.h"
#include "Log.h"
#include "MetaApi.h"
#include "MetaEntry.h"
#include "MetaRequest.h"
#include "Records.h"

namespace varnelo::http {
namespace {

// The members prepare_put and commit_put share; false for bad arguments.
bool put_body(std::string_view path, const uint8_t* keys, int32_t keyCount, uint32_t chunkSize,
              int64_t fileSize, const uint8_t* base, Json::Value& body) {
  if (keyCount < 0 || (keyCount > 0 && keys == nullptr)) return false;
  body = Json::Value(Json::objectValue);
  body["path"] = json_text(path);
  Json::Value& list = body["keys"] = Json::Value(Json::arrayValue);
  for (int32_t i = 0; i < keyCount; ++i)
    list.append(base64url_encode(keys + size_t(i) * VARNELO_KEY_BYTES, VARNELO_KEY_BYTES));
  body["chunkSize"] = chunkSize;
  body["fileSize"] = std::to_string(fileSize);
  body["base"] = version_text(base);
  return true;
}

}  // namespace

int32_t meta_prepare_put(const varnelo_credentials* credentials, std::string_view path,
                         const uint8_t* keys, int32_t keyCount, uint32_t chunkSize,
                         int64_t fileSize, const uint8_t* base, varnelo_meta_prepare_result** out) {
  if (out != nullptr) *out = nullptr;
  Json::Value body;
  if (credentials == nullptr || out == nullptr ||
      !put_body(path, keys, keyCount, chunkSize, fileSize, base, body))
    return 499;
  auto result = std::make_unique<PrepareResult>();
  int32_t rc = signed_json_post(credentials, file_url("/prepare_put"), body, result->reply);
  if (rc != 200) return rc;
  const Json::Value& required = member(result->reply, "required");
  if (!required.isArray() && !required.isNull()) {
    log_write(kLogError, kModuleVarnelo, "prepare_put reply: \"required\" is not an array");
    return -1;
  }
  result->required = as_handle(&required);
  *out = result.release();
  return 200;
}

int32_t meta_commit_put(const varnelo_credentials* credentials, std::string_view path,
                        const uint8_t* keys, int32_t keyCount, uint32_t chunkSize, int64_t fileSize,
                        const char* editTime, const char* mimeType, const uint8_t* base,
                        varnelo_meta_entry* out) {
  Json::Value body;
  if (credentials == nullptr || out == nullptr ||
      !put_body(path, keys, keyCount, chunkSize, fileSize, base, body))
    return 499;
  body["editTime"] = editTime != nullptr ? editTime : "";
  body["mimeType"] = mimeType != nullptr ? mimeType : "";
  Json::Value reply;
  int32_t rc = signed_json_post(credentials, file_url("/commit_put"), body, reply);
  if (rc != 200) return rc;
  if (!decode_version(member(reply, "ver"), out->ver)) {
    log_write(kLogError, kModuleVarnelo, "commit_put reply without a 16-byte \"ver\"");
    return -1;
  }
  return 200;
}

int32_t small_put_url(const char* path, const uint8_t* key, int64_t fileSize, uint32_t chunkSize,
                      const char* mimeType, const char* editTime, const uint8_t* base, char* buffer,
                      size_t* length) {
  if (length == nullptr) return 499;
  if (path == nullptr || key == nullptr) return 499;
  std::string url = file_service_base() + "/2/put?path=" + form_escape(path) +
                    "&key=" + base64url_encode(key, VARNELO_KEY_BYTES) +
                    "&fileSize=" + std::to_string(fileSize) + "&base=" + version_text(base) +
                    "&chunkSize=" + std::to_string(chunkSize) +
                    "&mimeType=" + (mimeType != nullptr ? mimeType : "") +
                    "&editTime=" + (editTime != nullptr ? editTime : "");
  if (buffer == nullptr) {
    *length = url.size();
    return 200;
  }
  if (*length <= url.size()) return -3;
  std::memcpy(buffer, url.c_str(), url.size() + 1);
  *length = url.size();
  return 200;
}

}  // namespace varnelo::http

using namespace varnelo;
using namespace varnelo::http;

extern "C" {

int32_t varnelo_meta_prepare_put(const varnelo_credentials* credentials, const char* path,
                                 const uint8_t* keys, int32_t keyCount, uint32_t chunkSize,
                                 int64_t fileSize, const uint8_t* base,
                                 varnelo_meta_prepare_result** out) {
  return api_guard(__func__, [&]() -> int32_t {
    if (out != nullptr) *out = nullptr;
    if (path == nullptr) return 499;
    return meta_prepare_put(credentials, path, keys, keyCount, chunkSize, fileSize, base, out);
  });
}

int32_t varnelo_meta_commit_put(const varnelo_credentials* credentials, const char* path,
                                const uint8_t* keys, int32_t keyCount, uint32_t chunkSize,
                                int64_t fileSize, const char* editTime, const char* mimeType,
                                const uint8_t* base, varnelo_meta_entry* out) {
  return api_guard(__func__, [&]() -> int32_t {
    if (path == nullptr) return 499;
    return meta_commit_put(credentials, path, keys, keyCount, chunkSize, fileSize, editTime,
                           mimeType, base, out);
  });
}

int32_t varnelo_meta_destroy_prepare_result(varnelo_meta_prepare_result* result) {
  delete static_cast<PrepareResult*>(result);
  return 200;
}

}  // extern "C"
