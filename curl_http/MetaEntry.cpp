#include "MetaEntry.h"

#include <cstring>
#include <vector>

#include "Base64Url.h"
#include "JsonAccess.h"
#include "Log.h"

namespace varnelo::http {

constexpr uint32_t kKnownTypeBits = 0x8003;

std::string version_text(const uint8_t* version) {
  return version != nullptr ? base64url_encode(version, VARNELO_VERSION_BYTES) : std::string();
}

bool decode_version(const Json::Value& value, uint8_t* out) {
  const char* text = text_of(value);
  std::vector<uint8_t> bytes;
  if (text == nullptr || !base64url_decode(text, bytes) || bytes.size() != VARNELO_VERSION_BYTES)
    return false;
  std::memcpy(out, bytes.data(), VARNELO_VERSION_BYTES);
  return true;
}

int64_t size_member(const Json::Value& value) {
  if (value.isString()) return decimal_text(value.asCString());
  if (is_integer(value)) return integer_value(value);
  return 0;
}

int32_t parse_meta_entry(const Json::Value& object, varnelo_meta_entry& entry) {
  if (!decode_version(member(object, "ver"), entry.ver)) {
    log_write(kLogError, kModuleVarnelo, "entry without a 16-byte \"ver\"");
    return -1;
  }
  entry.path = text_of(member(object, "path"));
  auto type = integer_in(member(object, "type"), 0, UINT32_MAX);
  if (!type) {
    log_write(kLogError, kModuleVarnelo, "entry without an integer \"type\"");
    return -1;
  }
  entry.type = static_cast<uint32_t>(*type);
  if ((entry.type & kKnownTypeBits) == 0) {
    log_write(kLogError, kModuleVarnelo, "entry of unknown type %u", entry.type);
    return -1;
  }
  entry.fileSize = size_member(member(object, "fileSize"));
  entry.fileCount = size_member(member(object, "fileCount"));
  entry.editTime = text_of(member(object, "editTime"));
  entry.mimeType = text_of(member(object, "mimeType"));
  return 200;
}

}  // namespace varnelo::http
