// A folder listing the engine may merge: the reply must say it is a folder,
// carry its children as an array, and list as many children as its
// "fileCount" announces (which it must send). A listing that fails any of these is refused as a
// whole, so a damaged or cut reply never reads as an empty folder (which
// the remote pass would take for "everything below was deleted"). Also the
// reading of the content a listed entry carries inline.
#include "Base64Url.h"
#include "JsonAccess.h"
#include "Log.h"
#include "MetaApi.h"
#include "Records.h"

namespace varnelo::http {

int32_t meta_list(const varnelo_credentials* credentials, std::string_view path,
                  varnelo_meta_get_result** out, uint32_t inlineUpTo) {
  varnelo_meta_get_result* result = nullptr;
  int32_t rc = meta_get(credentials, path, &result, nullptr, true, 0, inlineUpTo);
  if (out != nullptr) *out = nullptr;
  if (rc != 200) return rc;
  const char* why = nullptr;
  if (!(result->entry.type & 2)) {
    why = "the listed entry is not a folder";
  } else if (result->entries == nullptr) {
    why = "no \"entries\" array";
  } else if (const Json::Value& count =
                 member(static_cast<const GetResult*>(result)->reply, "fileCount");
             !count.isString() && !is_integer(count)) {
    why = "no \"fileCount\"";
  } else if (varnelo_array_size(result->entries) != result->entry.fileCount) {
    why = "the entry count differs from \"fileCount\"";
  }
  if (why != nullptr || out == nullptr) {
    if (why != nullptr) {
      const std::string shown(path);
      log_write(kLogError, kModuleVarnelo, "listing of [%s] refused: %s", shown.c_str(), why);
    }
    varnelo_meta_destroy_get_result(result);
    return why != nullptr ? -1 : 499;
  }
  *out = result;
  return 200;
}

int32_t meta_entry_inline_data(const varnelo_array* array, int32_t index,
                               std::vector<uint8_t>& out) {
  out.clear();
  if (array == nullptr) return 404;
  const Json::Value& item = element(*as_json(array), index);
  if (!item.isObject()) return 404;
  const Json::Value& data = member(item, "data");
  if (data.isNull()) return 404;
  const char* text = text_of(data);
  if (text == nullptr || !base64url_decode(text, out, true)) {
    out.clear();
    return -1;
  }
  return 200;
}

}  // namespace varnelo::http
