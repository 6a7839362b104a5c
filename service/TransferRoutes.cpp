// Chunk bytes in and out: the chunk upload URL (plain PUT with an upload
// capability), the small-file put (PUT signed with an access token) and the
// data URL (plain GET with a data capability, Range, and "X-Mode: meta" for
// the key list). Bodies stream to and from disk one block at a time; nothing
// larger than a block (256 KiB in and out) is held per request, and a
// small file's body (at most 16 KiB, kept in the database) is held whole.
// Both listeners serve them.
#include <cstdlib>
#include <memory>

#include "Base64.h"
#include "ChunkSpan.h"
#include "Crypto.h"
#include "HttpUtil.h"
#include "Log.h"
#include "Routes.h"
#include "WireFormat.h"

namespace varnelo::service {
namespace {
using httplib::ContentReader;
using httplib::Request;
using httplib::Response;

constexpr size_t kBlock = 256 * 1024;

// Streams the request body into the chunk store; kOk when it hashed to key.
Status receiveChunk(ServiceContext& ctx, const ContentReader& reader, const std::string& endpoint,
                    const std::string& key, int64_t maxLength, uint64_t* length) {
  ChunkStore::Writer writer(ctx.chunks, static_cast<uint64_t>(maxLength));
  uint64_t received = 0;
  bool complete = reader([&](const char* data, size_t size) {
    received += size;
    return writer.write(data, size);
  });
  // Counted once per body: the blocks are small and the counters one lock.
  ctx.counters.addBytes(endpoint, received, 0);
  *length = writer.written();
  Status s = writer.finish(key);
  return complete || s != kOk ? s : kBadRequest;
}

// The body of a chunk that goes into the chunk store's database: gathered in
// memory (at most maxLength bytes) and hashed. kOk when it hashes to key; the
// caller stores it with the version that names it.
Status receiveSmallChunk(ServiceContext& ctx, const ContentReader& reader,
                         const std::string& endpoint, const std::string& key, uint64_t maxLength,
                         std::string* bytes) {
  bool tooLong = false;
  uint64_t received = 0;
  bool complete = reader([&](const char* data, size_t n) {
    received += n;
    if (bytes->size() + n > maxLength) {
      tooLong = true;
      return false;
    }
    bytes->append(data, n);
    return true;
  });
  ctx.counters.addBytes(endpoint, received, 0);
  return complete && !tooLong && sha1(*bytes) == key ? kOk : kBadRequest;
}

// The body of a chunk the store already holds: hashed as it streams in and
// checked against the key, but not written again (the stored copy was made
// durable when it first arrived). kOk when it is exactly `size` bytes that
// hash to the key.
Status verifyStoredChunk(ServiceContext& ctx, const ContentReader& reader,
                         const std::string& endpoint, const std::string& key, uint64_t size,
                         uint64_t* length) {
  Sha1Stream hash;
  bool tooLong = false;
  bool complete = reader([&](const char* data, size_t n) {
    ctx.counters.addBytes(endpoint, n, 0);
    if (*length + n > size) {
      tooLong = true;
      return false;
    }
    hash.update(data, n);
    *length += n;
    return true;
  });
  return complete && !tooLong && *length == size && hash.finish() == key ? kOk : kBadRequest;
}

int64_t parseNumber(const std::string& text) {
  char* end = nullptr;
  long long v = strtoll(text.c_str(), &end, 10);
  return text.empty() || *end != '\0' ? -1 : v;
}

void serveData(ServiceContext& ctx, const Request& req, Response& res) {
  DataGrant grant;
  std::vector<QueryParam> query = parseQuery(req.target.substr(req.target.find('?') + 1));
  std::string decoded, keys;
  int form = 0;
  int64_t chunkSize = 0;
  if (req.target.find('?') == std::string::npos || !ctx.capabilities.checkData(query, &grant) ||
      !base64Decode(grant.list, true, decoded) ||
      !parseKeyList(decoded, &form, &chunkSize, &keys)) {
    http::sendError(ctx, res, 403, "invalid or expired data capability");
    return;
  }
  std::string hash;
  if (form == 2 && (!fromHex(grant.listHash, hash) || !ctx.tree.keyList(hash, &keys))) {
    http::sendError(ctx, res, 404, "unknown key list");
    return;
  }
  uint64_t expectedKeys = (static_cast<uint64_t>(grant.size) + chunkSize - 1) / chunkSize;
  if (keys.size() != expectedKeys * 20) {
    http::sendError(ctx, res, 403, "key list does not match the size");
    return;
  }
  // cpp-httplib applies Range itself; we validate it first and drop what we
  // do not serve, so error replies are never sliced.
  auto& ranges = const_cast<httplib::Ranges&>(req.ranges);
  if (req.get_header_value("X-Mode") == "meta") {
    ranges.clear();
    http::sendText(ctx, res, 200, std::string(1, keyListDescriptor(1, chunkSize)) + keys,
                   "application/octet-stream");
    return;
  }
  uint64_t size = static_cast<uint64_t>(grant.size);
  if (ranges.size() > 1) ranges.clear();  // multi-range: send the whole body
  if (ranges.size() == 1) {
    auto& [first, last] = ranges[0];
    if (first < 0) {  // suffix range "-n"
      first = last >= static_cast<ssize_t>(size) ? 0 : static_cast<ssize_t>(size) - last;
      last = static_cast<ssize_t>(size) - 1;
    }
    if (last < 0 || last >= static_cast<ssize_t>(size)) last = static_cast<ssize_t>(size) - 1;
    if (static_cast<uint64_t>(first) >= size || first > last) {
      ranges.clear();
      res.set_header("Content-Range", "bytes */" + std::to_string(size));
      http::sendError(ctx, res, 416, "range not satisfiable");
      return;
    }
  }
  if (size == 0) {
    http::sendText(ctx, res, 200, "", "application/octet-stream");
    return;
  }
  FaultDecision faults = http::currentFaults();
  uint64_t rangeStart = ranges.empty() ? 0 : static_cast<uint64_t>(ranges[0].first);
  uint64_t rangeLength =
      ranges.empty() ? size : static_cast<uint64_t>(ranges[0].second) - rangeStart + 1;
  uint64_t flipAt = rangeStart + faults.position % rangeLength;
  uint64_t cutAt = rangeStart + rangeLength / 2;
  auto span = std::make_shared<ChunkSpan>(ctx.chunks, keys, chunkSize);
  auto buffer = std::make_shared<std::string>();
  res.set_content_provider(size, "application/octet-stream",
                           [&ctx, span, buffer, faults, flipAt, cutAt](size_t offset, size_t length,
                                                                       httplib::DataSink& sink) {
                             size_t n = std::min(length, kBlock);
                             if (faults.drop && offset >= cutAt) return false;
                             if (faults.drop && offset + n > cutAt) n = cutAt - offset;
                             buffer->resize(n);
                             if (!span->read(offset, buffer->data(), n)) {
                               logLine(LogLevel::kError, "data read failed at %zu", offset);
                               return false;
                             }
                             if (faults.flip && flipAt >= offset && flipAt < offset + n)
                               (*buffer)[flipAt - offset] ^= 0x01;
                             ctx.counters.addBytes("/data", 0, n);
                             return sink.write(buffer->data(), n);
                           });
}

}  // namespace

void installTransferRoutes(httplib::Server& server, ServiceContext& ctx, bool secure) {
  server.Put("/chunk", [&ctx](const Request& req, Response& res, const ContentReader& reader) {
    UploadGrant grant;
    std::vector<QueryParam> query = parseQuery(req.target.substr(req.target.find('?') + 1));
    if (req.target.find('?') == std::string::npos || !ctx.capabilities.checkUpload(query, &grant)) {
      res.set_header("Connection", "close");
      http::sendError(ctx, res, 403, "invalid or expired upload capability");
      return;
    }
    uint64_t length = 0;
    Status s = receiveChunk(ctx, reader, "/chunk", grant.key, grant.maxLength, &length);
    if (s != kOk) {
      logLine(LogLevel::kWarning, "chunk %s refused (%d) after %llu bytes",
              toHex(grant.key).c_str(), s, static_cast<unsigned long long>(length));
      res.set_header("Connection", "close");
      http::sendError(ctx, res, s, "the bytes do not match the chunk key or are too long");
      return;
    }
    ctx.tree.addChunk(grant.account, grant.key);
    Json::Value v;
    v["code"] = 0;
    http::sendJson(ctx, res, 200, v);
  });

  server.Put("/2/put", [&ctx, secure](const Request& req, Response& res,
                                      const ContentReader& reader) {
    Caller caller;
    if (!http::authenticate(ctx, req, res, secure, TokenRequirement::kAccess, &caller)) {
      res.set_header("Connection", "close");
      return;
    }
    PutRequest put;
    std::string key, base = queryValue(caller.query, "base");
    put.path = queryValue(caller.query, "path");
    put.chunkSize = parseNumber(queryValue(caller.query, "chunkSize"));
    put.fileSize = parseNumber(queryValue(caller.query, "fileSize"));
    put.mime = queryValue(caller.query, "mimeType");
    put.editTime = queryValue(caller.query, "editTime");
    bool valid = base64Decode(queryValue(caller.query, "key"), true, key) && key.size() == 20 &&
                 Tree::validChunkSize(put.chunkSize) && put.fileSize > 0 &&
                 put.fileSize <= put.chunkSize &&
                 (base.empty() || (base64Decode(base, true, put.base) && put.base.size() == 16));
    if (!valid) {
      res.set_header("Connection", "close");
      http::sendError(ctx, res, 400, "malformed small-file put");
      return;
    }
    uint64_t length = 0;
    // Content the service holds already (the same file under another name,
    // a second computer's copy) costs no chunk write and no fsync. The
    // content of a small file goes into the database with its version, where
    // the commit leaves a copy held already as it is; so it is taken whole
    // without asking the store (and taking its lock) first.
    std::string content;
    const std::string* newContent = nullptr;
    Status s;
    if (ctx.chunks.keepsInDatabase(put.fileSize)) {
      s = receiveSmallChunk(ctx, reader, "/2/put", key, static_cast<uint64_t>(put.fileSize),
                            &content);
      length = content.size();
      newContent = &content;
    } else if (ctx.chunks.length(key) == put.fileSize) {
      s = verifyStoredChunk(ctx, reader, "/2/put", key, static_cast<uint64_t>(put.fileSize),
                            &length);
    } else {
      s = receiveChunk(ctx, reader, "/2/put", key, put.fileSize, &length);
    }
    if (s == kOk && length != static_cast<uint64_t>(put.fileSize)) s = kBadRequest;
    if (s != kOk) {
      res.set_header("Connection", "close");
      http::sendError(ctx, res, s, "the bytes do not match the key or the size");
      return;
    }
    put.keys.push_back(key);
    Entry entry;
    s = ctx.chunks.makeDurable(put.keys);
    if (s == kOk) s = ctx.tree.commitSmallPut(caller.tokenInfo.user, put, &entry, newContent);
    if (s != kOk) {
      http::sendError(ctx, res, s,
                      s == kConflict ? "conflict with the current version" : "refused");
      return;
    }
    http::sendJson(ctx, res, 200, entryJson(entry, !put.path.empty() && put.path[0] == '/'));
  });

  server.Get("/data", [&ctx](const Request& req, Response& res) { serveData(ctx, req, res); });
}

}  // namespace varnelo::service
