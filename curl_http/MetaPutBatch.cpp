// Batched small puts: the offer in /info and POST /2/put_batch, whose body is
// a one-line manifest followed by the files' contents, and whose reply is
// read strictly (one well-formed answer per file, or none at all).
#include <cstring>

#include "ApiGuard.h"
#include "Base64Url.h"
#include "JsonAccess.h"
#include "JsonRequest.h"
#include "Log.h"
#include "MetaApi.h"
#include "MetaEntry.h"
#include "MetaRequest.h"

namespace varnelo::http {
namespace {

// Room for each file's entry in the reply (its path is the longest part)
// and for the rest; a longer reply ends the transfer.
constexpr size_t kReplyBytesPerFile = 8192;
constexpr size_t kReplyBytesBase = 4096;

bool valid_file(const PutBatchFile& f) {
  return f.key != nullptr && !f.path.empty() && !f.content.empty() && f.chunkSize > 0;
}

// Manifest line and contents, or empty for bad arguments.
std::string batch_body(const std::vector<PutBatchFile>& files) {
  Json::Value manifest(Json::objectValue);
  Json::Value& list = manifest["files"] = Json::Value(Json::arrayValue);
  size_t contentBytes = 0;
  for (const PutBatchFile& f : files) {
    if (!valid_file(f)) return {};
    Json::Value& m = list.append(Json::Value(Json::objectValue));
    m["path"] = json_text(f.path);
    m["key"] = base64url_encode(f.key, VARNELO_KEY_BYTES);
    m["fileSize"] = std::to_string(f.content.size());
    m["base"] = version_text(f.base);
    m["chunkSize"] = f.chunkSize;
    m["mimeType"] = f.mimeType;
    m["editTime"] = f.editTime;
    contentBytes += f.content.size();
  }
  std::string body = write_compact(manifest);  // one line, ending in '\n'
  body.reserve(body.size() + contentBytes);
  for (const PutBatchFile& f : files) body.append(f.content);
  return body;
}

// One answer: an object with an integer status; on 200 a 16-byte "ver".
bool read_result(const Json::Value& item, PutBatchResult& out) {
  auto code = integer_in(member(item, "code"), 100, 599);
  if (!item.isObject() || !code) return false;
  out.code = static_cast<int32_t>(*code);
  return out.code != 200 || decode_version(member(item, "ver"), out.ver);
}

}  // namespace

PutBatchOffer read_put_batch_offer(const Json::Value& info) {
  const Json::Value& offer = member(info, "putBatch");
  if (offer.isNull()) return {};
  auto files = integer_in(member(offer, "files"), 1, INT64_MAX);
  auto bytes = integer_in(member(offer, "bytes"), 1, INT64_MAX);
  if (!files || !bytes) {
    log_write(kLogWarning, kModuleVarnelo, "info reply: malformed batched-put offer, ignored");
    return {};
  }
  return {static_cast<int>(std::min<int64_t>(*files, kMaxPutBatchFiles)),
          std::min(*bytes, kMaxPutBatchBytes)};
}

int32_t meta_put_batch(const varnelo_credentials* credentials,
                       const std::vector<PutBatchFile>& files, std::vector<PutBatchResult>& results,
                       long timeoutMs, CancelSignal* cancel) {
  return api_guard(__func__, [&]() -> int32_t {
    results.assign(files.size(), PutBatchResult{});
    if (credentials == nullptr || files.empty()) return 499;
    const std::string body = batch_body(files);
    if (body.empty()) return 499;
    Json::Value reply;
    const int32_t rc =
        signed_post_text_bounded(credentials, file_url("/2/put_batch"), body, reply, timeoutMs,
                                 kReplyBytesBase + kReplyBytesPerFile * files.size(), cancel);
    if (rc != 200) return rc;
    const Json::Value& list = member(reply, "results");
    std::vector<PutBatchResult> read(files.size());
    bool ok = list.isArray() && list.size() == files.size();
    for (Json::ArrayIndex i = 0; ok && i < list.size(); ++i) ok = read_result(list[i], read[i]);
    if (!ok) {
      log_write(kLogError, kModuleVarnelo, "put_batch reply of %zu files is malformed",
                files.size());
      return -1;
    }
    results = std::move(read);
    return 200;
  });
}

}  // namespace varnelo::http
