// Exported accessors of the metadata results' arrays: entries, path/code
// pairs and index/url pairs. Each checks the index and the element's type.
#include "JsonAccess.h"
#include "MetaEntry.h"
#include "Records.h"

using namespace varnelo;
using namespace varnelo::http;

namespace {

// The element when it is an object or null (null reads as empty), else nullptr.
const Json::Value* object_or_null(const varnelo_array* array, int32_t index) {
  if (array == nullptr) return nullptr;
  const Json::Value& item = element(*as_json(array), index);
  return item.isObject() || item.isNull() ? &item : nullptr;
}

}  // namespace

extern "C" {

int32_t varnelo_meta_entry_array_at(const varnelo_array* array, int32_t index,
                                    varnelo_meta_entry* out) {
  if (out == nullptr) return 499;
  *out = {};
  const Json::Value* item = object_or_null(array, index);
  if (item == nullptr) return 404;
  int32_t rc = parse_meta_entry(*item, *out);
  if (rc != 200) *out = {};
  return rc;
}

int32_t varnelo_meta_pathcode_array_at(const varnelo_array* array, int32_t index,
                                       varnelo_meta_pathcode* out) {
  if (out == nullptr) return 499;
  *out = {};
  const Json::Value* item = object_or_null(array, index);
  if (item == nullptr) return 404;
  const char* path = text_of(member(*item, "path"));
  if (path == nullptr) return 404;
  out->path = path;
  if (auto code = integer_in(member(*item, "code"), INT32_MIN, INT32_MAX))
    out->code = static_cast<int32_t>(*code);
  return 200;
}

int32_t varnelo_meta_indexurl_array_at(const varnelo_array* array, int32_t index,
                                       varnelo_meta_indexurl* out) {
  if (out == nullptr) return 499;
  *out = {-1, nullptr};
  const Json::Value* item = object_or_null(array, index);
  if (item == nullptr) return 404;
  auto chunkIndex = integer_in(member(*item, "index"), INT32_MIN, INT32_MAX);
  const char* url = text_of(member(*item, "url"));
  if (!chunkIndex || url == nullptr) return 404;
  *out = {static_cast<int32_t>(*chunkIndex), url};
  return 200;
}

}  // extern "C"
