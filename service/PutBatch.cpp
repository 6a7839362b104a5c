#include "PutBatch.h"

#include <json/json.h>

#include <memory>

#include "Base64.h"

namespace varnelo::service {
namespace {

// A decimal text without sign, leading "+" or spaces; -1 otherwise.
int64_t decimalSize(const Json::Value& v) {
  if (!v.isString()) return -1;
  const std::string text = v.asString();
  if (text.empty() || text.size() > 18) return -1;
  int64_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    n = n * 10 + (c - '0');
  }
  return n;
}

bool text(const Json::Value& item, const char* name, std::string* out) {
  const Json::Value& v = item[name];
  if (!v.isString()) return false;
  *out = v.asString();
  return true;
}

// One manifest member into a put; false for a wrong type or range.
bool readFile(const Json::Value& item, const PutBatchLimits& limits, BatchFile* file) {
  if (!item.isObject()) return false;
  PutRequest& put = file->put;
  std::string key, keyText, baseText;
  const Json::Value& chunkSize = item["chunkSize"];
  if (!text(item, "path", &put.path) || !text(item, "key", &keyText) ||
      !text(item, "base", &baseText) || !text(item, "mimeType", &put.mime) ||
      !text(item, "editTime", &put.editTime) || !chunkSize.isIntegral()) {
    return false;
  }
  put.fileSize = decimalSize(item["fileSize"]);
  put.chunkSize = chunkSize.asLargestInt();
  if (!base64Decode(keyText, true, key) || key.size() != 20) return false;
  if (!baseText.empty() && (!base64Decode(baseText, true, put.base) || put.base.size() != 16)) {
    return false;
  }
  put.keys.assign(1, key);
  return Tree::validChunkSize(put.chunkSize) && put.fileSize >= 1 &&
         put.fileSize <= limits.fileSize && put.fileSize <= put.chunkSize;
}

}  // namespace

bool parsePutBatch(std::string_view body, const PutBatchLimits& limits,
                   std::vector<BatchFile>* files) {
  files->clear();
  const size_t newline = body.find('\n');
  if (newline == std::string_view::npos || newline > static_cast<size_t>(limits.manifestBytes)) {
    return false;
  }
  Json::CharReaderBuilder builder;
  builder["stackLimit"] = 8;  // a manifest is two levels deep; anything deeper is refused
  builder["failIfExtra"] = true;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value manifest;
  std::string errors;
  const char* begin = body.data();
  try {
    if (!reader->parse(begin, begin + newline, &manifest, &errors)) return false;
  } catch (const Json::Exception&) {
    return false;  // nested past the stack limit
  }
  const Json::Value& list = manifest.isObject() ? manifest["files"] : Json::Value::nullSingleton();
  if (!list.isArray() || list.empty() ||
      list.size() > static_cast<Json::ArrayIndex>(limits.files)) {
    return false;
  }
  std::vector<BatchFile> parsed(list.size());
  int64_t total = 0;
  for (Json::ArrayIndex i = 0; i < list.size(); ++i) {
    if (!readFile(list[i], limits, &parsed[i])) return false;
    total += parsed[i].put.fileSize;
    if (total > limits.bytes) return false;
  }
  if (body.size() - newline - 1 != static_cast<uint64_t>(total)) return false;
  size_t at = newline + 1;
  for (BatchFile& file : parsed) {
    file.content = body.substr(at, static_cast<size_t>(file.put.fileSize));
    at += file.content.size();
  }
  *files = std::move(parsed);
  return true;
}

}  // namespace varnelo::service
