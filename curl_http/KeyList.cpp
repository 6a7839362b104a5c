#include "KeyList.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "Base64Url.h"
#include "HttpStatus.h"
#include "JsonRequest.h"
#include "Log.h"
#include "Transport.h"
#include "varnelo/meta.h"

namespace varnelo::http {
namespace {

constexpr int kFormInline = 1;
constexpr int kFormFetched = 2;

// Checks the descriptor's chunk size; returns the form, or -1.
int read_descriptor(uint8_t descriptor, uint32_t chunkSize) {
  uint64_t size = uint64_t{1} << ((descriptor & 0x0f) + 16);
  if (size != chunkSize) {
    log_write(kLogError, kModuleSync, "key list: chunk size %llu, expected %u",
              static_cast<unsigned long long>(size), chunkSize);
    return -1;
  }
  return descriptor >> 4;
}

// Form 1 bytes (descriptor + keys) into `keys`: 200 or -1.
int32_t copy_inline_keys(const std::vector<uint8_t>& bytes, uint32_t chunkSize, int32_t chunkCount,
                         uint8_t* keys) {
  if (bytes.empty() || read_descriptor(bytes[0], chunkSize) != kFormInline) return -1;
  size_t listSize = bytes.size() - 1;
  if (chunkCount < 0 || listSize % VARNELO_KEY_BYTES != 0 ||
      listSize / VARNELO_KEY_BYTES != static_cast<size_t>(chunkCount)) {
    log_write(kLogError, kModuleSync, "key list: %zu bytes for %d keys", listSize, chunkCount);
    return -1;
  }
  if (listSize > 0) std::memcpy(keys, bytes.data() + 1, listSize);
  return 200;
}

// The "c=" parameter. One that starts a parameter ("?c=" or "&c=") wins over
// a "c=" that merely ends another parameter's name ("sec=..."); without such
// a parameter the first "c=" anywhere is taken, as before.
size_t key_list_start(const std::string& url) {
  for (size_t at = url.find("c="); at != std::string::npos; at = url.find("c=", at + 1))
    if (at > 0 && (url[at - 1] == '?' || url[at - 1] == '&')) return at;
  return url.find("c=");
}

}  // namespace

int32_t key_list_chunk_size(const std::string& dataUrl, uint32_t& chunkSize) {
  size_t start = key_list_start(dataUrl);
  size_t end = start == std::string::npos ? start : dataUrl.find('&', start + 2);
  if (end == std::string::npos || end == start + 2) return -1;
  std::vector<uint8_t> bytes;
  // The first four characters hold the descriptor byte.
  base64url_decode(
      std::string_view(dataUrl).substr(start + 2, std::min<size_t>(4, end - start - 2)), bytes);
  if (bytes.empty()) return -1;
  const unsigned shift = (bytes[0] & 0x0f) + 16;
  if (shift > 26) return -1;  // above 64 MiB no chunk buffer is allowed
  chunkSize = uint32_t{1} << shift;
  return 200;
}

int32_t decode_key_list(const std::string& dataUrl, uint32_t chunkSize, int32_t chunkCount,
                        uint8_t* keys) {
  if (keys == nullptr && chunkCount > 0) return 499;
  size_t start = key_list_start(dataUrl);
  size_t end = start == std::string::npos ? start : dataUrl.find('&', start + 2);
  if (end == std::string::npos || end == start + 2) {
    log_write(kLogError, kModuleSync, "data address without a key list");
    return -1;
  }
  std::vector<uint8_t> bytes;
  base64url_decode(std::string_view(dataUrl).substr(start + 2, end - start - 2), bytes);
  if (bytes.empty()) return -1;
  int form = read_descriptor(bytes[0], chunkSize);
  if (form == kFormInline) return copy_inline_keys(bytes, chunkSize, chunkCount, keys);
  if (form != kFormFetched) {
    log_write(kLogError, kModuleSync, "key list of unknown form %d", form);
    return -1;
  }
  const char* headers[] = {"X-Mode: meta", nullptr};
  StringSink body, header;
  int rc = http_get(dataUrl, headers, kRequestTimeoutMs, 0, 0, body, header);
  if (rc == 0) rc = parse_http_status(header.bytes);
  if (rc != 200) return rc;
  bytes.assign(body.bytes.begin(), body.bytes.end());
  return copy_inline_keys(bytes, chunkSize, chunkCount, keys);
}

}  // namespace varnelo::http
