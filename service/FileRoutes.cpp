// The file metadata endpoints: get, mkdir, move, copy, delete, undelete,
// purge, prepare_put, commit_put, info and makelink. Every request is a
// signed POST with a JSON body; both listeners serve them. Reply paths keep
// the request's style: a request path written "/home/..." gets "/home/..."
// back, "home/..." gets "home/...".
#include <algorithm>
#include <cstdlib>

#include "Base64.h"
#include "Crypto.h"
#include "HttpUtil.h"
#include "InlineContent.h"
#include "Log.h"
#include "Routes.h"
#include "WireFormat.h"

namespace varnelo::service {
namespace {
using httplib::Request;
using httplib::Response;

struct Call {
  Caller caller;
  Json::Value body;
  int64_t account() const { return caller.tokenInfo.user; }
};

using FileHandler = std::function<void(const Request&, Response&, Call&)>;

// Authenticates and parses the body (an object, or null where allowed).
void route(httplib::Server& server, ServiceContext& ctx, bool secure, const char* path,
           bool nullBodyAllowed, FileHandler handler) {
  server.Post(path, [&ctx, secure, nullBodyAllowed, handler](const Request& req, Response& res) {
    Call call;
    if (!http::authenticate(ctx, req, res, secure, TokenRequirement::kAccess, &call.caller)) return;
    if (!http::parseJson(req.body, &call.body) ||
        !(call.body.isObject() || (nullBodyAllowed && call.body.isNull()))) {
      http::sendError(ctx, res, 400, "the body must be a JSON object");
      return;
    }
    handler(req, res, call);
  });
}

bool textMember(const Json::Value& body, const char* name, std::string* out, bool required = true) {
  const Json::Value& v = body[name];
  if (v.isString()) {
    *out = v.asString();
    return true;
  }
  out->clear();
  return !required && v.isNull();
}

bool leadingSlash(const std::string& path) {
  return !path.empty() && path[0] == '/';
}

void sendStatus(ServiceContext& ctx, Response& res, Status status) {
  if (status == kOk) {
    Json::Value v;
    v["code"] = 0;
    http::sendJson(ctx, res, 200, v);
    return;
  }
  const char* why = status == kNotFound        ? "no such path"
                    : status == kConflict      ? "conflict with the current version"
                    : status == kQuotaExceeded ? "quota exceeded"
                    : status == kBadRequest    ? "malformed request"
                                               : "service failure";
  http::sendError(ctx, res, status, why);
}

void sendBatch(ServiceContext& ctx, Response& res, Status status,
               const std::vector<PathCode>& results, bool leading) {
  if (status != kPartial) {
    sendStatus(ctx, res, status);
    return;
  }
  Json::Value v;
  v["code"] = 3;  // some paths failed; see "paths"
  v["paths"] = Json::Value(Json::arrayValue);
  for (const PathCode& r : results) {
    Json::Value item;
    item["path"] = (leading ? "/" : "") + r.path;
    item["code"] = r.code;
    v["paths"].append(item);
  }
  http::sendJson(ctx, res, kPartial, v);
}

std::string dataUrl(ServiceContext& ctx, const Request& req, bool secure, int64_t account,
                    const Entry& entry) {
  DataGrant grant;
  grant.account = account;
  grant.size = entry.size;
  size_t count = entry.keys.size() / 20;
  if (count <= kInlineKeyLimit) {
    grant.list =
        base64Encode(std::string(1, keyListDescriptor(1, entry.chunkSize)) + entry.keys, true);
  } else {
    grant.list = base64Encode(std::string(1, keyListDescriptor(2, entry.chunkSize)), true);
    grant.listHash = toHex(sha1(entry.keys));
  }
  return http::origin(req, secure) + "/data?" + ctx.capabilities.dataQuery(grant);
}

std::string uploadUrl(ServiceContext& ctx, const Request& req, bool secure, int64_t account,
                      const std::string& key, int64_t chunkSize) {
  return http::origin(req, secure) + "/chunk?" +
         ctx.capabilities.uploadQuery(UploadGrant{account, key, chunkSize});
}

// Reads path, keys, chunkSize, fileSize and base of a put.
bool parsePut(const Json::Value& body, PutRequest* put) {
  std::string base, fileSize;
  if (!textMember(body, "path", &put->path) || !body["keys"].isArray() ||
      !body["chunkSize"].isIntegral() || !textMember(body, "base", &base, false)) {
    return false;
  }
  const Json::Value& size = body["fileSize"];
  if (size.isString()) {
    char* end = nullptr;
    std::string text = size.asString();
    put->fileSize = strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0') return false;
  } else if (size.isIntegral()) {
    put->fileSize = size.asInt64();
  } else {
    return false;
  }
  put->chunkSize = body["chunkSize"].asInt64();
  for (const Json::Value& k : body["keys"]) {
    std::string key;
    if (!k.isString() || !base64Decode(k.asString(), true, key) || key.size() != 20) return false;
    put->keys.push_back(std::move(key));
  }
  if (!base.empty() && (!base64Decode(base, true, put->base) || put->base.size() != 16))
    return false;
  return true;
}

}  // namespace

void installFileRoutes(httplib::Server& server, ServiceContext& ctx, bool secure) {
  route(server, ctx, secure, "/get", false,
        [&ctx, secure](const Request& req, Response& res, Call& c) {
          std::string path;
          if (!textMember(c.body, "path", &path)) return sendStatus(ctx, res, kBadRequest);
          if (ctx.faults.failsPath("/get", path))
            return http::sendError(ctx, res, 500, "injected failure");
          const Json::Value& list = c.body["list"];
          bool wantList = list.isIntegral() ? list.asInt64() != 0 : list.isBool() && list.asBool();
          // A listing may ask for its small children's content ("inline":
          // the largest size wanted), up to what this service offers.
          const Json::Value& wantInline = c.body["inline"];
          int64_t inlineLimit = 0;
          if (wantList && ctx.inlineLimit > 0 && wantInline.isIntegral() &&
              wantInline.asInt64() > 0) {
            inlineLimit = std::min<int64_t>(wantInline.asInt64(), ctx.inlineLimit);
          }
          Entry entry;
          std::vector<Entry> children;
          Status s = ctx.tree.get(c.account(), path, wantList, &entry, &children, inlineLimit);
          if (s != kOk) return sendStatus(ctx, res, s);
          bool slash = leadingSlash(path);
          Json::Value reply = entryJson(entry, slash);
          if (entry.type == kTypeFile && entry.size > 0) {
            reply["dataurl"] = dataUrl(ctx, req, secure, c.account(), entry);
            // Small files come inline as well, saving the client a request.
            std::string content;
            if (readSmallContent(ctx.chunks, entry, ServiceContext::kSmallFileSize, &content))
              reply["data"] = base64Encode(content, true);
          }
          if (wantList && entry.type == kTypeFolder) {
            reply["entries"] = Json::Value(Json::arrayValue);
            for (const Entry& kid : children) reply["entries"].append(entryJson(kid, slash));
            if (inlineLimit > 0) {
              // A file whose own /get is made to fail does not come this
              // way either: the client has to ask for it, and fails.
              addInlineContent(ctx.chunks, children, inlineLimit, ServiceContext::kInlineBudget,
                               reply["entries"], [&ctx](const Entry& kid) {
                                 return ctx.faults.failsPath("/get", kid.path);
                               });
            }
          }
          http::sendJson(ctx, res, 200, reply);
        });

  route(server, ctx, secure, "/mkdir", false, [&ctx](const Request&, Response& res, Call& c) {
    std::string path, editTime;
    if (!textMember(c.body, "path", &path) || !textMember(c.body, "editTime", &editTime, false)) {
      return sendStatus(ctx, res, kBadRequest);
    }
    Entry entry;
    Status s = ctx.tree.mkdir(c.account(), path, editTime, &entry);
    if (s != kOk) return sendStatus(ctx, res, s);
    http::sendJson(ctx, res, 200, entryJson(entry, leadingSlash(path)));
  });

  auto moveOrCopy = [&ctx](bool copy) {
    return [&ctx, copy](const Request&, Response& res, Call& c) {
      std::string from, to;
      if (!textMember(c.body, "from", &from) || !textMember(c.body, "to", &to)) {
        return sendStatus(ctx, res, kBadRequest);
      }
      sendStatus(
          ctx, res,
          copy ? ctx.tree.copy(c.account(), from, to) : ctx.tree.move(c.account(), from, to));
    };
  };
  route(server, ctx, secure, "/move", false, moveOrCopy(false));
  route(server, ctx, secure, "/copy", false, moveOrCopy(true));

  route(server, ctx, secure, "/delete", false, [&ctx](const Request&, Response& res, Call& c) {
    const Json::Value& paths = c.body["paths"];
    std::vector<std::string> list;
    if (paths.isString()) list.push_back(paths.asString());
    if (paths.isArray()) {
      for (const Json::Value& p : paths) {
        if (!p.isString()) return sendStatus(ctx, res, kBadRequest);
        list.push_back(p.asString());
      }
    }
    if (list.empty()) return sendStatus(ctx, res, kBadRequest);
    std::vector<PathCode> results;
    size_t ok = 0;
    for (const std::string& p : list) {
      Status s = ctx.tree.remove(c.account(), p);
      ok += s == kOk;
      results.push_back({p[0] == '/' ? p.substr(1) : p, s});
    }
    Status overall = ok == list.size() ? kOk : ok == 0 ? results[0].code : kPartial;
    sendBatch(ctx, res, overall, results, false);
  });

  auto trashRoute = [&ctx](bool restore) {
    return [&ctx, restore](const Request&, Response& res, Call& c) {
      std::string path;
      if (!textMember(c.body, "path", &path)) return sendStatus(ctx, res, kBadRequest);
      std::vector<PathCode> results;
      Status s = restore ? ctx.tree.undelete(c.account(), path, &results)
                         : ctx.tree.purge(c.account(), path, &results);
      sendBatch(ctx, res, s, results, leadingSlash(path));
    };
  };
  route(server, ctx, secure, "/undelete", false, trashRoute(true));
  route(server, ctx, secure, "/purge", false, trashRoute(false));

  route(server, ctx, secure, "/prepare_put", false,
        [&ctx, secure](const Request& req, Response& res, Call& c) {
          PutRequest put;
          if (!parsePut(c.body, &put)) return sendStatus(ctx, res, kBadRequest);
          std::vector<int64_t> required;
          Status s = ctx.tree.preparePut(c.account(), put, &required);
          if (s != kOk) return sendStatus(ctx, res, s);
          Json::Value reply;
          reply["required"] = Json::Value(Json::arrayValue);
          for (int64_t index : required) {
            Json::Value item;
            item["index"] = static_cast<Json::Int64>(index);
            item["url"] = uploadUrl(ctx, req, secure, c.account(), put.keys[index], put.chunkSize);
            reply["required"].append(item);
          }
          http::sendJson(ctx, res, 200, reply);
        });

  route(server, ctx, secure, "/commit_put", false, [&ctx](const Request&, Response& res, Call& c) {
    PutRequest put;
    if (!parsePut(c.body, &put) || !textMember(c.body, "editTime", &put.editTime, false) ||
        !textMember(c.body, "mimeType", &put.mime, false)) {
      return sendStatus(ctx, res, kBadRequest);
    }
    Entry entry;
    // The chunks reach the disk before the version that names them exists;
    // outside the tree's lock, so other requests go on meanwhile.
    Status s = ctx.chunks.makeDurable(put.keys);
    if (s == kOk) s = ctx.tree.commitPut(c.account(), put, &entry);
    if (s != kOk) return sendStatus(ctx, res, s);
    http::sendJson(ctx, res, 200, entryJson(entry, leadingSlash(put.path)));
  });

  route(server, ctx, secure, "/info", true,
        [&ctx, secure](const Request& req, Response& res, Call& c) {
          User user;
          if (!ctx.accounts.findUser(c.account(), &user)) return sendStatus(ctx, res, kNotFound);
          Json::Value reply;
          reply["protocol"] = 1;
          reply["chunkSize"] = static_cast<Json::Int64>(ServiceContext::kChunkSize);
          reply["smallFileSize"] = static_cast<Json::Int64>(ServiceContext::kSmallFileSize);
          reply["used"] = std::to_string(user.used);
          // A quota of 0 would read as "no total" to the client; report at least 1.
          reply["total"] = std::to_string(user.quota > 0 ? user.quota : 1);
          if (ctx.notify) {
            // Change notifications: the cursor to wait from and the longest
            // wait (seconds) that /notify grants.
            reply["notify"]["cursor"] = ctx.feed.cursor(c.account());
            reply["notify"]["wait"] = ChangeFeed::kMaxWaitSeconds;
          }
          // Listings carry the content of children up to this size on request.
          if (ctx.inlineLimit > 0) reply["inline"] = static_cast<Json::Int64>(ctx.inlineLimit);
          if (ctx.putBatch) {
            reply["putBatch"]["files"] = static_cast<Json::Int64>(ServiceContext::kPutBatchFiles);
            reply["putBatch"]["bytes"] = static_cast<Json::Int64>(ServiceContext::kPutBatchBytes);
          }
          reply["dirty"] = Json::Value(Json::arrayValue);
          for (const DirtyChunk& d : ctx.tree.dirtyChunks(c.account())) {
            Json::Value item;
            item["index"] = static_cast<Json::Int64>(d.index);
            item["key"] = base64Encode(d.key, true);
            item["path"] = d.path;
            item["size"] = static_cast<Json::Int64>(d.size);
            item["url"] = uploadUrl(ctx, req, secure, c.account(), d.key, d.chunkSize);
            reply["dirty"].append(item);
          }
          http::sendJson(ctx, res, 200, reply);
        });

  route(server, ctx, secure, "/makelink", false, [&ctx](const Request&, Response& res, Call& c) {
    std::string path, id;
    if (!textMember(c.body, "path", &path)) return sendStatus(ctx, res, kBadRequest);
    Status s = ctx.tree.makeLink(c.account(), path, &id);
    if (s != kOk) return sendStatus(ctx, res, s);
    Json::Value reply;
    reply["linkid"] = id;
    http::sendJson(ctx, res, 200, reply);
  });
}

}  // namespace varnelo::service
