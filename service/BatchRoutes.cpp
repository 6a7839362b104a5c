// POST /2/put_batch: many small files in one signed request. The body is a
// one-line manifest and the files' contents (PutBatch.h); a request whose
// shape is wrong is refused whole, otherwise each file is checked against
// its key and applied as /2/put would apply it, in order, and the reply has
// one result per file. Both listeners serve it while ctx.putBatch is set.
#include "Crypto.h"
#include "HttpUtil.h"
#include "Log.h"
#include "PutBatch.h"
#include "Routes.h"
#include "WireFormat.h"

namespace varnelo::service {
namespace {
using httplib::ContentReader;
using httplib::Request;
using httplib::Response;

constexpr const char* kEndpoint = "/2/put_batch";

PutBatchLimits limits() {
  PutBatchLimits l;
  l.files = ServiceContext::kPutBatchFiles;
  l.bytes = ServiceContext::kPutBatchBytes;
  l.fileSize = ServiceContext::kSmallFileSize;
  return l;
}

// The whole body, or false once it grows past `limit` or the client goes.
bool readBody(ServiceContext& ctx, const ContentReader& reader, size_t limit, std::string* body) {
  bool tooLong = false;
  bool complete = reader([&](const char* data, size_t n) {
    if (body->size() + n > limit) {
      tooLong = true;
      return false;
    }
    body->append(data, n);
    return true;
  });
  ctx.counters.addBytes(kEndpoint, body->size(), 0);
  return complete && !tooLong;
}

// Files the database does not keep go to the chunk store and reach the
// disk before any version names them; a file whose chunk cannot be stored
// fails alone.
void storeChunkFiles(ServiceContext& ctx, std::vector<BatchFile>& files) {
  std::vector<std::string> stored;
  for (BatchFile& f : files) {
    if (f.code != kOk || ctx.chunks.keepsInDatabase(f.put.fileSize)) continue;
    ChunkStore::Writer writer(ctx.chunks, f.content.size());
    f.code = writer.write(f.content.data(), f.content.size()) ? writer.finish(f.put.keys.front())
                                                              : kServerError;
    if (f.code == kOk) stored.push_back(f.put.keys.front());
  }
  if (stored.empty() || ctx.chunks.makeDurable(stored) == kOk) return;
  for (BatchFile& f : files)
    if (f.code == kOk && !ctx.chunks.keepsInDatabase(f.put.fileSize)) f.code = kServerError;
}

void servePutBatch(ServiceContext& ctx, bool secure, const Request& req, Response& res,
                   const ContentReader& reader) {
  Caller caller;
  if (!http::authenticate(ctx, req, res, secure, TokenRequirement::kAccess, &caller)) {
    res.set_header("Connection", "close");
    return;
  }
  const PutBatchLimits l = limits();
  std::string body;
  std::vector<BatchFile> files;
  if (!readBody(ctx, reader, static_cast<size_t>(l.manifestBytes + 1 + l.bytes), &body) ||
      !parsePutBatch(body, l, &files)) {
    res.set_header("Connection", "close");
    http::sendError(ctx, res, kBadRequest, "malformed batched put");
    return;
  }
  for (BatchFile& f : files) {
    if (sha1(f.content) != f.put.keys.front()) f.code = kBadRequest;
  }
  storeChunkFiles(ctx, files);
  ctx.tree.commitSmallPuts(caller.tokenInfo.user, files);
  Json::Value reply;
  Json::Value& results = reply["results"] = Json::Value(Json::arrayValue);
  size_t applied = 0;
  for (const BatchFile& f : files) {
    Json::Value item(Json::objectValue);
    if (f.code == kOk) {
      item = entryJson(f.entry, !f.put.path.empty() && f.put.path[0] == '/');
      ++applied;
    }
    item["code"] = f.code;
    results.append(item);
  }
  logLine(LogLevel::kDebug, "batched put: %zu of %zu files applied", applied, files.size());
  http::sendJson(ctx, res, 200, reply);
}

}  // namespace

void installBatchRoutes(httplib::Server& server, ServiceContext& ctx, bool secure) {
  server.Post(kEndpoint,
              [&ctx, secure](const Request& req, Response& res, const ContentReader& reader) {
                servePutBatch(ctx, secure, req, res, reader);
              });
}

}  // namespace varnelo::service
