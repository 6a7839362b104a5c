// Account storage facts (protocol, chunk size, usage) and the service's list
// of damaged chunks.
#include <algorithm>

#include "ApiGuard.h"
#include "Base64Url.h"
#include "JsonAccess.h"
#include "JsonRequest.h"
#include "Log.h"
#include "MetaApi.h"
#include "MetaRequest.h"

namespace varnelo::http {
namespace {

int32_t info_request(const varnelo_credentials* credentials, varnelo_meta_info_record* out,
                     Json::Value& reply) {
  if (credentials == nullptr || out == nullptr) return 499;
  int32_t rc = signed_json_post(credentials, file_url("/info"), Json::Value(), reply);
  if (rc != 200) return rc;
  auto protocol = integer_in(member(reply, "protocol"), 0, UINT32_MAX);
  auto chunkSize = integer_in(member(reply, "chunkSize"), 0, UINT32_MAX);
  auto smallFileSize = integer_in(member(reply, "smallFileSize"), INT32_MIN, INT32_MAX);
  const char* used = text_of(member(reply, "used"));
  const char* total = text_of(member(reply, "total"));
  if (!protocol || !chunkSize || !smallFileSize || used == nullptr || total == nullptr ||
      decimal_text(total) == 0) {
    log_write(kLogError, kModuleVarnelo, "info reply is malformed");
    return -1;
  }
  const Json::Value& dirty = member(reply, "dirty");
  *out = {static_cast<uint32_t>(*protocol),
          static_cast<uint32_t>(*chunkSize),
          static_cast<int32_t>(*smallFileSize),
          decimal_text(used),
          decimal_text(total),
          dirty.isArray() && dirty.size() > 0 ? 1 : 0};
  return 200;
}

bool read_dirty_chunk(const Json::Value& item, DirtyChunk& chunk) {
  auto index = integer_in(member(item, "index"), INT32_MIN, INT32_MAX);
  const char* key = text_of(member(item, "key"));
  const char* path = text_of(member(item, "path"));
  const Json::Value& size = member(item, "size");
  const char* url = text_of(member(item, "url"));
  std::vector<uint8_t> keyBytes;
  if (!item.isObject() || !index || key == nullptr || path == nullptr || !is_integer(size) ||
      url == nullptr || !base64url_decode(key, keyBytes) || keyBytes.size() != VARNELO_KEY_BYTES)
    return false;
  chunk.index = static_cast<int32_t>(*index);
  std::copy(keyBytes.begin(), keyBytes.end(), chunk.key);
  chunk.path = path;
  chunk.size = integer_value(size);
  chunk.url = url;
  return true;
}

}  // namespace

int32_t meta_info_dirty(const varnelo_credentials* credentials, varnelo_meta_info_record* out,
                        std::vector<DirtyChunk>& dirty) {
  return api_guard(__func__, [&]() -> int32_t {
    Json::Value reply;
    int32_t rc = info_request(credentials, out, reply);
    if (rc != 200) return rc;
    const Json::Value& list = member(reply, "dirty");
    if (!list.isArray()) return 200;
    for (const Json::Value& item : list) {
      DirtyChunk chunk;
      if (!read_dirty_chunk(item, chunk)) {
        log_write(kLogError, kModuleVarnelo, "info reply: malformed damaged-chunk entry");
        return -1;
      }
      dirty.push_back(std::move(chunk));
    }
    return 200;
  });
}

namespace {

NotifyOffer notify_offer_of(const Json::Value& reply) {
  const Json::Value& notify = member(reply, "notify");
  if (notify.isNull()) return {};
  const char* cursor = text_of(member(notify, "cursor"));
  auto wait = integer_in(member(notify, "wait"), 1, kMaxNotifyWaitSeconds);
  if (!valid_notify_cursor(cursor) || !wait) {
    log_write(kLogWarning, kModuleVarnelo, "info reply: malformed notification offer, ignored");
    return {};
  }
  return NotifyOffer{true, cursor, static_cast<int>(*wait)};
}

uint32_t inline_limit_of(const Json::Value& reply) {
  const Json::Value& offered = member(reply, "inline");
  if (offered.isNull()) return 0;
  auto limit = integer_in(offered, 1, INT64_MAX);
  if (!limit) {
    log_write(kLogWarning, kModuleVarnelo, "info reply: malformed inline offer, ignored");
    return 0;
  }
  return static_cast<uint32_t>(std::min<int64_t>(*limit, kMaxInlineFileSize));
}

}  // namespace

int32_t meta_info_notify(const varnelo_credentials* credentials, varnelo_meta_info_record* out,
                         NotifyOffer& offer, PutBatchOffer* batch, uint32_t* inlineLimit) {
  return api_guard(__func__, [&]() -> int32_t {
    offer = NotifyOffer{};
    if (batch != nullptr) *batch = PutBatchOffer{};
    if (inlineLimit != nullptr) *inlineLimit = 0;
    Json::Value reply;
    int32_t rc = info_request(credentials, out, reply);
    if (rc != 200) return rc;
    if (batch != nullptr) *batch = read_put_batch_offer(reply);
    if (inlineLimit != nullptr) *inlineLimit = inline_limit_of(reply);
    offer = notify_offer_of(reply);
    return 200;
  });
}

}  // namespace varnelo::http

using namespace varnelo;
using namespace varnelo::http;

extern "C" {

int32_t varnelo_meta_info(const varnelo_credentials* credentials, varnelo_meta_info_record* out) {
  return api_guard(__func__, [&]() -> int32_t {
    Json::Value reply;
    return info_request(credentials, out, reply);
  });
}

}  // extern "C"
