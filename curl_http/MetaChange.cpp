// Changing the remote tree: move, copy, mkdir, undelete, purge, delete and
// share links.
#include <cstring>
#include <memory>

#include "ApiGuard.h"
#include "JsonAccess.h"
#include "JsonRequest.h"
#include "Log.h"
#include "MetaApi.h"
#include "MetaEntry.h"
#include "MetaRequest.h"
#include "Records.h"

namespace varnelo::http {
namespace {

int32_t from_to(const varnelo_credentials* credentials, const char* call, std::string_view from,
                std::string_view to) {
  if (credentials == nullptr) return 499;
  Json::Value body(Json::objectValue);
  body["from"] = json_text(from);
  body["to"] = json_text(to);
  return signed_json_post_status(credentials, file_url(call), body);
}

// Undelete and purge: only a partial success (298) hands out a result.
int32_t path_codes(const varnelo_credentials* credentials, const char* call, std::string_view path,
                   varnelo_meta_purge_result** out) {
  if (out != nullptr) *out = nullptr;
  if (credentials == nullptr || out == nullptr) return 499;
  Json::Value body(Json::objectValue);
  body["path"] = json_text(path);
  auto result = std::make_unique<PurgeResult>();
  int32_t rc = signed_json_post(credentials, file_url(call), body, result->reply);
  if (rc != 298) return rc;
  auto code = integer_in(member(result->reply, "code"), INT32_MIN, INT32_MAX);
  if (!code) {
    log_write(kLogError, kModuleVarnelo, "%s reply (298) without an integer code", call);
    return -1;
  }
  result->code = static_cast<int32_t>(*code);
  const Json::Value& paths = member(result->reply, "paths");
  result->paths = paths.isArray() || paths.isNull() ? as_handle(&paths) : nullptr;
  *out = result.release();
  return 298;
}

}  // namespace

int32_t meta_move(const varnelo_credentials* credentials, std::string_view from,
                  std::string_view to) {
  return from_to(credentials, "/move", from, to);
}

int32_t meta_copy(const varnelo_credentials* credentials, std::string_view from,
                  std::string_view to) {
  return from_to(credentials, "/copy", from, to);
}

int32_t meta_undelete(const varnelo_credentials* credentials, std::string_view path,
                      varnelo_meta_purge_result** out) {
  return path_codes(credentials, "/undelete", path, out);
}

int32_t meta_purge(const varnelo_credentials* credentials, std::string_view path,
                   varnelo_meta_purge_result** out) {
  return path_codes(credentials, "/purge", path, out);
}

int32_t meta_mkdir(const varnelo_credentials* credentials, std::string_view path,
                   const char* editTime, varnelo_meta_entry* out) {
  if (credentials == nullptr || out == nullptr) return 499;
  Json::Value body(Json::objectValue);
  body["path"] = json_text(path);
  body["editTime"] = editTime != nullptr ? editTime : "";
  Json::Value reply;
  int32_t rc = signed_json_post(credentials, file_url("/mkdir"), body, reply);
  if (rc != 200) return rc;
  if (!decode_version(member(reply, "ver"), out->ver)) {
    log_write(kLogError, kModuleVarnelo, "mkdir reply without a 16-byte \"ver\"");
    return -1;
  }
  return 200;
}

int32_t meta_mklink(const varnelo_credentials* credentials, std::string_view path, char** out) {
  if (out != nullptr) *out = nullptr;
  if (credentials == nullptr || out == nullptr) return 499;
  Json::Value body(Json::objectValue);
  body["path"] = json_text(path);
  Json::Value reply;
  int32_t rc = signed_json_post(credentials, file_url("/makelink"), body, reply);
  if (rc != 200) return rc;
  const char* linkId = text_of(member(reply, "linkid"));
  if (linkId == nullptr || *linkId == '\0') {
    log_write(kLogError, kModuleVarnelo, "makelink reply without a linkid");
    return -1;
  }
  size_t size = std::strlen(linkId) + 1;
  *out = new char[size];
  std::memcpy(*out, linkId, size);
  return 200;
}

int32_t meta_delete(const varnelo_credentials* credentials, std::string_view path, long timeoutMs) {
  if (credentials == nullptr) return 499;
  Json::Value body(Json::objectValue);
  body["paths"].append(json_text(path));
  Json::Value reply;
  return signed_json_post(credentials, file_url("/delete"), body, reply, timeoutMs);
}

}  // namespace varnelo::http

using namespace varnelo;
using namespace varnelo::http;

extern "C" {

int32_t varnelo_meta_move(const varnelo_credentials* credentials, const char* from,
                          const char* to) {
  return api_guard(__func__, [&]() -> int32_t {
    if (from == nullptr || to == nullptr) return 499;
    return meta_move(credentials, from, to);
  });
}

int32_t varnelo_meta_copy(const varnelo_credentials* credentials, const char* from,
                          const char* to) {
  return api_guard(__func__, [&]() -> int32_t {
    if (from == nullptr || to == nullptr) return 499;
    return meta_copy(credentials, from, to);
  });
}

int32_t varnelo_meta_undelete(const varnelo_credentials* credentials, const char* path,
                              varnelo_meta_purge_result** out) {
  return api_guard(__func__, [&]() -> int32_t {
    if (out != nullptr) *out = nullptr;
    if (path == nullptr) return 499;
    return meta_undelete(credentials, path, out);
  });
}

int32_t varnelo_meta_purge(const varnelo_credentials* credentials, const char* path,
                           varnelo_meta_purge_result** out) {
  return api_guard(__func__, [&]() -> int32_t {
    if (out != nullptr) *out = nullptr;
    if (path == nullptr) return 499;
    return meta_purge(credentials, path, out);
  });
}

int32_t varnelo_meta_mkdir(const varnelo_credentials* credentials, const char* path,
                           const char* editTime, varnelo_meta_entry* out) {
  return api_guard(__func__, [&]() -> int32_t {
    if (path == nullptr) return 499;
    return meta_mkdir(credentials, path, editTime, out);
  });
}

int32_t varnelo_meta_mklink(const varnelo_credentials* credentials, const char* path, char** out) {
  return api_guard(__func__, [&]() -> int32_t {
    if (out != nullptr) *out = nullptr;
    if (path == nullptr) return 499;
    return meta_mklink(credentials, path, out);
  });
}

int32_t varnelo_meta_destroy_purge_result(varnelo_meta_purge_result* result) {
  delete static_cast<PurgeResult*>(result);
  return 200;
}

int32_t varnelo_meta_destroy_linkid(char* linkId) {
  delete[] linkId;
  return 200;
}

}  // extern "C"
