#include "WireFormat.h"

#include "Base64.h"

namespace varnelo::service {

Json::Value entryJson(const Entry& entry, bool leadingSlash) {
  Json::Value v;
  v["path"] = (leadingSlash ? "/" : "") + entry.path;
  v["name"] = entry.name;
  v["type"] = entry.type;
  v["ver"] = base64Encode(entry.ver, true);
  v["fileSize"] = std::to_string(entry.size);
  v["fileCount"] = static_cast<Json::Int64>(entry.fileCount);
  v["editTime"] = entry.editTime;
  v["mimeType"] = entry.mime;
  return v;
}

char keyListDescriptor(int form, int64_t chunkSize) {
  int n = 0;
  while ((int64_t{1} << (n + 16)) < chunkSize) ++n;
  return static_cast<char>((form << 4) | n);
}

bool parseKeyList(const std::string& decoded, int* form, int64_t* chunkSize, std::string* keys) {
  if (decoded.empty()) return false;
  unsigned char d = static_cast<unsigned char>(decoded[0]);
  *form = d >> 4;
  *chunkSize = int64_t{1} << ((d & 15) + 16);
  *keys = decoded.substr(1);
  if (*form == 1) return keys->size() % 20 == 0;
  return *form == 2 && keys->empty();
}

}  // namespace varnelo::service
